// Starts the account-service stand-in (tools/account-service) on a free loopback port for the
// life of the object, with its own state folder. Tests change its behaviour by rewriting its data
// file and read the raw requests it recorded.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace bsync::test {

class StandInService {
 public:
  explicit StandInService(double readyDelaySeconds = 60, const std::string& host = "127.0.0.1") {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const std::string script =
        std::string(BRINDLESYNC_SOURCE_DIR) + "/tools/account-service/account_service.py";
    const std::string stateDir = dir_.path().string();
    const std::string delay = std::to_string(readyDelaySeconds);
    std::vector<std::string> args = {"python3", script,     "--host",        host,
                                     "--port",  "0",        "--state-dir",   stateDir,
                                     "--ready-delay", delay};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = ::posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
      ::close(fds[0]);
      throw std::runtime_error("cannot start python3");
    }
    // The service prints its port, certificate, data file and requests folder, one per line.
    std::string out;
    while (out.find("\nrequests ") == std::string::npos || out.back() != '\n') {
      pollfd p{fds[0], POLLIN, 0};
      char buf[512];
      if (::poll(&p, 1, 20000) <= 0) break;
      const ssize_t n = ::read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    const auto at = out.find(" port ");
    if (at == std::string::npos) {
      Stop();
      throw std::runtime_error("account-service stand-in did not start: " + out);
    }
    port_ = std::stoi(out.substr(at + 6));
  }
  ~StandInService() { Stop(); }
  StandInService(const StandInService&) = delete;
  StandInService& operator=(const StandInService&) = delete;

  int port() const { return port_; }
  std::filesystem::path certFile() const { return dir_ / "cert.pem"; }
  std::filesystem::path dataFile() const { return dir_ / "accounts.json"; }
  std::filesystem::path requestsDir() const { return dir_ / "requests"; }

  // Replaces the data file: customers is a JSON array, control a JSON object.
  void SetData(const std::string& customers, const std::string& control = "{}") const {
    const auto tmp = dir_ / "accounts.json.new";
    WriteFile(tmp, "{\"customers\": " + customers + ", \"control\": " + control + "}");
    std::filesystem::rename(tmp, dataFile());
  }

  // The raw requests received so far, oldest first.
  std::vector<std::string> Requests() const {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(requestsDir()))
      if (e.path().extension() == ".bin") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<std::string> out;
    for (const auto& f : files) out.push_back(ReadFile(f));
    return out;
  }

  void ClearRequests() const {
    for (const auto& e : std::filesystem::directory_iterator(requestsDir()))
      std::filesystem::remove(e.path());
  }

 private:
  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
    }
  }

  TempDir dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// A loopback port on which nothing listens: bound without listening and released again.
inline int UnusedLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

// One stand-in service for all tests of a suite; each test starts with no customers and no
// recorded requests.
class StandInServiceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { service_ = std::make_unique<StandInService>(); }
  static void TearDownTestSuite() { service_.reset(); }
  void SetUp() override {
    service_->SetData("[]");
    service_->ClearRequests();
  }

  static inline std::unique_ptr<StandInService> service_;
};

}  // namespace bsync::test
