// Sync scenarios against ProFTPD over explicit TLS, the kind of server the accounts live on.
#include <gtest/gtest.h>

#include "remote/proftpd_server.h"
#include "remote/remote_layout.h"
#include "sync/sync_harness.h"

namespace bsync::test {
namespace {

namespace fs = std::filesystem;

class SyncOnProftpd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ProftpdServer::Available()) GTEST_SKIP() << "ProFTPD needs root";
    server = std::make_unique<ProftpdServer>();
    a = std::make_unique<SyncClient>(ClientOptions{server->Port()});
    b = std::make_unique<SyncClient>(ClientOptions{server->Port()});
  }

  void ExpectFinished(SyncClient& c) {
    const RunResult r = c.Sync();
    ASSERT_EQ(r.outcome, RunOutcome::Finished) << r.message << "\n" << server->Logs();
  }

  std::unique_ptr<ProftpdServer> server;
  std::unique_ptr<SyncClient> a, b;
};

TEST_F(SyncOnProftpd, TwoClientsAgreeAfterChangesAndDeletions) {
  a->Write("Photos/2011/img1.jpg", std::string(24576, 'x'), 10);
  a->Write("Photos/notes.txt", "n", 20);
  a->Write("top.txt", "t", 30);
  ExpectFinished(*a);
  b->Write("from-b.txt", "b", 40);
  ExpectFinished(*b);
  ExpectFinished(*a);
  EXPECT_EQ(a->Tree(), b->Tree());
  EXPECT_EQ(b->Read("Photos/2011/img1.jpg").size(), 24576u);

  a->Remove("Photos/2011");
  b->Write("top.txt", "changed", 50);
  ExpectFinished(*a);
  ExpectFinished(*b);
  ExpectFinished(*a);
  EXPECT_EQ(a->Tree(), b->Tree());
  EXPECT_FALSE(b->Exists("Photos/2011"));
  EXPECT_FALSE(fs::exists(server->Home() / "files/Photos/2011"));
  EXPECT_EQ(a->Read("top.txt"), "changed");
}

TEST_F(SyncOnProftpd, ALockAgedOnTheServerIsRecovered) {
  a->Write("f.txt", "f", 10);
  ExpectFinished(*a);

  // Another client took the lock two minutes ago by the server's clock and vanished.
  RecordingObserver observer;
  FtpSession ftp(observer, {}, [](int) {});
  ASSERT_TRUE(FtpConnect(ftp, "127.0.0.1", server->Port(), "tester", "secret"));
  ASSERT_TRUE(FtpRename(ftp, "/f.dflsync", "/f.dflsyncback"));
  TempDir work;
  const TDateTime now = FtpServerTime(ftp, work.path(), "42");
  ASSERT_TRUE(FtpMfmt(ftp, "/f.dflsyncback", now - 120 * kOneSecond));
  FtpDisconnect(ftp);

  ExpectFinished(*b);
  EXPECT_EQ(b->Read("f.txt"), "f");
  EXPECT_TRUE(fs::exists(server->Home() / "f.dflsync"));
}

}  // namespace
}  // namespace bsync::test
