// Counts of the combinations of two bitmaps, and the disjointness test. Each is one walk
// over the buckets in key order that asks CRoaring for the count of one pair of buckets
// at a time, so no result bucket is ever built.
#include <limits>

#include "storage/bitmap.h"
#include "storage/internal/bucket_walks.h"
#include "storage/internal/wide_count.h"

namespace veltrane::storage {

using namespace internal;
namespace {

using PairCount = std::uint64_t (*)(const Bucket&, const Bucket&);

// A sum of per-bucket counts, which reaches 2^64 at most.
class PositionCount {
 public:
  void add(std::uint64_t count) { total += count; }
  std::uint64_t value() const { return narrowed(total); }
  double approximate() const { return static_cast<double>(total); }

 private:
  WideCount total = 0;
};

// Sums count(bucket, partner) over the buckets of `mine` that `theirs` has a bucket
// for too.
PositionCount sumOverSharedKeys(const Buckets& mine, const Buckets& theirs, PairCount count) {
  PositionCount total;
  AscendingLookup lookup(theirs);
  for (const auto& [key, bucket] : mine) {
    if (const Bucket* partner = lookup.find(key)) total.add(count(bucket, *partner));
  }
  return total;
}

// Sums, over the keys of either map, count(a, b) where both have the key and the size
// of the one bucket where only one has it.
PositionCount sumOverAllKeys(const Buckets& mine, const Buckets& theirs, PairCount count) {
  PositionCount total;
  forEachKeyOfEither(mine, theirs, [&](std::uint32_t, const Bucket* a, const Bucket* b) {
    total.add(a == nullptr ? b->cardinality() : b == nullptr ? a->cardinality() : count(*a, *b));
  });
  return total;
}

const Buckets& smallerOf(const Buckets& a, const Buckets& b) { return a.size() <= b.size() ? a : b; }
const Buckets& largerOf(const Buckets& a, const Buckets& b) { return a.size() <= b.size() ? b : a; }

}  // namespace

std::uint64_t Bitmap::intersectionCardinality(const Bitmap& other) const {
  return sumOverSharedKeys(smallerOf(buckets, other.buckets), largerOf(buckets, other.buckets),
                           Bucket::intersectionCardinality)
      .value();
}

std::uint64_t Bitmap::unionCardinality(const Bitmap& other) const {
  return sumOverAllKeys(buckets, other.buckets, Bucket::unionCardinality).value();
}

std::uint64_t Bitmap::differenceCardinality(const Bitmap& other) const {
  PositionCount total;
  AscendingLookup lookup(other.buckets);
  for (const auto& [key, bucket] : buckets) {
    const Bucket* partner = lookup.find(key);
    total.add(partner == nullptr ? bucket.cardinality() : Bucket::differenceCardinality(bucket, *partner));
  }
  return total.value();
}

std::uint64_t Bitmap::symmetricDifferenceCardinality(const Bitmap& other) const {
  return sumOverAllKeys(buckets, other.buckets, Bucket::symmetricDifferenceCardinality).value();
}

// Both counts come from one walk: where both have a key, the union's share is the two
// sizes less the intersection's.
double Bitmap::jaccardIndex(const Bitmap& other) const {
  PositionCount shared;
  PositionCount either;
  forEachKeyOfEither(buckets, other.buckets, [&](std::uint32_t, const Bucket* a, const Bucket* b) {
    if (a == nullptr || b == nullptr) {
      either.add((a == nullptr ? b : a)->cardinality());
      return;
    }
    const std::uint64_t both = Bucket::intersectionCardinality(*a, *b);
    shared.add(both);
    either.add(a->cardinality() + b->cardinality() - both);
  });
  if (either.approximate() == 0) return std::numeric_limits<double>::quiet_NaN();
  return shared.approximate() / either.approximate();
}

bool Bitmap::isDisjoint(const Bitmap& other) const {
  AscendingLookup lookup(largerOf(buckets, other.buckets));
  for (const auto& [key, bucket] : smallerOf(buckets, other.buckets)) {
    const Bucket* partner = lookup.find(key);
    if (partner != nullptr && bucket.intersects(*partner)) return false;
  }
  return true;
}

}  // namespace veltrane::storage
