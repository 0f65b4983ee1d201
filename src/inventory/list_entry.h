// Directory and file entries.
//
// A directory entry is a folder path relative to the scanned root, components separated by "\",
// with a trailing "\": "Photos\2011\". A file entry is four fields, each followed by ";":
//   Photos\2011\img1.jpg;24.12.2011 17:05:09;26.12.2011 09:14:00;0,0234375;
// relative path, creation time, last-write time (local times) and size in megabytes.
// Entries are Windows-1252 text; nothing in them is escaped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/datetime.h"

namespace bsync {

struct FileEntryFields {
  std::string relPath, created, modified, size;
};

// The four fields without their ";". Each field is the text before the next ";"; a missing ";"
// gives an empty field and leaves the rest unchanged: "a\b.txt;x;" -> ("a\b.txt", "x", "", "").
void SplitFileEntry(std::string_view entry, std::string& relPath, std::string& created,
                    std::string& modified, std::string& size);
FileEntryFields SplitFileEntry(std::string_view entry);

// The relative path field alone (text before the first ";"), without copying.
std::string_view EntryPath(std::string_view entry);

// "name;created;modified;size;" with the fixed text forms of dates and sizes.
std::string MakeFileEntry(std::string_view relPath, TDateTime created, TDateTime modified,
                          std::uint64_t bytes);

// True when the relative path (either separator) stays below its root: no empty, "." or ".."
// component, no leading separator, no drive, no control character. A trailing separator is
// allowed (directory entries). Entries can come from the server, so they are untrusted.
bool IsSafeRelativePath(std::string_view relPath);

}  // namespace bsync
