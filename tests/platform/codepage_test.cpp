#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace bsync {
namespace {

TEST(CodePage, RoundTripsEveryByte) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  const auto back = Utf8ToCp1252(Cp1252ToUtf8(all));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, all);
}

TEST(CodePage, ConvertsAtTheBoundary) {
  EXPECT_EQ(Cp1252ToUtf8("\x80 caf\xE9"), "\u20AC caf\u00E9");
  EXPECT_EQ(Utf8ToCp1252("M\u00FCller \u2013 \u0160").value(), "M\xFCller \x96 \x8A");
  // Not representable, or not UTF-8 at all.
  EXPECT_FALSE(Utf8ToCp1252("\u0416").has_value());
  EXPECT_FALSE(Utf8ToCp1252("\xFF\xFE").has_value());
  EXPECT_FALSE(Utf8ToCp1252("\xC0\xAF").has_value());  // overlong "/"
  EXPECT_EQ(Utf8ToCp1252Lossy("a\u0416b"), "a?b");
}

}  // namespace
}  // namespace bsync
