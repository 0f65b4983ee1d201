// TXArray: a growable array of texts with value semantics, indexed from 0. It carries every
// directory list, file list and folder list. Entries are Windows-1252 text.
#pragma once

#include <string>
#include <vector>

namespace bsync {

using TXArray = std::vector<std::string>;

inline void XArrAdd(TXArray& a, std::string text) { a.push_back(std::move(text)); }

// Removes the text at index; later texts move down by one. An index out of range is ignored.
inline void XArrDelete(TXArray& a, size_t index) {
  if (index < a.size()) a.erase(a.begin() + static_cast<std::ptrdiff_t>(index));
}

inline void XArrClear(TXArray& a) { a.clear(); }

inline void XArrAddAll(TXArray& a, const TXArray& b) { a.insert(a.end(), b.begin(), b.end()); }

}  // namespace bsync
