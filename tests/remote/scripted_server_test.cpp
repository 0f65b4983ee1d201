// Remote operations against the scriptable server: the retry rule, reply codes, wire order of
// commands, re-login intervals, quota checks, layout and version-marker cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/datetime.h"
#include "remote/remote_layout.h"
#include "remote/remote_lists.h"
#include "remote/scripted_server.h"
#include "support/temp_dir.h"

namespace bsync {
namespace {

using test::ReadFile;
using test::WriteFile;

class ScriptedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ftp.SetTimeouts(5000, 5000);
    ASSERT_TRUE(FtpConnect(ftp, "127.0.0.1", server.Port(), "tester", "secret"));
    server.ClearTranscript();
  }

  int Logins() const { return server.Count("USER"); }
  // "a\b.txt" -> a file entry of that name with a size field in megabytes.
  static std::string Entry(const std::string& rel, const char* mb = "0,001") {
    return rel + ";01.01.2012 10:00:00;01.01.2012 10:00:00;" + mb + ";";
  }
  bool Has(const std::string& line) const {
    auto t = server.Transcript();
    return std::find(t.begin(), t.end(), line) != t.end();
  }

  test::ScriptedServer server;
  test::TempDir local;
  RecordingObserver observer;
  std::vector<int> sleeps;
  FtpSession ftp{observer, StopToken{}, [this](int ms) { sleeps.push_back(ms); }};
};

// One single operation, the command verb it sends first, and how to make it succeed.
struct RetryCase {
  const char* label;
  const char* verb;
  const char* abortMessage;
  std::function<void(test::ScriptedServer&, const std::filesystem::path&)> prepare;
  std::function<bool(FtpSession&, const std::filesystem::path&)> run;
};

std::vector<RetryCase> RetryCases() {
  auto file = [](test::ScriptedServer& s, const std::filesystem::path&) {
    WriteFile(s.Home() / "f.txt", "abc");
  };
  auto none = [](test::ScriptedServer&, const std::filesystem::path&) {};
  const char* session = "session to server broken stop sync";
  return {
      {"mkd", "MKD", session, none, [](FtpSession& f, auto&) { return FtpMkd(f, "/d"); }},
      {"rmd", "RMD", session,
       [](test::ScriptedServer& s, auto&) { std::filesystem::create_directory(s.Home() / "d"); },
       [](FtpSession& f, auto&) { return FtpRmd(f, "/d"); }},
      {"dele", "DELE", session, file, [](FtpSession& f, auto&) { return FtpDelete(f, "/f.txt"); }},
      {"rename", "RNTO", session, file,
       [](FtpSession& f, auto&) { return FtpRename(f, "/f.txt", "/g.txt"); }},
      {"mdtm", "MDTM", session, file,
       [](FtpSession& f, auto&) { return FtpMdtm(f, "/f.txt") != MdtmDefaultTime(); }},
      {"exists", "MDTM", session, file,
       [](FtpSession& f, auto&) { return FtpExists(f, "/f.txt"); }},
      {"mfmt", "MFMT", session, file,
       [](FtpSession& f, auto&) { return FtpMfmt(f, "/f.txt", EncodeDateTime({2012, 3, 7})); }},
      {"put", "STOR", session,
       [](test::ScriptedServer&, const std::filesystem::path& l) { WriteFile(l / "up.txt", "x"); },
       [](FtpSession& f, const std::filesystem::path& l) {
         return FtpPutFile(f, l, "", "up.txt") == kPutStored;
       }},
      {"get", "RETR", "connection to server broken stop sync", file,
       [](FtpSession& f, const std::filesystem::path& l) {
         return FtpGetFile(f, l, "", "f.txt");
       }},
  };
}

TEST_F(ScriptedTest, SixLostRepliesPauseFiveTimesLogInFiveTimesThenAbort) {
  for (const RetryCase& c : RetryCases()) {
    SCOPED_TRACE(c.label);
    c.prepare(server, local.path());
    server.SetRules(std::string(R"({"rules":[{"cmd":")") + c.verb +
                    R"(","action":"drop","times":6}]})");
    server.ClearTranscript();
    sleeps.clear();
    try {
      c.run(ftp, local.path());
      ADD_FAILURE() << "no abort";
    } catch (const RunAborted& e) {
      EXPECT_EQ(std::string(e.what()), c.abortMessage);
    }
    EXPECT_EQ(server.Count(c.verb), 6);
    EXPECT_EQ(sleeps, std::vector<int>(5, 1000));
    EXPECT_EQ(Logins(), 5);
    server.SetRules("{}");
    ftp.Client().Login();
  }
}

TEST_F(ScriptedTest, AReplyOnTheSixthSendSucceeds) {
  for (const RetryCase& c : RetryCases()) {
    SCOPED_TRACE(c.label);
    c.prepare(server, local.path());
    server.SetRules(std::string(R"({"rules":[{"cmd":")") + c.verb +
                    R"(","action":"drop","times":5}]})");
    server.ClearTranscript();
    sleeps.clear();
    EXPECT_TRUE(c.run(ftp, local.path()));
    EXPECT_EQ(server.Count(c.verb), 6);
    EXPECT_EQ(sleeps.size(), 5u);
    EXPECT_EQ(Logins(), 5);
    server.SetRules("{}");
  }
}

TEST_F(ScriptedTest, ConnectGivesUpAfterSixFailedLogins) {
  FtpSession other(observer, StopToken{}, [this](int ms) { sleeps.push_back(ms); });
  try {
    FtpConnect(other, "127.0.0.1", server.Port(), "tester", "wrong");
    FAIL() << "no abort";
  } catch (const RunAborted& e) {
    EXPECT_STREQ(e.what(), "connection to server failed");
  }
  EXPECT_EQ(server.Count("PASS"), 6);
  EXPECT_EQ(sleeps, std::vector<int>(5, 1000));
}

struct MkdCase {
  const char* reply;
  bool success;
};

TEST_F(ScriptedTest, MkdReplyCodesAreJudgedWithoutRetry) {
  for (const MkdCase& c : {MkdCase{"257 created", true}, MkdCase{"550 exists", true},
                           MkdCase{"521 exists", false}, MkdCase{"553 not allowed", false}}) {
    SCOPED_TRACE(c.reply);
    server.SetRules(std::string(R"({"rules":[{"cmd":"MKD","action":"reply","reply":")") +
                    c.reply + R"("}]})");
    server.ClearTranscript();
    EXPECT_EQ(FtpMkd(ftp, "/files/a\\b\\"), c.success);
    EXPECT_EQ(server.Transcript(), std::vector<std::string>{"MKD /files/a/b/"});
  }
  EXPECT_TRUE(sleeps.empty());
}

TEST_F(ScriptedTest, RefusedRmdDeleteAndRenameFailOnceWithoutRetry) {
  EXPECT_FALSE(FtpRmd(ftp, "/missing"));
  EXPECT_FALSE(FtpDelete(ftp, "/missing.txt"));
  EXPECT_FALSE(FtpRename(ftp, "/missing.txt", "/other.txt"));
  EXPECT_EQ(server.Commands(),
            (std::vector<std::string>{"RMD /missing", "DELE /missing.txt", "RNFR /missing.txt",
                                      "RNTO /other.txt"}));
  EXPECT_TRUE(sleeps.empty());
}

TEST_F(ScriptedTest, RenameReplacesAnExistingTarget) {
  WriteFile(server.Home() / "a.txt", "new");
  WriteFile(server.Home() / "b.txt", "old");
  EXPECT_TRUE(FtpRename(ftp, "/a.txt", "/b.txt"));
  EXPECT_EQ(ReadFile(server.Home() / "b.txt"), "new");
}

TEST_F(ScriptedTest, MdtmDefaultAndFraction) {
  EXPECT_EQ(FtpMdtm(ftp, "/missing"), MdtmDefaultTime());
  EXPECT_FALSE(FtpExists(ftp, "/missing"));
  server.SetRules(R"({"rules":[{"cmd":"MDTM","action":"reply","reply":"213 20120102030405.123"}]})");
  DateTimeParts p = DecodeDateTime(FtpMdtm(ftp, "/x"));
  EXPECT_EQ(p.year, 2012);
  EXPECT_EQ(p.day, 2);
  EXPECT_EQ(p.second, 5);
  EXPECT_EQ(p.millisecond, 0);
}

TEST_F(ScriptedTest, MfmtSendsFourteenDigitsAndSetsTheTime) {
  WriteFile(server.Home() / "f.dflsync", "x");
  DateTimeParts p;
  p.year = 2012, p.month = 3, p.day = 7, p.hour = 14, p.minute = 5, p.second = 9;
  EXPECT_TRUE(FtpMfmt(ftp, "/f.dflsync", EncodeDateTime(p)));
  EXPECT_TRUE(Has("MFMT 20120307140509 /f.dflsync"));
  // pyftpdlib reports times in UTC unless told otherwise; both ends agree on the clock.
  DateTimeParts back = DecodeDateTime(FtpMdtm(ftp, "/f.dflsync"));
  EXPECT_EQ(back.minute, 5);
  EXPECT_EQ(back.second, 9);
}

TEST_F(ScriptedTest, RefusedDownloadLeavesAnEmptyFileThatALaterOneOverwrites) {
  WriteFile(local / "sub/f.txt", "stale");
  EXPECT_FALSE(FtpGetFile(ftp, local.path(), "", "sub\\f.txt"));
  EXPECT_TRUE(std::filesystem::exists(local / "sub/f.txt"));
  EXPECT_EQ(ReadFile(local / "sub/f.txt"), "");
  WriteFile(server.Home() / "sub/f.txt", "fresh");
  EXPECT_TRUE(FtpGetFile(ftp, local.path(), "", "sub\\f.txt"));
  EXPECT_EQ(ReadFile(local / "sub/f.txt"), "fresh");
}

TEST_F(ScriptedTest, MissingLocalFileIsNotStoredAndSendsNothing) {
  EXPECT_EQ(FtpPutFile(ftp, local.path(), "/files", "nothere.txt"), kPutNotStored);
  EXPECT_TRUE(server.Transcript().empty());
}

TEST_F(ScriptedTest, NamesThatLeaveTheLocalFolderAreRefused) {
  WriteFile(server.Home() / "evil.txt", "x");
  EXPECT_FALSE(FtpGetFile(ftp, local.path() / "in", "", "..\\evil.txt"));
  EXPECT_FALSE(std::filesystem::exists(local / "evil.txt"));
  EXPECT_TRUE(server.Transcript().empty());
}

TEST_F(ScriptedTest, StoreRefusedWith552ReturnsServerFull) {
  WriteFile(local / "big.bin", std::string(1000, 'x'));
  server.SetRules(R"({"rules":[{"cmd":"STOR","action":"reply","reply":"552 quota exceeded"}]})");
  EXPECT_EQ(FtpPutFile(ftp, local.path(), "", "big.bin"), kPutServerFull);
  EXPECT_EQ(server.Count("STOR"), 1);
  EXPECT_TRUE(Has("ALLO 1000"));
}

TEST_F(ScriptedTest, UploadListChecksTheQuotaBeforeSending) {
  // used 100, limit 200: 80 MB may be sent (exactly limit - used - 20), 80.001 may not.
  server.SetRules(R"({"quota":["211-quota","   Uploaded Mb:\t \t100.00/200.00","211 end"]})");
  std::filesystem::create_directories(server.Home() / "files");
  WriteFile(local / "a.txt", "a");
  WriteFile(local / "b.txt", "b");
  TXArray fits{Entry("a.txt", "40"), Entry("b.txt", "40")};
  EXPECT_TRUE(FtpUploadList(ftp, local.path(), "/files", 30, fits).empty());
  EXPECT_EQ(server.Count("STOR"), 2);

  server.ClearTranscript();
  TXArray tooBig{Entry("a.txt", "40"), Entry("b.txt", "40,001")};
  try {
    FtpUploadList(ftp, local.path(), "/files", 30, tooBig);
    FAIL() << "no abort";
  } catch (const RunAborted& e) {
    EXPECT_STREQ(e.what(), "ERROR: syncdata need too much space -> stop sync process");
  }
  EXPECT_EQ(server.Count("STOR"), 0);
  EXPECT_TRUE(Has("site quota"));
}

TEST_F(ScriptedTest, UploadListWithoutQuotaReportStillStopsOn552) {
  std::filesystem::create_directories(server.Home() / "files");
  WriteFile(local / "a.txt", "a");
  WriteFile(local / "b.txt", "b");
  server.SetRules(
      R"({"rules":[{"cmd":"STOR","action":"reply","reply":"552 full","skip":1}]})");
  try {
    FtpUploadList(ftp, local.path(), "/files", 30,
                  {Entry("a.txt", "99999"), Entry("b.txt"), Entry("c.txt")});
    FAIL() << "no abort";
  } catch (const RunAborted& e) {
    EXPECT_STREQ(e.what(), "ERROR: syncdata need too much space -> stop sync process");
  }
  EXPECT_EQ(server.Count("STOR"), 2);
  EXPECT_TRUE(std::filesystem::exists(server.Home() / "files/a.txt"));
}

TEST_F(ScriptedTest, UploadListReturnsWhatWasNotStoredAndShowsProgress) {
  std::filesystem::create_directories(server.Home() / "files/deep");
  WriteFile(local / "deep/a.txt", "a");
  WriteFile(local / "c.txt", "c");
  const std::string longName = "deep\\" + std::string(40, 'n') + ".txt";
  TXArray files{Entry("deep\\a.txt"), Entry(longName), Entry("c.txt")};
  TXArray failed = FtpUploadList(ftp, local.path(), "/files", 30, files);
  EXPECT_EQ(failed, TXArray{Entry(longName)});
  EXPECT_EQ(ReadFile(server.Home() / "files/deep/a.txt"), "a");
  EXPECT_EQ(ReadFile(server.Home() / "files/c.txt"), "c");
  auto statuses = observer.Statuses();
  ASSERT_EQ(statuses.size(), 3u);
  EXPECT_EQ(statuses[0], "upload -> deep\\a.txt");
  EXPECT_EQ(statuses[1].rfind("upload -> ", 0), 0u);
  EXPECT_EQ(statuses[1].size(), std::string("upload -> ").size() + 33);
  EXPECT_EQ(observer.ProgressMax(), 2);
  EXPECT_EQ(observer.ProgressPosition(), 2);
  EXPECT_EQ(observer.Actions(), 3);
}

TEST_F(ScriptedTest, DownloadListFetchesIntoFoldersWithStatus) {
  WriteFile(server.Home() / "files/x/y.txt", "y");
  WriteFile(server.Home() / "files/z.txt", "z");
  FtpDownloadList(ftp, local.path() / "stage", "/files", 30, {Entry("x\\y.txt"), Entry("z.txt")});
  EXPECT_EQ(ReadFile(local / "stage/x/y.txt"), "y");
  EXPECT_EQ(ReadFile(local / "stage/z.txt"), "z");
  EXPECT_EQ(observer.Statuses(),
            (std::vector<std::string>{"download -> x\\y.txt", "download -> z.txt"}));
}

struct ReloginCase {
  const char* label;
  std::function<void(FtpSession&, const TXArray&, const std::filesystem::path&)> run;
  bool withQuit;
};

TEST_F(ScriptedTest, ListsLogInAgainAfterEveryNthEntry) {
  TXArray dirs, files;
  for (int i = 0; i < 65; ++i) {
    dirs.push_back("d" + std::to_string(i) + "\\");
    files.push_back(Entry("f" + std::to_string(i) + ".txt"));
  }
  const ReloginCase cases[] = {
      {"mkd", [&](FtpSession& f, auto&, auto&) { FtpMkdList(f, "/m", 30, dirs); }, true},
      {"rmd", [&](FtpSession& f, auto&, auto&) { FtpRmdList(f, "/m", 30, dirs); }, false},
      {"delete", [&](FtpSession& f, const TXArray& l, auto&) { FtpDeleteList(f, "/m", 30, l); },
       false},
      {"move", [&](FtpSession& f, const TXArray& l, auto&) { FtpMoveList(f, "/a", "/b", 30, l); },
       false},
      {"download",
       [&](FtpSession& f, const TXArray& l, const std::filesystem::path& p) {
         FtpDownloadList(f, p, "/m", 30, l);
       },
       false},
      {"upload",
       [&](FtpSession& f, const TXArray& l, const std::filesystem::path& p) {
         FtpUploadList(f, p, "/m", 30, l);
       },
       false},
  };
  for (const ReloginCase& c : cases) {
    SCOPED_TRACE(c.label);
    server.ClearTranscript();
    c.run(ftp, files, local.path());
    auto t = server.Transcript();
    // Logins land after entries 30 and 60, not after 65: find the operation index at each USER.
    std::vector<int> loginsAfter;
    int ops = 0;
    for (const std::string& line : t) {
      std::string verb = line.substr(0, line.find(' '));
      if (verb == "MKD" || verb == "RMD" || verb == "DELE" || verb == "RNTO" ||
          verb == "RETR" || verb == "STOR")
        ++ops;
      if (verb == "USER") loginsAfter.push_back(ops);
    }
    // Uploads of missing local files send nothing, so count entries there instead.
    if (std::string(c.label) != "upload") {
      EXPECT_EQ(loginsAfter, (std::vector<int>{30, 60}));
    }
    EXPECT_EQ(Logins(), 2);
    EXPECT_EQ(server.Count("QUIT"), c.withQuit ? 2 : 0);
    if (c.withQuit) {
      for (size_t i = 1; i < t.size(); ++i) {
        if (t[i] == "AUTH TLS") {
          EXPECT_EQ(t[i - 1], "QUIT");
        }
      }
    }
  }
}

TEST_F(ScriptedTest, RmdListRemovesDeepestFirstWithTrailingSlash) {
  std::filesystem::create_directories(server.Home() / "files/a/b");
  FtpRmdList(ftp, "/files", 50, {"a\\", "a\\b\\"});
  EXPECT_EQ(server.Commands(), (std::vector<std::string>{"RMD /files/a/b/", "RMD /files/a/"}));
  EXPECT_FALSE(std::filesystem::exists(server.Home() / "files/a"));
}

TEST_F(ScriptedTest, MkdListSendsEntriesInOrderWithTrailingSlash) {
  std::filesystem::create_directories(server.Home() / "files");
  FtpMkdList(ftp, "/files", 50, {"Photos\\", "Photos\\2011\\"});
  EXPECT_EQ(server.Commands(),
            (std::vector<std::string>{"MKD /files/Photos/", "MKD /files/Photos/2011/"}));
  EXPECT_TRUE(std::filesystem::is_directory(server.Home() / "files/Photos/2011"));
}

TEST_F(ScriptedTest, DeleteTreeOrderAndLeavesTheFolder) {
  WriteFile(server.Home() / "tmp/c/f.txt", "x");
  std::filesystem::create_directories(server.Home() / "tmp/c/sub");
  EXPECT_EQ(FtpDeleteTree(ftp, "/tmp/c", 50, 0), 2);
  EXPECT_EQ(server.Commands(), (std::vector<std::string>{"LIST /tmp/c", "DELE /tmp/c/f.txt",
                                                          "LIST /tmp/c/sub", "RMD /tmp/c/sub"}));
  EXPECT_TRUE(std::filesystem::is_directory(server.Home() / "tmp/c"));
  EXPECT_TRUE(std::filesystem::is_empty(server.Home() / "tmp/c"));
}

TEST_F(ScriptedTest, DeleteTreeCarriesTheCounterThroughTheRecursion) {
  // Three files in a subfolder plus the subfolder itself: with n = 2 and one operation already
  // counted, logins follow the 1st and 3rd operation of the tree, and one operation is left.
  for (const char* f : {"s/1", "s/2", "s/3"}) WriteFile(server.Home() / "t" / f, "x");
  EXPECT_EQ(FtpDeleteTree(ftp, "/t", 2, 1), 1);
  EXPECT_EQ(Logins(), 2);
  EXPECT_TRUE(std::filesystem::is_empty(server.Home() / "t"));
}

TEST_F(ScriptedTest, DeleteTreeAbortsAfterSixFailedListings) {
  server.SetRules(R"({"rules":[{"cmd":"LIST","action":"reply","reply":"450 no"}]})");
  try {
    FtpDeleteTree(ftp, "/tmp/x", 50, 0);
    FAIL() << "no abort";
  } catch (const RunAborted& e) {
    EXPECT_STREQ(e.what(), "session to server broken stop sync");
  }
  EXPECT_EQ(server.Count("LIST"), 6);
  EXPECT_TRUE(sleeps.empty());
}

TEST_F(ScriptedTest, EnsureLayoutOnAFreshAccount) {
  WriteFile(local / "o.dflsync", "old");
  EXPECT_TRUE(FtpEnsureLayout(ftp, local.path()));
  EXPECT_FALSE(std::filesystem::exists(local / "o.dflsync"));
  EXPECT_TRUE(std::filesystem::is_directory(server.Home() / "tmp"));
  EXPECT_TRUE(std::filesystem::is_directory(server.Home() / "files"));
  EXPECT_EQ(ReadFile(server.Home() / "f.dflsync"), ReadFile(local / "f.dflsync"));
}

struct LayoutCase {
  const char* label;
  bool archive, backup;
  bool keepsLast;
};

TEST_F(ScriptedTest, EnsureLayoutOnAnExistingAccount) {
  const LayoutCase cases[] = {
      {"archive only", true, false, false},
      {"lock taken", false, true, true},
      {"both", true, true, true},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove_all(server.Home());
    std::filesystem::create_directories(server.Home() / "tmp");
    std::filesystem::create_directories(server.Home() / "files");
    if (c.archive) WriteFile(server.Home() / "f.dflsync", "server");
    if (c.backup) WriteFile(server.Home() / "f.dflsyncback", "server");
    WriteFile(local / "o.dflsync", "old");
    server.ClearTranscript();
    EXPECT_TRUE(FtpEnsureLayout(ftp, local.path()));
    EXPECT_EQ(std::filesystem::exists(local / "o.dflsync"), c.keepsLast);
    EXPECT_EQ(server.Count("STOR"), 0);
    if (c.archive) {
      EXPECT_EQ(ReadFile(server.Home() / "f.dflsync"), "server");
    }
  }
}

TEST_F(ScriptedTest, EnsureLayoutFailsWhenAFolderIsRefused) {
  server.SetRules(R"({"rules":[{"cmd":"MKD","action":"reply","reply":"521 no","skip":1}]})");
  EXPECT_FALSE(FtpEnsureLayout(ftp, local.path()));
  EXPECT_EQ(server.Commands(), (std::vector<std::string>{"MKD /tmp", "MKD /files"}));
}

TEST_F(ScriptedTest, EnsureLayoutRetriesThePairAndKeepsTheMarks) {
  // "MKD /files" lost once: both commands go again; "/tmp" answered 550 the second time.
  server.SetRules(R"({"rules":[{"cmd":"MKD","action":"drop","skip":1,"times":1}]})");
  EXPECT_TRUE(FtpEnsureLayout(ftp, local.path()));
  EXPECT_EQ(server.Count("MKD"), 4);
  EXPECT_EQ(sleeps, std::vector<int>{1000});
  server.SetRules(R"({"rules":[{"cmd":"MKD","action":"drop"}]})");
  try {
    FtpEnsureLayout(ftp, local.path());
    FAIL() << "no abort";
  } catch (const RunAborted& e) {
    EXPECT_STREQ(e.what(), "session to server broken stop sync");
  }
}

struct VersionCase {
  const char* label;
  const char* marker;  // nullptr: no marker on the server
  const char* abortMessage;
  const char* markerAfter;
  int fetches;
};

TEST_F(ScriptedTest, VersionMarkerCases) {
  const std::string cuid = "1234567890123456789";
  const VersionCase cases[] = {
      {"older", "54\r\n", nullptr, "55\r\n", 1},
      {"same", "55\r\n", nullptr, "55\r\n", 1},
      {"newer", "56\r\n", "ERROR: your client ist to old please update", "56\r\n", 1},
      {"not a number", "abc\r\n", nullptr, "55\r\n", 1},
      {"missing", nullptr, nullptr, "55\r\n", 6},
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove(server.Home() / "version.sync");
    if (c.marker) WriteFile(server.Home() / "version.sync", c.marker);
    server.ClearTranscript();
    sleeps.clear();
    try {
      FtpVersionCheck(ftp, local.path(), "", 55, cuid);
      EXPECT_EQ(c.abortMessage, nullptr);
    } catch (const RunAborted& e) {
      ASSERT_NE(c.abortMessage, nullptr);
      EXPECT_STREQ(e.what(), c.abortMessage);
    }
    EXPECT_EQ(ReadFile(server.Home() / "version.sync"), c.markerAfter);
    EXPECT_EQ(server.Count("RETR"), c.fetches);
    EXPECT_EQ(sleeps.size(), static_cast<size_t>(c.fetches - 1));
    for (int ms : sleeps) {
      EXPECT_GE(ms, 1000);
      EXPECT_LE(ms, 2000);
    }
    bool writes = std::string(c.markerAfter) == "55\r\n" && std::string(c.label) != "same";
    EXPECT_EQ(Has("STOR /" + cuid + "version.sync"), writes);
    EXPECT_EQ(Has("RNTO /version.sync"), writes);
  }
}

TEST_F(ScriptedTest, VersionMarkerThatCannotBeRenamedEndsTheRun) {
  server.SetRules(R"({"rules":[{"cmd":"RNTO","action":"reply","reply":"553 no"}]})");
  WriteFile(server.Home() / "version.sync", "54\r\n");
  try {
    FtpVersionCheck(ftp, local.path(), "", 55, "42");
    FAIL() << "no abort";
  } catch (const RunAborted& e) {
    EXPECT_STREQ(e.what(), "ERROR: can not set version -> stop sync");
  }
}

TEST_F(ScriptedTest, ServerTimeSendsOneStoreOneMdtmOneDelete) {
  TDateTime before = NowLocal();
  TDateTime t = FtpServerTime(ftp, local.path(), "777");
  EXPECT_EQ(server.Commands(),
            (std::vector<std::string>{"STOR /tc.777", "MDTM /tc.777", "DELE /tc.777"}));
  EXPECT_NE(t, MdtmDefaultTime());
  // The server's clock (UTC here) is within a day of ours.
  EXPECT_LT(std::abs(t - before), 1.0);
  EXPECT_FALSE(std::filesystem::exists(server.Home() / "tc.777"));
}

TEST_F(ScriptedTest, InterruptWakesABlockedCommandAtOnce) {
  server.SetRules(R"({"rules":[{"cmd":"MKD","action":"ignore"}]})");
  ftp.SetTimeouts(60000, 60000);
  std::thread stopper([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ftp.Interrupt();
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(FtpMkd(ftp, "/x"), RunStopped);
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_FALSE(ftp.Client().Login());
}

TEST_F(ScriptedTest, AbortedRunBoundaryLogsOutAndShowsTheMessage) {
  try {
    AbortRun(ftp, "session to server broken stop sync");
  } catch (const RunAborted& e) {
    FinishAbortedRun(ftp, e);
  }
  EXPECT_EQ(observer.Statuses().back(), "session to server broken stop sync");
  EXPECT_EQ(observer.ProgressPosition(), -1);
  EXPECT_EQ(observer.ProgressMax(), 1);
  EXPECT_TRUE(Has("QUIT"));
}

}  // namespace
}  // namespace bsync
