// Local file operations driven by lists. A root is an absolute folder; the local path of an entry
// is root joined with the entry's relative path ("\" and "/" alike), converted to UTF-8.
// Entries that would lead outside the root are refused and left out of every result.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "inventory/xarray.h"
#include "platform/stop_token.h"

namespace bsync {

// "/" -> "\".
std::string FixSlashes(std::string_view path);

// A shortened name for status lines: "..." when width < 5; the text when it fits; otherwise the
// first round(width * 0.2) - 3 (at least 0) characters, "...", and the last characters, so the
// result is width + 3 long. ShortenName(40 chars, 30) = 3 chars + "..." + last 27.
std::string ShortenName(std::string_view text, int width);

// root / relPath for a safe relative path (either separator, Windows-1252); nullopt otherwise.
std::optional<std::filesystem::path> LocalPathOf(const std::filesystem::path& root,
                                                 std::string_view relPath);

// Single-path helpers; none throws.
// Moves the file, replacing the target in one step; creates the target's folders first. When
// the source is missing or the move fails, the target is left as it was.
bool MoveLocalFile(const std::filesystem::path& source, const std::filesystem::path& target);
void EnsureLocalDir(const std::filesystem::path& path);
bool RemoveLocalDir(const std::filesystem::path& path);  // only an empty folder
bool DeleteLocalFile(const std::filesystem::path& path);
bool LocalDirExists(const std::filesystem::path& path);

// List-driven operations. Each tests stop before every entry.
// Moves each file from fromRoot to the same place below toRoot and sets its recorded last-write
// time; returns the entries moved. Throws EConvertError on a time that does not parse.
TXArray MoveFiles(const std::filesystem::path& fromRoot, const std::filesystem::path& toRoot,
                  const TXArray& files, const StopToken& stop = {});
TXArray DeleteLocalFiles(const std::filesystem::path& root, const TXArray& files,
                         const StopToken& stop = {});
void CreateLocalDirs(const std::filesystem::path& root, const TXArray& dirs,
                     const StopToken& stop = {});
// Removes each empty folder, last entry first; returns the entries removed, in that order.
TXArray RemoveLocalDirs(const std::filesystem::path& root, const TXArray& dirs,
                        const StopToken& stop = {});
TXArray FilterExistingDirs(const std::filesystem::path& root, const TXArray& dirs);

}  // namespace bsync
