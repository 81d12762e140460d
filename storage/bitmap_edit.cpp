// Construction, copying, point and range edits, counts and extremes.
#include <cstdarg>
#include <stdexcept>
#include <utility>
#include <vector>

#include "storage/allocation_hooks.h"
#include "storage/bitmap.h"
#include "storage/cancellation.h"
#include "storage/internal/bucket_access.h"
#include "storage/internal/key_span.h"
#include "storage/internal/safe_bucket_edits.h"
#include "storage/internal/sorted_copy.h"

namespace veltrane::storage {

using namespace internal;

Bitmap::Bitmap() {
  installAllocationHooks();
  buckets.emplace(0, roaring::Roaring());
}

Bitmap::Bitmap(std::size_t count, const std::uint64_t* values) {
  installAllocationHooks();
  addMany(count, values);
}

Bitmap::Bitmap(const Bitmap& other) : buckets(other.buckets) {}

Bitmap::Bitmap(Bitmap&& other) noexcept : buckets(std::move(other.buckets)) {
  other.buckets.clear();
}

Bitmap& Bitmap::operator=(const Bitmap& other) {
  if (this != &other) buckets = other.buckets;
  return *this;
}

Bitmap& Bitmap::operator=(Bitmap&& other) noexcept {
  if (this != &other) {
    buckets.clear();
    buckets.swap(other.buckets);
  }
  return *this;
}

Bitmap::~Bitmap() = default;

Bitmap Bitmap::of(std::size_t count, ...) {
  Bitmap result;
  va_list arguments;
  va_start(arguments, count);
  for (std::size_t i = 0; i < count; ++i) result.add(va_arg(arguments, std::uint64_t));
  va_end(arguments);
  return result;
}

void Bitmap::add(std::uint64_t position) {
  editBucket(getOrCreate(buckets, keyOf(position)), &roaring::Roaring::add, lowOf(position));
}

namespace {

// Some milliseconds of adding.
constexpr std::size_t kValuesBetweenChecks = std::size_t{1} << 18;

// Adds values in order; consecutive values usually share a key, so the bucket is
// looked up again only when the key changes, and CRoaring's bulk context remembers
// the last container touched. Buckets are created in the order their keys first
// appear, exactly as one add() per value would create them.
void addInOrder(Bitmap::Buckets& buckets, std::size_t count, const std::uint64_t* values) {
  std::uint32_t currentKey = keyOf(values[0]);
  roaring::Roaring* bucket = &getOrCreate(buckets, currentKey);
  roaring_bulk_context_t context{};
  forEachCancellableBlock(count, kValuesBetweenChecks, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      const std::uint64_t value = values[i];
      if (keyOf(value) != currentKey) {
        currentKey = keyOf(value);
        bucket = &getOrCreate(buckets, currentKey);
        context = roaring_bulk_context_t{};
      }
      editBucket(*bucket, &roaring::Roaring::addBulk, context, lowOf(value));
    }
  });
}

// Below this many values, sorting first does not pay for itself.
constexpr std::size_t kSortThreshold = 4096;

}  // namespace

// Unordered input is sorted first: CRoaring then appends to one container at a time
// instead of searching and shifting containers for every value. The set of positions
// and of buckets is the same either way.
void Bitmap::addMany(std::size_t count, const std::uint64_t* values) {
  if (count == 0) return;
  if (count < kSortThreshold || isNonDecreasing(values, count)) {
    addInOrder(buckets, count, values);
    return;
  }
  const std::vector<std::uint64_t> sorted = sortedCopy(values, count);
  addInOrder(buckets, count, sorted.data());
}

void Bitmap::remove(std::uint64_t position) {
  if (roaring::Roaring* bucket = find(buckets, keyOf(position))) {
    reserveRoomForRunSplit(bucket->roaring, lowOf(position));
    editBucket(*bucket, &roaring::Roaring::remove, lowOf(position));
  }
}

void Bitmap::addRange(std::uint64_t start, std::uint64_t endEx) {
  forEachKeyOfRange(start, endEx, [this](std::uint32_t key, LowRange lows) {
    roaring::Roaring& bucket = getOrCreate(buckets, key);
    if (!lows.empty()) addLowRange(bucket, lows);
  });
}

void Bitmap::removeRange(std::uint64_t start, std::uint64_t endEx) {
  forEachKeyOfRange(start, endEx, [this](std::uint32_t key, LowRange lows) {
    roaring::Roaring& bucket = getOrCreate(buckets, key);
    if (lows.wholeBucket()) {
      bucket.clear();
    } else if (!lows.empty()) {
      clearLowRange(bucket, lows);
    }
  });
}

void Bitmap::clear() { buckets.clear(); }

bool Bitmap::contains(std::uint64_t position) const {
  const roaring::Roaring* bucket = find(buckets, keyOf(position));
  return bucket != nullptr && bucket->contains(lowOf(position));
}

bool Bitmap::isFull() const {
  if (buckets.size() != kBucketSpan) return false;
  for (const auto& [key, bucket] : buckets) {
    if (bucket.cardinality() != kBucketSpan) return false;
  }
  return true;
}

std::uint64_t Bitmap::cardinality() const {
  if (isFull()) {
    throw std::length_error(
        "bitmap is full, cardinality is 2^64, unable to represent in a 64-bit integer");
  }
  std::uint64_t total = 0;
  for (const auto& [key, bucket] : buckets) total += bucket.cardinality();
  return total;
}

bool Bitmap::isEmpty() const { return firstNonEmpty(buckets.begin(), buckets.end()) == buckets.end(); }

std::optional<std::uint64_t> Bitmap::first() const {
  const auto bucket = firstNonEmpty(buckets.begin(), buckets.end());
  if (bucket == buckets.end()) return std::nullopt;
  return positionOf(bucket->first, bucket->second.minimum());
}

std::optional<std::uint64_t> Bitmap::last() const {
  const auto bucket = lastNonEmpty(buckets.begin(), buckets.end());
  if (bucket == buckets.end()) return std::nullopt;
  return positionOf(bucket->first, bucket->second.maximum());
}

}  // namespace veltrane::storage
