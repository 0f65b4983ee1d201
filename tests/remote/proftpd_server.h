// ProFTPD as a test fixture: a private configuration, a virtual user (AuthUserFile, no PAM) with
// a home folder in a temporary directory, mod_tls with a certificate made at start-up, and
// mod_quotatab with the file backend. It runs in inetd mode, one process per connection, under
// systemd-socket-activate on a free loopback port: the standalone daemon pauses after each
// session, which would slow every re-login. Needs root (chroot and the user's uid 0).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "remote/child_process.h"
#include "support/temp_dir.h"

namespace bsync::test {

struct ProftpdOptions {
  bool tls = true;
  bool ipv6 = false;
  int quotaLimitMb = 1000;  // hard upload limit for the user
};

class ProftpdServer {
 public:
  static bool Available() {
    return ::geteuid() == 0 && ::access("/usr/sbin/proftpd", X_OK) == 0 &&
           ::access("/usr/bin/systemd-socket-activate", X_OK) == 0;
  }

  explicit ProftpdServer(ProftpdOptions options = {}) : options_(options), home_(dir_ / "home") {
    namespace fs = std::filesystem;
    fs::create_directories(home_);
    const std::string d = dir_.path().string();
    Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout '" + d + "/key.pem' -out '" + d +
        "/cert.pem' -days 2 -subj /CN=localhost 2>/dev/null");
    std::string hash = Output("openssl passwd -1 secret");
    WritePrivate(dir_ / "passwd", "tester:" + hash + ":0:0::" + home_.string() + ":/bin/sh\n");
    WritePrivate(dir_ / "group", "tester:x:0:\n");
    const std::string limit = d + "/limit.tab", tally = d + "/tally.tab";
    Run("ftpquota --create-table --type=limit --table-path='" + limit + "' >/dev/null");
    Run("ftpquota --create-table --type=tally --table-path='" + tally + "' >/dev/null");
    Run("ftpquota --add-record --type=limit --name=tester --quota-type=user --bytes-upload=" +
        std::to_string(options.quotaLimitMb) +
        " --units=Mb --limit-type=hard --table-path='" + limit + "' >/dev/null");
    Run("ftpquota --add-record --type=tally --name=tester --quota-type=user --table-path='" +
        tally + "' >/dev/null");
    WriteConfig();
    port_ = std::to_string(FreePort());
    const std::string listen =
        options.ipv6 ? "[::1]:" + port_ : "127.0.0.1:" + port_;
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/systemd-socket-activate", "-l", listen, "--inetd",
                                 "-a", "/usr/sbin/proftpd", "-c", d + "/proftpd.conf", "-n"},
        d + "/activate.log");
    WaitListening();
  }

  const std::string& Port() const { return port_; }
  std::string Host() const { return options_.ipv6 ? "::1" : "127.0.0.1"; }
  const std::filesystem::path& Home() const { return home_; }
  const std::filesystem::path& Dir() const { return dir_.path(); }
  // The server's own logs, to print when a test fails.
  std::string Logs() const {
    std::string text;
    for (const char* name : {"system.log", "tls.log", "activate.log"}) {
      std::ifstream in(dir_ / name);
      text += std::string("--- ") + name + "\n" +
              std::string((std::istreambuf_iterator<char>(in)), {});
    }
    return text;
  }

 private:
  static void Run(const std::string& command) {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
  }
  static std::string Output(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) throw std::runtime_error("failed: " + command);
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }
  // ProFTPD refuses world-readable user files.
  static void WritePrivate(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path) << text;
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write);
  }
  int FreePort() const {
    int family = options_.ipv6 ? AF_INET6 : AF_INET;
    int fd = ::socket(family, SOCK_STREAM, 0);
    sockaddr_storage ss{};
    socklen_t len;
    if (options_.ipv6) {
      auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
      a->sin6_family = AF_INET6;
      a->sin6_addr = in6addr_loopback;
      len = sizeof *a;
    } else {
      auto* a = reinterpret_cast<sockaddr_in*>(&ss);
      a->sin_family = AF_INET;
      a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      len = sizeof *a;
    }
    ::bind(fd, reinterpret_cast<sockaddr*>(&ss), len);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
    int port = options_.ipv6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port)
                             : ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    ::close(fd);
    return port;
  }
  void WaitListening() const {
    std::ifstream log;
    for (int i = 0; i < 200; ++i) {
      std::ifstream in(dir_ / "activate.log");
      std::string text((std::istreambuf_iterator<char>(in)), {});
      if (text.find("Listening on") != std::string::npos) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    throw std::runtime_error("proftpd socket did not come up");
  }
  void WriteConfig() const {
    const std::string d = dir_.path().string();
    std::ofstream conf(dir_ / "proftpd.conf");
    conf << "ServerType inetd\n"
            "ServerName \"brindle test\"\n"
            "DefaultServer on\n"
            "UseIPv6 on\n"
            "ModulePath /usr/lib/proftpd\n"
            "LoadModule mod_tls.c\n"
            "LoadModule mod_quotatab.c\n"
            "LoadModule mod_quotatab_file.c\n"
            "User root\nGroup root\nRootLogin on\n"
            "WtmpLog off\nRequireValidShell off\nAuthPAM off\n"
            "AuthOrder mod_auth_file.c\n"
         << "AuthUserFile " << d << "/passwd\n"
         << "AuthGroupFile " << d << "/group\n"
         << "DefaultRoot ~\n"
         << "PidFile " << d << "/proftpd.pid\n"
         << "ScoreboardFile " << d << "/proftpd.scoreboard\n"
         << "SystemLog " << d << "/system.log\n"
         << "DelayEngine off\nUseReverseDNS off\nTransferLog none\n"
            "AllowOverwrite on\nUmask 022\n"
            "<IfModule mod_tls.c>\n"
         << "  TLSEngine " << (options_.tls ? "on" : "off") << "\n"
         << "  TLSRequired off\n"
         << "  TLSECCertificateFile " << d << "/cert.pem\n"
         << "  TLSECCertificateKeyFile " << d << "/key.pem\n"
         << "  TLSVerifyClient off\n"
         << "  TLSLog " << d << "/tls.log\n"
         << "</IfModule>\n"
            "<IfModule mod_quotatab.c>\n"
            "  QuotaEngine on\n"
            "  QuotaDisplayUnits Mb\n"
         << "  QuotaLimitTable file:" << d << "/limit.tab\n"
         << "  QuotaTallyTable file:" << d << "/tally.tab\n"
         << "</IfModule>\n";
  }

  ProftpdOptions options_;
  TempDir dir_;
  std::filesystem::path home_;
  std::string port_;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace bsync::test
