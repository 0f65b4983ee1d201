#include "account/xml_text.h"

#include <gtest/gtest.h>

namespace bsync {
namespace {

struct Case {
  const char* in;
  std::string out;
};

TEST(DecodeEntities, DecodesEachReferenceOnce) {
  const Case cases[] = {
      {"a &amp; b", "a & b"},
      {"&apos;&lt;&gt;&quot;", "'<>\""},
      // An escaped entity stays an entity: the text the service meant.
      {"&amp;lt;", "&lt;"},
      {"&amp;amp;", "&amp;"},
      {"&amp;#65;", "&#65;"},
      {"&#65;&#0;&#9;", std::string("A\0\t", 3)},
      // Leading zeros, hexadecimal, above 255 and other named entities are left alone.
      {"&#065;", "&#065;"},
      {"&#x41;", "&#x41;"},
      {"&#256;", "&#256;"},
      {"&nbsp;", "&nbsp;"},
      {"&#;", "&#;"},
      {"& alone &", "& alone &"},
      {"&#65", "&#65"},
      // Characters 128 to 255 come out as UTF-8, like the rest of the text.
      {"&#233;", "\xC3\xA9"},
      {"&#128;", "\xC2\x80"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeEntities(c.in), c.out) << c.in;
  EXPECT_EQ(DecodeEntities("&#0;"), std::string(1, '\0'));
}

TEST(XmlEscape, EscapesMarkupCharacters) {
  EXPECT_EQ(XmlEscape("p&ss<w>rd\"'"), "p&amp;ss&lt;w&gt;rd\"'");
  EXPECT_EQ(DecodeEntities(XmlEscape("a&lt;b & <c>")), "a&lt;b & <c>");
}

TEST(FindMember, FindsCompactMembersOnly) {
  struct MemberCase {
    const char* body;
    const char* name;
    const char* value;
  };
  const MemberCase cases[] = {
      {"<member><name>status</name><value><string>100</string></value></member>", "status", "100"},
      {"<member><name>faultCode</name><value><i4>1002</i4></value></member>", "faultCode", "1002"},
      // A blank before the value element, or no type element: nothing is found.
      {"<member><name>status</name> <value><string>100</string></value></member>", "status", ""},
      {"<member><name>status</name><value>100</value></member>", "status", ""},
      // Names are compared whole and case-sensitively.
      {"<member><name>sync_ord_no10</name><value><string>X</string></value></member>",
       "sync_ord_no1", ""},
      {"<member><name>Status</name><value><string>100</string></value></member>", "status", ""},
      // The first member of the name wins; a missing closing tag gives nothing.
      {"<member><name>a</name><value><string>1</string></value></member>"
       "<member><name>a</name><value><string>2</string></value></member>",
       "a", "1"},
      {"<member><name>a</name><value><string>1</value></member>", "a", ""},
      {"<member><name>a</name><value><string></string></value></member>", "a", ""},
      {"", "a", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FindMember(c.body, c.name), c.value) << c.body;
}

TEST(TrimControls, RemovesCodesUpTo32AtBothEnds) {
  EXPECT_EQ(TrimControls(" \t\r\n a b \x01\x1f "), "a b");
  EXPECT_EQ(TrimControls("   "), "");
  EXPECT_EQ(TrimControls("\xC3\xA9"), "\xC3\xA9");  // bytes above 127 are not blanks
}

TEST(CutToChars, CutsWholeUtf8Characters) {
  EXPECT_EQ(CutToChars(std::string(300, 'x'), 255), std::string(255, 'x'));
  EXPECT_EQ(CutToChars("short", 255), "short");
  // Two-byte characters: 3 characters are 6 bytes, never half a character.
  EXPECT_EQ(CutToChars("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 3), "\xC3\xA9\xC3\xA9\xC3\xA9");
}

}  // namespace
}  // namespace bsync
