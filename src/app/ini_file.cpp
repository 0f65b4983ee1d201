#include "app/ini_file.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "platform/file_io.h"

namespace bsync {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// "[main]" -> "main"; nullopt when the line is no section header.
std::optional<std::string_view> SectionOf(std::string_view line) {
  const auto t = Trim(line);
  if (t.size() >= 2 && t.front() == '[' && t.back() == ']') return Trim(t.substr(1, t.size() - 2));
  return std::nullopt;
}

bool IsComment(std::string_view line) {
  const auto t = Trim(line);
  return t.empty() || t.front() == ';' || t.front() == '#';
}

}  // namespace

IniFile::IniFile(std::filesystem::path path) : path_(std::move(path)) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path_, ec)) return;
  std::string data;
  try {
    data = ReadWholeFile(path_);
  } catch (...) {
    return;
  }
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find_first_of("\r\n", start);
    if (end == std::string::npos) end = data.size();
    lines_.emplace_back(data, start, end - start);
    if (end < data.size() && data[end] == '\r' && end + 1 < data.size() && data[end + 1] == '\n')
      ++end;
    start = end + 1;
  }
}

std::optional<std::string> IniFile::Find(const std::string& section,
                                         const std::string& key) const {
  bool inSection = false;
  for (const auto& line : lines_) {
    if (const auto s = SectionOf(line)) {
      inSection = SameName(*s, section);
      continue;
    }
    if (!inSection || IsComment(line)) continue;
    const size_t eq = line.find('=');
    if (eq != std::string::npos && SameName(Trim(std::string_view(line).substr(0, eq)), key))
      return line.substr(eq + 1);
  }
  return std::nullopt;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& fallback) const {
  auto v = Find(section, key);
  return v ? *v : fallback;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool fallback) const {
  const auto v = Find(section, key);
  if (!v || v->empty()) return fallback;
  return (*v)[0] == '1';
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
  const std::string entry = key + "=" + value;
  bool inSection = false;
  std::optional<size_t> lastInSection;  // line after which a new key goes
  for (size_t i = 0; i < lines_.size(); ++i) {
    const auto& line = lines_[i];
    if (const auto s = SectionOf(line)) {
      inSection = SameName(*s, section);
      if (inSection) lastInSection = i;
      continue;
    }
    if (!inSection) continue;
    if (!IsComment(line)) {
      lastInSection = i;
      const size_t eq = line.find('=');
      if (eq != std::string::npos && SameName(Trim(std::string_view(line).substr(0, eq)), key)) {
        lines_[i] = entry;
        Save();
        return;
      }
    }
  }
  if (lastInSection) {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(*lastInSection) + 1, entry);
  } else {
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + section + "]");
    lines_.push_back(entry);
  }
  Save();
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::Save() const {
  std::string data;
  for (const auto& line : lines_) data += line + "\r\n";
  WriteFileAtomic(path_, data);
}

}  // namespace bsync
