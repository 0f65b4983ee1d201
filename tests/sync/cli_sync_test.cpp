// brindlesync-cli sync as a user runs it: a profile folder, the password in the environment.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

#include "remote/scripted_server.h"
#include "support/temp_dir.h"

namespace bsync::test {
namespace {

struct CliRun {
  int exitCode = -1;
  std::vector<std::string> lines;
  double seconds = 0;
};

class CliSync : public ::testing::Test {
 protected:
  ScriptedServer server;
  TempDir profile;

  // An account that a client of this version has used already: no first-time marker wait.
  void SetUp() override { WriteFile(server.Home() / "version.sync", "55\r\n"); }

  // Runs the command through the shell; prefix goes before it (for example a "timeout").
  CliRun Run(const std::string& password, const std::string& prefix = "") {
    const auto out = profile / "stdout.txt";
    const std::string command = "env -u USERPROFILE HOME='" + profile.path().string() +
                                "' BRINDLESYNC_FTP_PASSWORD='" + password + "' " + prefix + " " +
                                BRINDLESYNC_BIN_DIR "/brindlesync-cli sync --host 127.0.0.1 --port " +
                                server.Port() + " --user tester > '" + out.string() + "' 2>&1";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    CliRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream in(ReadFile(out));
    for (std::string line; std::getline(in, line);) run.lines.push_back(line);
    return run;
  }
};

TEST_F(CliSync, SyncsAndPrintsEachStatusOnItsOwnLine) {
  WriteFile(profile / "brindlesync/a.txt", "hello");
  const CliRun run = Run("secret");
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_FALSE(run.lines.empty());
  EXPECT_EQ(run.lines.front(), "prepare syncronistation");
  EXPECT_EQ(run.lines.back(), "syncronistation successfull -> next sync in 15 minutes");
  EXPECT_EQ(ReadFile(server.Home() / "files/a.txt"), "hello");
  // The template was copied and the run recorded its account.
  EXPECT_NE(ReadFile(profile / "bsc/bsc.ini").find("lastacc="), std::string::npos);
}

TEST_F(CliSync, AnAbortedRunExitsTwoWithItsMessageLast) {
  const CliRun run = Run("wrong");
  EXPECT_EQ(run.exitCode, 2);
  ASSERT_FALSE(run.lines.empty());
  EXPECT_EQ(run.lines.back(), "connection to server failed");
}

TEST_F(CliSync, SigintStopsTheRunAtOnce) {
  // The server never answers MKD, so the run waits for a reply when the signal comes.
  server.SetRules(R"({"rules": [{"cmd": "MKD", "action": "ignore"}]})");
  const CliRun run = Run("secret", "timeout --preserve-status -s INT 2");
  EXPECT_EQ(run.exitCode, 130);
  EXPECT_LT(run.seconds, 10.0);
}

TEST_F(CliSync, BadUsageExits64) {
  const std::string cli = BRINDLESYNC_BIN_DIR "/brindlesync-cli";
  for (const std::string args : {"sync", "sync --host h", "sync --user u", "sync --host h --x y"}) {
    const int status = std::system((cli + " " + args + " 2>/dev/null").c_str());
    EXPECT_EQ(WEXITSTATUS(status), 64) << args;
  }
}

}  // namespace
}  // namespace bsync::test
