// The list archive: a directory list and a file list in one compressed container file with
// MD5 digests ("ZAR" format). The lists pass through "dirs.txt" and "files.txt" in the archive's
// folder, which are deleted again at the end.
#pragma once

#include <filesystem>
#include <stdexcept>

#include "inventory/xarray.h"

namespace bsync {

// "ZLibError(<code>) <text>": 1 corrupted table of contents, 2 not an archive,
// 3 member digest differs.
class EZLibError : public std::runtime_error {
 public:
  EZLibError(int code, const std::string& text);
  int Code() const { return code_; }

 private:
  int code_;
};

// Writes the archive completely to a temporary file and then moves it into place, so a crash
// never leaves a truncated archive. Throws EInOutError.
void WriteListArchive(const std::filesystem::path& archivePath, const TXArray& dirs,
                      const TXArray& files);

// Replaces dirs and files with the lists of the archive; a list whose member is absent keeps its
// content. Throws EZLibError, EInOutError.
void ReadListArchive(const std::filesystem::path& archivePath, TXArray& dirs, TXArray& files);

}  // namespace bsync
