// One sync run: brings the sync folder and the account's "/files" into agreement in both
// directions and publishes the new server list. It never lists the server's folders; it compares
// three pairs of lists:
//
//   local lists   <- scan of the sync folder
//   server lists  <- "/f.dflsync", the archive every client rewrites at the end of its run
//   last lists    <- "o.dflsync" in the settings folder, the state this client last agreed on
//
//   start -> connect -> layout -> version check
//     no "o.dflsync":  first-sync download  -> first-sync upload -> regular upload
//     "o.dflsync":     regular download -> local deletions       -> regular upload
//   -> normal end
//
// Downloads go through the staging folder <settings>/tmp/<cuid>; uploads through "/tmp/<cuid>" on
// the server and are moved into "/files" under the server lock, which is held only for renames
// and for publishing the new list.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "inventory/xarray.h"
#include "platform/observer.h"
#include "platform/stop_token.h"
#include "remote/ftp_session.h"
#include "sync/run_state.h"

namespace bsync {

inline constexpr int kSyncIntervalMinutes = 15;

// What a run works with; fixed before the run starts.
struct RunConfig {
  std::filesystem::path settingsDir;  // <profile>/bsc: settings file and working files
  std::filesystem::path syncDir;      // <profile>/brindlesync: the synchronised folder
  std::filesystem::path programDir;  // holds the settings template "bsc.ini"
  std::string ftpHost, ftpPort, ftpUser, ftpPassword;  // UTF-8
  std::string cuid;  // the client identifier known before the run (used without a settings file)
  int clientVersion = 55;
  int dirOpsPerSession = 50;
  int transfersPerSession = 30;
  int syncIntervalMinutes = kSyncIntervalMinutes;
  int replyTimeoutMs = 300000;
  int connectTimeoutMs = 30000;
};

enum class RunOutcome {
  Finished,  // normal end
  Aborted,   // ended by AbortRun; the message is the status shown
  Failed,    // ended by an unexpected error; its message is the status shown
  Stopped,   // stopped at once from outside; nothing more was shown or done
};

struct RunResult {
  RunOutcome outcome = RunOutcome::Finished;
  std::string message;
};

// The run. Execute runs on the calling thread (the run's thread); Stop may be called from any
// other thread while the object exists.
class tsync {
 public:
  tsync(RunConfig config, RunShared& shared, Observer& observer,
        SleepFunction sleep = RealSleep);
  ~tsync();
  tsync(const tsync&) = delete;
  tsync& operator=(const tsync&) = delete;

  RunResult Execute();
  // Stop at once: the run takes no further step, local or remote. The lock is not released.
  void Stop();

  // The client identifier the run used (valid after Execute).
  const std::string& Cuid() const { return cuid_; }

 private:
  class StoppingObserver;

  void Body();
  void Start();
  void FirstSyncDownloadPass();
  void RegularDownloadPass();
  void LocalDeletePass();
  void UploadPass(bool firstSync);
  // Downloads what the server has new or newer through the staging folder and moves what
  // arrived into the sync folder. statusFirst: the regular pass shows its status before it
  // creates the folders, the first sync after.
  void FetchFromServer(bool statusFirst);
  void NormalEnd();
  void ResetAfterEnd(const std::string& message);

  void ReadServerLists(const std::filesystem::path& archive);
  void ReadLastLists();
  void Scan();
  bool HaveLastLists() const;
  void Step() const { stop_.ThrowIfStopped(); }

  RunConfig config_;
  RunShared& shared_;
  Observer& userObserver_;
  StopToken stop_;
  std::unique_ptr<StoppingObserver> observer_;
  std::unique_ptr<FtpSession> ftp_;

  std::filesystem::path settingsDir_, syncDir_, stage_;
  std::string cuid_, remoteStage_;
  bool newFolder_ = false;
  bool haveSettings_ = false;
  TXArray localDirs_, localFiles_, serverDirs_, serverFiles_, lastDirs_, lastFiles_;
};

}  // namespace bsync
