// A TCP connection with optional TLS on top, for the FTP client's control and data connections.
// The socket is non-blocking; every read and write waits with poll() for at most the given time,
// so a dead peer cannot hang the caller. Shutdown() may be called from any thread: it wakes a
// blocked reader or writer, which then fails.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

namespace bsync {

struct SslCtxDeleter {
  void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
};
struct SslDeleter {
  void operator()(SSL* p) const { SSL_free(p); }
};
struct SslSessionDeleter {
  void operator()(SSL_SESSION* p) const { SSL_SESSION_free(p); }
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxDeleter>;
using SslPtr = std::unique_ptr<SSL, SslDeleter>;
using SslSessionPtr = std::unique_ptr<SSL_SESSION, SslSessionDeleter>;

// The one place where a server certificate is judged. Servers of this kind often present
// self-signed certificates, so every certificate is accepted for now.
bool AcceptServerCertificate(SSL* ssl);

// A client TLS context for FTP without CA verification (the certificate goes through
// AcceptServerCertificate after the handshake), at most TLS 1.2 so that every data connection
// can resume the control connection's session.
SslCtxPtr MakeClientTlsContext();

class NetStream {
 public:
  NetStream() = default;
  ~NetStream();
  NetStream(const NetStream&) = delete;
  NetStream& operator=(const NetStream&) = delete;

  // Connects to host:port (any address family, addresses tried in order) within timeoutMs.
  bool Connect(const std::string& host, const std::string& port, int timeoutMs);
  // TLS client handshake on the open connection; resumes the given session when there is one.
  bool StartTls(SSL_CTX* ctx, SSL_SESSION* resume, int timeoutMs);
  bool IsTls() const { return ssl_ != nullptr; }
  // The current TLS session (a new reference), for data connections to resume.
  SslSessionPtr Session() const;

  // Reads up to size bytes; returns the count, 0 at the end of the stream, -1 on error/timeout.
  long Read(char* buffer, size_t size, int timeoutMs);
  bool WriteAll(const char* data, size_t size, int timeoutMs);
  bool WriteAll(const std::string& text, int timeoutMs) {
    return WriteAll(text.data(), text.size(), timeoutMs);
  }
  // Ends TLS with close_notify (when TLS is on) and closes the socket.
  void Close(int timeoutMs);
  // Thread-safe: wakes any blocked read or write; the stream is unusable afterwards.
  void Shutdown();
  bool IsOpen() const { return fd_.load() >= 0; }
  // Address family of the connection (AF_INET or AF_INET6), and the peer's numeric address.
  int Family() const { return family_; }
  const std::string& PeerAddress() const { return peer_; }

 private:
  bool WaitFor(bool forWrite, int timeoutMs);
  bool TlsWait(int sslResult, int timeoutMs);

  // The mutex orders closing the descriptor against Shutdown() from another thread, so that
  // Shutdown never reaches a descriptor number that was closed and reused meanwhile.
  mutable std::mutex fdMutex_;
  std::atomic<int> fd_{-1};
  std::atomic<bool> shut_{false};
  SslPtr ssl_;
  int family_ = 0;
  std::string peer_;
};

}  // namespace bsync
