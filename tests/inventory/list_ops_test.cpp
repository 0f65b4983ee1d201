#include "inventory/list_ops.h"

#include <gtest/gtest.h>

#include <random>

#include "inventory/list_entry.h"
#include "platform/errors.h"

namespace bsync {
namespace {

// Straightforward nested scans, as slow as they are obvious: the linear versions must agree
// with them entry for entry.
TXArray RefListMinus(const TXArray& a, const TXArray& b, int& actions) {
  TXArray r;
  for (const auto& x : a) {
    ++actions;
    bool found = false;
    for (const auto& y : b)
      if (x == y) found = true;
    if (!found) r.push_back(x);
  }
  return r;
}

TXArray RefFilesNewer(const TXArray& a, const TXArray& b, int& actions) {
  TXArray r;
  for (const auto& x : a) {
    ++actions;
    const auto fx = SplitFileEntry(x);
    bool upToDate = false;
    for (const auto& y : b) {
      const auto fy = SplitFileEntry(y);
      if (fy.relPath != fx.relPath) continue;
      if (StrToDateTime(fx.modified) <= StrToDateTime(fy.modified)) {
        upToDate = true;
        break;
      }
    }
    if (!upToDate) r.push_back(x);
  }
  return r;
}

TXArray RefDirsOfFiles(const TXArray& files) {
  TXArray work;
  for (const auto& f : files) {
    std::string rest = SplitFileEntry(f).relPath;
    for (auto& ch : rest)
      if (ch == '\\') ch = '/';
    std::string prefix;
    size_t slash;
    while ((slash = rest.find('/')) != std::string::npos) {
      prefix += rest.substr(0, slash + 1);
      rest.erase(0, slash + 1);
      work.push_back(prefix);
    }
  }
  TXArray r;
  for (const auto& p : work) {
    bool found = false;
    for (const auto& q : r)
      if (p == q) found = true;
    if (!found) r.push_back(p);
  }
  return r;
}

std::string Entry(const std::string& path, const std::string& modified,
                  const std::string& created = "01.01.2000") {
  return path + ";" + created + ";" + modified + ";0,5;";
}

TEST(ListMinus, KeepsEntriesOfANotInB) {
  RecordingObserver obs;
  EXPECT_EQ(ListMinus({"a\\", "b\\"}, {"b\\", "c\\"}, obs), TXArray{"a\\"});
  EXPECT_EQ(obs.Actions(), 2);
  NullObserver null;
  EXPECT_EQ(ListMinus({"Photos\\"}, {"photos\\"}, null), TXArray{"Photos\\"});
  EXPECT_EQ(ListMinus({"x", "y", "x", "z"}, {"y"}, null), (TXArray{"x", "x", "z"}));
  EXPECT_EQ(ListMinus({}, {"a"}, null), TXArray{});
  EXPECT_EQ(ListMinus({"a", ""}, {}, null), (TXArray{"a", ""}));
}

TEST(FilesNewer, DecidesByTheModifiedTimeOfTheSamePath) {
  const std::string t = "26.12.2011 09:14:00";
  const std::string tMinus1 = "26.12.2011 09:13:59";
  const std::string tPlus1 = "26.12.2011 09:14:01";
  const struct {
    const char* name;
    TXArray b;
    bool newer;
  } cases[] = {
      {"same time", {Entry("p\\x", t)}, false},
      {"b one second older", {Entry("p\\x", tMinus1)}, true},
      {"b newer", {Entry("p\\x", tPlus1)}, false},
      {"path absent", {Entry("p\\y", tMinus1)}, true},
      {"path differs in case", {Entry("P\\x", tPlus1)}, true},
      {"older first, newer later", {Entry("p\\x", tMinus1), Entry("p\\x", tPlus1)}, false},
      {"creation time and size do not count",
       {"p\\x;31.12.2099;" + t + ";999;"}, false},
      {"midnight form", {Entry("p\\x", "27.12.2011")}, false},
      {"empty b", {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingObserver obs;
    const TXArray a{Entry("p\\x", t)};
    EXPECT_EQ(FilesNewer(a, c.b, obs), c.newer ? a : TXArray{});
    EXPECT_EQ(obs.Actions(), 1);
  }
}

TEST(FilesNewer, UnparsableTimesFailOnlyWhenTheWalkReachesThem) {
  NullObserver obs;
  const std::string t = "26.12.2011 09:14:00";
  const std::string older = "26.12.2011 09:13:59";
  // The walk stops at the first entry that makes x up to date; a damaged one after it is
  // never parsed.
  EXPECT_EQ(FilesNewer({Entry("x", t)}, {Entry("x", t), Entry("x", "garbage")}, obs), TXArray{});
  // An older time does not stop it, so the damaged one is reached.
  EXPECT_THROW(FilesNewer({Entry("x", t)}, {Entry("x", older), Entry("x", "garbage")}, obs),
               EConvertError);
  EXPECT_THROW(FilesNewer({Entry("x", t)}, {Entry("x", "garbage"), Entry("x", t)}, obs),
               EConvertError);
  // Damaged entries of other paths are never compared.
  EXPECT_EQ(FilesNewer({Entry("x", t)}, {Entry("y", "garbage")}, obs), TXArray{Entry("x", t)});
  // x's own time is parsed only when b has its path.
  EXPECT_EQ(FilesNewer({Entry("x", "bad")}, {Entry("y", t)}, obs), TXArray{Entry("x", "bad")});
  EXPECT_THROW(FilesNewer({Entry("x", "bad")}, {Entry("x", t)}, obs), EConvertError);
}

TEST(DirsOfFiles, ListsEveryLevelOnceInOrderOfFirstAppearance) {
  EXPECT_EQ(DirsOfFiles({Entry("a\\b\\c.txt", "1.1.2000"), Entry("a\\d.txt", "1.1.2000"),
                         Entry("e.txt", "1.1.2000")}),
            (TXArray{"a/", "a/b/"}));
  EXPECT_EQ(DirsOfFiles({Entry("x\\y\\z\\f", "1.1.2000"), Entry("x\\w\\f", "1.1.2000"),
                         Entry("x/y/g", "1.1.2000"), Entry("X\\f", "1.1.2000")}),
            (TXArray{"x/", "x/y/", "x/y/z/", "x/w/", "X/"}));
  EXPECT_EQ(DirsOfFiles({"no-semicolon\\f"}), TXArray{});
}

TEST(SumSizes, AddsTheSizeFields) {
  EXPECT_DOUBLE_EQ(SumSizes({}), 0.0);
  EXPECT_DOUBLE_EQ(
      SumSizes({"a;1.1.2000;1.1.2000;0,0234375;", "b;1.1.2000;1.1.2000;1;",
                "c;1.1.2000;1.1.2000;9,5367431640625E-7;"}),
      1.0234384536743164);
  EXPECT_THROW(SumSizes({"a;1.1.2000;1.1.2000;1;", "b;1.1.2000;1.1.2000;x;"}), EConvertError);
  EXPECT_THROW(SumSizes({"a;1.1.2000;1.1.2000;"}), EConvertError);
}

// Generated lists with many shared paths, duplicates and near-equal times.
class GeneratedLists : public ::testing::TestWithParam<unsigned> {
 protected:
  TXArray Make(std::mt19937& rng, size_t n) {
    std::uniform_int_distribution<int> dir(0, 6), name(0, 40), sec(0, 3), depth(0, 3);
    TXArray list;
    for (size_t i = 0; i < n; ++i) {
      std::string path;
      for (int d = depth(rng); d > 0; --d) {
        path += 'd';
        path += std::to_string(dir(rng));
        path += '\\';
      }
      path += 'f';
      path += std::to_string(name(rng));
      std::string modified = "01.02.2003 04:05:0";
      modified += std::to_string(sec(rng));
      list.push_back(Entry(path, modified));
    }
    return list;
  }
};

TEST_P(GeneratedLists, AgreeWithTheNestedScans) {
  std::mt19937 rng(GetParam());
  const TXArray a = Make(rng, 400), b = Make(rng, 300);
  int refActions = 0;
  RecordingObserver obs;
  EXPECT_EQ(ListMinus(a, b, obs), RefListMinus(a, b, refActions));
  EXPECT_EQ(FilesNewer(a, b, obs), RefFilesNewer(a, b, refActions));
  EXPECT_EQ(obs.Actions(), refActions);
  EXPECT_EQ(DirsOfFiles(a), RefDirsOfFiles(a));
  EXPECT_EQ(DirsOfFiles(b), RefDirsOfFiles(b));
}

INSTANTIATE_TEST_SUITE_P(Seeds, GeneratedLists, ::testing::Values(1u, 2u, 3u, 4u, 5u));

}  // namespace
}  // namespace bsync
