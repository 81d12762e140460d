// Rank, select and nearest-position search, checked against a sorted list of the
// positions read straight from the buckets.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_support.h"

using namespace test_support;

namespace {

std::uint64_t referenceBelow(const Positions& set, std::uint64_t p) {
  return std::lower_bound(set.begin(), set.end(), p) - set.begin();
}

}  // namespace

TEST(BitmapRank, CountsBelowAndAboveMatchTheReferenceAndAddUp) {
  const Bitmap bitmap = mixedBitmap();
  const Positions set = positionsOf(bitmap);
  for (std::uint64_t p : probesFor(set)) {
    const bool present = std::binary_search(set.begin(), set.end(), p);
    const std::uint64_t lower = bitmap.lowerCardinality(p);
    const std::uint64_t upper = bitmap.upperCardinality(p);
    EXPECT_EQ(lower, referenceBelow(set, p)) << p;
    EXPECT_EQ(lower + upper + (present ? 1 : 0), bitmap.cardinality()) << p;
  }
}

TEST(BitmapRank, Extremes) {
  Bitmap bitmap = Bitmap::of(2, std::uint64_t{5}, kSpan + 7);
  EXPECT_EQ(bitmap.lowerCardinality(kSpan), 1u);
  EXPECT_EQ(bitmap.upperCardinality(5), 1u);
  EXPECT_EQ(bitmap.lowerCardinality(0), 0u);
  EXPECT_EQ(bitmap.upperCardinality(kMax), 0u);
  EXPECT_EQ(bitmap.lowerCardinality(kSpan + 8), 2u);
  EXPECT_EQ(bitmap.upperCardinality(kSpan + 8), 0u);
  EXPECT_EQ(Bitmap().lowerCardinality(kMax), 0u);
}

TEST(BitmapSelect, EveryOrdinalMatchesTheReference) {
  Bitmap bitmap = mixedBitmap();
  const Positions set = positionsOf(bitmap);
  for (std::size_t i = 0; i < set.size(); i += 13) EXPECT_EQ(bitmap.nth(i), set[i]) << i;
  EXPECT_EQ(bitmap.nth(set.size() - 1), kMax);
}

TEST(BitmapSelect, OutOfRangeMessageNamesTheOrdinalPassedIn) {
  Bitmap bitmap = Bitmap::of(2, std::uint64_t{5}, kSpan + 7);
  EXPECT_EQ(bitmap.nth(0), 5u);
  EXPECT_EQ(bitmap.nth(1), kSpan + 7);
  for (std::uint64_t ordinal : {std::uint64_t{2}, kMax}) {
    EXPECT_EQ(messageOf<std::runtime_error>([&] { bitmap.nth(ordinal); }),
              "The ordinal value [ " + std::to_string(ordinal) + "] is greater than the total cardinality");
  }
  EXPECT_THROW(Bitmap().nth(0), std::runtime_error);
}

// Every ordinal of a full bucket is answered, its last low value included, and the
// ordinals after it continue in the next bucket.
TEST(BitmapSelect, ReachesTheLastValueOfAFullBucket) {
  Bitmap bitmap = Bitmap::of(2, std::uint64_t{5}, 2 * kSpan + 3);
  bitmap.addRange(kSpan, 2 * kSpan);
  EXPECT_EQ(bitmap.nth(kSpan - 1), 2 * kSpan - 2);
  EXPECT_EQ(bitmap.nth(kSpan), 2 * kSpan - 1);
  EXPECT_EQ(bitmap.nth(kSpan + 1), 2 * kSpan + 3);
  EXPECT_THROW(bitmap.nth(kSpan + 2), std::runtime_error);
  Bitmap full;
  full.addRange(0, kSpan);
  EXPECT_EQ(full.nth(kSpan - 1), kSpan - 1);
  EXPECT_THROW(full.nth(kSpan), std::runtime_error);
}

TEST(BitmapNeighbours, MatchTheReferenceEverywhere) {
  Bitmap bitmap = mixedBitmap();
  const Positions set = positionsOf(bitmap);
  for (std::uint64_t p : probesFor(set)) {
    const auto next = std::lower_bound(set.begin(), set.end(), p);
    const auto after = std::upper_bound(set.begin(), set.end(), p);
    EXPECT_EQ(bitmap.selfOrNext(p), next == set.end() ? 0 : *next) << p;
    EXPECT_EQ(bitmap.selfOrPrevious(p), after == set.begin() ? kMax : *std::prev(after)) << p;
  }
  EXPECT_EQ(positionsOf(bitmap), set);
}

TEST(BitmapNeighbours, SmallCases) {
  Bitmap bitmap = Bitmap::of(2, std::uint64_t{5}, kSpan + 7);
  struct Case {
    std::uint64_t probe, next, previous;
  };
  for (const Case& c : {Case{5, 5, 5}, Case{6, kSpan + 7, 5}, Case{4, 5, kMax},
                        Case{kSpan + 3, kSpan + 7, 5}, Case{kSpan + 8, 0, kSpan + 7},
                        Case{kSpan + 14, 0, kSpan + 7}}) {
    EXPECT_EQ(bitmap.selfOrNext(c.probe), c.next) << c.probe;
    EXPECT_EQ(bitmap.selfOrPrevious(c.probe), c.previous) << c.probe;
  }
  Bitmap empty;
  EXPECT_EQ(empty.selfOrNext(10), 0u);
  EXPECT_EQ(empty.selfOrPrevious(10), kMax);
}

TEST(BitmapNeighbours, ProbedBucketIsCreatedAndStays) {
  Bitmap bitmap = Bitmap::of(1, std::uint64_t{5});
  bitmap.selfOrNext(3 * kSpan);
  bitmap.selfOrPrevious(9 * kSpan + 1);
  bitmap.selfOrNext(kMax);
  EXPECT_EQ(keysOf(bitmap), (Keys{0, 3, 9, 0xFFFFFFFF}));
  EXPECT_EQ(positionsOf(bitmap), Positions{5});
}
