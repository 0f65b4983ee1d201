// The run's FTP session and its single remote operations. Each operation sends one fixed command
// (or one transfer), judges the outcome by the reply code alone, and treats a missing reply
// (code 0: the connection is gone) as a broken session: pause, log in again, retry, at most six
// sends in all. When the retries are used up the run ends through AbortRun.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/datetime.h"
#include "platform/observer.h"
#include "platform/stop_token.h"
#include "remote/ftp_client.h"

namespace bsync {

// Ends the run: thrown by AbortRun, caught only at the run's boundary, which then calls
// FinishAbortedRun and resets its own run state.
class RunAborted : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using SleepFunction = std::function<void(int milliseconds)>;
// Sleeps for real; the production pauses.
void RealSleep(int milliseconds);

// Result codes of FtpPutFile.
enum : std::uint8_t { kPutNotStored = 0, kPutStored = 1, kPutServerFull = 2 };

// The session: the FTP client plus what every operation needs from the run. Owned by the run;
// Interrupt() is the only member another thread may call.
class FtpSession {
 public:
  explicit FtpSession(Observer& observer, StopToken stop = {}, SleepFunction sleep = RealSleep);
  FtpSession(const FtpSession&) = delete;
  FtpSession& operator=(const FtpSession&) = delete;

  FtpClient& Client() { return client_; }
  Observer& GetObserver() { return observer_; }
  const StopToken& Stop() const { return stop_; }
  void Sleep(int milliseconds);
  // Reply-line and connect time limits (production: 300 s and 30 s); tests shorten them.
  void SetTimeouts(int replyTimeoutMs, int connectTimeoutMs);

  // Thread-safe "stop at once": requests the stop and closes the sockets, so a blocked
  // operation returns and the run leaves through RunStopped.
  void Interrupt();

 private:
  friend bool FtpConnect(FtpSession&, const std::string&, const std::string&, const std::string&,
                         const std::string&);
  Observer& observer_;
  StopToken stop_;
  SleepFunction sleep_;
  FtpClient client_;
  int replyTimeoutMs_ = 300000;
  int connectTimeoutMs_ = 30000;
};

// Logs in (explicit TLS when offered); six failed attempts end the run with
// "connection to server failed".
bool FtpConnect(FtpSession& ftp, const std::string& host, const std::string& port,
                const std::string& user, const std::string& password);
// "QUIT" and close.
void FtpDisconnect(FtpSession& ftp);

// Ends the run with message: throws RunAborted. Does not return.
[[noreturn]] void AbortRun(FtpSession& ftp, const std::string& message);
// What the run's boundary does with a caught RunAborted: logs out, shows the message, resets the
// progress bar (position -1, maximum 1) and enables "SYNC NOW".
void FinishAbortedRun(FtpSession& ftp, const RunAborted& aborted);

// "site quota": used and limit in megabytes from the last line holding "Uploaded Mb:". Returns
// false when the reply has no such line or its numbers do not parse: the quota is unknown.
bool FtpQuota(FtpSession& ftp, double& usedMB, double& limitMB);

bool FtpMkd(FtpSession& ftp, std::string_view path);  // 257, or 550 (exists)
bool FtpRmd(FtpSession& ftp, std::string_view path);
bool FtpDelete(FtpSession& ftp, std::string_view path);
bool FtpRename(FtpSession& ftp, std::string_view fromPath, std::string_view toPath);
// The server's modification time, as its clock states it; 31.10.1986 00:00:01 when none.
// Throws EConvertError when a 213 reply carries no valid time.
TDateTime FtpMdtm(FtpSession& ftp, std::string_view path);
bool FtpExists(FtpSession& ftp, std::string_view path);
bool FtpMfmt(FtpSession& ftp, std::string_view path, TDateTime time);
// Stores localDir/name (name relative, either separator, Windows-1252) as remoteDir/name.
std::uint8_t FtpPutFile(FtpSession& ftp, const std::filesystem::path& localDir,
                        std::string_view remoteDir, std::string_view name);
// Retrieves remoteDir/name into localDir/name, creating the local folders first.
bool FtpGetFile(FtpSession& ftp, const std::filesystem::path& localDir,
                std::string_view remoteDir, std::string_view name);

// The default time of FtpMdtm.
TDateTime MdtmDefaultTime();
// "MFMT" time text: yyyymmddhhnnss.
std::string MfmtTimeText(TDateTime time);
// Parses an MDTM reply line ("213 20120102030405.123"); throws EConvertError.
TDateTime ParseMdtmReply(std::string_view resultString);
// Parses the quota from a reply's lines; false when unknown.
bool ParseQuota(const std::vector<std::string>& lines, double& usedMB, double& limitMB);
// "\" to "/".
std::string RemotePath(std::string_view path);

}  // namespace bsync
