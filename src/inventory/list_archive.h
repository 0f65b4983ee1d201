// The list archive: a directory list and a file list in one compressed container file with
// MD5 digests ("ZAR" format). The members "dirs.txt" and "files.txt" hold the exact bytes of the
// two list files. Both directions work in memory and leave the archive's folder alone.
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
// content. Every member is decompressed and checked against its digest; members other than the
// two lists are not kept. On any error both lists stay as they were. Throws EZLibError, and
// EInOutError for a file that cannot be read or a table of contents that ends inside an entry
// ("Stream read error").
void ReadListArchive(const std::filesystem::path& archivePath, TXArray& dirs, TXArray& files);

}  // namespace bsync
