// The remote operations against ProFTPD, the production-like server, in plain text and under
// TLS (data connections must resume the control connection's TLS session there).
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <random>
#include <thread>

#include "remote/proftpd_server.h"
#include "remote/remote_layout.h"
#include "remote/remote_lists.h"
#include "support/temp_dir.h"

namespace bsync {
namespace {

using test::ReadFile;
using test::WriteFile;

std::string Entry(const std::string& rel) {
  return rel + ";01.01.2012 10:00:00;01.01.2012 10:00:00;0,001;";
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>(random());
  return data;
}

class ProftpdTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (!test::ProftpdServer::Available()) GTEST_SKIP() << "needs root and ProFTPD";
    server = std::make_unique<test::ProftpdServer>(test::ProftpdOptions{GetParam()});
    ftp.SetTimeouts(10000, 5000);
    ASSERT_TRUE(FtpConnect(ftp, server->Host(), server->Port(), "tester", "secret"));
    ASSERT_EQ(ftp.Client().UsingTls(), GetParam());
  }
  void TearDown() override {
    if (HasFailure() && server) std::cerr << server->Logs();
  }

  std::unique_ptr<test::ProftpdServer> server;
  test::TempDir local;
  RecordingObserver observer;
  std::vector<int> sleeps;
  FtpSession ftp{observer, StopToken{}, [this](int ms) { sleeps.push_back(ms); }};
};

TEST_P(ProftpdTest, UploadAndDownloadListsRoundTripBinaryFiles) {
  ASSERT_TRUE(FtpEnsureLayout(ftp, local.path()));
  FtpMkdList(ftp, "/files", 50, {"a\\", "a\\b c\\"});
  const std::pair<std::string, std::string> files[] = {
      {"a\\one.bin", RandomBytes(700000, 1)},
      {"a\\b c\\two words.bin", RandomBytes(3, 2)},
      {"empty.txt", ""},
  };
  TXArray entries;
  for (const auto& [rel, data] : files) {
    std::string path = rel;
    for (char& c : path)
      if (c == '\\') c = '/';
    WriteFile(local / ("up/" + path), data);
    entries.push_back(Entry(rel));
  }
  EXPECT_TRUE(FtpUploadList(ftp, local / "up", "/files", 2, entries).empty());
  FtpDownloadList(ftp, local / "down", "/files", 2, entries);
  for (const auto& [rel, data] : files) {
    std::string path = rel;
    for (char& c : path)
      if (c == '\\') c = '/';
    EXPECT_EQ(ReadFile(server->Home() / "files" / path), data) << rel;
    EXPECT_EQ(ReadFile(local / ("down/" + path)), data) << rel;
  }
  EXPECT_TRUE(sleeps.empty());
}

TEST_P(ProftpdTest, LayoutVersionMarkerAndServerClock) {
  WriteFile(local / "o.dflsync", "old");
  ASSERT_TRUE(FtpEnsureLayout(ftp, local.path()));
  EXPECT_FALSE(std::filesystem::exists(local / "o.dflsync"));
  EXPECT_TRUE(std::filesystem::exists(server->Home() / "f.dflsync"));
  // A second run finds everything in place and keeps nothing to create.
  EXPECT_TRUE(FtpEnsureLayout(ftp, local.path()));

  WriteFile(server->Home() / "version.sync", "54\r\n");
  FtpVersionCheck(ftp, local.path(), "", 55, "123456789012345678");
  EXPECT_EQ(ReadFile(server->Home() / "version.sync"), "55\r\n");
  EXPECT_FALSE(std::filesystem::exists(server->Home() / "123456789012345678version.sync"));

  TDateTime t = FtpServerTime(ftp, local.path(), "123456789012345678");
  EXPECT_NE(t, MdtmDefaultTime());
  EXPECT_FALSE(std::filesystem::exists(server->Home() / "tc.123456789012345678"));
}

TEST_P(ProftpdTest, MfmtThenMdtmAndRenameOntoAnExistingFile) {
  WriteFile(server->Home() / "f.dflsync", "a");
  WriteFile(server->Home() / "f.dflsyncback", "b");
  DateTimeParts p;
  p.year = 2012, p.month = 3, p.day = 7, p.hour = 14, p.minute = 5, p.second = 9;
  ASSERT_TRUE(FtpMfmt(ftp, "/f.dflsync", EncodeDateTime(p)));
  DateTimeParts back = DecodeDateTime(FtpMdtm(ftp, "/f.dflsync"));
  EXPECT_EQ(back.year, 2012);
  EXPECT_EQ(back.minute, 5);
  EXPECT_EQ(back.second, 9);
  EXPECT_TRUE(FtpRename(ftp, "/f.dflsync", "/f.dflsyncback"));
  EXPECT_EQ(ReadFile(server->Home() / "f.dflsyncback"), "a");
  EXPECT_FALSE(FtpExists(ftp, "/f.dflsync"));
  EXPECT_FALSE(FtpRename(ftp, "/f.dflsync", "/x"));
  EXPECT_EQ(FtpMdtm(ftp, "/f.dflsync"), MdtmDefaultTime());
  EXPECT_TRUE(FtpMkd(ftp, "/files"));
  EXPECT_TRUE(FtpMkd(ftp, "/files"));  // exists: 550 counts as success
  EXPECT_FALSE(FtpDelete(ftp, "/nothere"));
  EXPECT_TRUE(sleeps.empty());
}

TEST_P(ProftpdTest, DeleteTreeEmptiesAStagingFolder) {
  for (const char* f : {"tmp/c/x.txt", "tmp/c/sub dir/y z.txt", "tmp/c/sub dir/deeper/w"})
    WriteFile(server->Home() / f, "x");
  std::filesystem::create_directories(server->Home() / "tmp/c/empty");
  FtpDeleteTree(ftp, "/tmp/c", 3, 0);
  EXPECT_TRUE(std::filesystem::is_directory(server->Home() / "tmp/c"));
  EXPECT_TRUE(std::filesystem::is_empty(server->Home() / "tmp/c"));
}

TEST_P(ProftpdTest, ListingAMissingFolderEndsTheRun) {
  // ProFTPD answers 150 and then 450 here; six failed listings end the run.
  EXPECT_THROW(FtpDeleteTree(ftp, "/tmp/nothere", 50, 0), RunAborted);
}

TEST_P(ProftpdTest, QuotaIsReadFromSiteQuota) {
  WriteFile(local / "q.bin", std::string(1 << 20, 'q'));
  ASSERT_EQ(FtpPutFile(ftp, local.path(), "", "q.bin"), kPutStored);
  double used = -1, limit = -1;
  ASSERT_TRUE(FtpQuota(ftp, used, limit));
  EXPECT_DOUBLE_EQ(used, 1.0);
  EXPECT_DOUBLE_EQ(limit, 1000.0);
}

TEST_P(ProftpdTest, InterruptStopsATransferAtOnce) {
  WriteFile(server->Home() / "big.bin", std::string(64 << 20, 'b'));
  std::thread stopper([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ftp.Interrupt();
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(
      {
        for (int i = 0; i < 20; ++i) FtpGetFile(ftp, local.path(), "", "big.bin");
      },
      RunStopped);
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, ProftpdTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tls" : "Plain"; });

TEST(ProftpdQuota, StoreBeyondTheHardLimitEndsTheUploadList) {
  if (!test::ProftpdServer::Available()) GTEST_SKIP() << "needs root and ProFTPD";
  test::ProftpdServer server(test::ProftpdOptions{true, false, 1});
  test::TempDir local;
  RecordingObserver observer;
  FtpSession ftp(observer, StopToken{}, [](int) {});
  ASSERT_TRUE(FtpConnect(ftp, server.Host(), server.Port(), "tester", "secret"));
  WriteFile(local / "big.bin", std::string(2 << 20, 'x'));
  EXPECT_EQ(FtpPutFile(ftp, local.path(), "", "big.bin"), kPutServerFull);
  // The list's own pre-check sees 0/1 MB and lets a small-looking entry through; the server's
  // 552 then ends the run.
  try {
    FtpUploadList(ftp, local.path(), "", 30, {Entry("big.bin")});
    FAIL() << "no abort";
  } catch (const RunAborted& e) {
    EXPECT_STREQ(e.what(), "ERROR: syncdata need too much space -> stop sync process");
  }
}

TEST(ProftpdIpv6, EpsvOnLoopbackSix) {
  if (!test::ProftpdServer::Available()) GTEST_SKIP() << "needs root and ProFTPD";
  test::ProftpdServer server(test::ProftpdOptions{true, true, 1000});
  test::TempDir local;
  RecordingObserver observer;
  FtpSession ftp(observer, StopToken{}, [](int) {});
  ASSERT_TRUE(FtpConnect(ftp, server.Host(), server.Port(), "tester", "secret"));
  WriteFile(local / "v6.txt", "six");
  EXPECT_EQ(FtpPutFile(ftp, local.path(), "", "v6.txt"), kPutStored);
  EXPECT_TRUE(FtpGetFile(ftp, local / "back", "", "v6.txt"));
  EXPECT_EQ(ReadFile(local / "back/v6.txt"), "six");
}

}  // namespace
}  // namespace bsync
