// The scriptable FTP server (scripted_ftpd.py on pyftpdlib) as a test fixture: its own home
// folder, a rules file the test rewrites, and the transcript of every command it received.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "remote/child_process.h"
#include "support/temp_dir.h"

namespace bsync::test {

class ScriptedServer {
 public:
  ScriptedServer()
      : home_(dir_ / "home"),
        rules_(dir_ / "rules.json"),
        transcript_(dir_ / "transcript.txt") {
    std::filesystem::create_directories(home_);
    SetRules("{}");
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/python3",
                                 BRINDLESYNC_SOURCE_DIR "/tests/remote/scripted_ftpd.py",
                                 "--root", home_.string(), "--user", "tester", "--password",
                                 "secret", "--rules", rules_.string(), "--transcript",
                                 transcript_.string()},
        (dir_ / "server.log").string());
    std::string line = process_->ReadLine(15000);
    if (line.rfind("PORT ", 0) != 0) throw std::runtime_error("scripted server did not start");
    port_ = line.substr(5);
  }

  const std::string& Port() const { return port_; }
  const std::filesystem::path& Home() const { return home_; }
  const std::filesystem::path& Dir() const { return dir_.path(); }

  // Replaces the rules; the server rereads them at its next command and resets its counters.
  void SetRules(const std::string& json) {
    // Written whole under a temporary name and renamed, so the server never reads half a file.
    auto temp = rules_;
    temp += ".new";
    std::ofstream(temp, std::ios::trunc)
        << "{\"generation\": " << ++generation_ << ", \"script\": " << json << "}";
    std::filesystem::rename(temp, rules_);
  }
  void ClearTranscript() { std::ofstream(transcript_, std::ios::trunc); }
  // Every command line received since the last clear, in order.
  std::vector<std::string> Transcript() const {
    std::vector<std::string> lines;
    std::ifstream in(transcript_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The transcript without the login and transfer set-up commands.
  std::vector<std::string> Commands() const {
    static const char* noise[] = {"USER", "PASS", "AUTH", "PBSZ", "PROT", "TYPE", "EPSV", "PASV",
                                  "ALLO", "QUIT"};
    std::vector<std::string> out;
    for (const std::string& line : Transcript()) {
      std::string verb = line.substr(0, line.find(' '));
      bool skip = false;
      for (const char* n : noise) skip = skip || verb == n;
      if (!skip) out.push_back(line);
    }
    return out;
  }
  int Count(const std::string& verb) const {
    int n = 0;
    for (const std::string& line : Transcript())
      if (line.substr(0, line.find(' ')) == verb) ++n;
    return n;
  }

 private:
  TempDir dir_;
  std::filesystem::path home_, rules_, transcript_;
  std::unique_ptr<ChildProcess> process_;
  std::string port_;
  int generation_ = 0;
};

}  // namespace bsync::test
