// Clients of one FTP account for sync scenarios: each has its own profile folder (settings folder
// and sync folder) and runs real sync runs against a real FTP server on loopback.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "inventory/list_archive.h"
#include "platform/datetime.h"
#include "platform/file_times.h"
#include "support/temp_dir.h"
#include "sync/sync_run.h"

namespace bsync::test {

// 1 June 2024 12:00:00 local time plus the given seconds: fixed times, so that "newer" in a
// scenario never depends on how fast the test runs.
inline TDateTime At(int seconds) {
  return EncodeDateTime({2024, 6, 1, 12, 0, 0, 0}) + seconds * kOneSecond;
}

struct ClientOptions {
  std::string port;
  std::string user = "tester";
  std::string password = "secret";
  int pauseMs = 0;  // the lock's pauses; 0 keeps scenarios fast
};

class SyncClient {
  struct HookObserver : bsync::Observer {
    HookObserver(RecordingObserver& target, std::function<void(const std::string&, tsync&)> hook)
        : target(target), hook(std::move(hook)) {}
    void ShowStatus(const std::string& text) override {
      target.ShowStatus(text);
      if (hook) hook(text, *run);
    }
    void CountAction() override { target.CountAction(); }
    RecordingObserver& target;
    std::function<void(const std::string&, tsync&)> hook;
    tsync* run = nullptr;
  };

 public:
  explicit SyncClient(ClientOptions options) : options_(std::move(options)) {}

  std::filesystem::path SyncDir() const { return profile_ / "brindlesync"; }
  std::filesystem::path SettingsDir() const { return profile_ / "bsc"; }
  std::filesystem::path Path(const std::string& rel) const { return SyncDir() / rel; }
  ClientOptions& Options() { return options_; }

  void Write(const std::string& rel, const std::string& content, int secondsModified) {
    WriteFile(Path(rel), content);
    SetFileTimes(Path(rel), At(secondsModified), At(secondsModified));
  }
  std::string Read(const std::string& rel) const { return ReadFile(Path(rel)); }
  bool Exists(const std::string& rel) const { return std::filesystem::exists(Path(rel)); }
  void Remove(const std::string& rel) { std::filesystem::remove_all(Path(rel)); }
  TDateTime Modified(const std::string& rel) const {
    LocalFileTimes t;
    GetLocalFileTimes(Path(rel), t);
    return t.modified;
  }

  RunConfig Config() const {
    RunConfig c;
    c.settingsDir = SettingsDir();
    c.syncDir = SyncDir();
    c.programDir = BRINDLESYNC_BIN_DIR;
    c.ftpHost = "127.0.0.1";
    c.ftpPort = options_.port;
    c.ftpUser = options_.user;
    c.ftpPassword = options_.password;
    c.replyTimeoutMs = 10000;
    c.connectTimeoutMs = 5000;
    return c;
  }

  SleepFunction Sleep() const {
    const int pause = options_.pauseMs;
    return [pause](int) {
      if (pause > 0) RealSleep(pause);
    };
  }

  // Called with each status text as the run shows it, and the run itself (to stop it).
  using StatusHook = std::function<void(const std::string&, tsync&)>;

  RunResult Sync(StatusHook hook = {}) {
    RunShared shared;
    HookObserver observer(observer_, hook);
    tsync run(Config(), shared, observer, Sleep());
    observer.run = &run;
    RunResult r = run.Execute();
    lastCuid_ = run.Cuid();
    // A stopped run leaves the reset to whoever stopped it.
    if (r.outcome != RunOutcome::Stopped) {
      EXPECT_FALSE(shared.syncRunning.load()) << r.message;
    }
    return r;
  }

  // The files below the sync folder with their content.
  std::map<std::string, std::string> Tree() const {
    std::map<std::string, std::string> tree;
    if (!std::filesystem::exists(SyncDir())) return tree;
    for (const auto& e : std::filesystem::recursive_directory_iterator(SyncDir())) {
      const std::string rel = std::filesystem::relative(e.path(), SyncDir()).string();
      tree[rel] = e.is_directory() ? std::string("<dir>") : ReadFile(e.path());
    }
    return tree;
  }

  RecordingObserver& Observer() { return observer_; }
  const std::string& LastCuid() const { return lastCuid_; }

 private:
  ClientOptions options_;
  TempDir profile_;
  RecordingObserver observer_;
  std::string lastCuid_;
};

// The lists of a list archive on the server's disk.
inline void ReadServerArchive(const std::filesystem::path& archive, TXArray& dirs, TXArray& files) {
  TempDir work;
  std::filesystem::copy_file(archive, work / "a.dflsync");
  ReadListArchive(work / "a.dflsync", dirs, files);
}

// The relative paths of a file list.
inline std::vector<std::string> PathsOf(const TXArray& files) {
  std::vector<std::string> paths;
  for (const auto& f : files) paths.push_back(f.substr(0, f.find(';')));
  return paths;
}

}  // namespace bsync::test
