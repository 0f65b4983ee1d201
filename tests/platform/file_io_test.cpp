#include "platform/file_io.h"

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "platform/file_times.h"
#include "support/temp_dir.h"

namespace bsync {
namespace {

TEST(WriteFileAtomic, ReplacesTheFileAndLeavesNoTemporaryFile) {
  test::TempDir dir;
  const auto path = dir / "a.bin";
  WriteFileAtomic(path, "old");
  WriteFileAtomic(path, std::string("new\0data", 8));
  EXPECT_EQ(ReadWholeFile(path), std::string("new\0data", 8));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(WriteFileAtomic, FailsInAMissingFolder) {
  test::TempDir dir;
  EXPECT_THROW(WriteFileAtomic(dir / "missing/a.bin", "x"), EInOutError);
  EXPECT_THROW(ReadWholeFile(dir / "missing.bin"), EInOutError);
}

TEST(FileTimes, SetsAndReadsTheLastWriteTimeInLocalTime) {
  test::ScopedTimeZone tz("Europe/Berlin");
  test::TempDir dir;
  const auto path = dir / "f.txt";
  test::WriteFile(path, "x");
  // A summer time set in winter must read back unchanged.
  const TDateTime summer = EncodeDateTime({2021, 7, 15, 14, 0, 0, 250});
  ASSERT_TRUE(SetFileTimes(path, summer, summer));
  LocalFileTimes t;
  ASSERT_TRUE(GetLocalFileTimes(path, t));
  EXPECT_EQ(DateTimeToStr(t.modified), "15.07.2021 14:00:00");
  EXPECT_NEAR(t.modified, summer, 0.5 / 86400000);
  EXPECT_FALSE(SetFileTimes(dir / "missing", summer, summer));
  EXPECT_FALSE(GetLocalFileTimes(dir / "missing", t));
}

}  // namespace
}  // namespace bsync
