#include "inventory/list_ops.h"

#include <cstdint>
#include <deque>
#include <limits>
#include <string_view>
#include <vector>

#include "inventory/list_entry.h"
#include "inventory/text_index.h"
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
// Kept small: with 100,000 paths the table outgrows the caches.
struct PathTimes {
  TDateTime latestBeforeBad = -std::numeric_limits<TDateTime>::infinity();
  std::uint32_t firstBad = TextIndex::kNone;  // index in b of the first unparsable time
};

}  // namespace

TXArray ListMinus(const TXArray& a, const TXArray& b, Observer& observer) {
  TextIndex inB(b.size());
  ForEachHashed(inB, b.size(), [&](size_t i) -> std::string_view { return b[i]; },
                [&](size_t, std::string_view y, std::uint64_t h) { inB.Add(y, h); });
  TXArray result;
  result.reserve(a.size());
  ForEachHashed(inB, a.size(), [&](size_t i) -> std::string_view { return a[i]; },
                [&](size_t i, std::string_view x, std::uint64_t h) {
                  observer.CountAction();
                  if (inB.Find(x, h) == TextIndex::kNone) result.push_back(a[i]);
                });
  return result;
}

TXArray FilesNewer(const TXArray& a, const TXArray& b, Observer& observer) {
  TextIndex paths(b.size());
  std::vector<PathTimes> byPath;
  byPath.reserve(b.size());
  ForEachHashed(paths, b.size(), [&](size_t i) { return EntryPath(b[i]); },
                [&](size_t i, std::string_view path, std::uint64_t h) {
                  const auto [id, added] = paths.Add(path, h);
                  if (added) byPath.emplace_back();
                  PathTimes& times = byPath[id];
                  if (times.firstBad != TextIndex::kNone) return;  // the walk stops there
                  try {
                    const TDateTime t = StrToDateTime(ModifiedField(b[i]));
                    if (t > times.latestBeforeBad) times.latestBeforeBad = t;
                  } catch (const EConvertError&) {
                    times.firstBad = static_cast<std::uint32_t>(i);
                  }
                });
  TXArray result;
  ForEachHashed(paths, a.size(), [&](size_t i) { return EntryPath(a[i]); },
                [&](size_t i, std::string_view path, std::uint64_t h) {
                  observer.CountAction();
                  const std::string& x = a[i];
                  const std::uint32_t id = paths.Find(path, h);
                  if (id == TextIndex::kNone) {
                    result.push_back(x);  // b lacks it; its time is never looked at
                    return;
                  }
                  const TDateTime tx = StrToDateTime(ModifiedField(x));
                  const PathTimes& times = byPath[id];
                  if (tx <= times.latestBeforeBad) return;
                  if (times.firstBad != TextIndex::kNone)
                    StrToDateTime(ModifiedField(b[times.firstBad]));  // the walk's error
                  result.push_back(x);
                });
  return result;
}

TXArray DirsOfFiles(const TXArray& files) {
  TXArray result;
  std::deque<std::string> prefixes;  // stays in place as it grows, so the index may point in
  TextIndex seen;
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
      if (seen.Find(std::string_view(path).substr(0, end + 1)) != TextIndex::kNone) break;
      missing.push_back(end);
      end = end == 0 ? std::string::npos : path.rfind('/', end - 1);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      prefixes.push_back(path.substr(0, *it + 1));
      seen.Add(prefixes.back());
      result.push_back(prefixes.back());
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
