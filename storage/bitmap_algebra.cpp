// Set algebra: union, intersection, difference and symmetric difference in place and
// as new bitmaps, equality and the subset tests. All of them work bucket by bucket
// and leave the work inside a bucket to CRoaring. No operation removes a bucket;
// equality and the subset tests treat an empty bucket exactly like a missing one.
#include <cstdint>
#include <iterator>
#include <utility>

#include "storage/bitmap.h"
#include "storage/internal/bucket_walks.h"
#include "storage/internal/bucket_access.h"
#include "storage/internal/safe_bucket_edits.h"

namespace veltrane::storage {

using namespace internal;

namespace {

using InPlaceCombine = void (Bucket::*)(const Bucket&);
using Combine = Bucket (*)(const Bucket&, const Bucket&);

// False for a missing bucket.
bool holdsPositions(const Bucket* bucket) { return bucket != nullptr && !bucket->isEmpty(); }

// Combines every bucket of `theirs` into `mine`: in place where `mine` has the key,
// otherwise as a new bucket holding a copy, empty buckets included. A failing copy
// throws "failed memory alloc in assignment" and keeps the work done so far.
void mergeInto(Buckets& mine, const Buckets& theirs, InPlaceCombine combine) {
  AscendingLookup lookup(mine);
  for (const auto& [key, bucket] : theirs) {
    auto target = lookup.seek(key);
    if (target != lookup.end() && target->first == key) {
      combineInto(target->second, bucket, combine);
    } else {
      target = mine.emplace_hint(target, key, Bucket());
      target->second = bucket;
    }
  }
}

// A new map with exactly the keys of `mine`: each bucket passed to
// `combine(bucket, partner)` with the bucket of `theirs` that has the same key, or
// nullptr where `theirs` lacks the key.
template <typename CombineBucket>
Buckets combineEachOf(const Buckets& mine, const Buckets& theirs, CombineBucket combine) {
  Buckets result;
  AscendingLookup lookup(theirs);
  for (const auto& [key, bucket] : mine) {
    result.emplace_hint(result.end(), key, combine(bucket, lookup.find(key)));
  }
  return result;
}

// Bucket of a & b. CRoaring is only asked when both sides hold positions: empty
// buckets are common (every bitmap made by Bitmap() has one) and an empty result
// needs no allocation. Testing first whether the two intersect at all
// (roaring_bitmap_intersect, which allocates nothing) measured slower on the "64K
// blocks over keys" pairs of bench_algebra (bench/NOTES_ON_RATIOS.md, cause 2).
Bucket intersectionOf(const Bucket& mine, const Bucket* partner) {
  if (!holdsPositions(&mine) || !holdsPositions(partner)) return Bucket();
  return Bucket::intersection(mine, *partner);
}

// Bucket of a - b; where nothing is taken away it is a plain copy.
Bucket differenceOf(const Bucket& mine, const Bucket* partner) {
  if (!holdsPositions(&mine) || !holdsPositions(partner)) return mine;
  return Bucket::difference(mine, *partner);
}

// A copy of a bucket of the other operand, made by assignment as the in-place forms
// make it, so a failing copy reports the same message.
Bucket copyOfTheirs(const Bucket& theirs) {
  Bucket copy;
  copy = theirs;
  return copy;
}

// Bucket of a | b or a ^ b for a key both have; a side without positions leaves the
// other side's content as it is.
Bucket combinedBucket(const Bucket& mine, const Bucket& theirs, Combine combine) {
  if (!holdsPositions(&theirs)) return mine;
  if (!holdsPositions(&mine)) return copyOfTheirs(theirs);
  return combine(mine, theirs);
}

// A new map with the keys of both maps: buckets whose key both have are combined,
// the others copied, empty ones included.
Buckets combineAllOf(const Buckets& mine, const Buckets& theirs, Combine combine) {
  Buckets result;
  forEachKeyOfEither(mine, theirs, [&](std::uint32_t key, const Bucket* a, const Bucket* b) {
    Bucket combined = a == nullptr   ? copyOfTheirs(*b)
                      : b == nullptr ? Bucket(*a)
                                     : combinedBucket(*a, *b, combine);
    result.emplace_hint(result.end(), key, std::move(combined));
  });
  return result;
}

// Necessary conditions read in constant time from the container array and the two
// end containers. CRoaring's equality test first compares every container key, a pass
// over all containers before the first container is compared; consecutive sets of
// census1881 on one key have 256 containers each and nearly always differ at an end
// (bench_algebra, "a == b" in the "one key" layout; bench/NOTES_ON_RATIOS.md, cause 12).
bool mayBeEqual(const Bucket& mine, const Bucket& theirs) {
  return mine.containerCount() == theirs.containerCount() && mine.minimum() == theirs.minimum() &&
         mine.maximum() == theirs.maximum();
}

// `mine` holds positions, so an empty `theirs` fails here. CRoaring's subset test then
// compares cardinalities, which for array and bitset containers are stored.
bool mayBeSubset(const Bucket& mine, const Bucket& theirs) {
  return mine.containerCount() <= theirs.containerCount();
}

// A bitmap with no bucket at all, for results whose buckets are built separately.
Bitmap withoutBuckets() { return Bitmap(0, nullptr); }

// The in-place operator applied to a copy of `source`, with `source` as operand.
Bitmap appliedToCopy(const Bitmap& source, Bitmap& (Bitmap::*apply)(const Bitmap&)) {
  Bitmap result(source);
  (result.*apply)(source);
  return result;
}

// Every bucket keeps its key but holds no position: the answer to a - a and a ^ a.
void emptyEveryBucket(Buckets& buckets) {
  for (auto& entry : buckets) entry.second.clear();
}


}  // namespace

// A self-operand leaves the positions as they are; CRoaring is never handed one
// bitmap on both sides. CRoaring's in-place intersection and difference compact the
// container array as they go, which an allocation failure would leave half done; so
// each bucket's new content is made aside and takes the bucket's place when complete.
Bitmap& Bitmap::operator&=(const Bitmap& other) {
  if (this == &other) return *this;
  AscendingLookup lookup(other.buckets);
  for (auto& [key, bucket] : buckets) {
    bucket = intersectionOf(bucket, lookup.find(key));
  }
  return *this;
}

Bitmap& Bitmap::operator-=(const Bitmap& other) {
  if (this == &other) {
    emptyEveryBucket(buckets);
    return *this;
  }
  if (buckets.empty() || other.buckets.empty()) return *this;
  AscendingLookup lookup(other.buckets);
  for (auto& [key, bucket] : buckets) {
    const Bucket* theirs = lookup.find(key);
    if (holdsPositions(&bucket) && holdsPositions(theirs)) {
      bucket = differenceOf(bucket, theirs);
    }
  }
  return *this;
}

Bitmap& Bitmap::operator|=(const Bitmap& other) {
  if (this != &other) mergeInto(buckets, other.buckets, &Bucket::uniteWith);
  return *this;
}

Bitmap& Bitmap::operator^=(const Bitmap& other) {
  if (this == &other) {
    emptyEveryBucket(buckets);
  } else {
    mergeInto(buckets, other.buckets, &Bucket::symmetricDifferenceWith);
  }
  return *this;
}

// The non-modifying forms build their result in one pass with CRoaring's
// combining calls instead of copying this and changing the copy: a bucket is
// copied only when the result needs its content unchanged. The result holds the
// same buckets, empty ones included, as the in-place form applied to a copy of
// this. A self-operand takes that in-place route on a copy, which is then distinct
// from the operand.
Bitmap Bitmap::operator&(const Bitmap& other) const {
  if (this == &other) return Bitmap(*this);
  Bitmap result = withoutBuckets();
  result.buckets = combineEachOf(buckets, other.buckets, intersectionOf);
  return result;
}

Bitmap Bitmap::operator-(const Bitmap& other) const {
  if (this == &other) return appliedToCopy(*this, &Bitmap::operator-=);
  Bitmap result = withoutBuckets();
  result.buckets = combineEachOf(buckets, other.buckets, differenceOf);
  return result;
}

Bitmap Bitmap::operator|(const Bitmap& other) const {
  if (this == &other) return Bitmap(*this);
  Bitmap result = withoutBuckets();
  result.buckets = combineAllOf(buckets, other.buckets, Bucket::unionOf);
  return result;
}

Bitmap Bitmap::operator^(const Bitmap& other) const {
  if (this == &other) return appliedToCopy(*this, &Bitmap::operator^=);
  Bitmap result = withoutBuckets();
  result.buckets = combineAllOf(buckets, other.buckets, Bucket::symmetricDifference);
  return result;
}

// A merge walk over the buckets that hold positions, so empty buckets and the number
// of buckets play no part; it stops at the first difference. Keys are compared before
// contents, and contents by the cheapest evidence first.
bool Bitmap::operator==(const Bitmap& other) const {
  if (this == &other) return true;
  auto mine = firstNonEmpty(buckets.begin(), buckets.end());
  auto theirs = firstNonEmpty(other.buckets.begin(), other.buckets.end());
  while (mine != buckets.end() && theirs != other.buckets.end()) {
    if (mine->first != theirs->first || !mayBeEqual(mine->second, theirs->second) ||
        !mine->second.equals(theirs->second)) {
      return false;
    }
    mine = firstNonEmpty(std::next(mine), buckets.end());
    theirs = firstNonEmpty(std::next(theirs), other.buckets.end());
  }
  return mine == buckets.end() && theirs == other.buckets.end();
}

bool Bitmap::isSubset(const Bitmap& other) const {
  if (this == &other) return true;
  AscendingLookup lookup(other.buckets);
  for (const auto& [key, bucket] : buckets) {
    if (bucket.isEmpty()) continue;
    const Bucket* theirs = lookup.find(key);
    if (theirs == nullptr || !mayBeSubset(bucket, *theirs) || !bucket.isSubsetOf(*theirs)) return false;
  }
  return true;
}

bool Bitmap::isStrictSubset(const Bitmap& other) const {
  return isSubset(other) && cardinality() != other.cardinality();
}

bool Bitmap::hasSharedPositionsWith(const Bitmap& other) const {
  AscendingLookup lookup(other.buckets);
  for (const auto& entry : buckets) {
    if (lookup.find(entry.first) != nullptr) return true;
  }
  return false;
}

}  // namespace veltrane::storage
