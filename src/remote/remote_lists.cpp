#include "remote/remote_lists.h"

#include "inventory/list_entry.h"
#include "inventory/list_ops.h"
#include "inventory/local_ops.h"
#include "platform/codepage.h"

namespace bsync {

namespace {

const char kNoSpace[] = "ERROR: syncdata need too much space -> stop sync process";

// Entries come from list archives that other clients wrote, so each one is checked before it
// names a remote path: an entry that would lead outside its base folder is skipped.

// Counts operations since the last re-login and logs in again after every n-th.
class ReloginCounter {
 public:
  ReloginCounter(FtpSession& ftp, int n, int count = 0, bool quitFirst = false)
      : ftp_(ftp), n_(n), count_(count), quitFirst_(quitFirst) {}
  void Done() {
    if (++count_ < n_) return;
    ftp_.Stop().ThrowIfStopped();
    if (quitFirst_) ftp_.Client().Logout();
    ftp_.Client().Login();
    count_ = 0;
  }
  int Count() const { return count_; }
  void SetCount(int count) { count_ = count; }

 private:
  FtpSession& ftp_;
  int n_;
  int count_;
  bool quitFirst_;
};

std::string Join(std::string_view base, std::string_view rel) {
  return std::string(base) + "/" + std::string(rel);
}

// Progress bar before the first entry of a transfer or delete list.
void StartProgress(Observer& observer, const TXArray& files) {
  observer.SetProgressMax(static_cast<int>(files.size()) - 1);
  observer.SetProgressPosition(-1);
}

void ShowEntry(Observer& observer, const std::string& prefix, std::string_view relPath,
               int width, size_t index) {
  observer.ShowStatus(prefix + Cp1252ToUtf8(ShortenName(relPath, width)));
  observer.SetProgressPosition(static_cast<int>(index));
}

}  // namespace

void FtpMkdList(FtpSession& ftp, std::string_view remoteBase, int n, const TXArray& dirs) {
  ReloginCounter counter(ftp, n, 0, true);
  for (const std::string& dir : dirs) {
    ftp.Stop().ThrowIfStopped();
    ftp.GetObserver().CountAction();
    if (!IsSafeRelativePath(dir)) continue;
    FtpMkd(ftp, Join(remoteBase, dir));
    counter.Done();
  }
}

void FtpRmdList(FtpSession& ftp, std::string_view remoteBase, int n, const TXArray& dirs) {
  ReloginCounter counter(ftp, n);
  for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
    ftp.Stop().ThrowIfStopped();
    ftp.GetObserver().CountAction();
    if (!IsSafeRelativePath(*it)) continue;
    FtpRmd(ftp, Join(remoteBase, *it));
    counter.Done();
  }
}

int FtpDeleteTree(FtpSession& ftp, std::string_view path, int n, int count) {
  std::vector<FtpListEntry> entries;
  bool listed = false;
  for (int attempt = 0; attempt < 6 && !listed; ++attempt) {
    ftp.Stop().ThrowIfStopped();
    listed = ftp.Client().List(RemotePath(path), entries);
  }
  if (!listed) AbortRun(ftp, "session to server broken stop sync");
  Observer& observer = ftp.GetObserver();
  observer.CountAction();
  std::vector<std::string> folders, files;
  for (const FtpListEntry& entry : entries)
    (entry.isDir ? folders : files).push_back(Join(path, entry.name));

  ReloginCounter counter(ftp, n, count);
  for (const std::string& file : files) {
    FtpDelete(ftp, file);
    observer.CountAction();
    counter.Done();
  }
  for (const std::string& folder : folders) {
    int below = FtpDeleteTree(ftp, folder, n, counter.Count());
    counter.SetCount(below);
    FtpRmd(ftp, folder);
    observer.CountAction();
    counter.Done();
  }
  return counter.Count();
}

TXArray FtpUploadList(FtpSession& ftp, const std::filesystem::path& localBase,
                      std::string_view remoteBase, int n, const TXArray& files) {
  TXArray notStored;
  Observer& observer = ftp.GetObserver();
  StartProgress(observer, files);
  double used = 0, limit = 0;
  // Without a readable quota report the server's 552 on STOR is the only limit.
  if (FtpQuota(ftp, used, limit) && SumSizes(files) > limit - used - 20)
    AbortRun(ftp, kNoSpace);
  ReloginCounter counter(ftp, n);
  for (size_t i = 0; i < files.size(); ++i) {
    ftp.Stop().ThrowIfStopped();
    observer.CountAction();
    std::string_view rel = EntryPath(files[i]);
    ShowEntry(observer, "upload -> ", rel, 30, i);
    std::uint8_t result = FtpPutFile(ftp, localBase, remoteBase, rel);
    if (result == kPutServerFull) AbortRun(ftp, kNoSpace);
    if (result == kPutNotStored) XArrAdd(notStored, files[i]);
    counter.Done();
  }
  return notStored;
}

TXArray FtpDownloadList(FtpSession& ftp, const std::filesystem::path& localBase,
                        std::string_view remoteBase, int n, const TXArray& files) {
  Observer& observer = ftp.GetObserver();
  StartProgress(observer, files);
  ReloginCounter counter(ftp, n);
  const std::string remote = RemotePath(remoteBase);
  TXArray fetched;
  for (size_t i = 0; i < files.size(); ++i) {
    ftp.Stop().ThrowIfStopped();
    observer.CountAction();
    std::string_view rel = EntryPath(files[i]);
    ShowEntry(observer, "download -> ", rel, 30, i);
    if (FtpGetFile(ftp, localBase, remote, rel)) fetched.push_back(files[i]);
    counter.Done();
  }
  return fetched;
}

void FtpMoveList(FtpSession& ftp, std::string_view fromDir, std::string_view toDir, int n,
                 const TXArray& files) {
  ReloginCounter counter(ftp, n);
  for (const std::string& entry : files) {
    ftp.Stop().ThrowIfStopped();
    ftp.GetObserver().CountAction();
    std::string_view rel = EntryPath(entry);
    if (!IsSafeRelativePath(rel)) continue;
    FtpRename(ftp, Join(fromDir, rel), Join(toDir, rel));
    counter.Done();
  }
}

void FtpDeleteList(FtpSession& ftp, std::string_view remoteBase, int n, const TXArray& files) {
  Observer& observer = ftp.GetObserver();
  StartProgress(observer, files);
  ReloginCounter counter(ftp, n);
  for (size_t i = 0; i < files.size(); ++i) {
    ftp.Stop().ThrowIfStopped();
    observer.CountAction();
    std::string_view rel = EntryPath(files[i]);
    ShowEntry(observer, "delete on space -> ", rel, 20, i);
    if (!IsSafeRelativePath(rel)) continue;
    FtpDelete(ftp, Join(remoteBase, rel));
    counter.Done();
  }
}

}  // namespace bsync
