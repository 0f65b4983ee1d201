#include "remote/net_stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/broken_pipe.h"

namespace bsync {

bool AcceptServerCertificate(SSL* /*ssl*/) { return true; }

SslCtxPtr MakeClientTlsContext() {
  SslCtxPtr ctx(SSL_CTX_new(TLS_client_method()));
  if (!ctx) return ctx;
  SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
  // Servers often drop data connections without close_notify; the FTP reply on the control
  // connection tells whether a transfer completed.
  SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_session_cache_mode(ctx.get(), SSL_SESS_CACHE_CLIENT);
  // FTP servers that insist on session reuse for data connections (the usual default) accept
  // every data connection only when it resumes the control connection's session. TLS 1.2 session
  // IDs may be resumed any number of times; TLS 1.3 tickets are single-use on servers with a
  // session cache, so the second transfer of a session would be refused.
  SSL_CTX_set_max_proto_version(ctx.get(), TLS1_2_VERSION);
  return ctx;
}

namespace {

// Milliseconds left until deadline, never negative.
int Remaining(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

NetStream::~NetStream() { Close(0); }

bool NetStream::Connect(const std::string& host, const std::string& port, int timeoutMs) {
  Close(0);
  shut_ = false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return false;
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (addrinfo* ai = found; ai; ai = ai->ai_next) {
    int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    {
      std::lock_guard lock(fdMutex_);
      fd_ = fd;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
    bool ok = rc == 0;
    if (!ok && errno == EINPROGRESS && WaitFor(true, Remaining(deadline))) {
      int err = 0;
      socklen_t len = sizeof err;
      ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }
    if (ok && !shut_) {
      family_ = ai->ai_family;
      char text[INET6_ADDRSTRLEN] = {};
      if (ai->ai_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr, text,
                    sizeof text);
      else
        ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(ai->ai_addr)->sin6_addr, text,
                    sizeof text);
      peer_ = text;
      return true;
    }
    Close(0);
    if (shut_ || Remaining(deadline) == 0) break;
  }
  return false;
}

bool NetStream::WaitFor(bool forWrite, int timeoutMs) {
  int fd = fd_.load();
  if (fd < 0 || shut_) return false;
  pollfd p{fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int rc = ::poll(&p, 1, Remaining(deadline));
    if (rc > 0) return !shut_;
    if (rc == 0) return false;
    if (errno != EINTR) return false;
  }
}

bool NetStream::TlsWait(int sslResult, int timeoutMs) {
  int err = SSL_get_error(ssl_.get(), sslResult);
  if (err == SSL_ERROR_WANT_READ) return WaitFor(false, timeoutMs);
  if (err == SSL_ERROR_WANT_WRITE) return WaitFor(true, timeoutMs);
  return false;
}

bool NetStream::StartTls(SSL_CTX* ctx, SSL_SESSION* resume, int timeoutMs) {
  if (fd_.load() < 0 || !ctx) return false;
  IgnoreBrokenPipe();  // OpenSSL writes through write()
  ssl_.reset(SSL_new(ctx));
  if (!ssl_ || SSL_set_fd(ssl_.get(), fd_.load()) != 1) {
    ssl_.reset();
    return false;
  }
  if (resume) SSL_set_session(ssl_.get(), resume);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    ERR_clear_error();
    int rc = SSL_connect(ssl_.get());
    if (rc == 1) break;
    if (!TlsWait(rc, Remaining(deadline))) {
      ssl_.reset();
      return false;
    }
  }
  if (!AcceptServerCertificate(ssl_.get())) {
    ssl_.reset();
    return false;
  }
  return true;
}

SslSessionPtr NetStream::Session() const {
  return SslSessionPtr(ssl_ ? SSL_get1_session(ssl_.get()) : nullptr);
}

long NetStream::Read(char* buffer, size_t size, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int fd = fd_.load();
    if (fd < 0 || shut_) return -1;
    if (ssl_) {
      ERR_clear_error();
      size_t got = 0;
      int rc = SSL_read_ex(ssl_.get(), buffer, size, &got);
      if (rc == 1) return static_cast<long>(got);
      int err = SSL_get_error(ssl_.get(), rc);
      if (err == SSL_ERROR_ZERO_RETURN) return 0;
      if (!TlsWait(rc, Remaining(deadline))) return -1;
    } else {
      ssize_t rc = ::recv(fd, buffer, size, 0);
      if (rc >= 0) return rc;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
      if (!WaitFor(false, Remaining(deadline))) return -1;
    }
  }
}

bool NetStream::WriteAll(const char* data, size_t size, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (size > 0) {
    int fd = fd_.load();
    if (fd < 0 || shut_) return false;
    if (ssl_) {
      ERR_clear_error();
      size_t done = 0;
      int rc = SSL_write_ex(ssl_.get(), data, size, &done);
      if (rc == 1) {
        data += done;
        size -= done;
        continue;
      }
      if (!TlsWait(rc, Remaining(deadline))) return false;
    } else {
      ssize_t rc = ::send(fd, data, size, MSG_NOSIGNAL);
      if (rc >= 0) {
        data += rc;
        size -= static_cast<size_t>(rc);
        continue;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
      if (!WaitFor(true, Remaining(deadline))) return false;
    }
  }
  return true;
}

void NetStream::Close(int timeoutMs) {
  if (ssl_ && fd_.load() >= 0 && !shut_ && timeoutMs > 0) {
    // One close_notify; the peer's answer is not awaited.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (int i = 0; i < 4; ++i) {
      ERR_clear_error();
      int rc = SSL_shutdown(ssl_.get());
      if (rc >= 0) break;
      if (!TlsWait(rc, Remaining(deadline))) break;
    }
  }
  ssl_.reset();
  std::lock_guard lock(fdMutex_);
  int fd = fd_.exchange(-1);
  if (fd >= 0) ::close(fd);
}

void NetStream::Shutdown() {
  shut_ = true;
  std::lock_guard lock(fdMutex_);
  int fd = fd_.load();
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

}  // namespace bsync
