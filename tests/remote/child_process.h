// A child process for test servers: started with its stdout on a pipe, stopped (SIGTERM, then
// SIGKILL) and reaped when the object goes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace bsync::test {

class ChildProcess {
 public:
  // Runs argv[0] (a full path) with stderr to stderrPath.
  ChildProcess(const std::vector<std::string>& argv, const std::string& stderrPath) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // Its own process group, so that stopping it also reaches the children it spawns.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    int rc = ::posix_spawn(&pid_, args[0], &actions, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
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
