// A small INI reader and writer. Values are raw bytes after the first "=" (no quoting, no
// escaping, no trimming, so a disguised password keeps its blanks); section and key names match
// case-insensitively. Lines, comments and other sections are kept as they are. Every write is
// saved at once, by replacing the file through a temporary file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace bsync {

class IniFile {
 public:
  // Reads the file if it exists; a missing file reads as empty. Throws nothing.
  explicit IniFile(std::filesystem::path path);

  const std::filesystem::path& Path() const { return path_; }

  // The value, or nullopt when the key is absent.
  std::optional<std::string> Find(const std::string& section, const std::string& key) const;
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& fallback) const;
  // "1" and anything starting with "1" is true, any other non-empty value false, empty gives
  // the fallback.
  bool ReadBool(const std::string& section, const std::string& key, bool fallback) const;

  // Sets the value and saves the file at once (creating it). Throws EInOutError.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteBool(const std::string& section, const std::string& key, bool value);

 private:
  void Save() const;

  std::filesystem::path path_;
  std::vector<std::string> lines_;  // without line ends
};

}  // namespace bsync
