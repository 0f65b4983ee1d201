#include "inventory/local_ops.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "inventory/list_entry.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/file_times.h"

namespace bsync {
namespace fs = std::filesystem;

namespace {

// A file that can be moved: anything but a folder (a link counts as the link itself).
bool IsMovableFile(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// Moves across file systems: a copy beside the target, renamed over it in one step, then the
// source goes. The target is never left half written.
bool CopyThenRename(const fs::path& source, const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  fs::path temp = target;
  temp += ".move" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
  std::error_code ec;
  if (!fs::copy_file(source, temp, fs::copy_options::overwrite_existing, ec)) {
    fs::remove(temp, ec);
    return false;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    fs::remove(temp, ec);
    return false;
  }
  ::unlink(source.c_str());
  return true;
}

}  // namespace

std::string FixSlashes(std::string_view path) {
  std::string fixed(path);
  std::replace(fixed.begin(), fixed.end(), '/', '\\');
  return fixed;
}

std::string ShortenName(std::string_view text, int width) {
  if (width < 5) return "...";
  if (text.size() <= static_cast<size_t>(width)) return std::string(text);
  // width * 0.2 rounded: a fifth of width never ends in exactly one half.
  const int head = std::max(0, (width + 2) / 5 - 3);
  const int tail = width - head;
  std::string out(text.substr(0, static_cast<size_t>(head)));
  out += "...";
  out += text.substr(text.size() - static_cast<size_t>(tail));
  return out;
}

std::optional<fs::path> LocalPathOf(const fs::path& root, std::string_view relPath) {
  if (!IsSafeRelativePath(relPath)) return std::nullopt;
  std::string rel = Cp1252ToUtf8(relPath);
  std::replace(rel.begin(), rel.end(), '\\', '/');
  if (rel.back() == '/') rel.pop_back();
  return root / rel;
}

bool MoveLocalFile(const fs::path& source, const fs::path& target) {
  if (!IsMovableFile(source)) return false;
  EnsureLocalDir(target.parent_path());
  // rename replaces the target in one step: it holds either its old or its new content.
  if (::rename(source.c_str(), target.c_str()) == 0) return true;
  if (errno == EXDEV) return CopyThenRename(source, target);
  return false;
}

void EnsureLocalDir(const fs::path& path) {
  std::error_code ec;
  fs::create_directories(path, ec);  // a failure shows later, when the folder is used
}

bool RemoveLocalDir(const fs::path& path) { return ::rmdir(path.c_str()) == 0; }

bool DeleteLocalFile(const fs::path& path) { return ::unlink(path.c_str()) == 0; }

bool LocalDirExists(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TXArray MoveFiles(const fs::path& fromRoot, const fs::path& toRoot, const TXArray& files,
                  const StopToken& stop) {
  TXArray moved;
  for (const auto& entry : files) {
    stop.ThrowIfStopped();
    const FileEntryFields f = SplitFileEntry(entry);
    const auto from = LocalPathOf(fromRoot, f.relPath);
    const auto to = LocalPathOf(toRoot, f.relPath);
    if (!from || !to) continue;
    const bool ok = MoveLocalFile(*from, *to);
    if (ok) moved.push_back(entry);
    // Parsed even after a failed move, so a damaged entry ends the operation either way.
    const TDateTime created = StrToDateTime(f.created);
    const TDateTime modified = StrToDateTime(f.modified);
    // Only a file that was moved gets the entry's times; otherwise the target holds something
    // else (or nothing), and the times would misdescribe it.
    if (ok) SetFileTimes(*to, created, modified);
  }
  return moved;
}

TXArray DeleteLocalFiles(const fs::path& root, const TXArray& files, const StopToken& stop) {
  TXArray deleted;
  for (const auto& entry : files) {
    stop.ThrowIfStopped();
    const auto path = LocalPathOf(root, EntryPath(entry));
    if (path && DeleteLocalFile(*path)) deleted.push_back(entry);
  }
  return deleted;
}

void CreateLocalDirs(const fs::path& root, const TXArray& dirs, const StopToken& stop) {
  for (const auto& entry : dirs) {
    stop.ThrowIfStopped();
    if (const auto path = LocalPathOf(root, entry)) EnsureLocalDir(*path);
  }
}

TXArray RemoveLocalDirs(const fs::path& root, const TXArray& dirs, const StopToken& stop) {
  TXArray removed;
  for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
    stop.ThrowIfStopped();
    const auto path = LocalPathOf(root, *it);
    if (path && RemoveLocalDir(*path)) removed.push_back(*it);
  }
  return removed;
}

TXArray FilterExistingDirs(const fs::path& root, const TXArray& dirs) {
  TXArray existing;
  for (const auto& entry : dirs) {
    const auto path = LocalPathOf(root, entry);
    if (path && LocalDirExists(*path)) existing.push_back(entry);
  }
  return existing;
}

}  // namespace bsync
