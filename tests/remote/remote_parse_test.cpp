// Parsing of what servers send: listing lines, quota reports, MDTM times; and the texts the
// client builds (MFMT time, remote paths, version marker).
#include <gtest/gtest.h>

#include "platform/errors.h"
#include "remote/ftp_listing.h"
#include "remote/ftp_session.h"
#include "remote/remote_layout.h"

namespace bsync {
namespace {

struct ListCase {
  const char* line;
  bool parsed;
  const char* name;
  bool isDir;
};

TEST(ParseListLine, UnixAndDosForms) {
  const ListCase cases[] = {
      {"drwxr-xr-x   2 ftp      ftp          4096 Mar  7 14:05 Photos", true, "Photos", true},
      {"-rw-r--r--   1 ftp      ftp         12345 Mar  7  2011 a b.txt", true, "a b.txt", false},
      {"-rw-r--r--   1 ftp      ftp         12345 Mar  7  2011  lead.txt", true, " lead.txt",
       false},
      {"-rw-r--r-- 1 owner 99 Jan 1 10:00 nogroup.txt", true, "nogroup.txt", false},
      {"lrwxrwxrwx   1 ftp ftp 4 Mar  7 14:05 link -> target", true, "link", false},
      {"drwxr-xr-x   2 ftp ftp 4096 Mar  7 14:05 2011", true, "2011", true},
      {"-rw-r--r--   1 ftp ftp 0 Dec 31 23:59 12 34 5.txt", true, "12 34 5.txt", false},
      {"03-07-12  02:05PM       <DIR>          Old Stuff", true, "Old Stuff", true},
      {"03-07-12  02:05PM                 1234 report.doc", true, "report.doc", false},
      {"total 12", false, "", false},
      {"", false, "", false},
      {"garbage line", false, "", false},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.line);
    auto entry = ParseListLine(c.line);
    ASSERT_EQ(entry.has_value(), c.parsed);
    if (!c.parsed) continue;
    EXPECT_EQ(entry->name, c.name);
    EXPECT_EQ(entry->isDir, c.isDir);
  }
}

TEST(ParseListing, DropsDotFoldersAndHandlesCrLf) {
  auto entries = ParseListing(
      "total 8\r\n"
      "drwxr-xr-x 2 u g 4096 Mar  7 14:05 .\r\n"
      "drwxr-xr-x 2 u g 4096 Mar  7 14:05 ..\r\n"
      "-rw-r--r-- 1 u g 3 Mar  7 14:05 f.txt\r\n"
      "drwxr-xr-x 2 u g 4096 Mar  7 14:05 sub\n");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "f.txt");
  EXPECT_FALSE(entries[0].isDir);
  EXPECT_EQ(entries[1].name, "sub");
  EXPECT_TRUE(entries[1].isDir);
}

struct QuotaCase {
  const char* label;
  std::vector<std::string> lines;
  bool known;
  double used, limit;
};

TEST(ParseQuota, LastLineCountsAndUnknownCases) {
  const QuotaCase cases[] = {
      {"tabs", {"200-The current quota", "   Uploaded Mb:\t\t12.50/1000.00", "200 ok"}, true,
       12.5, 1000},
      {"last wins",
       {"211-x", " Uploaded Mb: 1.00/2.00", " Uploaded Mb:  3.25 / 4000.5 ", "211 end"}, true,
       3.25, 4000.5},
      {"blanks only", {"211 Uploaded Mb: 0/20"}, true, 0, 20},
      {"no line", {"500 'SITE QUOTA' not understood"}, false, 0, 0},
      {"unlimited", {"211-x", "   Uploaded Mb:\t\t12.50/unlimited", "211 end"}, false, 0, 0},
      {"no slash", {"211 Uploaded Mb: 12.50"}, false, 0, 0},
      {"comma decimal", {"211 Uploaded Mb: 12,50/1000"}, false, 0, 0},
      {"empty reply", {}, false, 0, 0},
  };
  for (const QuotaCase& c : cases) {
    SCOPED_TRACE(c.label);
    double used = -1, limit = -1;
    ASSERT_EQ(ParseQuota(c.lines, used, limit), c.known);
    if (!c.known) continue;
    EXPECT_DOUBLE_EQ(used, c.used);
    EXPECT_DOUBLE_EQ(limit, c.limit);
  }
}

TEST(ParseMdtmReply, FractionIgnoredAndBadTextsRaise) {
  DateTimeParts p = DecodeDateTime(ParseMdtmReply("213 20120102030405.123"));
  EXPECT_EQ(p.year, 2012);
  EXPECT_EQ(p.month, 1);
  EXPECT_EQ(p.day, 2);
  EXPECT_EQ(p.hour, 3);
  EXPECT_EQ(p.minute, 4);
  EXPECT_EQ(p.second, 5);
  EXPECT_EQ(p.millisecond, 0);
  for (const char* bad : {"213 2012010203040", "213 2012AB02030405", "213 20121302030405",
                          "213", "213 20120230030405"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(ParseMdtmReply(bad), EConvertError);
  }
}

TEST(MdtmDefaultTime, Is31October1986OneSecondPastMidnight) {
  DateTimeParts p = DecodeDateTime(MdtmDefaultTime());
  EXPECT_EQ(p.year, 1986);
  EXPECT_EQ(p.month, 10);
  EXPECT_EQ(p.day, 31);
  EXPECT_EQ(p.hour, 0);
  EXPECT_EQ(p.minute, 0);
  EXPECT_EQ(p.second, 1);
}

TEST(MfmtTimeText, FourteenZeroPaddedDigits) {
  DateTimeParts p;
  p.year = 2012, p.month = 3, p.day = 7, p.hour = 14, p.minute = 5, p.second = 9;
  EXPECT_EQ(MfmtTimeText(EncodeDateTime(p)), "20120307140509");
  // A time a hair below the next second must not round down to the previous one.
  p.millisecond = 999;
  EXPECT_EQ(MfmtTimeText(EncodeDateTime(p)), "20120307140509");
}

TEST(RemotePath, BackslashesBecomeSlashes) {
  EXPECT_EQ(RemotePath("/files/Photos\\2011\\"), "/files/Photos/2011/");
}

TEST(ParseVersionMarker, Cases) {
  const std::pair<const char*, int> cases[] = {
      {"55\r\n", 55}, {"54", 54}, {"abc\r\n", 0}, {"", 0}, {"56\r\nignored\r\n", 56},
      {"5x", 0},     {"\r\n55", 0},
  };
  for (auto [text, version] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ParseVersionMarker(text), version);
  }
}

}  // namespace
}  // namespace bsync
