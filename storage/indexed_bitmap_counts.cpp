// The counts of a combination of two bitmaps, from the intersection count and the
// count each side keeps: len(a | b) = len(a) + len(b) - len(a & b) and
// len(a - b) = len(a) - len(a & b), worked out in 128 bits.
#include <limits>

#include "storage/indexed_bitmap.h"
#include "storage/internal/wide_count.h"

namespace veltrane::storage {

using namespace internal;
namespace {

WideCount countOf(const IndexedBitmap& bitmap) {
  return bitmap.view().isFull() ? kAllPositions : bitmap.cardinality();
}

WideCount sharedCount(const IndexedBitmap& a, const IndexedBitmap& b) {
  return a.view().isFull() && b.view().isFull() ? kAllPositions : a.view().intersectionCardinality(b.view());
}

WideCount unionCount(const IndexedBitmap& a, const IndexedBitmap& b, WideCount shared) {
  return countOf(a) + countOf(b) - shared;
}

}  // namespace

std::uint64_t IndexedBitmap::unionCardinality(const IndexedBitmap& other) const {
  return narrowed(unionCount(*this, other, sharedCount(*this, other)));
}

std::uint64_t IndexedBitmap::differenceCardinality(const IndexedBitmap& other) const {
  return narrowed(countOf(*this) - sharedCount(*this, other));
}

std::uint64_t IndexedBitmap::symmetricDifferenceCardinality(const IndexedBitmap& other) const {
  const WideCount shared = sharedCount(*this, other);
  return narrowed(unionCount(*this, other, shared) - shared);
}

double IndexedBitmap::jaccardIndex(const IndexedBitmap& other) const {
  const WideCount shared = sharedCount(*this, other);
  const WideCount either = unionCount(*this, other, shared);
  if (either == 0) return std::numeric_limits<double>::quiet_NaN();
  return static_cast<double>(shared) / static_cast<double>(either);
}

}  // namespace veltrane::storage
