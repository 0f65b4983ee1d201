#include "account/tls_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/broken_pipe.h"

namespace bsync {

namespace {

// TLS writes go through write(2); a peer that has closed would raise SIGPIPE and end the process.
// Blocks the signal on this thread for the length of the write and drops one that came.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigset_t pipeSet;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeSet, &old_);
  }
  ~SigpipeBlock() {
    if (!alreadyPending_) {
      sigset_t pipeSet;
      sigemptyset(&pipeSet);
      sigaddset(&pipeSet, SIGPIPE);
      const timespec zero{0, 0};
      while (sigtimedwait(&pipeSet, nullptr, &zero) > 0) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

 private:
  sigset_t old_{};
  bool alreadyPending_ = false;
};

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

std::string SslErrorText() {
  const unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return "TLS failure";
  char buf[256];
  ERR_error_string_n(e, buf, sizeof buf);
  return buf;
}

bool PollFd(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int r = ::poll(&p, 1, timeoutMs);
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) return false;
  }
}

// A non-blocking TCP connection to one of host's addresses, each attempt limited to timeoutMs.
UniqueFd ConnectTcp(const std::string& host, int port, int timeoutMs, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    SetError(error, "cannot resolve " + host + ": " + gai_strerror(rc));
    return {};
  }
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> list(found, ::freeaddrinfo);
  std::string lastError = "no address";
  for (addrinfo* a = list.get(); a; a = a->ai_next) {
    UniqueFd fd(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                         a->ai_protocol));
    if (!fd.valid()) {
      lastError = std::strerror(errno);
      continue;
    }
    if (::connect(fd.get(), a->ai_addr, a->ai_addrlen) == 0) return fd;
    if (errno != EINPROGRESS) {
      lastError = std::strerror(errno);
      continue;
    }
    if (!PollFd(fd.get(), POLLOUT, timeoutMs)) {
      lastError = "connection timed out";
      continue;
    }
    int soError = 0;
    socklen_t len = sizeof soError;
    ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &soError, &len);
    if (soError == 0) return fd;
    lastError = std::strerror(soError);
  }
  SetError(error, "cannot connect to " + host + ":" + service + ": " + lastError);
  return {};
}

bool IsIpLiteral(const std::string& host) {
  unsigned char buf[sizeof(in6_addr)];
  return ::inet_pton(AF_INET, host.c_str(), buf) == 1 || ::inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

}  // namespace

std::optional<TlsConnection> TlsConnection::Open(const std::string& host, int port,
                                                 const TlsOptions& options, int timeoutMs,
                                                 std::string* error) {
  TlsConnection c;
  c.timeoutMs_ = timeoutMs;
  c.fd_ = ConnectTcp(host, port, timeoutMs, error);
  if (!c.fd_.valid()) return std::nullopt;

  c.ctx_.reset(SSL_CTX_new(TLS_client_method()));
  if (!c.ctx_) {
    SetError(error, SslErrorText());
    return std::nullopt;
  }
  SSL_CTX_set_min_proto_version(c.ctx_.get(), TLS1_2_VERSION);
  // Many HTTP servers close the TCP connection without a TLS close_notify; that ends a body that
  // runs until the connection closes, so it counts as a normal close here.
  SSL_CTX_set_options(c.ctx_.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
  if (options.verify) {
    SSL_CTX_set_verify(c.ctx_.get(), SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_default_verify_paths(c.ctx_.get());
    if (!options.caFile.empty() &&
        SSL_CTX_load_verify_locations(c.ctx_.get(), options.caFile.c_str(), nullptr) != 1) {
      SetError(error, "cannot load CA file " + options.caFile + ": " + SslErrorText());
      return std::nullopt;
    }
  } else {
    SSL_CTX_set_verify(c.ctx_.get(), SSL_VERIFY_NONE, nullptr);
  }

  IgnoreBrokenPipe();  // OpenSSL writes through write()
  c.ssl_.reset(SSL_new(c.ctx_.get()));
  if (!c.ssl_ || SSL_set_fd(c.ssl_.get(), c.fd_.get()) != 1) {
    SetError(error, SslErrorText());
    return std::nullopt;
  }
  const bool ipLiteral = IsIpLiteral(host);
  if (!ipLiteral) SSL_set_tlsext_host_name(c.ssl_.get(), host.c_str());
  if (options.verify) {
    X509_VERIFY_PARAM* param = SSL_get0_param(c.ssl_.get());
    if (ipLiteral)
      X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    else
      X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
  }

  for (;;) {
    const int r = SSL_connect(c.ssl_.get());
    if (r == 1) break;
    const int e = SSL_get_error(c.ssl_.get(), r);
    if ((e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) && c.WaitFor(e)) continue;
    std::string why = e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE
                          ? std::string("TLS handshake timed out")
                          : "TLS handshake failed: " + SslErrorText();
    const long verifyResult = SSL_get_verify_result(c.ssl_.get());
    if (verifyResult != X509_V_OK)
      why += std::string(" (") + X509_verify_cert_error_string(verifyResult) + ")";
    SetError(error, why);
    return std::nullopt;
  }
  return c;
}

TlsConnection::~TlsConnection() {
  if (ssl_ && SSL_is_init_finished(ssl_.get())) {
    SigpipeBlock noSigpipe;
    SSL_shutdown(ssl_.get());
    ERR_clear_error();
  }
}

bool TlsConnection::WaitFor(int sslError) {
  return PollFd(fd_.get(), sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN, timeoutMs_);
}

bool TlsConnection::SendAll(std::string_view data) {
  SigpipeBlock noSigpipe;
  while (!data.empty()) {
    std::size_t written = 0;
    const int r = SSL_write_ex(ssl_.get(), data.data(), data.size(), &written);
    if (r == 1) {
      data.remove_prefix(written);
      continue;
    }
    const int e = SSL_get_error(ssl_.get(), r);
    if ((e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) && WaitFor(e)) continue;
    ERR_clear_error();
    return false;
  }
  return true;
}

long TlsConnection::Receive(char* buffer, std::size_t size) {
  SigpipeBlock noSigpipe;  // a read may send a TLS alert or key update
  for (;;) {
    std::size_t got = 0;
    const int r = SSL_read_ex(ssl_.get(), buffer, size, &got);
    if (r == 1) return static_cast<long>(got);
    const int e = SSL_get_error(ssl_.get(), r);
    if ((e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) && WaitFor(e)) continue;
    ERR_clear_error();
    return e == SSL_ERROR_ZERO_RETURN ? 0 : -1;
  }
}

}  // namespace bsync
