#include "sync/sync_run.h"

#include <system_error>
#include <unordered_set>

#include "app/ini_file.h"
#include "app/settings.h"
#include "inventory/list_archive.h"
#include "inventory/list_entry.h"
#include "inventory/list_ops.h"
#include "inventory/local_ops.h"
#include "inventory/scan.h"
#include "platform/codepage.h"
#include "remote/remote_layout.h"
#include "remote/remote_lists.h"
#include "sync/server_lock.h"

namespace bsync {
namespace fs = std::filesystem;

namespace {

void RemoveFile(const fs::path& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

// The entries of all whose path is not among done's; counts no actions.
TXArray EntriesNotIn(const TXArray& all, const TXArray& done) {
  std::unordered_set<std::string_view> paths;
  for (const auto& e : done) paths.insert(EntryPath(e));
  TXArray rest;
  for (const auto& e : all)
    if (!paths.count(EntryPath(e))) rest.push_back(e);
  return rest;
}

}  // namespace

// Forwards to the user's observer, and ends the run once a stop was requested: every list
// operation reports each entry, so a stop takes effect before the next entry.
class tsync::StoppingObserver : public Observer {
 public:
  StoppingObserver(Observer& target, StopToken stop) : target_(target), stop_(std::move(stop)) {}
  void ShowStatus(const std::string& text) override {
    stop_.ThrowIfStopped();
    target_.ShowStatus(text);
  }
  void CountAction() override {
    stop_.ThrowIfStopped();
    target_.CountAction();
  }
  void ResetActionCount() override { target_.ResetActionCount(); }
  void SetProgressMax(int max) override {
    stop_.ThrowIfStopped();
    target_.SetProgressMax(max);
  }
  void SetProgressPosition(int position) override {
    stop_.ThrowIfStopped();
    target_.SetProgressPosition(position);
  }
  void SetSyncEnabled(bool enabled) override {
    stop_.ThrowIfStopped();
    target_.SetSyncEnabled(enabled);
  }

 private:
  Observer& target_;
  StopToken stop_;
};

tsync::tsync(RunConfig config, RunShared& shared, Observer& observer, SleepFunction sleep)
    : config_(std::move(config)),
      shared_(shared),
      userObserver_(observer),
      observer_(std::make_unique<StoppingObserver>(observer, stop_)),
      ftp_(std::make_unique<FtpSession>(*observer_, stop_, std::move(sleep))) {
  ftp_->SetTimeouts(config_.replyTimeoutMs, config_.connectTimeoutMs);
}

tsync::~tsync() = default;

void tsync::Stop() { ftp_->Interrupt(); }

RunResult tsync::Execute() {
  try {
    Body();
    return {RunOutcome::Finished, {}};
  } catch (const RunStopped&) {
    return {RunOutcome::Stopped, {}};
  } catch (const RunAborted& aborted) {
    if (stop_.StopRequested()) return {RunOutcome::Stopped, {}};
    ResetAfterEnd(aborted.what());
    return {RunOutcome::Aborted, aborted.what()};
  } catch (const std::exception& error) {
    // A corrupt list archive, a time text that does not parse, a file-system error: the run
    // ends here, says why, and the next run comes as after an abort.
    if (stop_.StopRequested()) return {RunOutcome::Stopped, {}};
    ResetAfterEnd(error.what());
    return {RunOutcome::Failed, error.what()};
  }
}

void tsync::ResetAfterEnd(const std::string& message) {
  try {
    FtpDisconnect(*ftp_);
  } catch (...) {
    // Logging out of a broken session may fail; the session is closed either way.
  }
  userObserver_.ShowStatus(message);
  userObserver_.SetProgressPosition(-1);
  userObserver_.SetProgressMax(1);
  shared_.nextSyncMinutes = kSyncIntervalMinutes;
  userObserver_.SetSyncEnabled(true);
  shared_.syncRunning = false;
}

void tsync::Body() {
  Start();
  FtpSession& ftp = *ftp_;

  Step();
  observer_->ShowStatus("connect to server");
  FtpConnect(ftp, config_.ftpHost, config_.ftpPort, Utf8ToCp1252Lossy(config_.ftpUser),
             Utf8ToCp1252Lossy(config_.ftpPassword));
  observer_->ShowStatus("connected");

  if (!FtpEnsureLayout(ftp, settingsDir_)) observer_->ShowStatus("can not create server struct");
  FtpVersionCheck(ftp, settingsDir_, "", config_.clientVersion, cuid_);

  if (!HaveLastLists()) {
    FirstSyncDownloadPass();
  } else {
    RegularDownloadPass();
    LocalDeletePass();
  }
  if (!HaveLastLists()) UploadPass(true);
  if (HaveLastLists()) UploadPass(false);
  NormalEnd();
}

void tsync::Start() {
  shared_.syncRunning = true;
  observer_->ResetActionCount();
  observer_->SetSyncEnabled(false);
  observer_->ShowStatus("prepare syncronistation");

  settingsDir_ = config_.settingsDir;
  syncDir_ = config_.syncDir;
  const fs::path lastArchive = settingsDir_ / "o.dflsync";
  fs::create_directories(settingsDir_);
  Step();
  if (!fs::exists(syncDir_)) {
    fs::create_directories(syncDir_);
    RemoveFile(lastArchive);
    newFolder_ = true;
  }

  const fs::path settingsFile = SettingsFilePath(settingsDir_);
  if (!fs::exists(settingsFile)) {
    std::error_code ec;
    fs::copy_file(config_.programDir / kSettingsFileName, settingsFile, ec);
    RemoveFile(lastArchive);
  }
  cuid_ = config_.cuid;
  haveSettings_ = fs::exists(settingsFile);
  if (haveSettings_) {
    IniFile ini(settingsFile);
    const std::string lastAcc = ini.ReadString(kMainSection, "lastacc", "");
    // Another FTP account than at the last run: start over with a first sync.
    if (lastAcc.empty() || Rot47(lastAcc) != Utf8ToCp1252Lossy(config_.ftpUser))
      RemoveFile(lastArchive);
    // A recreated sync folder makes this installation a new client.
    if (newFolder_) ini.WriteString(kMainSection, "cuid", MakeClientId(NowLocal()));
    cuid_ = ini.ReadString(kMainSection, "cuid", "");
    if (cuid_.empty()) {
      ini.WriteString(kMainSection, "cuid", MakeClientId(NowLocal()));
      cuid_ = ini.ReadString(kMainSection, "cuid", "");
    }
  }
  // Without a settings file the identifier lives only in memory; it must never be empty, since
  // it keeps this client's staging folders apart from the other clients'.
  if (cuid_.empty()) cuid_ = MakeClientId(NowLocal());
  stage_ = settingsDir_ / "tmp" / cuid_;
  remoteStage_ = "/tmp/" + cuid_;
}

bool tsync::HaveLastLists() const {
  Step();
  return fs::exists(settingsDir_ / "o.dflsync");
}

void tsync::ReadServerLists(const fs::path& archive) {
  Step();
  ReadListArchive(archive, serverDirs_, serverFiles_);
}

void tsync::ReadLastLists() {
  Step();
  ReadListArchive(settingsDir_ / "o.dflsync", lastDirs_, lastFiles_);
}

void tsync::Scan() {
  Step();
  ScanTree(syncDir_, localDirs_, localFiles_, *observer_);
}

void tsync::FetchFromServer(bool statusFirst) {
  // What the server lists and this folder lacks, or holds only in an older version.
  const TXArray fetchDirs = ListMinus(serverDirs_, localDirs_, *observer_);
  const TXArray fetchFiles = FilesNewer(serverFiles_, localFiles_, *observer_);
  const TXArray fetchFileDirs = DirsOfFiles(fetchFiles);
  Step();
  EnsureLocalDir(stage_);
  CreateLocalDirs(stage_, fetchFileDirs, stop_);
  const TXArray fetched =
      FtpDownloadList(*ftp_, stage_, "/files", config_.transfersPerSession, fetchFiles);
  // A failed download may have left an empty or partial file: it must never replace the user's
  // file. Only what arrived is moved; the rest is removed and fetched again by the next run.
  DeleteLocalFiles(stage_, EntriesNotIn(fetchFiles, fetched), stop_);
  if (statusFirst) observer_->ShowStatus("start afterload procedures");
  CreateLocalDirs(syncDir_, fetchDirs, stop_);
  if (!statusFirst) observer_->ShowStatus("start afterload procedures");
  MoveFiles(stage_, syncDir_, fetched, stop_);
  RemoveLocalDirs(stage_, fetchFileDirs, stop_);
  Step();
  RemoveLocalDir(stage_);
}

void tsync::FirstSyncDownloadPass() {
  LockContext lock{*ftp_, settingsDir_, cuid_, shared_};
  WaitForServerList(lock);
  observer_->ShowStatus("generating filelists");
  ReadServerLists(settingsDir_ / "f.dflsync");
  Scan();
  FetchFromServer(false);
}

void tsync::RegularDownloadPass() {
  LockContext lock{*ftp_, settingsDir_, cuid_, shared_};
  WaitForServerList(lock);
  observer_->ShowStatus("generating filelists");
  ReadServerLists(settingsDir_ / "f.dflsync");
  ReadLastLists();
  Scan();
  // What was deleted locally since the last run (or is older locally than recorded) is fetched
  // again only when the server's copy is newer than the one that was deleted.
  const TXArray goneDirs = ListMinus(lastDirs_, localDirs_, *observer_);
  const TXArray goneFiles = FilesNewer(lastFiles_, localFiles_, *observer_);
  serverDirs_ = ListMinus(serverDirs_, goneDirs, *observer_);
  serverFiles_ = FilesNewer(serverFiles_, goneFiles, *observer_);
  FetchFromServer(true);
}

void tsync::LocalDeletePass() {
  observer_->ShowStatus("generating filelists");
  ReadServerLists(settingsDir_ / "f.dflsync");
  ReadLastLists();
  Scan();
  const TXArray addedDirs = ListMinus(localDirs_, lastDirs_, *observer_);
  const TXArray addedFiles = FilesNewer(localFiles_, lastFiles_, *observer_);
  const TXArray unlistedDirs = ListMinus(localDirs_, serverDirs_, *observer_);
  const TXArray unlistedFiles = FilesNewer(localFiles_, serverFiles_, *observer_);
  // Known at the last run, untouched since, and no longer on the server: another client deleted
  // it.
  const TXArray dropDirs = ListMinus(unlistedDirs, addedDirs, *observer_);
  const TXArray dropFiles = FilesNewer(unlistedFiles, addedFiles, *observer_);
  observer_->ShowStatus("delete local files and dirs");
  DeleteLocalFiles(syncDir_, dropFiles, stop_);
  RemoveLocalDirs(syncDir_, dropDirs, stop_);
}

void tsync::UploadPass(bool firstSync) {
  FtpSession& ftp = *ftp_;
  const int dirOps = config_.dirOpsPerSession;
  LockContext lock{ftp, settingsDir_, cuid_, shared_};
  WaitForServerList(lock);
  observer_->ShowStatus("generating filelists");
  ReadServerLists(settingsDir_ / "f.dflsync");
  Scan();
  const TXArray putDirs = ListMinus(localDirs_, serverDirs_, *observer_);
  const TXArray putFiles = FilesNewer(localFiles_, serverFiles_, *observer_);
  const TXArray putFileDirs = DirsOfFiles(putFiles);

  FtpMkd(ftp, remoteStage_);
  observer_->ShowStatus("housekeeping");
  FtpDeleteTree(ftp, remoteStage_, dirOps, 0);
  observer_->ShowStatus("prepare space");
  FtpMkdList(ftp, remoteStage_, dirOps, putFileDirs);
  const TXArray failedFiles =
      FtpUploadList(ftp, syncDir_, remoteStage_, config_.transfersPerSession, putFiles);

  TakeServerLock(lock);
  // From here on the lock is held: only renames and the new list until it is released.
  if (firstSync) {
    observer_->ShowStatus("generating filelists");
    FtpGetFile(ftp, settingsDir_, "", "f.dflsyncback");
  } else {
    FtpGetFile(ftp, settingsDir_, "", "f.dflsyncback");
    observer_->ShowStatus("generating filelists");
  }
  ReadServerLists(settingsDir_ / "f.dflsyncback");

  // What no other client has put there meanwhile in the same or a newer version.
  const TXArray missingDirs = ListMinus(putDirs, serverDirs_, *observer_);
  const TXArray missingFiles = FilesNewer(putFiles, serverFiles_, *observer_);
  FtpMkdList(ftp, "/files", dirOps, missingDirs);
  if (firstSync) {
    observer_->ShowStatus("start afterload procedures");
    FtpMoveList(ftp, remoteStage_, "/files", dirOps, missingFiles);
  } else {
    FtpMoveList(ftp, remoteStage_, "/files", dirOps, missingFiles);
    observer_->ShowStatus("start afterload procedures");
  }
  FtpDeleteList(ftp, remoteStage_, firstSync ? config_.transfersPerSession : dirOps,
                FilesNewer(putFiles, missingFiles, *observer_));

  const TXArray keepDirs = localDirs_;
  const TXArray keepFiles = localFiles_;
  localFiles_ = FilesNewer(localFiles_, failedFiles, *observer_);  // failed uploads stay out
  // The future last lists. A refused upload stays out of them too: recorded there, the next run
  // would take the file for one that another client deleted, and delete it locally.
  Step();
  WriteListArchive(settingsDir_ / ("o." + cuid_ + "dflsync"), localDirs_, localFiles_);
  Step();
  const TXArray existDirs = FilterExistingDirs(syncDir_, localDirs_);
  const TXArray vanishedDirs = ListMinus(localDirs_, existDirs, *observer_);
  if (firstSync) {
    FtpRmdList(ftp, "/files", dirOps, vanishedDirs);
    serverDirs_ = ListMinus(serverDirs_, keepDirs, *observer_);
    serverFiles_ = FilesNewer(serverFiles_, keepFiles, *observer_);
  } else {
    serverDirs_ = ListMinus(serverDirs_, keepDirs, *observer_);
    serverFiles_ = FilesNewer(serverFiles_, keepFiles, *observer_);
    FtpRmdList(ftp, "/files", dirOps, vanishedDirs);
  }

  TXArray goneDirs, goneFiles;
  if (!firstSync) {
    ReadLastLists();
    goneDirs = ListMinus(lastDirs_, keepDirs, *observer_);
    goneFiles = FilesNewer(lastFiles_, keepFiles, *observer_);
    serverDirs_ = ListMinus(serverDirs_, goneDirs, *observer_);
    serverFiles_ = FilesNewer(serverFiles_, goneFiles, *observer_);
  }

  // The new server lists: the local state plus what the server has that this client neither has
  // nor deleted.
  TXArray newDirs = existDirs;
  XArrAddAll(newDirs, serverDirs_);
  TXArray newFiles = localFiles_;
  XArrAddAll(newFiles, serverFiles_);
  const std::string newArchive = "f." + cuid_ + "dflsync";
  Step();
  WriteListArchive(settingsDir_ / newArchive, newDirs, newFiles);
  FtpPutFile(ftp, settingsDir_, "", newArchive);

  if (!firstSync) {
    FtpDeleteList(ftp, "/files", dirOps, goneFiles);
    FtpRmdList(ftp, "/files", dirOps, goneDirs);
  }
  ReleaseServerLock(lock);

  FtpRmdList(ftp, remoteStage_, dirOps, putFileDirs);
  FtpRmd(ftp, remoteStage_);
  Step();
  MoveLocalFile(settingsDir_ / ("o." + cuid_ + "dflsync"), settingsDir_ / "o.dflsync");
}

void tsync::NormalEnd() {
  Step();
  FtpDisconnect(*ftp_);
  shared_.nextSyncMinutes = config_.syncIntervalMinutes;
  if (haveSettings_) {
    try {
      IniFile(SettingsFilePath(settingsDir_))
          .WriteString(kMainSection, "lastacc", Rot47(Utf8ToCp1252Lossy(config_.ftpUser)));
    } catch (const std::exception&) {
      // Without "lastacc" the next run is a first sync, which deletes nothing.
    }
  }
  observer_->ShowStatus("syncronistation successfull -> next sync in " +
                        std::to_string(shared_.nextSyncMinutes.load()) + " minutes");
  observer_->SetSyncEnabled(true);
  shared_.syncRunning = false;
}

}  // namespace bsync
