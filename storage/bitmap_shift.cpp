// Position shifting: expand opens a gap of unset positions, contract closes one. Both
// move whole containers with CRoaring's offset operation, one bucket at a time; the low
// parts that cross a key boundary travel to the neighbouring key in a carry. Only the
// buckets that exist are visited, so keys far apart cost nothing in between.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <utility>

#include "storage/allocation_hooks.h"
#include "storage/bitmap.h"
#include "storage/internal/bucket_access.h"
#include "storage/internal/key_span.h"

namespace veltrane::storage {

using namespace internal;

namespace {

constexpr std::uint64_t kLastPosition = ~std::uint64_t{0};
constexpr std::int64_t kSignedSpan = static_cast<std::int64_t>(kBucketSpan);
constexpr const char* kOutOfBounds = "Range Out of Bounds";

// { v + offset : v in bucket, v >= fromLow, 0 <= v + offset < 2^32 }. Whole containers
// move with roaring_bitmap_add_offset; the images of the low parts below fromLow are
// then cut off the bottom of the result.
roaring::Roaring shifted(const roaring::Roaring& bucket, std::int64_t offset,
                         std::uint64_t fromLow = 0) {
  roaring::Roaring result = bucket.shiftedBy(offset);
  const std::int64_t firstKept = static_cast<std::int64_t>(fromLow) + offset;
  if (firstKept > 0) {
    result.removeRange(0, std::min(static_cast<std::uint64_t>(firstKept), kBucketSpan));
  }
  return result;
}

// The low parts of one bucket after a move by a signed offset: those still inside
// 0 .. 2^32 - 1 and those that crossed into the neighbouring key, already at their
// place there.
struct MovedLowParts {
  roaring::Roaring sameKey;
  roaring::Roaring neighbourKey;
};

// Moves every low part of `source` by `offset` (-2^32 <= offset <= 2^32); positive
// offsets cross into the key above, negative ones into the key below. When all low
// parts land in one key the containers are handed over instead of copied.
MovedLowParts moveLowParts(roaring::Roaring source, std::int64_t offset) {
  const std::int64_t crossingOffset = offset >= 0 ? offset - kSignedSpan : offset + kSignedSpan;
  if (offset == 0) return {std::move(source), roaring::Roaring()};
  if (crossingOffset == 0) return {roaring::Roaring(), std::move(source)};
  return {shifted(source, offset), shifted(source, crossingOffset)};
}

// target = target ∪ part, leaving `part` empty; an empty target takes the containers
// of `part` over without copying them.
void absorb(roaring::Roaring& target, roaring::Roaring& part) {
  if (part.isEmpty()) return;
  if (target.isEmpty()) {
    target = std::move(part);
  } else {
    editBucket(target, &roaring::Roaring::uniteWith, part);
    part = roaring::Roaring();
  }
}

// Moves the low parts of `part` into bucket `key`, leaving `part` empty. An empty part
// changes nothing and creates no bucket. The callers refuse every shift that would
// carry positions past 2^64 - 1 before they start, so a key beyond the last one here
// is a broken invariant; it is reported rather than wrapped around to key 0.
void depositInto(Buckets& buckets, std::uint64_t key, roaring::Roaring& part) {
  if (part.isEmpty()) return;
  if (key > kLastKey) throw std::logic_error("shift carried positions past the last key");
  absorb(getOrCreateEntry(buckets, static_cast<std::uint32_t>(key))->second, part);
}

// expand when low(position) + by <= 2^32: no low part moves further than the next key.
// The non-empty buckets from the key of `position` to lastKey are walked upwards; the
// carry holds the low parts that crossed over from the previous key. In the start
// bucket the low parts below low(position) stay where they are (with low(position) = 0
// there are none, and the start bucket moves like any other). Every bucket walked
// keeps its place in the map, also when all of its positions leave it.
void expandIntoNextKey(Buckets& buckets, std::uint64_t position, std::uint64_t by,
                       std::uint32_t lastKey) {
  const std::uint32_t startKey = keyOf(position);
  const auto offset = static_cast<std::int64_t>(by);
  roaring::Roaring carry;
  std::uint64_t carryKey = startKey;
  for (auto it = buckets.lower_bound(startKey); it != buckets.end() && it->first <= lastKey;
       ++it) {
    roaring::Roaring& bucket = it->second;
    if (bucket.isEmpty()) continue;
    // A carry meant for a key without positions lands there on its own.
    if (carryKey != it->first) depositInto(buckets, carryKey, carry);
    if (it->first == startKey && lowOf(position) > 0) {
      roaring::Roaring crossing = shifted(bucket, offset - kSignedSpan);
      roaring::Roaring moved = shifted(bucket, offset, lowOf(position));
      editBucket(bucket, &roaring::Roaring::removeRange, lowOf(position), kBucketSpan);
      absorb(bucket, moved);
      carry = std::move(crossing);
    } else {
      MovedLowParts moved = moveLowParts(std::move(bucket), offset);
      absorb(moved.sameKey, carry);
      bucket = std::move(moved.sameKey);
      carry = std::move(moved.neighbourKey);
    }
    carryKey = std::uint64_t{it->first} + 1;
  }
  depositInto(buckets, carryKey, carry);
}

// expand when low(position) + by > 2^32: every moving low part of the start bucket
// leaves its key, and with by >= 2^32 low parts jump past the next key, so a carry
// between neighbours does not serve. The non-empty buckets are walked from lastKey
// down to the key of `position`; each one hands its moving low parts to the two keys
// they land in (key + by / 2^32 and the key after it). Those keys lie at or above the
// bucket being read, so every bucket has given up its own positions before any arrive.
void expandAcrossKeys(Buckets& buckets, std::uint64_t position, std::uint64_t by,
                      std::uint32_t lastKey) {
  const std::uint32_t startKey = keyOf(position);
  const std::uint64_t keyStep = by >> 32;
  const auto lowStep = static_cast<std::int64_t>(lowOf(by));
  auto it = buckets.upper_bound(lastKey);
  while (it != buckets.begin() && std::prev(it)->first >= startKey) {
    --it;
    roaring::Roaring& bucket = it->second;
    if (bucket.isEmpty()) continue;
    MovedLowParts moved;
    if (it->first == startKey && lowOf(position) > 0) {
      moved = {shifted(bucket, lowStep, lowOf(position)),
               shifted(bucket, lowStep - kSignedSpan, lowOf(position))};
      editBucket(bucket, &roaring::Roaring::removeRange, lowOf(position), kBucketSpan);
    } else {
      moved = moveLowParts(std::move(bucket), lowStep);
    }
    const std::uint64_t targetKey = it->first + keyStep;
    depositInto(buckets, targetKey, moved.sameKey);
    depositInto(buckets, targetKey + 1, moved.neighbourKey);
  }
}

// contract's walk over the keys above the start key, from lastKey downwards: the low
// parts below `by` cross into the key below, the others move down by `by` within their
// key. A bucket left without positions is erased. Returns the carry that crossed into
// the start key (empty when nothing did).
roaring::Roaring contractAboveStartKey(Buckets& buckets, std::uint32_t startKey,
                                       std::uint64_t by, std::uint32_t lastKey) {
  const auto offset = static_cast<std::int64_t>(by);
  roaring::Roaring carry;
  std::uint64_t carryKey = lastKey;
  auto above = buckets.upper_bound(lastKey);
  while (above != buckets.begin() && std::prev(above)->first > startKey) {
    const auto current = std::prev(above);
    roaring::Roaring& bucket = current->second;
    if (bucket.isEmpty()) {
      above = current;
      continue;
    }
    // A carry meant for a key without positions lands there on its own.
    if (carryKey != current->first) depositInto(buckets, carryKey, carry);
    MovedLowParts moved = moveLowParts(std::move(bucket), -offset);
    absorb(moved.sameKey, carry);
    carry = std::move(moved.neighbourKey);
    carryKey = current->first - 1;
    if (moved.sameKey.isEmpty()) {
      above = buckets.erase(current);
    } else {
      bucket = std::move(moved.sameKey);
      above = current;
    }
  }
  if (carryKey != startKey) depositInto(buckets, carryKey, carry);
  return carry;
}

// contract's last step, on the start bucket: the low parts up to low(position) - by
// stay, those from low(position) - by + 1 to low(position) are removed, the ones above
// move down by `by`, and the carry from the key above joins them. An empty start bucket becomes the
// carry, and is created for it even when the carry is empty.
void contractStartBucket(Buckets& buckets, std::uint64_t position, std::uint64_t by,
                         roaring::Roaring& carry) {
  roaring::Roaring& bucket = getOrCreateEntry(buckets, keyOf(position))->second;
  if (bucket.isEmpty()) {
    bucket = std::move(carry);
    return;
  }
  const std::uint64_t low = lowOf(position);
  roaring::Roaring moved = shifted(bucket, -static_cast<std::int64_t>(by), low + 1);
  absorb(moved, carry);
  editBucket(bucket, &roaring::Roaring::removeRange, low - by + 1, kBucketSpan);
  absorb(bucket, moved);
}

// A shift moves positions through carries held outside the map, which an allocation
// failure half way would lose. So the buckets from `startKey` up, the only ones a
// shift reads or writes, are shifted as a copy that takes their place once the shift
// has succeeded (moving the map nodes over allocates nothing; the copy takes its nodes
// from the same pool, as moving nodes between maps requires). A failed shift leaves
// the bitmap unchanged.
template <typename Shift>
void shiftFrom(Buckets& buckets, std::uint32_t startKey, Shift shift) {
  Buckets shifted(buckets.lower_bound(startKey), buckets.end(), buckets.get_allocator());
  shift(shifted);
  buckets.erase(buckets.lower_bound(startKey), buckets.end());
  buckets.merge(shifted);
}

}  // namespace

// Refuses, before touching any bucket, a shift that would carry a position past
// 2^64 - 1. Positions never wrap around and none is dropped.
void Bitmap::expand(std::uint64_t position, std::uint64_t by) {
  const std::optional<std::uint64_t> lastPosition = last();
  if (!lastPosition || *lastPosition < position) return;
  if (by > kLastPosition - *lastPosition) throw std::invalid_argument(kOutOfBounds);
  const std::uint32_t lastKey = keyOf(*lastPosition);
  shiftFrom(buckets, keyOf(position), [position, by, lastKey](Buckets& tail) {
    if (by <= kBucketSpan - lowOf(position)) {
      expandIntoNextKey(tail, position, by, lastKey);
    } else {
      expandAcrossKeys(tail, position, by, lastKey);
    }
  });
}

// The removed run and every move must stay inside the start key and the keys above
// it: with positions in the start bucket that needs low(position) > by, and with an
// empty start bucket by <= 2^32. Both bounds are checked before any bucket changes.
void Bitmap::contract(std::uint64_t position, std::uint64_t by) {
  const std::optional<std::uint64_t> lastPosition = last();
  if (!lastPosition || *lastPosition < position) return;
  const roaring::Roaring* start = find(buckets, keyOf(position));
  const bool startHoldsPositions = start != nullptr && !start->isEmpty();
  if (startHoldsPositions ? lowOf(position) <= by : by > kBucketSpan) {
    throw std::invalid_argument(kOutOfBounds);
  }
  const std::uint32_t lastKey = keyOf(*lastPosition);
  shiftFrom(buckets, keyOf(position), [position, by, lastKey](Buckets& tail) {
    roaring::Roaring carry = contractAboveStartKey(tail, keyOf(position), by, lastKey);
    contractStartBucket(tail, position, by, carry);
  });
}

}  // namespace veltrane::storage
