#include "platform/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace bsync {

bool GetLocalFileTimes(const std::filesystem::path& path, LocalFileTimes& out) {
  struct statx sx {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_MTIME | STATX_BTIME, &sx) != 0) return false;
  out.modified = UtcToLocal(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  out.created = (sx.stx_mask & STATX_BTIME) ? UtcToLocal(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
                                            : out.modified;
  return true;
}

bool SetFileTimes(const std::filesystem::path& path, TDateTime /*created*/, TDateTime modified) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // access time stays
  times[1] = LocalToUtc(modified);
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

}  // namespace bsync
