#pragma once

#include <cstdint>
#include <utility>

#include "storage/bitmap.h"
#include "storage/internal/bucket_access.h"

// The two ways the operations on two bitmaps walk their bucket maps in key order: one
// side's keys looked up in the other, and both sides merged.
namespace veltrane::storage::internal {

// Looks keys up in one bucket map in ascending order, resuming where the previous
// lookup stopped. Neighbouring keys are usually near each other, so a few steps
// forward are tried before a full map search; a walk over both maps thus costs
// their combined size at most, and far less when one map is much smaller.
template <typename Map>
class AscendingLookup {
 public:
  explicit AscendingLookup(Map& map) : map(map), next(map.begin()) {}

  // The first bucket whose key is not below `key`.
  auto seek(std::uint32_t key) {
    for (int step = 0; step < kStepsBeforeSearch; ++step) {
      if (next == map.end() || next->first >= key) return next;
      ++next;
    }
    next = map.lower_bound(key);
    return next;
  }

  // The bucket with `key`, or nullptr.
  auto* find(std::uint32_t key) {
    const auto found = seek(key);
    return found != map.end() && found->first == key ? &found->second : nullptr;
  }

  auto end() const { return map.end(); }

 private:
  static constexpr int kStepsBeforeSearch = 4;

  Map& map;
  decltype(std::declval<Map&>().begin()) next;
};

// Calls visit(key, mine, theirs) for every key that either map has, ascending, with
// the two buckets of that key; the side that lacks the key gets nullptr.
template <typename Visit>
void forEachKeyOfEither(const Bitmap::Buckets& mine, const Bitmap::Buckets& theirs, Visit&& visit) {
  auto a = mine.begin();
  auto b = theirs.begin();
  while (a != mine.end() || b != theirs.end()) {
    if (b == theirs.end() || (a != mine.end() && a->first < b->first)) {
      visit(a->first, &a->second, nullptr);
      ++a;
    } else if (a == mine.end() || b->first < a->first) {
      visit(b->first, nullptr, &b->second);
      ++b;
    } else {
      visit(a->first, &a->second, &b->second);
      ++a;
      ++b;
    }
  }
}

}  // namespace veltrane::storage::internal
