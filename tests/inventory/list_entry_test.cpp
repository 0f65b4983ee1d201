#include "inventory/list_entry.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace bsync {
namespace {

struct SplitCase {
  const char* entry;
  const char* relPath;
  const char* created;
  const char* modified;
  const char* size;
};

TEST(SplitFileEntry, TakesTheTextBeforeEachSemicolon) {
  const SplitCase cases[] = {
      {"Photos\\2011\\img1.jpg;24.12.2011 17:05:09;26.12.2011 09:14:00;0,0234375;",
       "Photos\\2011\\img1.jpg", "24.12.2011 17:05:09", "26.12.2011 09:14:00", "0,0234375"},
      {"a.txt;1.1.2000;2.1.2000;0;", "a.txt", "1.1.2000", "2.1.2000", "0"},
      // A path and two ";" only: the path, then three empty fields.
      {"a\\b.txt;x;", "a\\b.txt", "x", "", ""},
      {"a\\b.txt;;", "a\\b.txt", "", "", ""},
      // No ";" at all: every field is empty.
      {"no-semicolon", "", "", "", ""},
      {"", "", "", "", ""},
      // Text after the fourth ";" is not part of any field.
      {"p;c;m;s;extra", "p", "c", "m", "s"},
      // A missing ";" leaves the rest for nobody: "tail" has no ";" after it.
      {"p;c;tail", "p", "c", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    const FileEntryFields f = SplitFileEntry(c.entry);
    EXPECT_EQ(f.relPath, c.relPath);
    EXPECT_EQ(f.created, c.created);
    EXPECT_EQ(f.modified, c.modified);
    EXPECT_EQ(f.size, c.size);
    EXPECT_EQ(EntryPath(c.entry), c.relPath);
  }
}

TEST(MakeFileEntry, WritesTheFixedTextForms) {
  const TDateTime created = EncodeDateTime({2011, 12, 24, 17, 5, 9, 0});
  const TDateTime modified = EncodeDateTime({2011, 12, 26, 9, 14, 0, 0});
  EXPECT_EQ(MakeFileEntry("Photos\\2011\\img1.jpg", created, modified, 24576),
            "Photos\\2011\\img1.jpg;24.12.2011 17:05:09;26.12.2011 09:14:00;0,0234375;");
  // Midnight writes the date alone; fractions of a second are not written.
  const TDateTime midnight = EncodeDateTime({2020, 2, 29, 0, 0, 0, 0});
  const TDateTime justAfter = EncodeDateTime({2020, 2, 29, 0, 0, 1, 999});
  EXPECT_EQ(MakeFileEntry("m", midnight, justAfter, 1048576),
            "m;29.02.2020;29.02.2020 00:00:01;1;");
  EXPECT_EQ(MakeFileEntry("z", midnight, midnight, 0), "z;29.02.2020;29.02.2020;0;");
}

TEST(IsSafeRelativePath, RefusesWhatLeadsOutsideTheRoot) {
  const struct {
    const char* path;
    bool safe;
  } cases[] = {
      {"a.txt", true},
      {"Photos\\2011\\img1.jpg", true},
      {"Photos\\", true},
      {"a/b/", true},
      {"a\\b/c", true},
      {"..foo", true},  // a name that merely begins with dots
      {"a..b\\c", true},
      {"", false},
      {"\\", false},
      {"/", false},
      {"\\etc\\passwd", false},
      {"/etc/passwd", false},
      {"..", false},
      {"..\\x", false},
      {"a\\..\\..\\x", false},
      {"a/../b", false},
      {".", false},
      {"a\\.\\b", false},
      {"a\\\\b", false},  // empty component
      {"a\\\\", false},   // two trailing separators
      {"C:\\x", false},
      {"C:x", false},
      {"a\nb", false},
      {"a\rb", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(IsSafeRelativePath(c.path), c.safe);
  }
  EXPECT_FALSE(IsSafeRelativePath(std::string_view("a\0b", 3)));
}

}  // namespace
}  // namespace bsync
