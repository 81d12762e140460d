#pragma once

#include <cstdint>
#include <iterator>

#include "storage/bitmap.h"

// The bucket lookups every operation uses: find, which never changes the map, and
// get-or-create, which inserts an empty bucket for a missing key; and the walk to the
// nearest bucket that holds a position.
namespace veltrane::storage::internal {

using Bucket = roaring::Roaring;
using Buckets = Bitmap::Buckets;

inline roaring::Roaring* find(Bitmap::Buckets& buckets, std::uint32_t key) {
  const auto it = buckets.find(key);
  return it == buckets.end() ? nullptr : &it->second;
}

inline const roaring::Roaring* find(const Bitmap::Buckets& buckets, std::uint32_t key) {
  const auto it = buckets.find(key);
  return it == buckets.end() ? nullptr : &it->second;
}

inline Bitmap::Buckets::iterator getOrCreateEntry(Bitmap::Buckets& buckets, std::uint32_t key) {
  auto it = buckets.lower_bound(key);
  if (it == buckets.end() || it->first != key) it = buckets.emplace_hint(it, key, roaring::Roaring());
  return it;
}

inline roaring::Roaring& getOrCreate(Bitmap::Buckets& buckets, std::uint32_t key) {
  return getOrCreateEntry(buckets, key)->second;
}

// The first bucket of [from, stop) that holds a position, or `stop`. With reverse
// iterators this walks downwards.
template <typename BucketIterator>
BucketIterator firstNonEmpty(BucketIterator from, BucketIterator stop) {
  while (from != stop && from->second.isEmpty()) ++from;
  return from;
}

// The last bucket of [begin, stop) that holds a position, or `stop` when none does.
template <typename BucketIterator>
BucketIterator lastNonEmpty(BucketIterator begin, BucketIterator stop) {
  const auto rend = std::make_reverse_iterator(begin);
  const auto found = firstNonEmpty(std::make_reverse_iterator(stop), rend);
  return found == rend ? stop : std::prev(found.base());
}

}  // namespace veltrane::storage::internal
