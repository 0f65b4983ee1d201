// File times as the lists record them: local date-times.
#pragma once

#include <filesystem>

#include "platform/datetime.h"

namespace bsync {

struct LocalFileTimes {
  TDateTime created = 0;   // birth time where the file system has one, else the last-write time
  TDateTime modified = 0;  // last-write time
};

// Throws nothing; false when the file's times cannot be read.
bool GetLocalFileTimes(const std::filesystem::path& path, LocalFileTimes& out);

// Sets the last-write time (local date-time, milliseconds kept) and leaves the access time.
// Linux cannot set a creation time, so created is not applied. True when the time was set.
bool SetFileTimes(const std::filesystem::path& path, TDateTime created, TDateTime modified);

}  // namespace bsync
