#include "platform/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/errors.h"

namespace bsync {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::filesystem::path& path, int err) {
  throw EInOutError(what + " " + path.string() + ": " + std::strerror(err));
}

// Closes a descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace

std::string ReadWholeFile(const std::filesystem::path& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) Fail("cannot open", path, errno);
  std::string data;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("cannot read", path, errno);
    }
    if (n == 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  return data;
}

void WriteFileAtomic(const std::filesystem::path& path, std::string_view data) {
  static std::atomic<unsigned> counter{0};
  std::filesystem::path temp = path;
  temp += ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
  {
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) Fail("cannot create", temp, errno);
    size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::write(fd.get(), data.data() + done, data.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        const int err = errno;
        ::unlink(temp.c_str());
        Fail("cannot write", temp, err);
      }
      done += static_cast<size_t>(n);
    }
    if (::fsync(fd.get()) != 0 || ::close(fd.release()) != 0) {
      const int err = errno;
      ::unlink(temp.c_str());
      Fail("cannot write", temp, err);
    }
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    Fail("cannot replace", path, err);
  }
  const auto dir = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() >= 0) ::fsync(dirFd.get());
}

}  // namespace bsync
