// zlib streams and MD5 digests for the list archive.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace bsync {

using Md5Digest = std::array<unsigned char, 16>;

Md5Digest Md5Of(std::string_view data);
// 32 lower-case hexadecimal digits.
std::string Md5Hex(const Md5Digest& digest);

// One zlib stream of data at the default level (6), 15-bit window, memory level 8, default
// strategy. Appends to out.
void ZlibCompress(std::string_view data, std::string& out);

// Inflates one zlib stream. Stops at the first error of the decoder, or once the output would
// pass maxOutput bytes, and keeps what was produced so far: callers detect damage by digest.
std::string ZlibDecompress(std::string_view data, std::size_t maxOutput);

}  // namespace bsync
