// A blocking FTP/FTPS client on POSIX sockets and OpenSSL: explicit TLS ("AUTH TLS") when the
// server offers it, passive data connections (EPSV, PASV fallback) that resume the control
// connection's TLS session, and transfers streamed between socket and file in chunks.
//
// After each command ResultCode() is the three-digit code of the last reply, or 0 when no
// complete reply arrived (closed, reset, timed out): the one signal of a broken session.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "remote/ftp_listing.h"
#include "remote/net_stream.h"

namespace bsync {

struct FtpClientSettings {
  std::string host;
  std::string port = "21";
  std::string user;
  std::string password;
  bool autoTls = true;
  int replyTimeoutMs = 300000;   // longest wait for one line of a reply
  int connectTimeoutMs = 30000;  // so a dead host cannot hang a run
};

class FtpClient {
 public:
  FtpClient() = default;
  explicit FtpClient(FtpClientSettings settings);
  // Replaces the settings; only between sessions, on the owning thread.
  void Configure(FtpClientSettings settings) { settings_ = std::move(settings); }
  FtpClient(const FtpClient&) = delete;
  FtpClient& operator=(const FtpClient&) = delete;

  // Closes any open control connection (without QUIT), connects and logs in completely.
  bool Login();
  // "QUIT" and close.
  void Logout();
  // Sends one command line and reads its whole reply; returns ResultCode().
  int Command(const std::string& line);

  // "TYPE I", "ALLO n", "STOR remote"; streams the local file. Fails at once, sending nothing,
  // when the local file cannot be opened.
  bool StoreFile(const std::filesystem::path& local, const std::string& remote);
  // "TYPE I", "RETR remote" into the local file, which is created (or truncated) once the data
  // connection is open, even when RETR is refused.
  bool RetrieveFile(const std::filesystem::path& local, const std::string& remote);
  // "TYPE A", "LIST path"; entries without "." and "..".
  bool List(const std::string& path, std::vector<FtpListEntry>& entries);

  int ResultCode() const { return resultCode_; }
  const std::string& ResultString() const { return resultString_; }
  const std::vector<std::string>& FullResult() const { return fullResult_; }
  bool UsingTls() const { return control_.IsTls(); }
  const FtpClientSettings& Settings() const { return settings_; }

  // Thread-safe "stop at once": closes the sockets under any blocked call, which then fails
  // with ResultCode 0; later logins fail at once.
  void Interrupt();
  bool Interrupted() const { return interrupted_.load(); }

 private:
  bool ReadReply();
  bool ReadLine(std::string& line);
  void Fail() { resultCode_ = 0; }
  // Opens a passive data connection (EPSV, else PASV).
  bool OpenData(NetStream& data);
  // TLS on the data connection after the 1xx reply, resuming the control session.
  bool SecureData(NetStream& data);
  // Reads the final reply after a transfer; success on 2xx.
  bool FinishTransfer(bool streamOk);

  FtpClientSettings settings_;
  SslCtxPtr tlsContext_;
  NetStream control_;
  NetStream data_;  // member so that Interrupt() reaches it
  bool protP_ = false;
  std::string inBuffer_;
  int resultCode_ = 0;
  std::string resultString_;
  std::vector<std::string> fullResult_;
  std::atomic<bool> interrupted_{false};
};

}  // namespace bsync
