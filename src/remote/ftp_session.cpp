#include "remote/ftp_session.h"

#include <charconv>
#include <cstdio>
#include <chrono>
#include <system_error>
#include <thread>

#include "inventory/local_ops.h"
#include "platform/errors.h"

namespace bsync {

namespace {

const char kSessionBroken[] = "session to server broken stop sync";
const char kConnectionBroken[] = "connection to server broken stop sync";
const char kConnectFailed[] = "connection to server failed";

enum class Outcome { Success, Failure, NoReply };

// The retry rule: up to six sends; a missing reply costs a pause of 1000 ms and a new login
// (whose own result is not examined); after the sixth missing reply the run ends.
template <class Attempt>
bool Retry(FtpSession& ftp, const char* abortMessage, Attempt attempt) {
  for (int retry = 0;; ++retry) {
    ftp.Stop().ThrowIfStopped();
    switch (attempt()) {
      case Outcome::Success:
        return true;
      case Outcome::Failure:
        return false;
      case Outcome::NoReply:
        break;
    }
    if (retry == 5) AbortRun(ftp, abortMessage);
    ftp.Sleep(1000);
    ftp.Stop().ThrowIfStopped();
    ftp.Client().Login();
  }
}

// One command whose success is a set of reply codes.
bool SimpleCommand(FtpSession& ftp, const std::string& line, std::initializer_list<int> success) {
  return Retry(ftp, kSessionBroken, [&] {
    int code = ftp.Client().Command(line);
    for (int ok : success)
      if (code == ok) return Outcome::Success;
    return code == 0 ? Outcome::NoReply : Outcome::Failure;
  });
}

std::string Trim33(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) < 33) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) < 33) --e;
  return std::string(text.substr(b, e - b));
}

bool ParseDecimal(const std::string& text, double& value) {
  if (text.empty()) return false;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value,
                                   std::chars_format::fixed);
  return ec == std::errc() && ptr == text.data() + text.size();
}

}  // namespace

void RealSleep(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

FtpSession::FtpSession(Observer& observer, StopToken stop, SleepFunction sleep)
    : observer_(observer), stop_(std::move(stop)), sleep_(std::move(sleep)) {}

void FtpSession::Sleep(int milliseconds) {
  if (sleep_) sleep_(milliseconds);
}

void FtpSession::SetTimeouts(int replyTimeoutMs, int connectTimeoutMs) {
  replyTimeoutMs_ = replyTimeoutMs;
  connectTimeoutMs_ = connectTimeoutMs;
}

void FtpSession::Interrupt() {
  stop_.RequestStop();
  client_.Interrupt();
}

std::string RemotePath(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

bool FtpConnect(FtpSession& ftp, const std::string& host, const std::string& port,
                const std::string& user, const std::string& password) {
  FtpClientSettings settings;
  settings.host = host;
  settings.port = port;
  settings.user = user;
  settings.password = password;
  settings.autoTls = true;
  settings.replyTimeoutMs = ftp.replyTimeoutMs_;
  settings.connectTimeoutMs = ftp.connectTimeoutMs_;
  ftp.client_.Configure(std::move(settings));
  for (int attempt = 1;; ++attempt) {
    ftp.Stop().ThrowIfStopped();
    if (ftp.client_.Login()) return true;
    if (attempt == 6) AbortRun(ftp, kConnectFailed);
    ftp.Sleep(1000);
  }
}

void FtpDisconnect(FtpSession& ftp) { ftp.Client().Logout(); }

void AbortRun(FtpSession& /*ftp*/, const std::string& message) { throw RunAborted(message); }

void FinishAbortedRun(FtpSession& ftp, const RunAborted& aborted) {
  FtpDisconnect(ftp);
  Observer& observer = ftp.GetObserver();
  observer.ShowStatus(aborted.what());
  observer.SetProgressPosition(-1);
  observer.SetProgressMax(1);
  observer.SetSyncEnabled(true);
}

bool ParseQuota(const std::vector<std::string>& lines, double& usedMB, double& limitMB) {
  const std::string* quotaLine = nullptr;
  for (const std::string& line : lines)
    if (line.find("Uploaded Mb:") != std::string::npos) quotaLine = &line;
  if (!quotaLine) return false;
  std::string_view rest(*quotaLine);
  rest.remove_prefix(rest.find(':') + 1);
  size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return false;
  double used = 0, limit = 0;
  if (!ParseDecimal(Trim33(rest.substr(0, slash)), used) ||
      !ParseDecimal(Trim33(rest.substr(slash + 1)), limit))
    return false;
  usedMB = used;
  limitMB = limit;
  return true;
}

bool FtpQuota(FtpSession& ftp, double& usedMB, double& limitMB) {
  ftp.Stop().ThrowIfStopped();
  ftp.Client().Command("site quota");
  return ParseQuota(ftp.Client().FullResult(), usedMB, limitMB);
}

bool FtpMkd(FtpSession& ftp, std::string_view path) {
  return SimpleCommand(ftp, "MKD " + RemotePath(path), {257, 550});
}

bool FtpRmd(FtpSession& ftp, std::string_view path) {
  return SimpleCommand(ftp, "RMD " + RemotePath(path), {250});
}

bool FtpDelete(FtpSession& ftp, std::string_view path) {
  return SimpleCommand(ftp, "DELE " + RemotePath(path), {250});
}

bool FtpRename(FtpSession& ftp, std::string_view fromPath, std::string_view toPath) {
  const std::string from = "RNFR " + RemotePath(fromPath), to = "RNTO " + RemotePath(toPath);
  return Retry(ftp, kSessionBroken, [&] {
    // RNTO is sent even after a refused RNFR; the server answers it with an error.
    int rnfr = ftp.Client().Command(from);
    int rnto = ftp.Client().Command(to);
    if (rnfr == 0 || rnto == 0) return Outcome::NoReply;
    return rnfr == 350 && rnto == 250 ? Outcome::Success : Outcome::Failure;
  });
}

TDateTime MdtmDefaultTime() {
  DateTimeParts p;
  p.year = 1986, p.month = 10, p.day = 31, p.hour = 0, p.minute = 0, p.second = 1;
  return EncodeDateTime(p);
}

TDateTime ParseMdtmReply(std::string_view resultString) {
  size_t blank = resultString.find(' ');
  std::string_view text =
      blank == std::string_view::npos ? std::string_view() : resultString.substr(blank + 1);
  if (text.size() < 14) throw EConvertError("'" + std::string(text) + "' is not a valid time");
  auto field = [&](size_t pos, size_t len) {
    int value = 0;
    auto [ptr, ec] = std::from_chars(text.data() + pos, text.data() + pos + len, value);
    if (ec != std::errc() || ptr != text.data() + pos + len)
      throw EConvertError("'" + std::string(text) + "' is not a valid time");
    return value;
  };
  DateTimeParts p;
  p.year = field(0, 4), p.month = field(4, 2), p.day = field(6, 2);
  p.hour = field(8, 2), p.minute = field(10, 2), p.second = field(12, 2), p.millisecond = 0;
  return EncodeDateTime(p);
}

TDateTime FtpMdtm(FtpSession& ftp, std::string_view path) {
  const std::string line = "MDTM " + RemotePath(path);
  bool ok = SimpleCommand(ftp, line, {213});
  return ok ? ParseMdtmReply(ftp.Client().ResultString()) : MdtmDefaultTime();
}

bool FtpExists(FtpSession& ftp, std::string_view path) {
  return SimpleCommand(ftp, "MDTM " + RemotePath(path), {213});
}

std::string MfmtTimeText(TDateTime time) {
  DateTimeParts p = DecodeDateTime(time);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", p.year, p.month, p.day, p.hour,
                p.minute, p.second);
  return text;
}

bool FtpMfmt(FtpSession& ftp, std::string_view path, TDateTime time) {
  return SimpleCommand(ftp, "MFMT " + MfmtTimeText(time) + " " + RemotePath(path), {213});
}

std::uint8_t FtpPutFile(FtpSession& ftp, const std::filesystem::path& localDir,
                        std::string_view remoteDir, std::string_view name) {
  auto local = LocalPathOf(localDir, name);
  std::error_code ec;
  // A missing local file (or a name that leaves its folder) is not stored; nothing is sent.
  if (!local || !std::filesystem::is_regular_file(*local, ec)) return kPutNotStored;
  const std::string remote = RemotePath(std::string(remoteDir) + "/" + std::string(name));
  std::uint8_t result = kPutNotStored;
  Retry(ftp, kSessionBroken, [&] {
    if (ftp.Client().StoreFile(*local, remote)) {
      result = kPutStored;
      return Outcome::Success;
    }
    int code = ftp.Client().ResultCode();
    if (code == 0) return Outcome::NoReply;
    result = code == 552 ? kPutServerFull : kPutNotStored;
    return Outcome::Failure;
  });
  return result;
}

bool FtpGetFile(FtpSession& ftp, const std::filesystem::path& localDir,
                std::string_view remoteDir, std::string_view name) {
  auto local = LocalPathOf(localDir, name);
  if (!local) return false;  // a name from the server that would leave the folder
  std::error_code ec;
  std::filesystem::create_directories(local->parent_path(), ec);
  const std::string remote = RemotePath(std::string(remoteDir) + "/" + std::string(name));
  return Retry(ftp, kConnectionBroken, [&] {
    if (ftp.Client().RetrieveFile(*local, remote)) return Outcome::Success;
    return ftp.Client().ResultCode() == 0 ? Outcome::NoReply : Outcome::Failure;
  });
}

}  // namespace bsync
