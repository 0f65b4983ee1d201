#include "inventory/list_ops.h"

#include <functional>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "inventory/list_entry.h"
#include "platform/datetime.h"
#include "platform/errors.h"

namespace bsync {
namespace {

// The modified field of a file entry (third field), without copying.
std::string_view ModifiedField(std::string_view entry) {
  for (int i = 0; i < 2; ++i) {
    const size_t semi = entry.find(';');
    if (semi == std::string_view::npos) return {};
    entry.remove_prefix(semi + 1);
  }
  const size_t semi = entry.find(';');
  return semi == std::string_view::npos ? std::string_view{} : entry.substr(0, semi);
}

// What the entries of b with one path say about an entry of a with that path. Walking them in
// order, an entry whose time is not older than x's makes x up to date and ends the walk; an entry
// whose time does not parse ends it with an error. So only the times before the first unparsable
// one matter, and of those only the latest.
struct PathTimes {
  std::optional<TDateTime> latestBeforeBad;
  std::optional<std::string_view> firstBad;  // the first modified text that does not parse
};

// Lets a set of strings be searched with a string_view, without building a string.
struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

}  // namespace

TXArray ListMinus(const TXArray& a, const TXArray& b, Observer& observer) {
  std::unordered_set<std::string_view> inB;
  inB.reserve(b.size());
  for (const auto& y : b) inB.insert(y);
  TXArray result;
  for (const auto& x : a) {
    observer.CountAction();
    if (!inB.contains(x)) result.push_back(x);
  }
  return result;
}

TXArray FilesNewer(const TXArray& a, const TXArray& b, Observer& observer) {
  std::unordered_map<std::string_view, PathTimes> byPath;
  byPath.reserve(b.size());
  for (const auto& y : b) {
    PathTimes& times = byPath[EntryPath(y)];
    if (times.firstBad) continue;  // the walk never gets past it
    const std::string_view text = ModifiedField(y);
    try {
      const TDateTime t = StrToDateTime(text);
      if (!times.latestBeforeBad || t > *times.latestBeforeBad) times.latestBeforeBad = t;
    } catch (const EConvertError&) {
      times.firstBad = text;
    }
  }
  TXArray result;
  for (const auto& x : a) {
    observer.CountAction();
    const auto found = byPath.find(EntryPath(x));
    if (found == byPath.end()) {
      result.push_back(x);  // b lacks it; its time is never looked at
      continue;
    }
    const TDateTime tx = StrToDateTime(ModifiedField(x));
    const PathTimes& times = found->second;
    if (times.latestBeforeBad && tx <= *times.latestBeforeBad) continue;
    if (times.firstBad) StrToDateTime(*times.firstBad);  // throws the error the walk meets
    result.push_back(x);
  }
  return result;
}

TXArray DirsOfFiles(const TXArray& files) {
  TXArray result;
  std::unordered_set<std::string, TextHash, std::equal_to<>> seen;
  std::string path;
  std::vector<size_t> missing;
  for (const auto& entry : files) {
    path.assign(EntryPath(entry));
    for (auto& ch : path)
      if (ch == '\\') ch = '/';
    // Every prefix ends at a "/". A prefix already seen implies all shorter ones were seen with
    // it, so look from the longest down and add only the missing longer ones, shortest first.
    size_t end = path.rfind('/');
    if (end == std::string::npos) continue;
    missing.clear();
    while (end != std::string::npos) {
      if (seen.contains(std::string_view(path).substr(0, end + 1))) break;
      missing.push_back(end);
      end = end == 0 ? std::string::npos : path.rfind('/', end - 1);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      std::string prefix = path.substr(0, *it + 1);
      seen.insert(prefix);
      result.push_back(std::move(prefix));
    }
  }
  return result;
}

double SumSizes(const TXArray& files) {
  double sum = 0;
  for (const auto& entry : files) {
    sum += StrToFloat(SplitFileEntry(entry).size);
  }
  return sum;
}

}  // namespace bsync
