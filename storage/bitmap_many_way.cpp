// Union and intersection of many bitmaps, made key by key: every result bucket is
// built once from the buckets of all operands with that key, instead of through the
// intermediate result of each step of a chain of operators. An operand passed more
// than once counts once, as the binary operators treat a self-operand.
#include <algorithm>
#include <stdexcept>
#include <unordered_set>
#include <utility>
#include <vector>

#include "storage/bitmap.h"
#include "storage/cancellation.h"
#include "storage/internal/bucket_walks.h"

namespace veltrane::storage {

using namespace internal;
namespace {

// Operand buckets combined between two checks for cancellation; a call on fewer never
// checks.
constexpr std::uint32_t kBucketsBetweenChecks = 1024;

using KeyedBucket = std::pair<std::uint32_t, const Bucket*>;

std::vector<const Bitmap*> distinctOperands(std::size_t count, const Bitmap* const* bitmaps) {
  std::vector<const Bitmap*> distinct;
  std::unordered_set<const Bitmap*> seen;
  for (std::size_t i = 0; i < count; ++i) {
    if (seen.insert(bitmaps[i]).second) distinct.push_back(bitmaps[i]);
  }
  return distinct;
}

// Every bucket of every operand, by key, in operand order within a key.
std::vector<KeyedBucket> bucketsByKey(const std::vector<const Bitmap*>& operands) {
  std::vector<KeyedBucket> all;
  for (const Bitmap* operand : operands) {
    for (const auto& [key, bucket] : operand->bucketMap()) all.emplace_back(key, &bucket);
  }
  std::stable_sort(all.begin(), all.end(),
                   [](const KeyedBucket& a, const KeyedBucket& b) { return a.first < b.first; });
  return all;
}

// The union of the buckets that hold positions, made as operator| makes it for one or
// two of them, so that two operands give exactly the buckets of a | b. `raw` is room
// for CRoaring's array of bitmaps.
Bucket unionOf(const std::vector<const Bucket*>& parts, std::vector<const roaring_bitmap_t*>& raw) {
  switch (parts.size()) {
    case 0:
      return Bucket();
    case 1: {
      Bucket copy;
      copy = *parts[0];
      return copy;
    }
    case 2:
      return Bucket::unionOf(*parts[0], *parts[1]);
    default:
      raw.clear();
      for (const Bucket* part : parts) raw.push_back(&part->roaring);
      return Bucket::unionOfMany(raw.size(), raw.data());
  }
}

// a & b as operator& makes it: CRoaring is only asked when both hold positions.
Bucket intersectionOfPair(const Bucket& a, const Bucket& b) {
  if (a.isEmpty() || b.isEmpty()) return Bucket();
  return Bucket::intersection(a, b);
}

// The intersection of `first` with every bucket of `partners`, folded left to right as
// a chain of operator& folds it, until it holds no position.
Bucket intersectionOf(const Bucket& first, const std::vector<const Bucket*>& partners) {
  if (partners.empty()) return first;
  Bucket result = intersectionOfPair(first, *partners.front());
  for (auto partner = partners.begin() + 1; partner != partners.end() && !result.isEmpty(); ++partner) {
    result = intersectionOfPair(result, **partner);
  }
  return result;
}

}  // namespace

Bitmap Bitmap::unionAll(std::size_t count, const Bitmap* const* bitmaps) {
  if (count == 0) return Bitmap();
  const std::vector<KeyedBucket> all = bucketsByKey(distinctOperands(count, bitmaps));
  Bitmap result(0, nullptr);
  std::vector<const Bucket*> parts;
  std::vector<const roaring_bitmap_t*> raw;
  CancellationCountdown countdown(kBucketsBetweenChecks);
  for (auto group = all.begin(); group != all.end();) {
    const std::uint32_t key = group->first;
    parts.clear();
    for (; group != all.end() && group->first == key; ++group) {
      if (!group->second->isEmpty()) parts.push_back(group->second);
    }
    countdown.passed(static_cast<std::uint32_t>(parts.size()) + 1);
    result.buckets.emplace_hint(result.buckets.end(), key, unionOf(parts, raw));
  }
  return result;
}

Bitmap Bitmap::intersectAll(std::size_t count, const Bitmap* const* bitmaps) {
  if (count == 0) throw std::invalid_argument("intersection of no bitmaps");
  const std::vector<const Bitmap*> operands = distinctOperands(count, bitmaps);
  std::vector<AscendingLookup<const Buckets>> lookups;
  for (auto it = operands.begin() + 1; it != operands.end(); ++it) lookups.emplace_back((*it)->buckets);
  Bitmap result(0, nullptr);
  std::vector<const Bucket*> partners;
  CancellationCountdown countdown(kBucketsBetweenChecks);
  for (const auto& [key, bucket] : operands.front()->buckets) {
    countdown.passed(static_cast<std::uint32_t>(lookups.size()) + 1);
    partners.clear();
    for (auto& lookup : lookups) {
      const Bucket* partner = lookup.find(key);
      if (partner == nullptr) break;
      partners.push_back(partner);
    }
    const bool everyOperandHasKey = partners.size() == lookups.size();
    result.buckets.emplace_hint(result.buckets.end(), key,
                                everyOperandHasKey ? intersectionOf(bucket, partners) : Bucket());
  }
  return result;
}

}  // namespace veltrane::storage
