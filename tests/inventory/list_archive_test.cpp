#include "inventory/list_archive.h"

#include <gtest/gtest.h>

#include <cstring>

#include "inventory/list_file.h"
#include "inventory/zlib_stream.h"
#include "platform/errors.h"
#include "support/temp_dir.h"

namespace bsync {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr size_t kHeader = 40;

std::uint64_t Le(const std::string& data, size_t at, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[at + i]);
  return v;
}

void PutLe(std::string& out, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i));
}

struct Member {
  std::string name, path, content;
};

// Builds an archive of any members, with the option to damage chosen fields.
struct ArchiveBuilder {
  std::vector<Member> members;
  std::int64_t positionShift = 0;  // added to every stored position
  std::string Build() const {
    std::string data, toc;
    for (const auto& m : members) {
      const size_t pos = data.size();
      if (!m.content.empty()) ZlibCompress(m.content, data);
      toc += m.name + '\0' + m.path + '\0';
      PutLe(toc, pos + static_cast<std::uint64_t>(positionShift), 8);
      PutLe(toc, data.size() - pos, 8);
      const auto d = Md5Of(m.content);
      toc.append(reinterpret_cast<const char*>(d.data()), 16);
    }
    return Wrap(toc, data);
  }
  static std::string Wrap(const std::string& toc, const std::string& data) {
    std::string ctoc;
    ZlibCompress(toc, ctoc);
    std::string out("ZAR\0", 4);
    PutLe(out, 1, 4);
    PutLe(out, 0, 4);
    PutLe(out, 0, 4);
    PutLe(out, ctoc.size(), 8);
    const auto d = Md5Of(toc);
    out.append(reinterpret_cast<const char*>(d.data()), 16);
    return out + ctoc + data;
  }
};

class ListArchive : public ::testing::Test {
 protected:
  TempDir dir;
  fs::path archive = dir / "o.dflsync";
  TXArray dirs{"old-dir\\"}, files{"old;1.1.2000;1.1.2000;0;"};

  void Store(const std::string& bytes) { WriteFile(archive, bytes); }
  // Reads and expects an archive error of the given code; the lists must be untouched.
  std::string ExpectArchiveError(int code) {
    const TXArray dirsBefore = dirs, filesBefore = files;
    try {
      ReadListArchive(archive, dirs, files);
    } catch (const EZLibError& e) {
      EXPECT_EQ(e.Code(), code);
      EXPECT_EQ(dirs, dirsBefore);
      EXPECT_EQ(files, filesBefore);
      return e.what();
    }
    ADD_FAILURE() << "no archive error";
    return {};
  }
  std::vector<std::string> FolderContent() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(ListArchive, RoundTripKeepsEveryEntryInOrder) {
  const TXArray d{"a\\", "a\\b\\", "\xe4\\"};
  TXArray f;
  for (int i = 0; i < 5000; ++i)
    f.push_back("a\\b\\file" + std::to_string(i) + ";01.02.2003;04.05.2006 07:08:09;0,5;");
  WriteListArchive(archive, d, f);
  ReadListArchive(archive, dirs, files);
  EXPECT_EQ(dirs, d);
  EXPECT_EQ(files, f);
  // Only the archive is left in its folder.
  EXPECT_EQ(FolderContent(), std::vector<std::string>{"o.dflsync"});
}

TEST_F(ListArchive, LayoutIsByteExact) {
  WriteListArchive(archive, {"a\\"}, {"a\\x;1.1.2000;1.1.2000;0;"});
  const std::string bytes = ReadFile(archive);
  ASSERT_GE(bytes.size(), kHeader);
  EXPECT_EQ(bytes.substr(0, 4), std::string("ZAR\0", 4));
  EXPECT_EQ(Le(bytes, 4, 4), 1u);
  EXPECT_EQ(Le(bytes, 8, 4), 0u);
  EXPECT_EQ(Le(bytes, 12, 4), 0u);
  const size_t tocLen = Le(bytes, 16, 8);
  const std::string toc = ZlibDecompress(std::string_view(bytes).substr(kHeader, tocLen), 1 << 20);
  const auto tocDigest = Md5Of(toc);
  EXPECT_EQ(0, std::memcmp(tocDigest.data(), bytes.data() + 24, 16));

  const std::string contents[] = {"a\\\r\n", "a\\x;1.1.2000;1.1.2000;0;\r\n"};
  const char* names[] = {"dirs.txt", "files.txt"};
  size_t at = 0, expectedPos = 0;
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(toc.substr(at, std::strlen(names[i]) + 3), std::string(names[i]) + '\0' + "/" + '\0');
    at += std::strlen(names[i]) + 3;
    const size_t pos = Le(toc, at, 8), size = Le(toc, at + 8, 8);
    EXPECT_EQ(pos, expectedPos);
    const auto digest = Md5Of(contents[i]);
    EXPECT_EQ(0, std::memcmp(digest.data(), toc.data() + at + 16, 16));
    const std::string member =
        ZlibDecompress(std::string_view(bytes).substr(kHeader + tocLen + pos, size), 1 << 20);
    EXPECT_EQ(member, contents[i]);
    expectedPos += size;
    at += 32;
  }
  EXPECT_EQ(at, toc.size());
  EXPECT_EQ(bytes.size(), kHeader + tocLen + expectedPos);  // no gaps, nothing after
}

TEST_F(ListArchive, EmptyListsHaveNoMemberBytes) {
  WriteListArchive(archive, {}, {});
  const std::string bytes = ReadFile(archive);
  const size_t tocLen = Le(bytes, 16, 8);
  EXPECT_EQ(bytes.size(), kHeader + tocLen);
  const std::string toc = ZlibDecompress(std::string_view(bytes).substr(kHeader, tocLen), 1 << 20);
  ASSERT_EQ(toc.size(), 2 * 32 + 11 + 12);
  for (size_t at : {size_t{11}, size_t{11 + 32 + 12}}) {
    EXPECT_EQ(Le(toc, at, 8), 0u);
    EXPECT_EQ(Le(toc, at + 8, 8), 0u);
    Md5Digest d;
    std::memcpy(d.data(), toc.data() + at + 16, 16);
    EXPECT_EQ(Md5Hex(d), "d41d8cd98f00b204e9800998ecf8427e");
  }
  ReadListArchive(archive, dirs, files);
  EXPECT_TRUE(dirs.empty());
  EXPECT_TRUE(files.empty());
}

TEST_F(ListArchive, WrongMagicIsNotAnArchive) {
  WriteListArchive(archive, {"a\\"}, {});
  const std::string good = ReadFile(archive);
  const std::string cases[] = {
      "", "Z", "ZA", "ZAR", "ZIP\0rest", "ZAR!" + good.substr(4), "zAR" + good.substr(3),
      std::string("\0AR\0", 4) + good.substr(4),
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size());
    Store(c);
    EXPECT_EQ(ExpectArchiveError(2), "ZLibError(2) corrupt file or not a correct file type");
  }
}

TEST_F(ListArchive, OtherVersionsAreAccepted) {
  WriteListArchive(archive, {"a\\"}, {"f;1.1.2000;1.1.2000;0;"});
  std::string bytes = ReadFile(archive);
  bytes[4] = 7;
  bytes[8] = 3;
  bytes[12] = static_cast<char>(0xff);
  Store(bytes);
  ReadListArchive(archive, dirs, files);
  EXPECT_EQ(dirs, TXArray{"a\\"});
}

TEST_F(ListArchive, DamagedTableOfContents) {
  WriteListArchive(archive, {"a\\"}, {"f;1.1.2000;1.1.2000;0;"});
  const std::string good = ReadFile(archive);
  const size_t tocLen = Le(good, 16, 8);
  auto withTocLength = [&](std::uint64_t len) {
    std::string b = good;
    for (int i = 0; i < 8; ++i) b[16 + i] = static_cast<char>(len >> (8 * i));
    return b;
  };
  std::string flippedBody = good;
  flippedBody[kHeader + 2] ^= 0x40;
  std::string flippedDigest = good;
  flippedDigest[30] ^= 1;
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"deflate data changed", flippedBody},
      {"digest changed", flippedDigest},
      {"header cut short", good.substr(0, 20)},
      {"length beyond the file", withTocLength(good.size())},
      {"huge length", withTocLength(0x7fffffffffffffffULL)},
      {"negative length", withTocLength(~std::uint64_t{0})},
      {"length zero", withTocLength(0)},
      {"length cut short", withTocLength(tocLen - 6)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Store(c.bytes);
    EXPECT_EQ(ExpectArchiveError(1), "ZLibError(1) corrupted table of contents");
  }
}

TEST_F(ListArchive, DamageConfinedToTheStreamChecksumIsNotReported) {
  WriteListArchive(archive, {"a\\"}, {"f;1.1.2000;1.1.2000;0;"});
  std::string bytes = ReadFile(archive);
  const size_t tocLen = Le(bytes, 16, 8);
  bytes[kHeader + tocLen - 1] ^= 0x55;  // last byte of the TOC stream's Adler-32
  Store(bytes);
  ReadListArchive(archive, dirs, files);
  EXPECT_EQ(dirs, TXArray{"a\\"});
}

TEST_F(ListArchive, DamagedMemberNamesBothDigestsAndChangesNoList) {
  const TXArray f(200, "some\\file.txt;01.01.2001;02.02.2002 10:11:12;0,25;");
  WriteListArchive(archive, {"a\\"}, f);
  std::string bytes = ReadFile(archive);
  bytes[bytes.size() - 20] ^= 0x10;  // inside the compressed files.txt
  Store(bytes);
  const std::string text = ExpectArchiveError(3);
  const std::string saved = Md5Hex(Md5Of(ListToText(f)));
  EXPECT_EQ(text.rfind("ZLibError(3) Saved=" + saved + " Found=", 0), 0u) << text;
  EXPECT_EQ(text.size(), std::string("ZLibError(3) Saved= Found=").size() + 64);
  EXPECT_EQ(text.find_first_not_of("0123456789abcdef", text.size() - 32), std::string::npos);
  EXPECT_EQ(FolderContent(), std::vector<std::string>{"o.dflsync"});
}

TEST_F(ListArchive, AbsentMemberKeepsItsList) {
  ArchiveBuilder b;
  b.members = {{"dirs.txt", "/", "x\\\r\ny\\\r\n"}};
  Store(b.Build());
  ReadListArchive(archive, dirs, files);
  EXPECT_EQ(dirs, (TXArray{"x\\", "y\\"}));
  EXPECT_EQ(files, TXArray{"old;1.1.2000;1.1.2000;0;"});
}

TEST_F(ListArchive, ForeignMembersAreCheckedButNeverWritten) {
  ArchiveBuilder b;
  b.members = {{"../evil.txt", "/", "escape"},
               {"readme.txt", "/", "hello"},
               {"dirs.txt", "/sub/", "d\\\n"},
               {"files.txt", "/", "f;1.1.2000;1.1.2000;0;\n"},
               {"", "", ""}};
  Store(b.Build());
  WriteFile(dir / "dirs.txt", "user's own file");
  ReadListArchive(archive, dirs, files);
  EXPECT_EQ(dirs, TXArray{"d\\"});
  EXPECT_EQ(files, TXArray{"f;1.1.2000;1.1.2000;0;"});
  EXPECT_EQ(FolderContent(), (std::vector<std::string>{"dirs.txt", "o.dflsync"}));
  EXPECT_EQ(ReadFile(dir / "dirs.txt"), "user's own file");
  EXPECT_FALSE(fs::exists(dir.path().parent_path() / "evil.txt"));

  // A foreign member is still checked.
  ArchiveBuilder last;
  last.members = {{"dirs.txt", "/", "d\\\n"}, {"readme.txt", "/", "hello hello hello"}};
  std::string bytes = last.Build();
  bytes[bytes.size() - 6] ^= 0x21;  // inside readme.txt's deflate data, before its checksum
  Store(bytes);
  ExpectArchiveError(3);
}

TEST_F(ListArchive, MemberOutsideTheFileIsReportedNotRead) {
  for (std::int64_t shift : {std::int64_t{1} << 40, std::int64_t{-1} << 40, std::int64_t{3}}) {
    SCOPED_TRACE(shift);
    ArchiveBuilder b;
    b.members = {{"dirs.txt", "/", "a\\\r\n"}, {"files.txt", "/", "f;1.1.2000;1.1.2000;0;\r\n"}};
    b.positionShift = shift;
    Store(b.Build());
    ExpectArchiveError(3);
  }
}

TEST_F(ListArchive, TruncatedTocEntryIsAReadError) {
  const std::string tocs[] = {std::string("dirs.txt"), std::string("dirs.txt\0/", 10),
                              std::string("dirs.txt\0/\0", 11) + std::string(20, '\0')};
  for (const auto& toc : tocs) {
    Store(ArchiveBuilder::Wrap(toc, ""));
    EXPECT_THROW(ReadListArchive(archive, dirs, files), EInOutError);
    EXPECT_EQ(dirs, TXArray{"old-dir\\"});
  }
}

TEST_F(ListArchive, FileErrors) {
  EXPECT_THROW(ReadListArchive(dir / "absent.dflsync", dirs, files), EInOutError);
  EXPECT_THROW(WriteListArchive(dir / "no/such/folder/a.dflsync", {}, {}), EInOutError);
}

TEST_F(ListArchive, ReplacesAnExistingArchive) {
  WriteListArchive(archive, {"first\\"}, {});
  WriteListArchive(archive, {"second\\"}, {});
  ReadListArchive(archive, dirs, files);
  EXPECT_EQ(dirs, TXArray{"second\\"});
  EXPECT_EQ(FolderContent(), std::vector<std::string>{"o.dflsync"});
}

}  // namespace
}  // namespace bsync

namespace bsync {
namespace {

TEST(ZlibStream, DecompressionKeepsWhatCameBeforeDamageAndStopsAtItsBound) {
  std::string text;
  for (int i = 0; i < 20000; ++i) {
    text += "line ";
    text += std::to_string(i);
    text += "\r\n";
  }
  std::string packed;
  ZlibCompress(text, packed);
  EXPECT_EQ(ZlibDecompress(packed, text.size()), text);
  // A bound below the content cuts it there, whatever the content claims.
  EXPECT_EQ(ZlibDecompress(packed, 1000), text.substr(0, 1000));
  // A stream cut short gives a prefix of the content.
  const std::string prefix = ZlibDecompress(std::string_view(packed).substr(0, packed.size() / 2),
                                            text.size());
  EXPECT_GT(prefix.size(), 0u);
  EXPECT_LT(prefix.size(), text.size());
  EXPECT_EQ(text.compare(0, prefix.size(), prefix), 0);
  EXPECT_EQ(ZlibDecompress("not zlib at all", 1 << 20), "");
  EXPECT_EQ(ZlibDecompress("", 1 << 20), "");
}

}  // namespace
}  // namespace bsync
