// brindlesync-cli accounts against the stand-in service.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "stand_in_service.h"

namespace bsync {
namespace {

using test::StandInServiceTest;
using test::TempDir;

struct Result {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs brindlesync-cli with args in a profile folder of its own.
Result RunCli(const std::vector<std::string>& args, const std::filesystem::path& profile,
              const std::string& password) {
  TempDir outputs;
  const std::string outFile = (outputs / "out").string(), errFile = (outputs / "err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> argStore = {std::string(BRINDLESYNC_BIN_DIR) + "/brindlesync-cli"};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore = {"USERPROFILE=" + profile.string(),
                                       "HOME=" + profile.string(),
                                       "BRINDLESYNC_PASSWORD=" + password};
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  Result r;
  if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  r.out = test::ReadFile(outFile);
  r.err = test::ReadFile(errFile);
  return r;
}

class CliAccountsTest : public StandInServiceTest {
 protected:
  void SetUp() override {
    test::WriteFile(profile_ / "bsc/bsc.ini",
                    "[service]\r\napi_host=127.0.0.1\r\napi_port=" +
                        std::to_string(service_->port()) + "\r\nca_file=" +
                        service_->certFile().string() + "\r\n");
  }
  Result Accounts(const std::string& email, const std::string& password) {
    return RunCli({"accounts", "--email", email}, profile_.path(), password);
  }

  TempDir profile_;
};

const char kCustomer[] =
    "[{\"email\": \"anna@example.org\", \"password\": \"pw\", \"accounts\": ["
    "{\"ord_no\": \"41\", \"host\": \"ftp1.example\", \"user\": \"u41\", \"password\": \"x\"},"
    "{\"ord_no\": \"42\", \"host\": \"ftp2.example\", \"user\": \"u42\", \"password\": \"y\"}]}]";

TEST_F(CliAccountsTest, PrintsOneLinePerAccount) {
  service_->SetData(kCustomer);
  const Result r = Accounts("anna@example.org", "pw");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "41\tftp1.example\tu41\n42\tftp2.example\tu42\n");
}

TEST_F(CliAccountsTest, FailuresGoToStderrAndExitOne) {
  struct Case {
    const char* name;
    std::string email;
    std::string password;
    std::string control;
    std::string err;
  };
  const Case cases[] = {
      {"wrong password", "anna@example.org", "bad", "{}",
       "password not ok or account disabled, please check your logindata\n"},
      {"unknown customer answered Cancel", "bob@example.org", "pw", "{}",
       "customeraccount not found start registration? [Cancel]\n"},
      {"empty e-mail", "", "pw", "{}", "e-mail adress is empty start registration? [Cancel]\n"},
      {"account in preparation", "anna@example.org", "pw",
       "{\"fault\": {\"sync.get_ftp_data\": \"1004\"}}",
       "accountcreation in process please wait 5 min\n"},
  };
  for (const auto& c : cases) {
    service_->SetData(kCustomer, c.control);
    const Result r = Accounts(c.email, c.password);
    EXPECT_EQ(r.exitCode, 1) << c.name;
    EXPECT_EQ(r.out, "") << c.name;
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << c.name << ": " << r.err;
  }
}

TEST_F(CliAccountsTest, UnreachableServiceExitsOne) {
  test::WriteFile(profile_ / "bsc/bsc.ini",
                  "[service]\r\napi_host=127.0.0.1\r\napi_port=" +
                      std::to_string(test::UnusedLoopbackPort()) + "\r\n");
  const Result r = Accounts("anna@example.org", "pw");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.substr(0, 50), "can not connect to server, please try again later\n");
}

TEST_F(CliAccountsTest, BadUsageExits64) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"accounts"}, {"accounts", "--mail", "a"}, {"accounts", "--email"}}) {
    EXPECT_EQ(RunCli(args, profile_.path(), "").exitCode, 64);
  }
}

}  // namespace
}  // namespace bsync
