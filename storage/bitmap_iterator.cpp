// Walking the set positions in ascending order: one at a time with
// BitmapForwardIterator, or all at once into caller-provided memory.
#include <cstring>

#include "storage/bitmap.h"
#include "storage/key_span.h"

namespace veltrane::storage {

using ForwardIterator = Bitmap::BitmapForwardIterator;

namespace {

// Low values are read from CRoaring in chunks of this many, small enough to stay in
// the first-level cache while they are used.
constexpr std::uint32_t kChunk = 2048;

// Calls consume(chunk, n) for the low values of `bucket` in ascending order.
template <typename Consume>
void forEachLowChunk(const roaring_bitmap_t& bucket, Consume&& consume) {
  std::uint32_t chunk[kChunk];
  roaring_uint32_iterator_t low;
  roaring_iterator_init(&bucket, &low);
  while (low.has_value) {
    const std::uint32_t read = roaring_uint32_iterator_read(&low, chunk, kChunk);
    consume(chunk, read);
  }
}

// Turns the `count` 32-bit low values at the start of `values` into base | low, in
// place, from the back. A block of 8 ending at element e is copied out, then its
// stores overwrite low values from 2e - 16 up: never below the block itself while
// e >= 8. Below that, element e overwrites low values 2e and 2e + 1, both past e.
void widenInPlace(std::uint64_t* values, std::uint64_t count, std::uint64_t base) {
  constexpr std::uint64_t kBlock = 8;
  const auto* lows = reinterpret_cast<const unsigned char*>(values);
  std::uint64_t end = count;
  for (; end >= kBlock; end -= kBlock) {
    std::uint32_t block[kBlock];
    std::memcpy(block, lows + 4 * (end - kBlock), sizeof block);
    for (std::uint64_t i = 0; i < kBlock; ++i) values[end - kBlock + i] = base | block[i];
  }
  while (end > 0) {
    --end;
    std::uint32_t low;
    std::memcpy(&low, lows + 4 * end, sizeof low);
    values[end] = base | low;
  }
}

}  // namespace

Bitmap::BitmapForwardIterator Bitmap::begin() const { return ForwardIterator(*this, false); }

Bitmap::BitmapForwardIterator Bitmap::end() const { return ForwardIterator(*this, true); }

// Each bucket is exported by CRoaring's fastest bulk call into the front half of its
// own stretch of the output, then widened in place.
void Bitmap::copyPositionsTo(std::uint64_t* out) const {
  for (const auto& [key, bucket] : buckets) {
    const std::uint64_t count = roaring_bitmap_get_cardinality(&bucket.roaring);
    roaring_bitmap_to_uint32_array(&bucket.roaring, reinterpret_cast<std::uint32_t*>(out));
    widenInPlace(out, count, positionOf(key, 0));
    out += count;
  }
}

// Indices are computed in unsigned 64-bit arithmetic: base may wrap below zero for
// the bucket of `offset`, and adding a low value at or above offset's brings it back.
void Bitmap::markPositionsIn(std::uint8_t* mask, std::uint64_t offset, bool background) const {
  const std::uint8_t mark = background ? 0 : 1;
  for (const auto& [key, bucket] : buckets) {
    const std::uint64_t base = positionOf(key, 0) - offset;
    forEachLowChunk(bucket.roaring, [&](const std::uint32_t* lows, std::uint32_t count) {
      for (std::uint32_t i = 0; i < count; ++i) mask[base + lows[i]] = mark;
    });
  }
}

// --- BitmapForwardIterator ---------------------------------------------------------

ForwardIterator::BitmapForwardIterator(const Bitmap& walked, bool exhausted)
    : bitmap(&walked),
      current(walked.buckets.end()),
      mapEnd(walked.buckets.end()),
      mapBegin(walked.buckets.begin()),
      lowIterator{} {
  if (exhausted) return;
  for (current = mapBegin; current != mapEnd; ++current) {
    roaring_iterator_init(&current->second.roaring, &lowIterator);
    if (lowIterator.has_value) return;
  }
}

std::uint64_t ForwardIterator::operator*() const {
  return positionOf(current->first, lowIterator.current_value);
}

// At the end there is nothing to advance; staying there keeps a misuse harmless.
ForwardIterator& ForwardIterator::operator++() {
  if (atEnd()) return *this;
  if (lowIterator.has_value && roaring_uint32_iterator_advance(&lowIterator)) return *this;
  while (++current != mapEnd) {
    roaring_iterator_init(&current->second.roaring, &lowIterator);
    if (lowIterator.has_value) break;
  }
  return *this;
}

ForwardIterator ForwardIterator::operator++(int) {
  ForwardIterator before = *this;
  ++*this;
  return before;
}

// From the end, the walk starts at the largest value of the last bucket; empty
// buckets on the way down are passed over, and it never goes below the first bucket.
ForwardIterator& ForwardIterator::operator--() {
  if (atEnd()) {
    if (mapBegin == mapEnd) return *this;
    --current;
    roaring_iterator_init_last(&current->second.roaring, &lowIterator);
  } else {
    roaring_uint32_iterator_previous(&lowIterator);
  }
  while (!lowIterator.has_value && current != mapBegin) {
    --current;
    roaring_iterator_init_last(&current->second.roaring, &lowIterator);
  }
  return *this;
}

ForwardIterator ForwardIterator::operator--(int) {
  ForwardIterator before = *this;
  --*this;
  return before;
}

// Each side judges the end against its own map; only positions are compared.
bool ForwardIterator::operator==(const ForwardIterator& other) const {
  if (atEnd() || other.atEnd()) return atEnd() && other.atEnd();
  return **this == *other;
}

bool ForwardIterator::operator!=(const ForwardIterator& other) const { return !(*this == other); }

bool ForwardIterator::operator<(const ForwardIterator& other) const {
  if (atEnd()) return false;
  if (other.atEnd()) return true;
  return **this < *other;
}

bool ForwardIterator::operator<=(const ForwardIterator& other) const {
  if (other.atEnd()) return true;
  if (atEnd()) return false;
  return **this <= *other;
}

bool ForwardIterator::operator>(const ForwardIterator& other) const { return other < *this; }

bool ForwardIterator::operator>=(const ForwardIterator& other) const { return other <= *this; }

}  // namespace veltrane::storage
