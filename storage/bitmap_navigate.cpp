// Rank, select and the nearest set position at or around a position.
#include <iterator>
#include <stdexcept>
#include <string>

#include "storage/bitmap.h"
#include "storage/bucket_access.h"
#include "storage/key_span.h"

namespace veltrane::storage {

namespace {

constexpr std::uint64_t kNoPrevious = ~std::uint64_t{0};
constexpr std::uint64_t kNoNext = 0;

}  // namespace

// Only the buckets up to the key of `position` matter, so the walk stops there.
std::uint64_t Bitmap::lowerCardinality(std::uint64_t position) const {
  const std::uint32_t key = keyOf(position);
  const std::uint32_t low = lowOf(position);
  std::uint64_t count = 0;
  for (auto it = buckets.begin(); it != buckets.end() && it->first <= key; ++it) {
    if (it->first < key) {
      count += it->second.cardinality();
    } else if (low > 0) {
      count += it->second.rank(low - 1);
    }
  }
  return count;
}

// Starts at the key of `position`: buckets below it add nothing.
std::uint64_t Bitmap::upperCardinality(std::uint64_t position) const {
  const std::uint32_t key = keyOf(position);
  std::uint64_t count = 0;
  for (auto it = buckets.lower_bound(key); it != buckets.end(); ++it) {
    count += it->second.cardinality();
    if (it->first == key) count -= it->second.rank(lowOf(position));
  }
  return count;
}

// Whole buckets are skipped by their counts; one select runs in the bucket that holds
// the ordinal. A bucket holds at most 2^32 low values, so a remainder below its count
// fits CRoaring's 32-bit rank, the last value of a full bucket included.
std::uint64_t Bitmap::nth(std::uint64_t ordinal) {
  std::uint64_t remaining = ordinal;
  for (const auto& [key, bucket] : buckets) {
    const std::uint64_t count = bucket.cardinality();
    if (remaining < count) {
      std::uint32_t low = 0;
      bucket.select(static_cast<std::uint32_t>(remaining), low);
      return positionOf(key, low);
    }
    remaining -= count;
  }
  throw std::runtime_error("The ordinal value [ " + std::to_string(ordinal) +
                           "] is greater than the total cardinality");
}

// The probed bucket is created when missing (callers see it in the serialized form),
// searched with one seek, and only then the map is walked upwards from it.
std::optional<std::uint64_t> Bitmap::selfOrNext(std::uint64_t position) {
  const auto probed = getOrCreateEntry(buckets, keyOf(position));
  roaring_uint32_iterator_t low;
  probed->second.startAtFirst(low);
  if (roaring_uint32_iterator_move_equalorlarger(&low, lowOf(position))) {
    return positionOf(probed->first, low.current_value);
  }
  const auto next = firstNonEmpty(std::next(probed), buckets.end());
  if (next == buckets.end()) return kNoNext;
  return positionOf(next->first, next->second.minimum());
}

// The seek lands on the first low value at or above the probed one; the value before
// it, or the bucket's maximum when the seek finds nothing, is the answer in the bucket.
// Otherwise the map is walked downwards from the probed bucket.
std::optional<std::uint64_t> Bitmap::selfOrPrevious(std::uint64_t position) {
  const auto probed = getOrCreateEntry(buckets, keyOf(position));
  const roaring::Roaring& bucket = probed->second;
  roaring_uint32_iterator_t low;
  bucket.startAtFirst(low);
  if (roaring_uint32_iterator_move_equalorlarger(&low, lowOf(position))) {
    if (low.current_value == lowOf(position)) return position;
    if (roaring_uint32_iterator_previous(&low)) return positionOf(probed->first, low.current_value);
  } else if (!bucket.isEmpty()) {
    return positionOf(probed->first, bucket.maximum());
  }
  const auto previous = lastNonEmpty(buckets.begin(), probed);
  if (previous == probed) return kNoPrevious;
  return positionOf(previous->first, previous->second.maximum());
}

}  // namespace veltrane::storage
