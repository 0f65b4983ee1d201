#include "remote/ftp_client.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>

namespace bsync {

namespace {

constexpr size_t kChunk = 256 * 1024;

// Owns one file descriptor.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports whether buffered data reached the file.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool IsReplyStart(const std::string& line) {
  return line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
         std::isdigit(static_cast<unsigned char>(line[1])) &&
         std::isdigit(static_cast<unsigned char>(line[2]));
}

bool ParseInt(std::string_view text, int& value) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

// Port from "229 Entering Extended Passive Mode (|||6446|)".
bool ParseEpsv(const std::string& reply, int& port) {
  size_t open = reply.find('(');
  size_t close = reply.find(')', open == std::string::npos ? 0 : open);
  if (open == std::string::npos || close == std::string::npos || close - open < 6) return false;
  std::string_view inner(reply.data() + open + 1, close - open - 1);
  char d = inner.front();
  if (inner.size() < 5 || inner[1] != d || inner[2] != d || inner.back() != d) return false;
  return ParseInt(inner.substr(3, inner.size() - 4), port) && port > 0 && port < 65536;
}

// Port from "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)". The address part is not used:
// data connections go to the control connection's peer only, so a server reply cannot point
// the client at another host.
bool ParsePasv(const std::string& reply, int& port) {
  size_t pos = reply.find_first_of("0123456789", 4);
  if (pos == std::string::npos) return false;
  int numbers[6];
  for (int i = 0; i < 6; ++i) {
    size_t end = pos;
    while (end < reply.size() && std::isdigit(static_cast<unsigned char>(reply[end]))) ++end;
    if (end == pos || !ParseInt(std::string_view(reply).substr(pos, end - pos), numbers[i]) ||
        numbers[i] > 255)
      return false;
    if (i < 5) {
      if (end >= reply.size() || reply[end] != ',') return false;
      pos = end + 1;
    }
  }
  port = numbers[4] * 256 + numbers[5];
  return port > 0;
}

}  // namespace

FtpClient::FtpClient(FtpClientSettings settings) : settings_(std::move(settings)) {}

void FtpClient::Interrupt() {
  interrupted_ = true;
  control_.Shutdown();
  data_.Shutdown();
}

bool FtpClient::ReadLine(std::string& line) {
  // One deadline for the whole line, so a server that trickles bytes cannot stretch the wait.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(settings_.replyTimeoutMs);
  for (;;) {
    size_t end = inBuffer_.find('\n');
    if (end != std::string::npos) {
      line.assign(inBuffer_, 0, end);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      inBuffer_.erase(0, end + 1);
      return true;
    }
    char buffer[4096];
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    long got = control_.Read(buffer, sizeof buffer, static_cast<int>(left.count()));
    if (got <= 0) return false;
    inBuffer_.append(buffer, static_cast<size_t>(got));
  }
}

bool FtpClient::ReadReply() {
  fullResult_.clear();
  resultString_.clear();
  resultCode_ = 0;
  std::string line;
  if (!ReadLine(line)) return false;
  fullResult_.push_back(line);
  if (!IsReplyStart(line)) return false;
  if (line.size() > 3 && line[3] == '-') {
    const std::string end = line.substr(0, 3) + " ";
    for (;;) {
      if (!ReadLine(line)) return false;
      fullResult_.push_back(line);
      if (line.compare(0, 4, end) == 0 || line == end.substr(0, 3)) break;
    }
  }
  resultString_ = line;
  resultCode_ = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
  return true;
}

int FtpClient::Command(const std::string& line) {
  if (interrupted_ || !control_.IsOpen() ||
      !control_.WriteAll(line + "\r\n", settings_.replyTimeoutMs)) {
    fullResult_.clear();
    resultString_.clear();
    Fail();
    return 0;
  }
  ReadReply();
  return resultCode_;
}

bool FtpClient::Login() {
  data_.Close(0);
  control_.Close(0);
  inBuffer_.clear();
  protP_ = false;
  Fail();
  if (interrupted_) return false;
  if (!control_.Connect(settings_.host, settings_.port, settings_.connectTimeoutMs)) return false;
  if (interrupted_) {
    control_.Shutdown();
    return false;
  }
  // Greeting: preliminary 1xx replies are skipped.
  do {
    if (!ReadReply()) return false;
  } while (resultCode_ / 100 == 1);
  if (resultCode_ / 100 != 2) return false;

  if (settings_.autoTls) {
    int code = Command("AUTH TLS");
    if (code == 0) return false;
    if (code / 100 == 2) {
      if (!tlsContext_) tlsContext_ = MakeClientTlsContext();
      if (!control_.StartTls(tlsContext_.get(), nullptr, settings_.replyTimeoutMs)) {
        Fail();
        return false;
      }
    }
  }
  int code = Command("USER " + settings_.user);
  if (code == 331) code = Command("PASS " + settings_.password);
  if (code / 100 != 2) return false;
  if (control_.IsTls()) {
    if (Command("PBSZ 0") == 0) return false;
    int prot = Command("PROT P");
    if (prot == 0) return false;
    if (prot / 100 == 2) {
      protP_ = true;
    } else if (Command("PROT C") == 0) {
      return false;
    }
  }
  return Command("TYPE I") / 100 == 2;
}

void FtpClient::Logout() {
  if (control_.IsOpen() && !interrupted_) {
    if (control_.WriteAll("QUIT\r\n", 5000)) ReadReply();
  }
  data_.Close(0);
  control_.Close(interrupted_ ? 0 : 1000);
}

bool FtpClient::OpenData(NetStream& data) {
  data.Close(0);
  int port = 0;
  std::string epsv = control_.Family() == AF_INET6 ? "EPSV 2" : "EPSV 1";
  int code = Command(epsv);
  if (code == 0) return false;
  if (code / 100 == 2) {
    if (!ParseEpsv(resultString_, port)) return false;
  } else {
    code = Command("PASV");
    if (code / 100 != 2 || !ParsePasv(resultString_, port)) return false;
  }
  if (!data.Connect(control_.PeerAddress(), std::to_string(port), settings_.connectTimeoutMs)) {
    // Keep the reply code of the passive command: the session still answers.
    return false;
  }
  return true;
}

bool FtpClient::SecureData(NetStream& data) {
  if (!protP_) return true;
  // A copy of the control connection's session: OpenSSL marks a session unusable when a
  // connection that used it ends without close_notify, and one broken data connection must not
  // spoil the session for every later one.
  SslSessionPtr session = control_.Session();
  SslSessionPtr copy(session ? SSL_SESSION_dup(session.get()) : nullptr);
  return data.StartTls(tlsContext_.get(), copy.get(), settings_.replyTimeoutMs);
}

bool FtpClient::FinishTransfer(bool streamOk) {
  if (!ReadReply()) return false;
  return streamOk && resultCode_ / 100 == 2;
}

bool FtpClient::StoreFile(const std::filesystem::path& local, const std::string& remote) {
  UniqueFd file(::open(local.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    fullResult_.clear();
    resultString_.clear();
    resultCode_ = -1;  // nothing was sent; not a broken session
    return false;
  }
  if (!OpenData(data_)) return false;
  if (Command("TYPE I") == 0) return false;
  int allo = Command("ALLO " + std::to_string(st.st_size));
  if (allo == 0 || allo == 552) {
    data_.Close(0);
    return false;
  }
  int code = Command("STOR " + remote);
  if (code / 100 != 1) {
    data_.Close(0);
    return false;
  }
  bool ok = SecureData(data_);
  std::vector<char> buffer(kChunk);
  while (ok) {
    ssize_t got = ::read(file.get(), buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    ok = data_.WriteAll(buffer.data(), static_cast<size_t>(got), settings_.replyTimeoutMs);
  }
  // Without a clean end the server must not see a complete file: drop the connection hard.
  if (ok)
    data_.Close(settings_.replyTimeoutMs);
  else
    data_.Close(0);
  return FinishTransfer(ok);
}

bool FtpClient::RetrieveFile(const std::filesystem::path& local, const std::string& remote) {
  if (!OpenData(data_)) return false;
  UniqueFd file(::open(local.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (file.get() < 0) {
    data_.Close(0);
    resultCode_ = -1;
    return false;
  }
  if (Command("TYPE I") == 0) return false;
  int code = Command("RETR " + remote);
  if (code / 100 != 1) {
    data_.Close(0);
    return false;
  }
  bool ok = SecureData(data_);
  std::vector<char> buffer(kChunk);
  while (ok) {
    long got = data_.Read(buffer.data(), buffer.size(), settings_.replyTimeoutMs);
    if (got == 0) break;
    if (got < 0) {
      ok = false;
      break;
    }
    const char* p = buffer.data();
    size_t left = static_cast<size_t>(got);
    while (left > 0) {
      ssize_t written = ::write(file.get(), p, left);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        ok = false;
        break;
      }
      p += written;
      left -= static_cast<size_t>(written);
    }
  }
  data_.Close(ok ? 5000 : 0);
  if (!file.Close()) ok = false;
  return FinishTransfer(ok);
}

bool FtpClient::List(const std::string& path, std::vector<FtpListEntry>& entries) {
  entries.clear();
  if (Command("TYPE A") == 0) return false;
  if (!OpenData(data_)) return false;
  int code = Command("LIST " + path);
  if (code / 100 != 1) {
    data_.Close(0);
    return false;
  }
  bool ok = SecureData(data_);
  std::string text;
  char buffer[16384];
  while (ok) {
    long got = data_.Read(buffer, sizeof buffer, settings_.replyTimeoutMs);
    if (got == 0) break;
    if (got < 0) ok = false;
    else text.append(buffer, static_cast<size_t>(got));
  }
  data_.Close(ok ? 5000 : 0);
  if (!FinishTransfer(ok)) return false;
  entries = ParseListing(text);
  return true;
}

}  // namespace bsync
