#pragma once

#include <cstdint>
#include <utility>

#include "storage/cancellation.h"

// Splitting of positions and position ranges along bucket boundaries. A position's
// key is its upper 32 bits and its low part its lower 32 bits; a half-open range
// [start, end) covers, in each key from keyOf(start) to keyOf(end), one half-open
// range of low parts.
namespace veltrane::storage::internal {

constexpr std::uint64_t kBucketSpan = std::uint64_t{1} << 32;
constexpr std::uint32_t kLastKey = 0xFFFFFFFFu;

constexpr std::uint32_t keyOf(std::uint64_t position) {
  return static_cast<std::uint32_t>(position >> 32);
}

constexpr std::uint32_t lowOf(std::uint64_t position) {
  return static_cast<std::uint32_t>(position);
}

constexpr std::uint64_t positionOf(std::uint32_t key, std::uint32_t low) {
  return (std::uint64_t{key} << 32) | low;
}

// What selfOrNext / selfOrPrevious answer when no set position follows / precedes.
constexpr std::uint64_t kNoNext = 0;
constexpr std::uint64_t kNoPrevious = ~std::uint64_t{0};

// Half-open range of low parts [begin, end) inside one bucket; end may be 2^32.
struct LowRange {
  std::uint64_t begin;
  std::uint64_t end;

  constexpr bool empty() const { return begin >= end; }
  constexpr bool wholeBucket() const { return begin == 0 && end == kBucketSpan; }
};

// The low parts that [start, end) covers in bucket `key`, for keys from keyOf(start)
// to keyOf(end): the first bucket from low(start) to its top, middle buckets whole,
// the last bucket below low(end). With equal keys this is [low(start), low(end)).
constexpr LowRange lowRangeIn(std::uint32_t key, std::uint64_t start, std::uint64_t end) {
  return LowRange{key == keyOf(start) ? lowOf(start) : 0,
                  key == keyOf(end) ? lowOf(end) : kBucketSpan};
}

// Calls visit(key, lowRange) for every key from keyOf(start) to keyOf(end) inclusive,
// in ascending order, each once; the walk ends after key 4294967295 and never wraps.
// Visits nothing when keyOf(end) < keyOf(start). Checks for cancellation between
// visits, every kKeysBetweenChecks keys: visiting one whole bucket takes up to about
// 10 ms, so a cancellation is seen within a few tens of milliseconds. The keys before
// that point are visited, the others not.
constexpr std::uint32_t kKeysBetweenChecks = 4;

template <typename Visit>
void forEachKeyOfRange(std::uint64_t start, std::uint64_t end, Visit&& visit) {
  CancellationCountdown countdown(kKeysBetweenChecks);
  for (std::uint64_t key = keyOf(start); key <= keyOf(end); ++key) {
    countdown.passed();
    const auto k = static_cast<std::uint32_t>(key);
    visit(k, lowRangeIn(k, start, end));
  }
}

// The buckets of `buckets` (an ordered map by key) whose keys lie from keyOf(start)
// to keyOf(end), as a pair of map iterators [first, stop); empty when keyOf(end) <
// keyOf(start). Keys without a bucket cost nothing, however wide the range.
template <typename BucketMap>
auto bucketsOfRange(BucketMap& buckets, std::uint64_t start, std::uint64_t end) {
  if (keyOf(end) < keyOf(start)) return std::make_pair(buckets.end(), buckets.end());
  return std::make_pair(buckets.lower_bound(keyOf(start)), buckets.upper_bound(keyOf(end)));
}

}  // namespace veltrane::storage::internal
