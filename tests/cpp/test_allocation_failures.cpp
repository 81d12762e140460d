// Every operation that allocates, run again and again with the n-th CRoaring allocation
// failing (n = 0, 1, 2, ..., sparser later on, until the operation gets through), once with that one
// allocation failing and once with every later one failing too, as when memory has
// run out. After each failure every bucket must pass CRoaring's own validation, the
// bitmap must be usable, and its positions must be what the operation promises: the
// same as before, or for the edits that may stop half way, somewhere between the
// positions before and the positions the whole edit gives.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "storage/allocation_hooks.h"
#include "fuzz_support.h"
#include "test_support.h"

namespace {

using namespace test_support;
using veltrane::storage::BucketCopyFailure;
using Operation = std::function<void(Bitmap& target, const Bitmap& other)>;

// What a failed operation leaves of its target.
enum class OnFailure { Unchanged, PartlyDone, EmptiedOrCopied };

// Array, bitmap and run containers in three buckets, with room for every kind of
// conversion between them.
Bitmap mixedBitmap(std::uint64_t seed) {
  Bitmap bitmap;
  XorShift random(seed);
  for (std::uint64_t key : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{3}}) {
    const std::uint64_t base = key * kSpan;
    for (int i = 0; i < 300; ++i) bitmap.add(base + random.next() % 200000);
    for (int i = 0; i < 6000; ++i) bitmap.add(base + 300000 + random.next() % 65536);
    bitmap.addRange(base + 500000 + seed * 1000, base + 520000);
  }
  return bitmap;
}

bool allBucketsValid(const Bitmap& bitmap) {
  for (const auto& [key, bucket] : bitmap.bucketMap()) {
    const char* reason = nullptr;
    if (!roaring_bitmap_internal_validate(&bucket.roaring, &reason)) {
      ADD_FAILURE() << "bucket " << key << ": " << (reason ? reason : "invalid");
      return false;
    }
  }
  return true;
}

// An interrupted CRoaring call cannot release what it had allocated so far (a partly
// built result, a container not yet linked in, the block a failed grow had to keep);
// those known losses of the bitmaps a failing run makes are kept out of the leak
// report, which checks every other test.
#if defined(__SANITIZE_ADDRESS__)
using LossesOfInterruptedCalls = __lsan::ScopedDisabler;
#else
struct LossesOfInterruptedCalls {};
#endif

// Runs `operation` with allocations failing after `allowed`; true when it failed.
bool runFailing(const Operation& operation, Bitmap& target, const Bitmap& other,
                std::uint64_t allowed, bool keepFailing) {
  veltrane::storage::failAllocationsAfter(allowed, keepFailing);
  bool failed = false;
  try {
    operation(target, other);
  } catch (const std::bad_alloc&) {
    failed = true;
  } catch (const BucketCopyFailure& failure) {
    const std::string message = failure.what();
    EXPECT_TRUE(message == "failed roaring_bitmap_overwrite in constructor" ||
                message == "failed memory alloc in assignment")
        << message;
    failed = true;
  }
  veltrane::storage::stopFailingAllocations();
  return failed;
}

bool keptItsPromise(const Bitmap& state, const Bitmap& before, const Bitmap& expected,
                    OnFailure promise) {
  switch (promise) {
    case OnFailure::Unchanged:
      return state == before;
    case OnFailure::PartlyDone:
      return (before & expected).isSubset(state) && state.isSubset(before | expected);
    case OnFailure::EmptiedOrCopied:
      return state.isSubset(expected);
  }
  return false;
}

bool usable(Bitmap& bitmap) {
  const std::uint64_t probe = 7 * kSpan + 11;
  bitmap.add(probe);
  const bool answers = bitmap.contains(probe) && Bitmap(bitmap) == bitmap;
  bitmap.remove(probe);
  EXPECT_TRUE(answers);
  return answers && allBucketsValid(bitmap) && bitmap.cardinality() > 0;
}

// The sweep itself; returns how many failing runs it made.
int sweep(const Operation& operation, OnFailure promise, bool keepFailing) {
  const Bitmap before = mixedBitmap(1);
  const Bitmap other = mixedBitmap(2);
  Bitmap expected = before;
  operation(expected, other);
  int failures = 0;
  // Every allocation point of the first ones, then ever sparser ones.
  for (std::uint64_t allowed = 0;; allowed += 1 + allowed / 4) {
    [[maybe_unused]] const LossesOfInterruptedCalls unreported;
    Bitmap target = before;
    const bool failed = runFailing(operation, target, other, allowed, keepFailing);
    if (!allBucketsValid(target) || !allBucketsValid(other)) return failures;
    if (!failed) {
      EXPECT_TRUE(target == expected);
      return failures;
    }
    ++failures;
    const bool keptPromise = keptItsPromise(target, before, expected, promise);
    EXPECT_TRUE(keptPromise) << "after a failure at allocation " << allowed;
    EXPECT_TRUE(other == mixedBitmap(2));
    if (!keptPromise || !usable(target)) return failures;
  }
}

struct Case {
  const char* name;
  OnFailure promise;
  Operation operation;
};

// `bitmap` written in the 64-bit Roaring form and read back from the bytes.
Bitmap readBackRoaring64(const Bitmap& bitmap) {
  std::vector<char> form(bitmap.roaring64Size());
  bitmap.toRoaring64(form.data(), form.size());
  return Bitmap::fromRoaring64(form.data(), form.size());
}

std::vector<Case> cases() {
  const std::uint64_t k = kSpan;
  const auto third = std::make_shared<const Bitmap>(mixedBitmap(3));
  return {
      {"add", OnFailure::PartlyDone,
       [](Bitmap& b, const Bitmap&) {
         for (std::uint64_t p = 0; p < 3000; p += 3) b.add(5 * kSpan + p * 7);
         b.add(301000);
       }},
      {"addMany", OnFailure::PartlyDone,
       [](Bitmap& b, const Bitmap&) {
         std::vector<std::uint64_t> values;
         XorShift random(9);
         for (int i = 0; i < 9000; ++i) values.push_back(random.next() % (6 * kSpan));
         b.addMany(values.size(), values.data());
       }},
      {"remove", OnFailure::PartlyDone,
       [](Bitmap& b, const Bitmap&) {
         for (std::uint64_t p = 505000; p < 515000; p += 97) b.remove(p);
       }},
      {"addRange", OnFailure::PartlyDone, [k](Bitmap& b, const Bitmap&) { b.addRange(250000, 2 * k + 5); }},
      {"removeRange", OnFailure::PartlyDone,
       [k](Bitmap& b, const Bitmap&) {
         b.removeRange(505000, 505100);
         b.removeRange(310000, k + 600000);
       }},
      {"flip", OnFailure::PartlyDone, [k](Bitmap& b, const Bitmap&) { b.flip(150000, 3 * k + 650000); }},
      {"flip narrow", OnFailure::PartlyDone, [](Bitmap& b, const Bitmap&) { b.flip(301000, 302000); }},
      {"|=", OnFailure::PartlyDone, [](Bitmap& b, const Bitmap& o) { b |= o; }},
      {"&=", OnFailure::PartlyDone, [](Bitmap& b, const Bitmap& o) { b &= o; }},
      {"-=", OnFailure::PartlyDone, [](Bitmap& b, const Bitmap& o) { b -= o; }},
      {"^=", OnFailure::PartlyDone, [](Bitmap& b, const Bitmap& o) { b ^= o; }},
      {"|", OnFailure::Unchanged, [](Bitmap& b, const Bitmap& o) { b = b | o; }},
      {"&", OnFailure::Unchanged, [](Bitmap& b, const Bitmap& o) { b = b & o; }},
      {"-", OnFailure::Unchanged, [](Bitmap& b, const Bitmap& o) { b = b - o; }},
      {"^", OnFailure::Unchanged, [](Bitmap& b, const Bitmap& o) { b = b ^ o; }},
      {"slice", OnFailure::Unchanged, [k](Bitmap& b, const Bitmap&) { b = b.slice(310000, 3 * k + 600000); }},
      {"copy", OnFailure::Unchanged, [](Bitmap& b, const Bitmap& o) { b = Bitmap(o); }},
      {"copy assignment", OnFailure::EmptiedOrCopied, [](Bitmap& b, const Bitmap& o) { b = o; }},
      {"expand", OnFailure::Unchanged, [](Bitmap& b, const Bitmap&) { b.expand(400000, 3000000000u); }},
      {"expand by keys", OnFailure::Unchanged, [k](Bitmap& b, const Bitmap&) { b.expand(k, 2 * k + 123); }},
      {"contract", OnFailure::Unchanged, [](Bitmap& b, const Bitmap&) { b.contract(k + 400000, 70000); }},
      {"persistedSize", OnFailure::Unchanged,
       [](Bitmap& b, const Bitmap&) { b.persistedSize(true, true, true); }},
      {"read portable", OnFailure::Unchanged, [](Bitmap& b, const Bitmap& o) { b = readBack(o, true); }},
      {"read native", OnFailure::Unchanged, [](Bitmap& b, const Bitmap& o) { b = readBack(o, false); }},
      {"read 64-bit form", OnFailure::Unchanged, [](Bitmap& b, const Bitmap& o) { b = readBackRoaring64(o); }},
      {"unionAll", OnFailure::Unchanged,
       [third](Bitmap& b, const Bitmap& o) {
         const Bitmap* operands[] = {&b, &o, third.get()};
         b = Bitmap::unionAll(3, operands);
       }},
      {"intersectAll", OnFailure::Unchanged,
       [third](Bitmap& b, const Bitmap& o) {
         const Bitmap* operands[] = {&b, &o, third.get()};
         b = Bitmap::intersectAll(3, operands);
       }},
  };
}

TEST(AllocationFailures, LeaveEveryBitmapConsistentAndUsable) {
  for (const Case& each : cases()) {
    for (bool keepFailing : {false, true}) {
      SCOPED_TRACE(std::string(each.name) + (keepFailing ? ", every allocation failing" : ", one allocation failing"));
      EXPECT_GT(sweep(each.operation, each.promise, keepFailing), 0);
    }
  }
}

}  // namespace
