// A list as a text file: one entry a line, each ended by CR LF.
#pragma once

#include <filesystem>

#include "inventory/xarray.h"

namespace bsync {

// Creates or replaces the file. Throws EInOutError.
void WriteListFile(const std::filesystem::path& path, const TXArray& list);

// If the file exists: empties the list and fills it with the file's lines (CR, LF or CR LF);
// a final line end adds no empty entry. A missing file leaves the list unchanged.
// Throws EInOutError when the file exists but cannot be read.
void ReadListFile(const std::filesystem::path& path, TXArray& list);

// The same on text in memory.
std::string ListToText(const TXArray& list);
TXArray TextToList(std::string_view text);

}  // namespace bsync
