#include "inventory/scan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "inventory/list_entry.h"
#include "platform/errors.h"
#include "support/temp_dir.h"

namespace bsync {
namespace {

namespace fs = std::filesystem;
using test::ScopedTimeZone;
using test::TempDir;
using test::WriteFile;

void SetMtime(const fs::path& path, std::int64_t utcSeconds) {
  struct timespec times[2] = {{0, UTIME_OMIT}, {utcSeconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::vector<std::string> Paths(const TXArray& files) {
  std::vector<std::string> paths;
  for (const auto& f : files) paths.emplace_back(EntryPath(f));
  return paths;
}

struct Scan {
  TXArray dirs{"stale"}, files{"stale"};
  RecordingObserver observer;
  ScanSkips skips;
  explicit Scan(const fs::path& root) { ScanTree(root, dirs, files, observer, &skips); }
};

TEST(ScanTree, EmptyFolderGivesEmptyLists) {
  TempDir root;
  Scan s(root.path());
  EXPECT_TRUE(s.dirs.empty());
  EXPECT_TRUE(s.files.empty());
  EXPECT_EQ(s.observer.Actions(), 0);
}

TEST(ScanTree, FileEntriesCarryLocalTimesAndMegabytes) {
  ScopedTimeZone tz("Europe/Berlin");
  TempDir root;
  const struct {
    const char* name;
    size_t bytes;
    std::int64_t mtimeUtc;
    const char* modified;
    const char* size;
  } cases[] = {
      {"img1.jpg", 24576, 1324887240, "26.12.2011 09:14:00", "0,0234375"},  // winter, UTC+1
      {"summer.txt", 1048576, 1309521600, "01.07.2011 14:00:00", "1"},     // summer, UTC+2
      {"midnight.txt", 0, 1324854000, "26.12.2011", "0"},                  // 00:00:00 local
      {"second.txt", 3, 1324854001, "26.12.2011 00:00:01", "2,86102294921875E-6"},
  };
  for (const auto& c : cases) {
    WriteFile(root / c.name, std::string(c.bytes, 'x'));
    SetMtime(root / c.name, c.mtimeUtc);
  }
  Scan s(root.path());
  EXPECT_TRUE(s.dirs.empty());
  ASSERT_EQ(s.files.size(), std::size(cases));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto it = std::find_if(s.files.begin(), s.files.end(),
                                 [&](const std::string& e) { return EntryPath(e) == c.name; });
    ASSERT_NE(it, s.files.end());
    const FileEntryFields f = SplitFileEntry(*it);
    EXPECT_EQ(f.modified, c.modified);
    EXPECT_EQ(f.size, c.size);
    EXPECT_NO_THROW(StrToDateTime(f.created));
    EXPECT_EQ(it->back(), ';');
  }
  EXPECT_EQ(s.observer.Actions(), 4);
}

TEST(ScanTree, ListsFoldersBreadthFirstAndFilesInFolderOrder) {
  TempDir root;
  WriteFile(root / "Photos/p1.jpg", "1");
  WriteFile(root / "Photos/p2.jpg", "2");
  WriteFile(root / "Photos/2011/a.jpg", "a");
  WriteFile(root / "top.txt", "t");
  Scan s(root.path());
  EXPECT_EQ(s.dirs, (TXArray{"Photos\\", "Photos\\2011\\"}));
  const auto paths = Paths(s.files);
  ASSERT_EQ(paths.size(), 4u);
  EXPECT_EQ(paths[0], "top.txt");
  EXPECT_EQ(paths[3], "Photos\\2011\\a.jpg");
  EXPECT_EQ(s.observer.Actions(), 2 + 4);
}

// The queue walk with its removal of leaf folders, built from ScanFolder: the scan must give
// the very same lists.
void QueueWalk(const fs::path& root, TXArray& dirs, TXArray& files) {
  NullObserver obs;
  std::vector<fs::path> queue{root};
  std::vector<std::string> entryOf{""};
  size_t p = 0;
  while (p < queue.size()) {
    const fs::path cur = queue[p];
    const std::string entry = entryOf[p];
    if (cur != root) dirs.push_back(entry);
    TXArray subs, entries;
    ScanFolder(cur, subs, entries, obs);
    if (subs.empty()) {
      queue.erase(queue.begin() + static_cast<std::ptrdiff_t>(p));
      entryOf.erase(entryOf.begin() + static_cast<std::ptrdiff_t>(p));
    } else {
      for (const auto& n : subs) {
        queue.push_back(cur / n);
        entryOf.push_back(entry + n + "\\");
      }
      ++p;
    }
    for (const auto& e : entries) files.push_back(entry + e);
  }
}

TEST(ScanTree, EqualsTheQueueWalkOnAWideTree) {
  TempDir root;
  const char* tree[] = {"r1.txt", "A/a1", "A/B/b1", "A/B/G/g1", "A/C/c1", "D/d1", "D/E/e1",
                        "D/E/F/H/h1", "I/i1", "I/J/j1", "K/k1", "r2.txt"};
  for (const char* f : tree) WriteFile(root / f, f);
  fs::create_directories(root / "EmptyLeaf");
  fs::create_directories(root / "A/EmptyToo");
  Scan s(root.path());
  TXArray dirs, files;
  QueueWalk(root.path(), dirs, files);
  EXPECT_EQ(s.dirs, dirs);
  EXPECT_EQ(s.files, files);
  // Every folder comes after its parent.
  for (size_t i = 0; i < s.dirs.size(); ++i) {
    const std::string& d = s.dirs[i];
    const size_t cut = d.rfind('\\', d.size() - 2);
    if (cut == std::string::npos) continue;
    const auto parent = std::find(s.dirs.begin(), s.dirs.end(), d.substr(0, cut + 1));
    ASSERT_NE(parent, s.dirs.end());
    EXPECT_LT(parent - s.dirs.begin(), static_cast<std::ptrdiff_t>(i));
  }
}

TEST(ScanTree, SkipsNamesAnEntryCannotCarry) {
  TempDir root;
  WriteFile(root / ".hidden", "h");
  WriteFile(root / ".git/config", "c");
  WriteFile(root / "semi;colon.txt", "s");
  WriteFile(root / "back\\slash.txt", "b");
  WriteFile(root / "smile\xF0\x9F\x98\x80.txt", "e");
  WriteFile(root / "line\nbreak.txt", "n");
  WriteFile(root / "C:drive.txt", "d");
  WriteFile(root / "bad\xff.txt", "not UTF-8");
  WriteFile(root / "snow\xE2\x98\x83/inside.txt", "skipped with its folder");
  WriteFile(root / "caf\xC3\xA9.txt", "kept");
  Scan s(root.path());
  EXPECT_TRUE(s.dirs.empty());
  EXPECT_EQ(Paths(s.files), std::vector<std::string>{"caf\xE9.txt"});
  EXPECT_EQ(s.skips.count, 7u);
  EXPECT_EQ(s.observer.Actions(), 1);
}

TEST(ScanTree, FollowsLinksToFilesButNotToFolders) {
  TempDir root;
  WriteFile(root / "real/file.txt", "12345");
  fs::create_symlink(root / "real", root / "dirlink");
  fs::create_symlink(root.path(), root / "real/loop");
  fs::create_symlink(root / "real/file.txt", root / "filelink");
  fs::create_symlink(root / "nowhere", root / "dangling");
  Scan s(root.path());
  EXPECT_EQ(s.dirs, TXArray{"real\\"});
  auto paths = Paths(s.files);
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{"filelink", "real\\file.txt"}));
}

TEST(ScanTree, MissingRootIsAnErrorNotAnEmptyFolder) {
  TempDir dir;
  TXArray dirs{"keep"}, files;
  NullObserver obs;
  EXPECT_THROW(ScanTree(dir / "absent", dirs, files, obs), EInOutError);
  WriteFile(dir / "file", "x");
  EXPECT_THROW(ScanTree(dir / "file", dirs, files, obs), EInOutError);
}

TEST(ScanFolder, AppendsBareNamesWithoutEmptying) {
  TempDir root;
  WriteFile(root / "sub/x.txt", "x");
  WriteFile(root / "f.txt", "ff");
  TXArray subs{"before"}, entries{"before"};
  RecordingObserver obs;
  ScanFolder(root.path(), subs, entries, obs);
  EXPECT_EQ(subs, (TXArray{"before", "sub"}));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(EntryPath(entries[1]), "f.txt");
  EXPECT_EQ(obs.Actions(), 2);
  // A folder that vanished adds nothing.
  ScanFolder(root / "gone", subs, entries, obs);
  EXPECT_EQ(subs.size(), 2u);
}

}  // namespace
}  // namespace bsync
