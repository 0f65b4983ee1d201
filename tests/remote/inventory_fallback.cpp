// Minimal stand-ins for the inventory functions the remote layer calls, compiled into the remote
// tests only while the core has no inventory sources of its own (see CMakeLists.txt). They do
// just enough for the remote tests; the inventory's own tests cover the real ones.
#include <fstream>

#include "inventory/list_archive.h"
#include "inventory/list_entry.h"
#include "inventory/list_file.h"
#include "inventory/list_ops.h"
#include "inventory/local_ops.h"
#include "platform/codepage.h"
#include "platform/datetime.h"

namespace bsync {

std::string_view EntryPath(std::string_view entry) { return entry.substr(0, entry.find(';')); }

std::string ShortenName(std::string_view text, int width) {
  if (width < 5) return "...";
  if (static_cast<int>(text.size()) <= width) return std::string(text);
  int head = static_cast<int>(width * 0.2 + 0.5) - 3;
  if (head < 0) head = 0;
  int tail = width - head;
  return std::string(text.substr(0, head)) + "..." + std::string(text.substr(text.size() - tail));
}

std::optional<std::filesystem::path> LocalPathOf(const std::filesystem::path& root,
                                                 std::string_view relPath) {
  std::string rel = Cp1252ToUtf8(relPath);
  for (char& c : rel)
    if (c == '\\') c = '/';
  std::filesystem::path p(rel);
  if (rel.empty() || p.is_absolute()) return std::nullopt;
  for (const auto& part : p)
    if (part == "..") return std::nullopt;
  return root / p;
}

bool DeleteLocalFile(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::remove(path, ec);
}

double SumSizes(const TXArray& files) {
  double sum = 0;
  for (const std::string& entry : files) {
    std::string_view rest = entry;
    for (int i = 0; i < 3; ++i) rest.remove_prefix(rest.find(';') + 1);
    sum += StrToFloat(rest.substr(0, rest.find(';')));
  }
  return sum;
}

void WriteListFile(const std::filesystem::path& path, const TXArray& list) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const std::string& line : list) out << line << "\r\n";
}

void WriteListArchive(const std::filesystem::path& archivePath, const TXArray&, const TXArray&) {
  std::ofstream(archivePath, std::ios::binary | std::ios::trunc) << "empty list archive";
}

}  // namespace bsync
