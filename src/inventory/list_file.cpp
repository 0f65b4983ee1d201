#include "inventory/list_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/errors.h"
#include "platform/file_io.h"

namespace bsync {

std::string ListToText(const TXArray& list) {
  size_t total = 0;
  for (const auto& entry : list) total += entry.size() + 2;
  std::string text;
  text.reserve(total);
  for (const auto& entry : list) {
    text += entry;
    text += "\r\n";
  }
  return text;
}

TXArray TextToList(std::string_view text) {
  TXArray list;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    list.emplace_back(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r') ++end;
    if (end < text.size() && text[end] == '\n') ++end;
    start = end;
  }
  return list;
}

void WriteListFile(const std::filesystem::path& path, const TXArray& list) {
  // A plain write, not a replace-by-rename: list files are working files, and callers that keep
  // lists across runs keep them in a list archive, which is replaced safely.
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "wb"));
  if (!file) throw EInOutError("cannot create " + path.string() + ": " + std::strerror(errno));
  const std::string text = ListToText(list);
  const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  const bool closed = std::fclose(file.release()) == 0;
  if (!written || !closed) throw EInOutError("cannot write " + path.string());
}

void ReadListFile(const std::filesystem::path& path, TXArray& list) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return;
  list = TextToList(ReadWholeFile(path));
}

}  // namespace bsync
