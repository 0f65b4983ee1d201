// A TLS client connection over TCP with a time limit on every wait, for the account service.
// The socket and the TLS objects are owned here and released when the object goes.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "account/unique_fd.h"

namespace bsync {

struct TlsOptions {
  // Check the server's certificate chain (system CA store plus caFile) and its host name.
  bool verify = true;
  // PEM file with further trusted certificates; empty for none.
  std::string caFile;
};

class TlsConnection {
 public:
  // Connects to host:port and performs the TLS handshake. Each wait (connect, every handshake
  // round, later every read and write) is limited to timeoutMs. Empty on any failure; error then
  // says why.
  static std::optional<TlsConnection> Open(const std::string& host, int port,
                                           const TlsOptions& options, int timeoutMs,
                                           std::string* error = nullptr);

  TlsConnection(TlsConnection&&) noexcept = default;
  TlsConnection& operator=(TlsConnection&&) noexcept = default;
  TlsConnection(const TlsConnection&) = delete;
  TlsConnection& operator=(const TlsConnection&) = delete;
  // Sends a TLS close_notify (without waiting for the answer), then releases everything.
  ~TlsConnection();

  // Sends all of data; false on error or when a wait runs out.
  bool SendAll(std::string_view data);

  // Receives up to size bytes: the count, 0 when the peer closed the connection, -1 on an error or
  // when no data came within the time limit.
  long Receive(char* buffer, std::size_t size);

 private:
  struct CtxFree {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
  };
  struct SslFree {
    void operator()(SSL* s) const { SSL_free(s); }
  };

  TlsConnection() = default;
  // Waits until the socket is ready for what the last TLS call asked for.
  bool WaitFor(int sslError);

  UniqueFd fd_;
  std::unique_ptr<SSL_CTX, CtxFree> ctx_;
  std::unique_ptr<SSL, SslFree> ssl_;  // declared last: freed before the context and the socket
  int timeoutMs_ = 0;
};

}  // namespace bsync
