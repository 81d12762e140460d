#pragma once

#include <algorithm>
#include <cstdint>
#include <new>
#include <utility>

#include "storage/allocation_hooks.h"
#include "storage/internal/key_span.h"
#include "storage/roaring32.h"

// Edits of one bucket that CRoaring would leave broken if memory ran out half way,
// done in an order or a form in which a failure leaves a consistent bucket.
//
// CRoaring's in-place range insertion first opens slots for the containers a bucket
// lacks and then fills them; an allocation failure in between leaves slots without
// containers, which no repair can tell from real ones. A bucket that already has every
// container of the range is edited one container at a time and stays whole. Otherwise
// the range is built as a bucket of its own, one complete container after another, and
// merged in, which inserts whole containers only.
namespace veltrane::storage::internal {

// The containers of a bucket hold 2^16 low values each.
constexpr int kLowBitsPerContainer = 16;

// Whether `bucket` has a container for every block of 2^16 low values that the
// non-empty range `lows` touches.
inline bool hasEveryContainerOf(const roaring::Roaring& bucket, LowRange lows) {
  const std::uint16_t* keys = bucket.containerKeys();
  const std::uint16_t* keysEnd = keys + bucket.containerCount();
  const auto firstKey = static_cast<std::uint16_t>(lows.begin >> kLowBitsPerContainer);
  const auto lastKey = static_cast<std::uint16_t>((lows.end - 1) >> kLowBitsPerContainer);
  const std::uint16_t* first = std::lower_bound(keys, keysEnd, firstKey);
  const std::uint16_t* stop = std::upper_bound(first, keysEnd, lastKey);
  return stop - first == lastKey - firstKey + 1;
}

// Adds the low values of the non-empty range `lows` to `bucket` through a bucket of
// the range, which an empty bucket takes over as it is.
inline void addThroughRangeBucket(roaring::Roaring& bucket, LowRange lows) {
  roaring::Roaring range = roaring::Roaring::ofRange(lows.begin, lows.end);
  if (bucket.isEmpty()) {
    bucket = std::move(range);
  } else {
    editBucket(bucket, &roaring::Roaring::uniteWith, range);
  }
}

// Sets the non-empty range `lows` in `bucket`.
inline void addLowRange(roaring::Roaring& bucket, LowRange lows) {
  if (hasEveryContainerOf(bucket, lows)) {
    editBucket(bucket, &roaring::Roaring::addRange, lows.begin, lows.end);
  } else {
    addThroughRangeBucket(bucket, lows);
  }
}

// Clears the non-empty range `lows` of `bucket`. CRoaring's range removal compacts
// the container array as it goes; should it run out of memory on a partly cleared
// container after whole containers were dropped, freed containers would stay in the
// array. So the partly cleared containers at both ends are done on their own first,
// and the whole containers between them, which need no allocation, last. A failure
// leaves some of the range cleared.
inline void clearLowRange(roaring::Roaring& bucket, LowRange lows) {
  const std::uint64_t firstBlock = lows.begin >> kLowBitsPerContainer;
  const std::uint64_t lastBlock = (lows.end - 1) >> kLowBitsPerContainer;
  const auto clear = [&bucket](std::uint64_t begin, std::uint64_t end) {
    if (begin < end) editBucket(bucket, &roaring::Roaring::removeRange, begin, end);
  };
  if (firstBlock == lastBlock) {
    clear(lows.begin, lows.end);
    return;
  }
  clear(lastBlock << kLowBitsPerContainer, lows.end);
  clear(lows.begin, (firstBlock + 1) << kLowBitsPerContainer);
  clear((firstBlock + 1) << kLowBitsPerContainer, lastBlock << kLowBitsPerContainer);
}

// target = combine(target, part), for CRoaring's in-place union and symmetric
// difference. Over an empty target both make an unchecked copy of `part`, which a
// failure would leave half filled; an empty target therefore gets the checked bucket
// copy, whose failure leaves it empty.
inline void combineInto(roaring::Roaring& target, const roaring::Roaring& part,
                        void (roaring::Roaring::*combine)(const roaring::Roaring&)) {
  if (target.isEmpty()) {
    target = part;
  } else {
    editBucket(target, combine, part);
  }
}

}  // namespace veltrane::storage::internal
