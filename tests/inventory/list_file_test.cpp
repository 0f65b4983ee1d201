#include "inventory/list_file.h"

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "support/temp_dir.h"

namespace bsync {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(ListFile, WritesEveryEntryWithCrLf) {
  TempDir dir;
  WriteListFile(dir / "files.txt", {"a\\", "a\\b\\", "x;1.1.2000;1.1.2000;0;"});
  EXPECT_EQ(ReadFile(dir / "files.txt"), "a\\\r\na\\b\\\r\nx;1.1.2000;1.1.2000;0;\r\n");
  WriteListFile(dir / "files.txt", {});
  EXPECT_EQ(ReadFile(dir / "files.txt"), "");
}

TEST(ListFile, ReadsAnyLineEnd) {
  const struct {
    const char* text;
    TXArray list;
  } cases[] = {
      {"", {}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\r\nb", {"a", "b"}},  // no final line end
      {"a\n\nb\n", {"a", "", "b"}},
      {"\r\n", {""}},
      {"a\n\r", {"a", ""}},  // LF then a lone CR: two line ends
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    WriteFile(dir / "l.txt", c.text);
    TXArray list{"old"};
    ReadListFile(dir / "l.txt", list);
    EXPECT_EQ(list, c.list);
  }
}

TEST(ListFile, RoundTripsLongLinesAndHighBytes) {
  TempDir dir;
  const TXArray list{std::string(100000, 'x'), "\xe4\xf6\xfc\\caf\xe9;", ""};
  WriteListFile(dir / "l.txt", list);
  TXArray back;
  ReadListFile(dir / "l.txt", back);
  EXPECT_EQ(back, list);
}

TEST(ListFile, MissingFileLeavesTheListUnchanged) {
  TempDir dir;
  TXArray list(1000, "keep");
  ReadListFile(dir / "absent.txt", list);
  EXPECT_EQ(list, TXArray(1000, "keep"));
}

TEST(ListFile, FailuresAreInputOutputErrors) {
  TempDir dir;
  TXArray list{"keep"};
  std::filesystem::create_directory(dir / "folder");
  EXPECT_THROW(ReadListFile(dir / "folder", list), EInOutError);
  EXPECT_EQ(list, TXArray{"keep"});
  EXPECT_THROW(WriteListFile(dir / "no" / "such" / "x.txt", list), EInOutError);
}

}  // namespace
}  // namespace bsync
