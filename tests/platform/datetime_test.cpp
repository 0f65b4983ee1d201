#include "platform/datetime.h"

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "support/temp_dir.h"

namespace bsync {
namespace {

TEST(SizeToMbText, WritesTheGeneralFormWithDecimalComma) {
  struct Case {
    std::uint64_t bytes;
    const char* text;
  };
  const Case cases[] = {
      {0, "0"},
      {1, "9,5367431640625E-7"},
      {5, "4,76837158203125E-6"},
      {10, "9,5367431640625E-6"},
      {11, "0,00001049041748"},  // 15 digits in all, the rest dropped
      {1025, "0,00097751617431"},
      {24576, "0,0234375"},
      {524288, "0,5"},
      {1048576, "1"},
      {1048577, "1,00000095367431"},
      {123456789, "117,737568855285"},
      {1073741824, "1024"},
      {5497558138880, "5242880"},
  };
  for (const auto& c : cases) EXPECT_EQ(SizeToMbText(c.bytes), c.text) << c.bytes << " bytes";
}

TEST(StrToFloat, ParsesWhatSizeToMbTextWrites) {
  for (std::uint64_t bytes : {0ULL, 1ULL, 10ULL, 11ULL, 24576ULL, 1048576ULL, 123456789ULL}) {
    EXPECT_NEAR(StrToFloat(SizeToMbText(bytes)), bytes / 1048576.0, 1e-9) << bytes;
  }
  EXPECT_DOUBLE_EQ(StrToFloat("-2,5E3"), -2500.0);
}

TEST(StrToFloat, RefusesOtherForms) {
  for (const char* bad : {"", "1.5", "abc", "1,5x", "E5", ",", "1,5E", "--1"}) {
    EXPECT_THROW(StrToFloat(bad), EConvertError) << bad;
  }
}

TEST(DateTimeText, FormatsAndParses) {
  const TDateTime t = EncodeDateTime({2011, 12, 24, 17, 5, 9, 0});
  EXPECT_EQ(DateTimeToStr(t), "24.12.2011 17:05:09");
  EXPECT_EQ(DateTimeToStr(EncodeDateTime({2011, 12, 26, 0, 0, 0, 0})), "26.12.2011");
  EXPECT_EQ(DateTimeToStr(EncodeDateTime({2011, 12, 26, 0, 0, 1, 0})), "26.12.2011 00:00:01");
  // Milliseconds are not written.
  EXPECT_EQ(DateTimeToStr(EncodeDateTime({2011, 12, 26, 9, 14, 0, 999})), "26.12.2011 09:14:00");
  EXPECT_EQ(StrToDateTime("24.12.2011 17:05:09"), t);
  EXPECT_EQ(StrToDateTime("24.12.2011"), EncodeDateTime({2011, 12, 24, 0, 0, 0, 0}));
  EXPECT_EQ(StrToDateTime("4.1.2011 7:05"), EncodeDateTime({2011, 1, 4, 7, 5, 0, 0}));
  // The epoch of the day count.
  EXPECT_EQ(EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
  EXPECT_EQ(EncodeDateTime({1986, 1, 1, 0, 0, 0, 0}), 31413.0);
}

TEST(DateTimeText, RefusesWhatIsNoDate) {
  for (const char* bad : {"", "x", "32.12.2011", "29.02.2011", "24.12.2011 25:00:00",
                          "24/12/2011", "24.12.2011 17:05:09 x", "24.12.2011 17"}) {
    EXPECT_THROW(StrToDateTime(bad), EConvertError) << bad;
  }
}

TEST(LocalTime, FollowsDaylightSavingRulesOfTheDate) {
  test::ScopedTimeZone tz("Europe/Berlin");
  // 2021-01-15 12:00:00 UTC is 13:00 in winter; 2021-07-15 12:00:00 UTC is 14:00 in summer,
  // whenever the conversion runs.
  EXPECT_EQ(DateTimeToStr(UtcToLocal(1610712000, 0)), "15.01.2021 13:00:00");
  EXPECT_EQ(DateTimeToStr(UtcToLocal(1626350400, 0)), "15.07.2021 14:00:00");
  const std::timespec back = LocalToUtc(UtcToLocal(1626350400, 123000000));
  EXPECT_EQ(back.tv_sec, 1626350400);
  EXPECT_EQ(back.tv_nsec, 123000000);
}

}  // namespace
}  // namespace bsync
