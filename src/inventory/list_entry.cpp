#include "inventory/list_entry.h"

namespace bsync {
namespace {

// The text before the next ";" of rest; rest then loses it and the ";". Without a ";" the field
// is empty and rest stays as it is.
std::string_view NextField(std::string_view& rest) {
  const size_t semi = rest.find(';');
  if (semi == std::string_view::npos) return {};
  const std::string_view field = rest.substr(0, semi);
  rest.remove_prefix(semi + 1);
  return field;
}

bool IsSeparator(char ch) { return ch == '\\' || ch == '/'; }

}  // namespace

void SplitFileEntry(std::string_view entry, std::string& relPath, std::string& created,
                    std::string& modified, std::string& size) {
  std::string_view rest = entry;
  relPath = NextField(rest);
  created = NextField(rest);
  modified = NextField(rest);
  size = NextField(rest);
}

FileEntryFields SplitFileEntry(std::string_view entry) {
  FileEntryFields f;
  SplitFileEntry(entry, f.relPath, f.created, f.modified, f.size);
  return f;
}

std::string_view EntryPath(std::string_view entry) {
  std::string_view rest = entry;
  return NextField(rest);
}

std::string MakeFileEntry(std::string_view relPath, TDateTime created, TDateTime modified,
                          std::uint64_t bytes) {
  std::string entry;
  entry.reserve(relPath.size() + 56);
  entry.append(relPath);
  entry += ';';
  entry += DateTimeToStr(created);
  entry += ';';
  entry += DateTimeToStr(modified);
  entry += ';';
  entry += SizeToMbText(bytes);
  entry += ';';
  return entry;
}

bool IsSafeRelativePath(std::string_view relPath) {
  if (relPath.empty() || IsSeparator(relPath.front())) return false;
  // A trailing separator marks a directory entry; it ends the last component, it is not one.
  if (IsSeparator(relPath.back())) relPath.remove_suffix(1);
  size_t start = 0;
  for (;;) {
    size_t end = start;
    while (end < relPath.size() && !IsSeparator(relPath[end])) {
      const auto ch = static_cast<unsigned char>(relPath[end]);
      // ":" names a drive or a stream on the other clients' systems; control characters would
      // break the line structure of list files.
      if (ch < 0x20 || ch == 0x7f || ch == ':') return false;
      ++end;
    }
    const std::string_view component = relPath.substr(start, end - start);
    if (component.empty() || component == "." || component == "..") return false;
    if (end == relPath.size()) return true;
    start = end + 1;
  }
}

}  // namespace bsync
