#include "inventory/zlib_stream.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace bsync {

Md5Digest Md5Of(std::string_view data) {
  Md5Digest digest{};
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_md5(), nullptr) != 1 ||
      length != digest.size())
    throw std::runtime_error("MD5 is not available");
  return digest;
}

std::string Md5Hex(const Md5Digest& digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(32);
  for (const unsigned char b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

void ZlibCompress(std::string_view data, std::string& out) {
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  const size_t start = out.size();
  out.resize(start + deflateBound(&z, static_cast<uLong>(data.size())));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data() + start);
  z.avail_out = static_cast<uInt>(out.size() - start);
  const int rc = deflate(&z, Z_FINISH);
  const size_t produced = z.total_out;
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
  out.resize(start + produced);
}

std::string ZlibDecompress(std::string_view data, std::size_t maxOutput) {
  std::string out;
  if (data.empty()) return out;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw std::runtime_error("inflateInit failed");
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  // Beyond 4 GiB the rest is simply not read; the digest check then fails.
  z.avail_in = static_cast<uInt>(std::min<size_t>(data.size(), UINT_MAX));
  // Lists compress well: start at a few times the input and grow as needed.
  size_t capacity = std::min(maxOutput, std::max<size_t>(4096, data.size() * 4));
  for (;;) {
    out.resize(capacity);
    z.next_out = reinterpret_cast<Bytef*>(out.data() + z.total_out);
    z.avail_out = static_cast<uInt>(capacity - z.total_out);
    const int rc = inflate(&z, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) break;  // damaged stream: keep what came out
    if (z.avail_out != 0) break;                 // input used up without an end
    if (capacity >= maxOutput) break;            // output limit reached
    capacity = std::min(maxOutput, capacity * 2);
  }
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

}  // namespace bsync
