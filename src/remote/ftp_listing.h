// Parsing of "LIST" output lines into names and folder flags. Servers answer in the Unix "ls -l"
// style or the MS-DOS style; both are understood.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bsync {

struct FtpListEntry {
  std::string name;
  bool isDir = false;
};

// One listing line; nullopt for lines that name no entry ("total 12", blank lines, unknown
// formats). Symbolic links give the link's own name.
std::optional<FtpListEntry> ParseListLine(std::string_view line);

// All lines of a listing (CR LF or LF), without the folder entries "." and "..".
std::vector<FtpListEntry> ParseListing(std::string_view text);

}  // namespace bsync
