#include "inventory/local_ops.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "platform/file_times.h"
#include "support/temp_dir.h"

namespace bsync {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ScopedTimeZone;
using test::TempDir;
using test::WriteFile;

TEST(ShortenName, KeepsHeadAndTail) {
  const std::string forty = "0123456789abcdefghijABCDEFGHIJklmnopqrst";
  const std::string thirty = forty.substr(0, 30);
  const struct {
    std::string text;
    int width;
    std::string expected;
  } cases[] = {
      {forty, 30, "012..." + forty.substr(13)},  // 3 + "..." + last 27
      {forty, 20, "0..." + forty.substr(21)},    // 1 + "..." + last 19
      {forty, 4, "..."},
      {"ab", 4, "..."},
      {thirty, 30, thirty},
      {forty, 5, "..." + forty.substr(35)},   // round(1) - 3 < 0: no head
      {forty, 13, "..." + forty.substr(27)},  // round(2.6) = 3: still no head
      {forty, 18, "0..." + forty.substr(23)}, // round(3.6) = 4: one leading character
      {"", 10, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.width);
    EXPECT_EQ(ShortenName(c.text, c.width), c.expected);
    if (c.width >= 5 && c.text.size() > static_cast<size_t>(c.width)) {
      EXPECT_EQ(ShortenName(c.text, c.width).size(), static_cast<size_t>(c.width) + 3);
    }
  }
}

TEST(FixSlashes, TurnsSlashesIntoBackslashes) {
  EXPECT_EQ(FixSlashes("a/b\\c/"), "a\\b\\c\\");
  EXPECT_EQ(FixSlashes(""), "");
}

TEST(LocalPathOf, JoinsSafeEntriesOnly) {
  const fs::path root = "/r";
  EXPECT_EQ(LocalPathOf(root, "a\\b\\c.txt"), fs::path("/r/a/b/c.txt"));
  EXPECT_EQ(LocalPathOf(root, "a/b/"), fs::path("/r/a/b"));
  EXPECT_EQ(LocalPathOf(root, "caf\xe9\\"), fs::path("/r/caf\xC3\xA9"));
  for (const char* bad : {"..\\x", "a/../../x", "\\x", "/x", "C:\\x", "", "a\\\\b"})
    EXPECT_FALSE(LocalPathOf(root, bad)) << bad;
}

class LocalOps : public ::testing::Test {
 protected:
  TempDir base;
  fs::path stage = base / "stage";
  fs::path sync = base / "sync";
  void SetUp() override {
    fs::create_directories(stage);
    fs::create_directories(sync);
  }
};

TEST_F(LocalOps, MoveFilesPlacesFilesWithTheirRecordedTimes) {
  ScopedTimeZone tz("Europe/Berlin");
  WriteFile(stage / "Photos/a.jpg", "new");
  WriteFile(sync / "Photos/a.jpg", "old");
  WriteFile(stage / "b.txt", "bee");
  const TXArray entries{"Photos\\a.jpg;24.12.2011 17:05:09;26.12.2011 09:14:00;0,1;",
                        "missing.txt;01.01.2001;01.01.2001;0;",
                        "new\\dir\\b.txt;01.07.2011;01.07.2011 12:30:45;0;"};
  WriteFile(stage / "new/dir/b.txt", "bee");
  const TXArray moved = MoveFiles(stage, sync, entries);
  EXPECT_EQ(moved, (TXArray{entries[0], entries[2]}));
  EXPECT_EQ(ReadFile(sync / "Photos/a.jpg"), "new");
  EXPECT_EQ(ReadFile(sync / "new/dir/b.txt"), "bee");
  EXPECT_FALSE(fs::exists(stage / "Photos/a.jpg"));
  LocalFileTimes t;
  ASSERT_TRUE(GetLocalFileTimes(sync / "Photos/a.jpg", t));
  EXPECT_EQ(DateTimeToStr(t.modified), "26.12.2011 09:14:00");
  ASSERT_TRUE(GetLocalFileTimes(sync / "new/dir/b.txt", t));
  EXPECT_EQ(DateTimeToStr(t.modified), "01.07.2011 12:30:45");
}

TEST_F(LocalOps, MoveFilesLeavesTargetsAloneWhenNothingWasMoved) {
  WriteFile(sync / "keep.txt", "precious");
  struct stat before {};
  ASSERT_EQ(::stat((sync / "keep.txt").c_str(), &before), 0);
  const TXArray moved = MoveFiles(stage, sync, {"keep.txt;01.01.1990;01.01.1990;0;"});
  EXPECT_TRUE(moved.empty());
  EXPECT_EQ(ReadFile(sync / "keep.txt"), "precious");
  struct stat after {};
  ASSERT_EQ(::stat((sync / "keep.txt").c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

TEST_F(LocalOps, MoveFilesFailsOnABadTimeAfterMovingThatFile) {
  WriteFile(stage / "a.txt", "a");
  WriteFile(stage / "b.txt", "b");
  EXPECT_THROW(MoveFiles(stage, sync, {"a.txt;not a date;01.01.2001;0;", "b.txt;1.1.2001;1.1.2001;0;"}),
               EConvertError);
  EXPECT_TRUE(fs::exists(sync / "a.txt"));
  EXPECT_FALSE(fs::exists(sync / "b.txt"));
}

TEST_F(LocalOps, MoveLocalFileNeverLosesTheTarget) {
  WriteFile(sync / "t.txt", "target");
  EXPECT_FALSE(MoveLocalFile(stage / "absent", sync / "t.txt"));
  EXPECT_EQ(ReadFile(sync / "t.txt"), "target");
  fs::create_directories(stage / "folder");
  EXPECT_FALSE(MoveLocalFile(stage / "folder", sync / "t.txt"));
  EXPECT_EQ(ReadFile(sync / "t.txt"), "target");
  WriteFile(stage / "s.txt", "source");
  EXPECT_TRUE(MoveLocalFile(stage / "s.txt", sync / "deep/er/t.txt"));
  EXPECT_EQ(ReadFile(sync / "deep/er/t.txt"), "source");
}

TEST_F(LocalOps, MoveLocalFileCrossesFileSystems) {
  // /dev/shm is a separate memory file system on most machines; rename cannot cross to it.
  struct stat shm {}, here {};
  if (::stat("/dev/shm", &shm) != 0 || ::stat(base.path().c_str(), &here) != 0 ||
      shm.st_dev == here.st_dev || ::access("/dev/shm", W_OK) != 0)
    GTEST_SKIP() << "no second file system to move from";
  const fs::path source = "/dev/shm/bsync-move-" + std::to_string(::getpid());
  WriteFile(source, "across");
  WriteFile(sync / "t.txt", "old");
  EXPECT_TRUE(MoveLocalFile(source, sync / "t.txt"));
  EXPECT_EQ(ReadFile(sync / "t.txt"), "across");
  EXPECT_FALSE(fs::exists(source));
  std::error_code ec;
  fs::remove(source, ec);
  // Nothing but the target is left in its folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(sync), fs::directory_iterator()), 1);
}

TEST_F(LocalOps, ListOperationsRefuseEntriesOutsideTheRoot) {
  WriteFile(base / "outside.txt", "x");
  WriteFile(stage / "in.txt", "in");
  fs::create_directories(base / "outdir");
  const TXArray files{"..\\outside.txt;1.1.2001;1.1.2001;0;", "/etc/x;1.1.2001;1.1.2001;0;",
                      "..\\stage\\in.txt;1.1.2001;1.1.2001;0;"};
  EXPECT_TRUE(DeleteLocalFiles(stage, files).empty());
  EXPECT_TRUE(MoveFiles(stage, sync, files).empty());
  EXPECT_TRUE(fs::exists(base / "outside.txt"));
  EXPECT_TRUE(fs::exists(stage / "in.txt"));
  const TXArray dirs{"..\\outdir\\", "..\\made\\", "a\\..\\..\\made2\\"};
  CreateLocalDirs(stage, dirs);
  EXPECT_FALSE(fs::exists(base / "made"));
  EXPECT_FALSE(fs::exists(base / "made2"));
  EXPECT_TRUE(RemoveLocalDirs(stage, dirs).empty());
  EXPECT_TRUE(fs::exists(base / "outdir"));
  EXPECT_TRUE(FilterExistingDirs(stage, dirs).empty());
}

TEST_F(LocalOps, DeleteLocalFilesReturnsWhatWasDeleted) {
  WriteFile(sync / "a\\x" , "");  // a backslash is an ordinary character on disk
  WriteFile(sync / "a/y.txt", "y");
  const TXArray entries{"a\\y.txt;1.1.2001;1.1.2001;0;", "a\\gone.txt;1.1.2001;1.1.2001;0;",
                        "a;1.1.2001;1.1.2001;0;"};
  EXPECT_EQ(DeleteLocalFiles(sync, entries), TXArray{entries[0]});
  EXPECT_FALSE(fs::exists(sync / "a/y.txt"));
  EXPECT_TRUE(fs::exists(sync / "a"));
}

TEST_F(LocalOps, CreateAndRemoveFolders) {
  CreateLocalDirs(sync, {"a/b/", "c\\d\\"});
  EXPECT_TRUE(fs::is_directory(sync / "a/b"));
  EXPECT_TRUE(fs::is_directory(sync / "c/d"));
  EXPECT_EQ(RemoveLocalDirs(sync, {"a\\", "a\\b\\"}), (TXArray{"a\\b\\", "a\\"}));
  EXPECT_FALSE(fs::exists(sync / "a"));
  WriteFile(sync / "c/file", "f");
  EXPECT_EQ(RemoveLocalDirs(sync, {"c\\", "c\\d\\"}), TXArray{"c\\d\\"});
  EXPECT_TRUE(fs::exists(sync / "c/file"));
}

TEST_F(LocalOps, FilterExistingDirsKeepsFoldersThatExist) {
  fs::create_directories(sync / "x");
  WriteFile(sync / "file", "not a folder");
  EXPECT_EQ(FilterExistingDirs(sync, {"x\\", "y\\", "file\\", "x/"}), (TXArray{"x\\", "x/"}));
  fs::remove(sync / "x");
  EXPECT_TRUE(FilterExistingDirs(sync, {"x\\"}).empty());
}

TEST_F(LocalOps, StopEndsListOperationsBeforeTheNextEntry) {
  StopToken stop;
  stop.RequestStop();
  WriteFile(sync / "a.txt", "a");
  EXPECT_THROW(DeleteLocalFiles(sync, {"a.txt;1.1.2001;1.1.2001;0;"}, stop), RunStopped);
  EXPECT_TRUE(fs::exists(sync / "a.txt"));
  EXPECT_THROW(CreateLocalDirs(sync, {"n\\"}, stop), RunStopped);
  EXPECT_FALSE(fs::exists(sync / "n"));
}

}  // namespace
}  // namespace bsync
