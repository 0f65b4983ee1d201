// An open-addressing hash index of texts that gives each distinct text a dense number (0, 1, 2,
// ...). The texts are not copied: each must outlive the index and stay where it is.
//
// Lists of 100,000 entries make the table larger than the CPU caches, so a lookup costs a
// memory access. Slots are 8 bytes (a hash tag and the number) to keep the table small, and
// callers that know their texts ahead hash them in one pass and prefetch the slot of a later
// text while they look up the current one (ForEachHashed).
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

namespace bsync {

class TextIndex {
 public:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  explicit TextIndex(size_t expected = 16) { Rehash(Capacity(expected)); }

  static std::uint64_t Hash(std::string_view text) { return std::hash<std::string_view>{}(text); }

  void Prefetch(std::uint64_t hash) const { __builtin_prefetch(&slots_[hash & mask_]); }

  // The number of text (whose Hash is hash); kNone when it was never added.
  std::uint32_t Find(std::string_view text, std::uint64_t hash) const {
    const auto tag = Tag(hash);
    for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (s.id == kNone) return kNone;
      if (s.tag == tag && texts_[s.id] == text) return s.id;
    }
  }
  std::uint32_t Find(std::string_view text) const { return Find(text, Hash(text)); }

  // The number of text, adding it if new; second is true when it was added.
  std::pair<std::uint32_t, bool> Add(std::string_view text, std::uint64_t hash) {
    const auto tag = Tag(hash);
    size_t i = hash & mask_;
    for (;; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (s.id == kNone) break;
      if (s.tag == tag && texts_[s.id] == text) return {s.id, false};
    }
    const auto id = static_cast<std::uint32_t>(texts_.size());
    texts_.push_back(text);
    hashes_.push_back(hash);
    slots_[i] = {tag, id};
    if (texts_.size() * 2 > slots_.size()) Rehash(slots_.size() * 2);
    return {id, true};
  }
  std::pair<std::uint32_t, bool> Add(std::string_view text) { return Add(text, Hash(text)); }

  size_t Size() const { return texts_.size(); }

 private:
  struct Slot {
    std::uint32_t tag = 0;
    std::uint32_t id = kNone;
  };

  static std::uint32_t Tag(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32); }

  static size_t Capacity(size_t expected) {
    size_t c = 16;
    while (c < expected * 2) c *= 2;
    return c;
  }

  void Rehash(size_t capacity) {
    slots_.assign(capacity, Slot{});
    mask_ = capacity - 1;
    for (std::uint32_t id = 0; id < hashes_.size(); ++id) {
      size_t i = hashes_[id] & mask_;
      while (slots_[i].id != kNone) i = (i + 1) & mask_;
      slots_[i] = {Tag(hashes_[id]), id};
    }
  }

  std::vector<Slot> slots_;
  std::vector<std::string_view> texts_;
  std::vector<std::uint64_t> hashes_;
  size_t mask_ = 0;
};

// Calls fn(i, key, hash) for i = 0..count-1 in order, where key = keyOf(i). All keys are hashed
// first; the slot of the key a few places ahead is prefetched before fn runs.
template <typename KeyOf, typename Fn>
void ForEachHashed(const TextIndex& index, size_t count, KeyOf keyOf, Fn fn) {
  constexpr size_t kAhead = 8;
  std::vector<std::uint64_t> hashes(count);
  for (size_t i = 0; i < count; ++i) hashes[i] = TextIndex::Hash(keyOf(i));
  for (size_t i = 0; i < count; ++i) {
    if (i + kAhead < count) index.Prefetch(hashes[i + kAhead]);
    fn(i, keyOf(i), hashes[i]);
  }
}

}  // namespace bsync
