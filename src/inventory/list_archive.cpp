#include "inventory/list_archive.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/list_file.h"
#include "inventory/zlib_stream.h"
#include "platform/errors.h"
#include "platform/file_io.h"

namespace bsync {
namespace {

constexpr size_t kHeaderSize = 40;
constexpr char kDirsMember[] = "dirs.txt";
constexpr char kFilesMember[] = "files.txt";
// Bounds for what a damaged or hostile archive may make the reader allocate. Real lists stay far
// below them (100,000 file entries are about 8 MiB).
constexpr size_t kMaxTocBytes = 16u << 20;
constexpr size_t kMaxMemberBytes = 512u << 20;

void PutLe(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

std::int64_t GetLe64(std::string_view data, size_t at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(data[at + i]);
  return static_cast<std::int64_t>(value);
}

Md5Digest DigestAt(std::string_view data, size_t at) {
  Md5Digest d{};
  std::memcpy(d.data(), data.data() + at, d.size());
  return d;
}

// One entry of the table of contents; position is the absolute offset in the file.
struct TTOCEntry {
  std::string name;
  std::string path;
  std::int64_t position = 0;
  std::int64_t compressedSize = 0;
  Md5Digest digest{};
};

[[noreturn]] void StreamReadError() { throw EInOutError("Stream read error"); }

// Name bytes up to a zero byte; the zero byte must be there.
std::string ReadZeroEnded(std::string_view toc, size_t& at) {
  const size_t zero = toc.find('\0', at);
  if (zero == std::string_view::npos) StreamReadError();
  std::string text(toc.substr(at, zero - at));
  at = zero + 1;
  return text;
}

std::vector<TTOCEntry> ParseToc(std::string_view toc, std::int64_t dataStart) {
  std::vector<TTOCEntry> entries;
  size_t at = 0;
  while (at < toc.size()) {
    TTOCEntry e;
    e.name = ReadZeroEnded(toc, at);
    e.path = ReadZeroEnded(toc, at);
    if (toc.size() - at < 8 + 8 + 16) StreamReadError();
    const std::int64_t stored = GetLe64(toc, at);
    e.compressedSize = GetLe64(toc, at + 8);
    e.digest = DigestAt(toc, at + 16);
    at += 32;
    // Wraps rather than overflows on absurd values; the bounds check on use rejects them.
    e.position = static_cast<std::int64_t>(static_cast<std::uint64_t>(dataStart) +
                                           static_cast<std::uint64_t>(stored));
    entries.push_back(std::move(e));
  }
  return entries;
}

// The compressed bytes of a member. A position or size beyond the file gives the bytes that
// are there (possibly none), so the digest check reports the damage.
std::string_view MemberBytes(std::string_view file, const TTOCEntry& e) {
  if (e.position < 0 || e.compressedSize <= 0) return {};
  const auto position = static_cast<std::uint64_t>(e.position);
  if (position >= file.size()) return {};
  const auto available = file.size() - position;
  const auto size = static_cast<std::uint64_t>(e.compressedSize);
  return file.substr(position, size < available ? size : available);
}

}  // namespace

EZLibError::EZLibError(int code, const std::string& text)
    : std::runtime_error("ZLibError(" + std::to_string(code) + ") " + text), code_(code) {}

void WriteListArchive(const std::filesystem::path& archivePath, const TXArray& dirs,
                      const TXArray& files) {
  // The members are the exact bytes the two list files would hold. They are built in memory:
  // passing them through files in the archive's folder would replace and then delete any
  // "dirs.txt" or "files.txt" a user keeps there.
  struct Member {
    const char* name;
    std::string content;
  };
  const Member members[] = {{kDirsMember, ListToText(dirs)}, {kFilesMember, ListToText(files)}};

  std::string memberData;
  std::string toc;
  for (const auto& m : members) {
    const size_t position = memberData.size();
    // Empty content has no compressed bytes at all.
    if (!m.content.empty()) ZlibCompress(m.content, memberData);
    toc += m.name;
    toc += '\0';
    toc += '/';
    toc += '\0';
    PutLe(toc, position, 8);
    PutLe(toc, memberData.size() - position, 8);
    const Md5Digest digest = Md5Of(m.content);
    toc.append(reinterpret_cast<const char*>(digest.data()), digest.size());
  }
  std::string compressedToc;
  ZlibCompress(toc, compressedToc);
  const Md5Digest tocDigest = Md5Of(toc);

  std::string out;
  out.reserve(kHeaderSize + compressedToc.size() + memberData.size());
  out.append("ZAR\0", 4);
  PutLe(out, 1, 4);
  PutLe(out, 0, 4);
  PutLe(out, 0, 4);
  PutLe(out, compressedToc.size(), 8);
  out.append(reinterpret_cast<const char*>(tocDigest.data()), tocDigest.size());
  out += compressedToc;
  out += memberData;
  WriteFileAtomic(archivePath, out);
}

void ReadListArchive(const std::filesystem::path& archivePath, TXArray& dirs, TXArray& files) {
  const std::string file = ReadWholeFile(archivePath);
  const std::string_view data = file;

  // The magic is the first four bytes as text up to their first zero byte; a shorter file has
  // no magic at all.
  const std::string_view magic = data.substr(0, 4);
  if (data.size() < 4 || magic.substr(0, magic.find('\0')) != "ZAR")
    throw EZLibError(2, "corrupt file or not a correct file type");
  if (data.size() < kHeaderSize) throw EZLibError(1, "corrupted table of contents");

  const std::int64_t tocLength = GetLe64(data, 16);
  const Md5Digest tocDigest = DigestAt(data, 24);
  if (tocLength < 0 || static_cast<std::uint64_t>(tocLength) > data.size() - kHeaderSize)
    throw EZLibError(1, "corrupted table of contents");
  const std::string toc =
      ZlibDecompress(data.substr(kHeaderSize, static_cast<size_t>(tocLength)), kMaxTocBytes);
  if (Md5Of(toc) != tocDigest) throw EZLibError(1, "corrupted table of contents");

  const auto entries = ParseToc(toc, static_cast<std::int64_t>(kHeaderSize) + tocLength);

  // Every member is read and checked, in order; only the two lists are kept. Nothing is written
  // to disk, and the caller's lists change only once every member has passed its check.
  std::optional<std::string> dirsText, filesText;
  for (const auto& e : entries) {
    std::string content = ZlibDecompress(MemberBytes(data, e), kMaxMemberBytes);
    const Md5Digest found = Md5Of(content);
    if (found != e.digest)
      throw EZLibError(3, "Saved=" + Md5Hex(e.digest) + " Found=" + Md5Hex(found));
    if (e.name == kDirsMember)
      dirsText = std::move(content);
    else if (e.name == kFilesMember)
      filesText = std::move(content);
  }
  if (dirsText) dirs = TextToList(*dirsText);
  if (filesText) files = TextToList(*filesText);
}

}  // namespace bsync
