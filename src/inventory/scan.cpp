#include "inventory/scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "inventory/list_entry.h"
#include "platform/codepage.h"
#include "platform/errors.h"

namespace bsync {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// A subfolder found by one folder listing: its name on disk and as list text.
struct Subfolder {
  std::string diskName;  // UTF-8
  std::string listName;  // Windows-1252
};

// The list text of a name on disk, or nothing when an entry cannot carry it: a name that
// Windows-1252 cannot represent, or that holds ";" (the field end), "\" (the separator), ":"
// (a drive to the other clients, so every list operation refuses it) or a control character
// (which would break the line structure of list files).
std::optional<std::string> ListName(std::string_view diskName) {
  for (const char ch : diskName) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == ';' || ch == '\\' || ch == ':' || c < 0x20 || c == 0x7f) return std::nullopt;
  }
  return Utf8ToCp1252(diskName);
}

[[noreturn]] void FailList(const std::filesystem::path& folder, int err) {
  throw EInOutError("cannot list " + folder.string() + ": " + std::strerror(err));
}

// Lists one folder level. Subfolders come back with both names; file entries get the bare list
// name as path field. A folder that no longer exists adds nothing; any other failure to list it
// throws, because treating an unreadable folder as empty would make its files look deleted.
void ListFolder(const std::filesystem::path& folder, std::vector<Subfolder>& subfolders,
                TXArray& fileEntries, Observer& observer, ScanSkips* skips) {
  DirHandle dir(::opendir(folder.c_str()));
  if (!dir) {
    if (errno == ENOENT || errno == ENOTDIR) return;
    FailList(folder, errno);
  }
  const int dirFd = ::dirfd(dir.get());
  for (;;) {
    errno = 0;
    const dirent* d = ::readdir(dir.get());
    if (!d) {
      if (errno != 0) FailList(folder, errno);
      break;
    }
    const std::string_view diskName = d->d_name;
    if (diskName.empty() || diskName.front() == '.') continue;  // ".", ".." and hidden names

    // Symbolic links are not followed into folders (a link to a parent would never end); a link
    // to a file counts as that file. Sockets, pipes and devices are no files to sync.
    bool isDir = d->d_type == DT_DIR;
    bool needStat = d->d_type != DT_DIR;
    struct statx sx {};
    if (needStat) {
      const bool isLink = d->d_type == DT_LNK;
      if (::statx(dirFd, d->d_name, AT_STATX_SYNC_AS_STAT,
                  STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_BTIME, &sx) != 0) {
        if (errno == ENOENT || errno == ELOOP) continue;  // vanished, or a dangling link
        FailList(folder / d->d_name, errno);
      }
      isDir = S_ISDIR(sx.stx_mode);
      if (isDir && isLink) continue;
      if (!isDir && !S_ISREG(sx.stx_mode)) continue;
      if (isDir && d->d_type == DT_UNKNOWN) {
        // File systems without d_type: check again without following a link.
        struct stat st {};
        if (::fstatat(dirFd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
          continue;
      }
    }

    std::optional<std::string> listName = ListName(diskName);
    if (!listName) {
      if (skips) ++skips->count;
      continue;
    }
    observer.CountAction();
    if (isDir) {
      subfolders.push_back({std::string(diskName), std::move(*listName)});
      continue;
    }
    const TDateTime modified = UtcToLocal(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    const TDateTime created = (sx.stx_mask & STATX_BTIME)
                                  ? UtcToLocal(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
                                  : modified;
    fileEntries.push_back(MakeFileEntry(*listName, created, modified, sx.stx_size));
  }
}

}  // namespace

void ScanFolder(const std::filesystem::path& folder, TXArray& subfolders, TXArray& fileEntries,
                Observer& observer, ScanSkips* skips) {
  std::vector<Subfolder> subs;
  ListFolder(folder, subs, fileEntries, observer, skips);
  for (auto& s : subs) subfolders.push_back(std::move(s.listName));
}

void ScanTree(const std::filesystem::path& root, TXArray& dirs, TXArray& files, Observer& observer,
              ScanSkips* skips) {
  dirs.clear();
  files.clear();
  // A missing or unreadable root is no empty folder: an empty scan would read as "everything
  // was deleted here".
  struct stat st {};
  if (::stat(root.c_str(), &st) != 0) FailList(root, errno);
  if (!S_ISDIR(st.st_mode)) FailList(root, ENOTDIR);

  // Breadth first: a queue of folders, each with its path on disk and its directory entry.
  struct Pending {
    std::filesystem::path disk;
    std::string entry;  // "" for the root, else "a\b\"
  };
  std::vector<Pending> queue;
  queue.push_back({root, {}});
  std::vector<Subfolder> subs;
  TXArray entries;
  for (size_t p = 0; p < queue.size(); ++p) {
    // Copies: pushing below may move the queue's storage.
    const std::filesystem::path disk = queue[p].disk;
    const std::string entry = queue[p].entry;
    if (p != 0) dirs.push_back(entry);
    subs.clear();
    entries.clear();
    ListFolder(disk, subs, entries, observer, skips);
    for (auto& s : subs) queue.push_back({disk / s.diskName, entry + s.listName + '\\'});
    for (auto& e : entries) files.push_back(entry + e);
  }
}

}  // namespace bsync
