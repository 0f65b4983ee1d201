#include "remote/ftp_listing.h"

#include <cctype>

namespace bsync {

namespace {

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Splits off the next blank-separated field; returns false when none is left.
bool NextField(std::string_view& rest, std::string_view& field) {
  size_t start = 0;
  while (start < rest.size() && IsBlank(rest[start])) ++start;
  if (start == rest.size()) return false;
  size_t end = start;
  while (end < rest.size() && !IsBlank(rest[end])) ++end;
  field = rest.substr(start, end - start);
  rest = rest.substr(end);
  return true;
}

// The name after exactly one blank following the last fixed field: names may begin with or
// hold blanks, so they are taken whole.
std::string_view NameAfterField(std::string_view rest) {
  if (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
  return rest;
}

// "drwxr-xr-x 2 user group 4096 Mar  7 14:05 name" and variants without a group column.
std::optional<FtpListEntry> ParseUnix(std::string_view line) {
  char kind = line.front();
  if (std::string_view("-dlpscbD").find(kind) == std::string_view::npos) return std::nullopt;
  std::string_view rest = line, field;
  int count = 0;
  // Fields: perms, links, owner, [group], size, month, day, year-or-time. Find the month by
  // searching for "<size> <Mon> <day> <time|year>" so both 8- and 9-column forms work.
  std::string_view before[12];
  while (count < 12 && NextField(rest, field)) {
    before[count++] = field;
    if (count >= 5) {
      // Candidate: before[count-4] size, [count-3] month, [count-2] day, [count-1] time/year.
      std::string_view size = before[count - 4], month = before[count - 3],
                       day = before[count - 2], when = before[count - 1];
      bool sizeOk = !size.empty() && IsDigit(size.front());
      bool monthOk = month.size() == 3 && std::isalpha(static_cast<unsigned char>(month[0]));
      bool dayOk = !day.empty() && day.size() <= 2 && IsDigit(day.front());
      bool whenOk = when.find(':') != std::string_view::npos ||
                    (when.size() == 4 && IsDigit(when[0]));
      if (sizeOk && monthOk && dayOk && whenOk) {
        std::string_view name = NameAfterField(rest);
        if (name.empty()) return std::nullopt;
        if (kind == 'l') {
          size_t arrow = name.find(" -> ");
          if (arrow != std::string_view::npos) name = name.substr(0, arrow);
        }
        return FtpListEntry{std::string(name), kind == 'd' || kind == 'D'};
      }
    }
  }
  return std::nullopt;
}

// "03-07-12  02:05PM       <DIR>          name" or "03-07-12  02:05PM   1234 name".
std::optional<FtpListEntry> ParseDos(std::string_view line) {
  std::string_view rest = line, date, time, sizeOrDir;
  if (!NextField(rest, date) || !NextField(rest, time) || !NextField(rest, sizeOrDir))
    return std::nullopt;
  if (date.size() < 8 || !IsDigit(date[0]) || time.find(':') == std::string_view::npos)
    return std::nullopt;
  bool isDir = sizeOrDir == "<DIR>";
  if (!isDir && !IsDigit(sizeOrDir.front())) return std::nullopt;
  size_t start = 0;
  while (start < rest.size() && IsBlank(rest[start])) ++start;
  std::string_view name = rest.substr(start);
  if (name.empty()) return std::nullopt;
  return FtpListEntry{std::string(name), isDir};
}

}  // namespace

std::optional<FtpListEntry> ParseListLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (line.empty()) return std::nullopt;
  if (IsDigit(line.front())) return ParseDos(line);
  return ParseUnix(line);
}

std::vector<FtpListEntry> ParseListing(std::string_view text) {
  std::vector<FtpListEntry> entries;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    auto entry = ParseListLine(line);
    if (!entry) continue;
    if (entry->isDir && (entry->name == "." || entry->name == "..")) continue;
    entries.push_back(std::move(*entry));
  }
  return entries;
}

}  // namespace bsync
