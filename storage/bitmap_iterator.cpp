// Walking the set positions in ascending order: one at a time with
// BitmapForwardIterator, or all at once into caller-provided memory.
#include <iterator>

#include "storage/bitmap.h"
#include "storage/cancellation.h"
#include "storage/internal/bucket_access.h"
#include "storage/internal/key_span.h"

namespace veltrane::storage {

using namespace internal;

using ForwardIterator = Bitmap::BitmapForwardIterator;

Bitmap::BitmapForwardIterator Bitmap::begin() const { return ForwardIterator(*this, false); }

Bitmap::BitmapForwardIterator Bitmap::end() const { return ForwardIterator(*this, true); }

namespace {

// Up to 2^23 positions of full containers; a few tens of milliseconds when the
// output's pages are touched for the first time.
constexpr std::uint32_t kContainersBetweenChecks = 128;
// Chunks of forEachChunk, up to 2^21 positions.
constexpr std::uint32_t kChunksBetweenChecks = 1024;

}  // namespace

void Bitmap::copyPositionsTo(std::uint64_t* out) const {
  CancellationCountdown countdown(kContainersBetweenChecks);
  for (const auto& [key, bucket] : buckets) {
    countdown.passed();
    out = bucket.writePositions(positionOf(key, 0), out, countdown);
  }
}

// Indices are computed in unsigned 64-bit arithmetic: base may wrap below zero for
// the bucket of `offset`, and adding a low value at or above offset's brings it back.
void Bitmap::markPositionsIn(std::uint8_t* mask, std::uint64_t offset, bool background) const {
  const std::uint8_t mark = background ? 0 : 1;
  CancellationCountdown countdown(kChunksBetweenChecks);
  for (const auto& [key, bucket] : buckets) {
    countdown.passed();
    const std::uint64_t base = positionOf(key, 0) - offset;
    bucket.forEachChunk([&](const std::uint32_t* lows, std::uint32_t count) {
      countdown.passed();
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
  current = firstNonEmpty(mapBegin, mapEnd);
  if (!atEnd()) current->second.startAtFirst(lowIterator);
}

std::uint64_t ForwardIterator::operator*() const {
  return positionOf(current->first, lowIterator.current_value);
}

// At the end there is nothing to advance; staying there keeps a misuse harmless.
ForwardIterator& ForwardIterator::operator++() {
  if (atEnd()) return *this;
  if (lowIterator.has_value && roaring_uint32_iterator_advance(&lowIterator)) return *this;
  current = firstNonEmpty(std::next(current), mapEnd);
  if (!atEnd()) current->second.startAtFirst(lowIterator);
  return *this;
}

ForwardIterator ForwardIterator::operator++(int) {
  ForwardIterator before = *this;
  ++*this;
  return before;
}

// From the end, the walk starts at the largest value of the last bucket; empty
// buckets on the way down are passed over, and it never goes below the first bucket
// (where a misused iterator stays, without a value).
ForwardIterator& ForwardIterator::operator--() {
  if (!atEnd() && roaring_uint32_iterator_previous(&lowIterator)) return *this;
  if (mapBegin == mapEnd) return *this;
  const auto previous = lastNonEmpty(mapBegin, current);
  if (previous == current) {
    current = mapBegin;  // the low iterator, exhausted, has no value
    return *this;
  }
  current = previous;
  current->second.startAtLast(lowIterator);
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
