// Range queries, flipping and slicing: operations on a contiguous range of positions,
// split along bucket boundaries.
#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "storage/allocation_hooks.h"
#include "storage/bitmap.h"
#include "storage/internal/bucket_access.h"
#include "storage/internal/key_span.h"
#include "storage/internal/safe_bucket_edits.h"

namespace veltrane::storage {

using namespace internal;

namespace {

// Inside a bucket CRoaring keeps one container per 2^16 low parts, in an array sorted
// by container key. The costs of the two flips and of cutting out a slice depend on
// how many containers sit inside and beyond the piece, read from that array.
constexpr std::uint64_t kContainerSpan = std::uint64_t{1} << kLowBitsPerContainer;

std::uint16_t containerKeyOf(std::uint64_t low) {
  return static_cast<std::uint16_t>(low >> kLowBitsPerContainer);
}

// A run of the sorted container keys of one bucket.
struct ContainerKeys {
  const std::uint16_t* begin;
  const std::uint16_t* end;

  std::uint64_t count() const { return static_cast<std::uint64_t>(end - begin); }
};

ContainerKeys containerKeysOf(const roaring::Roaring& bucket) {
  return {bucket.containerKeys(), bucket.containerKeys() + bucket.containerCount()};
}

// The containers of `bucket` that hold low parts of the non-empty range `lows`.
ContainerKeys containerKeysIn(const roaring::Roaring& bucket, LowRange lows) {
  const ContainerKeys all = containerKeysOf(bucket);
  const std::uint16_t* first = std::lower_bound(all.begin, all.end, containerKeyOf(lows.begin));
  return {first, std::upper_bound(first, all.end, containerKeyOf(lows.end - 1))};
}

// The containers of `bucket` from the one of `low` onwards.
std::uint64_t containersFrom(const roaring::Roaring& bucket, std::uint64_t low) {
  const ContainerKeys all = containerKeysOf(bucket);
  return ContainerKeys{std::lower_bound(all.begin, all.end, containerKeyOf(low)), all.end}.count();
}

// Container slots the non-empty range `lows` spans, whether the bucket fills them or not.
std::uint64_t containerSlotsUnder(LowRange lows) {
  return containerKeyOf(lows.end - 1) - containerKeyOf(lows.begin) + std::uint64_t{1};
}

// Bytes of the container array (key, pointer, type code) moved per container entry
// shifted, and the allocation cost of one copied container, counted in bytes.
constexpr std::uint64_t kShiftedEntryBytes = 11;
constexpr std::uint64_t kContainerCopyOverhead = 64;

// CRoaring's in-place flip shifts the tail of the container array for every container
// it creates or empties: quadratic over wide pieces (emptying one full bucket takes
// about half a second). Its copying flip builds a new array in one pass but copies
// every container outside the piece. Compares the worst case of the first with the
// cost of the second; the bucket's byte size is only computed when the shifting is
// not trivially cheaper.
bool inPlaceFlipIsCheaper(const roaring::Roaring& bucket, LowRange lows) {
  const std::uint64_t shiftedBytes =
      containerSlotsUnder(lows) * containersFrom(bucket, lows.begin) * kShiftedEntryBytes;
  const std::uint64_t copyOverhead = containerKeysOf(bucket).count() * kContainerCopyOverhead;
  if (shiftedBytes <= copyOverhead) return true;
  return shiftedBytes <= copyOverhead + bucket.portableSizeInBytes();
}

void flipPiece(roaring::Roaring& bucket, LowRange lows) {
  if (lows.empty()) return;
  if (inPlaceFlipIsCheaper(bucket, lows)) {
    editBucket(bucket, &roaring::Roaring::flipInPlace, lows.begin, lows.end);
  } else {
    bucket = bucket.flipped(lows.begin, lows.end);
  }
}

// Intersects `bucket` with a mask made of the share of `lows` of each container in
// `inside`, so that nothing beyond those containers is touched or copied.
roaring::Roaring maskedIntersection(const roaring::Roaring& bucket, LowRange lows,
                                    ContainerKeys inside) {
  roaring::Roaring mask;
  for (const std::uint16_t* key = inside.begin; key != inside.end; ++key) {
    const std::uint64_t containerStart = std::uint64_t{*key} << kLowBitsPerContainer;
    addThroughRangeBucket(mask, LowRange{std::max(lows.begin, containerStart),
                                         std::min(lows.end, containerStart + kContainerSpan)});
  }
  return roaring::Roaring::intersection(mask, bucket);
}

roaring::Roaring trimmedCopy(const roaring::Roaring& bucket, LowRange lows) {
  roaring::Roaring piece(bucket);
  if (lows.begin > 0) clearLowRange(piece, LowRange{0, lows.begin});
  if (lows.end < kBucketSpan) clearLowRange(piece, LowRange{lows.end, kBucketSpan});
  return piece;
}

// The low parts of `bucket` inside `lows`, with the data copied once. A copy of the
// whole bucket, trimmed, is used when at most half of its containers lie outside the
// range; otherwise the containers inside are picked out by a mask.
roaring::Roaring maskedCopy(const roaring::Roaring& bucket, LowRange lows) {
  if (lows.empty()) return roaring::Roaring();
  if (lows.wholeBucket()) return bucket;
  const ContainerKeys inside = containerKeysIn(bucket, lows);
  const std::uint64_t outside = containerKeysOf(bucket).count() - inside.count();
  return outside <= inside.count() ? trimmedCopy(bucket, lows)
                                   : maskedIntersection(bucket, lows, inside);
}

}  // namespace

// Every key of the span gets a bucket, also the key of endEx when nothing of it is
// flipped, and none is removed: the buckets a flip leaves empty stay. A reversed
// range changes no position (within one key it still creates that key's bucket).
void Bitmap::flip(std::uint64_t start, std::uint64_t endEx) {
  forEachKeyOfRange(start, endEx, [this](std::uint32_t key, LowRange lows) {
    flipPiece(getOrCreateEntry(buckets, key)->second, lows);
  });
}

// The range [position, position + 1), with its bucket rules; 2^64 - 1 has no
// representable exclusive end, so its bucket is toggled directly.
void Bitmap::flip(std::uint64_t position) {
  if (position != positionOf(kLastKey, kLastKey)) {
    flip(position, position + 1);
    return;
  }
  flipPiece(getOrCreateEntry(buckets, kLastKey)->second, LowRange{kLastKey, kBucketSpan});
}

// Walks the existing buckets of the span in key order and answers false at the first
// key whose piece holds a low part but has no bucket, so the walk never outlasts the
// run of consecutive buckets. The last key's piece is empty when low(endEx) is 0, and
// that key's bucket is then not needed.
bool Bitmap::all(std::uint64_t startInc, std::uint64_t endEx) const {
  if (buckets.empty()) return false;
  const std::uint32_t startKey = keyOf(startInc);
  const std::uint32_t endKey = keyOf(endEx);
  if (endKey < startKey) return true;
  if (startKey == endKey) {
    const roaring::Roaring* bucket = find(buckets, startKey);
    return bucket != nullptr && bucket->containsRange(lowOf(startInc), lowOf(endEx));
  }
  const std::uint64_t lastKeyWithPiece = lowOf(endEx) == 0 ? endKey - std::uint64_t{1} : endKey;
  auto bucket = buckets.lower_bound(startKey);
  for (std::uint64_t key = startKey; key <= lastKeyWithPiece; ++key, ++bucket) {
    if (bucket == buckets.end() || bucket->first != key) return false;
    const LowRange lows = lowRangeIn(bucket->first, startInc, endEx);
    if (!bucket->second.containsRange(lows.begin, lows.end)) return false;
  }
  return true;
}

// Keys without a bucket cannot answer true, so only the buckets that exist inside the
// span are visited, however many keys it covers.
bool Bitmap::any(std::uint64_t startInc, std::uint64_t endEx) const {
  const auto [first, stop] = bucketsOfRange(buckets, startInc, endEx);
  for (auto bucket = first; bucket != stop; ++bucket) {
    const roaring::Roaring& lowParts = bucket->second;
    const LowRange lows = lowRangeIn(bucket->first, startInc, endEx);
    const bool hit = lows.wholeBucket() ? !lowParts.isEmpty()
                                        : lowParts.intersectsRange(lows.begin, lows.end);
    if (hit) return true;
  }
  return false;
}

// The result starts as Bitmap() (empty bucket 0) and receives one bucket for every
// bucket of this bitmap inside the span: middle buckets copied whole, the first and
// last masked to their pieces and kept even when the mask empties them.
Bitmap Bitmap::slice(std::uint64_t startInc, std::uint64_t endInc) const {
  if (keyOf(endInc) < keyOf(startInc)) {
    throw std::runtime_error("Invalid range" + std::to_string(startInc) + ".." +
                             std::to_string(endInc));
  }
  Bitmap result;
  const auto [first, stop] = bucketsOfRange(buckets, startInc, endInc);
  for (auto bucket = first; bucket != stop; ++bucket) {
    const LowRange lows = lowRangeIn(bucket->first, startInc, endInc);
    result.buckets.insert_or_assign(result.buckets.end(), bucket->first,
                                    maskedCopy(bucket->second, lows));
  }
  return result;
}

}  // namespace veltrane::storage
