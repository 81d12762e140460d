// Rank, select and the nearest set position at or around a position.
#include <iterator>
#include <stdexcept>
#include <string>

#include "storage/bitmap.h"
#include "storage/internal/bucket_access.h"
#include "storage/internal/key_span.h"

namespace veltrane::storage {

using namespace internal;

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
  if (const auto low = probed->second.atOrAfter(lowOf(position))) return positionOf(probed->first, *low);
  const auto next = firstNonEmpty(std::next(probed), buckets.end());
  if (next == buckets.end()) return kNoNext;
  return positionOf(next->first, next->second.minimum());
}

// As selfOrNext, walking the map downwards.
std::optional<std::uint64_t> Bitmap::selfOrPrevious(std::uint64_t position) {
  const auto probed = getOrCreateEntry(buckets, keyOf(position));
  if (const auto low = probed->second.atOrBefore(lowOf(position))) return positionOf(probed->first, *low);
  const auto previous = lastNonEmpty(buckets.begin(), probed);
  if (previous == probed) return kNoPrevious;
  return positionOf(previous->first, previous->second.maximum());
}

}  // namespace veltrane::storage
