// Whole-file reads and safe replacement of files.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace bsync {

// Reads the whole file. Throws EInOutError when it cannot be opened or read.
std::string ReadWholeFile(const std::filesystem::path& path);

// Replaces the file with data so that a crash leaves either the old or the new content: writes a
// temporary file in the same folder, syncs it, renames it over the target and syncs the folder.
// Throws EInOutError.
void WriteFileAtomic(const std::filesystem::path& path, std::string_view data);

}  // namespace bsync
