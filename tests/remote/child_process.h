// A child process for test servers: started with its stdout on a pipe, stopped (SIGTERM, then
// SIGKILL) and reaped when the object goes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace bsync::test {

class ChildProcess {
 public:
  // Runs argv[0] (a full path) with stderr to stderrPath.
  ChildProcess(const std::vector<std::string>& argv, const std::string& stderrPath) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = ::fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls from here on. The child dies with the test process even
      // when that crashes, so no server outlives its test; its own process group lets the
      // destructor reach the children it spawns.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      ::setpgid(0, 0);
      ::dup2(in, 0);
      ::dup2(fds[1], 1);
      ::dup2(err, 2);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(err);
    ::close(in);
    ::close(fds[1]);
    int rc = pid_ > 0 ? 0 : -1;
    out_ = fds[0];
    if (rc != 0) {
      pid_ = -1;
      throw std::runtime_error("cannot start " + argv[0]);
    }
  }
  ~ChildProcess() {
    if (out_ >= 0) ::close(out_);
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // One line of the child's stdout, waiting at most timeoutMs; empty on timeout or end.
  std::string ReadLine(int timeoutMs) {
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char c;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      if (::read(out_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

}  // namespace bsync::test
