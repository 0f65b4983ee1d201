// Sync scenarios: several clients of one account, each with its own profile folder, against a
// real FTP server on loopback.
#include <gtest/gtest.h>

#include <thread>

#include "remote/scripted_server.h"
#include "sync/server_lock.h"
#include "app/ini_file.h"
#include "app/settings.h"
#include "sync/sync_harness.h"

namespace bsync::test {
namespace {

namespace fs = std::filesystem;

const char kSuccess[] = "syncronistation successfull -> next sync in 15 minutes";

class SyncScenario : public ::testing::Test {
 protected:
  ScriptedServer server;
  SyncClient a{{server.Port()}};
  SyncClient b{{server.Port()}};

  fs::path OnServer(const std::string& rel) const { return server.Home() / rel; }

  void ExpectFinished(SyncClient& c) {
    const RunResult r = c.Sync();
    ASSERT_EQ(r.outcome, RunOutcome::Finished) << r.message;
    ASSERT_EQ(c.Observer().Statuses().back(), kSuccess);
  }

  std::vector<std::string> ServerListPaths() const {
    TXArray dirs, files;
    ReadServerArchive(OnServer("f.dflsync"), dirs, files);
    return PathsOf(files);
  }

  // Makes a's files known to b and the server.
  void SyncBoth() {
    ExpectFinished(a);
    ExpectFinished(b);
    ExpectFinished(a);
    ASSERT_EQ(a.Tree(), b.Tree());
  }

  // Takes the lock as another client would, with the token's time moved by ageSeconds.
  void HoldLock(int ageSeconds) {
    fs::rename(OnServer("f.dflsync"), OnServer("f.dflsyncback"));
    fs::last_write_time(OnServer("f.dflsyncback"),
                        fs::file_time_type::clock::now() - std::chrono::seconds(ageSeconds));
  }
};

TEST_F(SyncScenario, FirstSyncMergesBothWaysAndKeepsTheRecordedTimes) {
  a.Write("docs/a.txt", "A", 10);
  a.Write("top.txt", "T", 20);
  ExpectFinished(a);
  EXPECT_EQ(ReadFile(OnServer("files/docs/a.txt")), "A");
  EXPECT_EQ(ServerListPaths(), (std::vector<std::string>{"top.txt", "docs\\a.txt"}));
  EXPECT_TRUE(fs::exists(a.SettingsDir() / "o.dflsync"));
  // The staging folders are gone again.
  EXPECT_FALSE(fs::exists(OnServer("tmp/" + a.LastCuid())));

  b.Write("b.txt", "B", 30);
  ExpectFinished(b);
  EXPECT_EQ(b.Read("docs/a.txt"), "A");
  EXPECT_EQ(DateTimeToStr(b.Modified("docs/a.txt")), DateTimeToStr(At(10)));
  EXPECT_EQ(ReadFile(OnServer("files/b.txt")), "B");

  ExpectFinished(a);
  EXPECT_EQ(a.Tree(), b.Tree());
  const auto statuses = a.Observer().Statuses();
  EXPECT_EQ(statuses.front(), "prepare syncronistation");
}

TEST_F(SyncScenario, DeletionsTravelBothWays) {
  a.Write("x.txt", "x", 10);
  a.Write("y.txt", "y", 10);
  a.Write("d/z.txt", "z", 10);
  SyncBoth();

  a.Remove("x.txt");
  ExpectFinished(a);
  EXPECT_FALSE(fs::exists(OnServer("files/x.txt")));
  ExpectFinished(b);
  EXPECT_FALSE(b.Exists("x.txt"));

  b.Remove("d");
  ExpectFinished(b);
  EXPECT_FALSE(fs::exists(OnServer("files/d")));
  ExpectFinished(a);
  EXPECT_FALSE(a.Exists("d"));
  EXPECT_EQ(a.Tree(), b.Tree());
  EXPECT_EQ(ServerListPaths(), std::vector<std::string>{"y.txt"});
}

TEST_F(SyncScenario, AChangeWinsOverADeletionOnTheOtherSide) {
  a.Write("f.txt", "old", 10);
  a.Write("g.txt", "old", 10);
  SyncBoth();

  // f: deleted by a, changed by b -> comes back to a.
  a.Remove("f.txt");
  b.Write("f.txt", "new", 50);
  ExpectFinished(b);
  ExpectFinished(a);
  EXPECT_EQ(a.Read("f.txt"), "new");

  // g: changed by a, deleted by b -> a uploads it again.
  b.Remove("g.txt");
  ExpectFinished(b);
  a.Write("g.txt", "changed", 60);
  ExpectFinished(a);
  EXPECT_EQ(a.Read("g.txt"), "changed");
  ExpectFinished(b);
  EXPECT_EQ(b.Read("g.txt"), "changed");
}

TEST_F(SyncScenario, TheLaterModifiedTimeWinsAChangeOnBothSides) {
  a.Write("f.txt", "base", 10);
  a.Write("g.txt", "base", 10);
  SyncBoth();

  a.Write("f.txt", "A", 20);
  b.Write("f.txt", "B", 30);  // later: wins
  a.Write("g.txt", "A", 40);  // later: wins
  b.Write("g.txt", "B", 35);
  ExpectFinished(a);
  ExpectFinished(b);
  ExpectFinished(a);
  EXPECT_EQ(a.Read("f.txt"), "B");
  EXPECT_EQ(b.Read("f.txt"), "B");
  EXPECT_EQ(a.Read("g.txt"), "A");
  EXPECT_EQ(b.Read("g.txt"), "A");
}

TEST_F(SyncScenario, ThreeClientsConverge) {
  SyncClient c{{server.Port()}};
  a.Write("shared/plan.txt", "v1", 10);
  a.Write("old.txt", "old", 10);
  SyncBoth();
  ExpectFinished(c);

  a.Write("shared/plan.txt", "v2", 20);  // changed on a
  b.Remove("old.txt");                   // deleted on b
  c.Write("shared/new.txt", "from c", 30);  // added on c
  for (SyncClient* client : {&a, &b, &c, &a, &b}) ExpectFinished(*client);

  EXPECT_EQ(a.Tree(), b.Tree());
  EXPECT_EQ(b.Tree(), c.Tree());
  EXPECT_EQ(c.Read("shared/plan.txt"), "v2");
  EXPECT_FALSE(c.Exists("old.txt"));
  EXPECT_EQ(a.Read("shared/new.txt"), "from c");
}

TEST_F(SyncScenario, AnotherFtpUserThanTheLastRunMakesAFirstSyncThatDeletesNothing) {
  a.Write("keep.txt", "k", 10);
  SyncBoth();
  b.Remove("keep.txt");
  ExpectFinished(b);
  ASSERT_FALSE(fs::exists(OnServer("files/keep.txt")));

  // a's last run was with another account: its next run only merges.
  IniFile(a.SettingsDir() / "bsc.ini").WriteString("main", "lastacc", Rot47("other"));
  ExpectFinished(a);
  EXPECT_TRUE(a.Exists("keep.txt"));
  EXPECT_EQ(ReadFile(OnServer("files/keep.txt")), "k");
}

TEST_F(SyncScenario, ADeletedSyncFolderComesBackWithANewClientId) {
  a.Write("f.txt", "f", 10);
  ExpectFinished(a);
  const std::string oldCuid = a.LastCuid();
  fs::remove_all(a.SyncDir());
  ExpectFinished(a);
  EXPECT_EQ(a.Read("f.txt"), "f");
  EXPECT_NE(a.LastCuid(), oldCuid);
  EXPECT_EQ(IniFile(a.SettingsDir() / "bsc.ini").ReadString("main", "cuid", ""), a.LastCuid());
  EXPECT_EQ(ReadFile(OnServer("files/f.txt")), "f");
}

TEST_F(SyncScenario, ARefusedUploadStaysOutOfTheServerListAndIsRetried) {
  server.SetRules(R"({"rules": [{"cmd": "STOR", "arg": "bad.txt", "action": "reply",
                                  "reply": "550 refused"}]})");
  a.Write("good.txt", "g", 10);
  a.Write("bad.txt", "b", 10);
  ExpectFinished(a);
  EXPECT_EQ(ServerListPaths(), std::vector<std::string>{"good.txt"});
  EXPECT_FALSE(fs::exists(OnServer("files/bad.txt")));

  server.SetRules("{}");
  ExpectFinished(a);
  EXPECT_EQ(a.Read("bad.txt"), "b");
  EXPECT_EQ(ReadFile(OnServer("files/bad.txt")), "b");
  auto paths = ServerListPaths();
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{"bad.txt", "good.txt"}));
}

TEST_F(SyncScenario, ACorruptServerListEndsTheRunBeforeAnyTransferAndCanBeMended) {
  a.Write("f.txt", "f", 10);
  ExpectFinished(a);
  const std::string good = ReadFile(OnServer("f.dflsync"));
  WriteFile(OnServer("f.dflsync"), "garbage that is no archive");
  b.Write("n.txt", "n", 20);

  const RunResult r = b.Sync();
  EXPECT_EQ(r.outcome, RunOutcome::Failed);
  EXPECT_EQ(r.message, "ZLibError(2) corrupt file or not a correct file type");
  EXPECT_EQ(b.Observer().Statuses().back(), r.message);
  EXPECT_FALSE(b.Exists("f.txt"));
  EXPECT_FALSE(fs::exists(OnServer("files/n.txt")));

  WriteFile(OnServer("f.dflsync"), good);
  ExpectFinished(b);
  EXPECT_EQ(b.Read("f.txt"), "f");
  EXPECT_EQ(ReadFile(OnServer("files/n.txt")), "n");
}

TEST_F(SyncScenario, AFailedDownloadNeverTouchesTheLocalFile) {
  a.Write("f.txt", "server copy", 50);
  ExpectFinished(a);
  b.Write("f.txt", "mine", 10);
  server.SetRules(R"({"rules": [{"cmd": "RETR", "arg": "f.txt", "action": "reply",
                                  "reply": "550 refused"}]})");
  ExpectFinished(b);
  EXPECT_EQ(b.Read("f.txt"), "mine");
  EXPECT_FALSE(fs::exists(b.SettingsDir() / "tmp" / b.LastCuid()));

  server.SetRules("{}");
  ExpectFinished(b);
  EXPECT_EQ(b.Read("f.txt"), "server copy");
}

TEST_F(SyncScenario, EntriesThatLeadOutsideTheirFoldersAreRefused) {
  ExpectFinished(a);
  // A damaged or hostile server list, and a file the ".." would reach.
  WriteFile(OnServer("escape.txt"), "outside");
  const std::string t = ";01.06.2024 12:00:00;01.06.2024 12:00:00;0;";
  TempDir work;
  WriteListArchive(work / "f.dflsync", {"..\\up\\", "ok\\"},
                   {"..\\escape.txt" + t, "ok\\..\\..\\x.txt" + t, "\\abs.txt" + t});
  fs::copy_file(work / "f.dflsync", OnServer("f.dflsync"), fs::copy_options::overwrite_existing);
  server.ClearTranscript();

  ExpectFinished(b);
  EXPECT_TRUE(b.Exists("ok"));
  EXPECT_FALSE(fs::exists(b.SyncDir() / ".." / "escape.txt"));
  EXPECT_FALSE(fs::exists(b.SyncDir() / ".." / "up"));
  for (const std::string& line : server.Transcript())
    EXPECT_EQ(line.find(".."), std::string::npos) << line;
}

TEST_F(SyncScenario, ALockHeldByAnotherClientIsWaitedFor) {
  ExpectFinished(a);
  HoldLock(0);
  b.Options().pauseMs = 20;
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    fs::rename(OnServer("f.dflsyncback"), OnServer("f.dflsync"));
  });
  const RunResult r = b.Sync();
  releaser.join();
  EXPECT_EQ(r.outcome, RunOutcome::Finished) << r.message;
  const auto s = b.Observer().Statuses();
  EXPECT_NE(std::find(s.begin(), s.end(), kWaitMessage), s.end());
}

TEST_F(SyncScenario, AStaleLockIsRecovered) {
  a.Write("f.txt", "f", 10);
  ExpectFinished(a);
  HoldLock(120);
  ExpectFinished(b);
  EXPECT_EQ(b.Read("f.txt"), "f");
  EXPECT_TRUE(fs::exists(OnServer("f.dflsync")));
}

TEST_F(SyncScenario, TwoClientsRacingForTheLockBothFinishAndAgree) {
  SyncBoth();
  a.Write("from-a.txt", "a", 10);
  b.Write("from-b.txt", "b", 10);
  a.Options().pauseMs = 30;
  b.Options().pauseMs = 30;
  RunResult ra, rb;
  std::thread ta([&] { ra = a.Sync(); });
  std::thread tb([&] { rb = b.Sync(); });
  ta.join();
  tb.join();
  ASSERT_EQ(ra.outcome, RunOutcome::Finished) << ra.message;
  ASSERT_EQ(rb.outcome, RunOutcome::Finished) << rb.message;
  ExpectFinished(a);
  ExpectFinished(b);
  EXPECT_EQ(a.Tree(), b.Tree());
  EXPECT_TRUE(a.Exists("from-b.txt"));
  EXPECT_TRUE(b.Exists("from-a.txt"));
}

TEST_F(SyncScenario, ARunStoppedWhileHoldingTheLockLeavesItAndTheOtherClientRecoversIt) {
  ExpectFinished(a);
  a.Write("f.txt", "f", 10);
  // A regular run shows this text twice: after its downloads, and under the lock.
  int seen = 0;
  const RunResult r = a.Sync([&seen](const std::string& status, tsync& run) {
    if (status == "start afterload procedures" && ++seen == 2) run.Stop();
  });
  EXPECT_EQ(r.outcome, RunOutcome::Stopped);
  EXPECT_FALSE(fs::exists(OnServer("f.dflsync")));
  EXPECT_TRUE(fs::exists(OnServer("f.dflsyncback")));
  // Nothing was shown after the stop.
  EXPECT_EQ(a.Observer().Statuses().back(), "start afterload procedures");

  fs::last_write_time(OnServer("f.dflsyncback"),
                      fs::file_time_type::clock::now() - std::chrono::seconds(120));
  ExpectFinished(b);
  EXPECT_TRUE(fs::exists(OnServer("f.dflsync")));
}

}  // namespace
}  // namespace bsync::test
