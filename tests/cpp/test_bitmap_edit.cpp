// Construction, copying, point and range edits, counts and extremes.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "storage/internal/sorted_copy.h"
#include "test_support.h"

using namespace test_support;

namespace {


TEST(BitmapConstruction, DefaultHoldsOneEmptyBucketAtKeyZero) {
  const Bitmap bitmap;
  EXPECT_EQ(keysOf(bitmap), Keys{0});
  EXPECT_TRUE(bitmap.isEmpty());
  EXPECT_EQ(bitmap.cardinality(), 0u);
  EXPECT_FALSE(bitmap.first().has_value());
  EXPECT_FALSE(bitmap.last().has_value());
  EXPECT_FALSE(bitmap.isFull());
}

TEST(BitmapConstruction, FromValuesCreatesOnlyTheirKeysInFirstSeenOrder) {
  const std::uint64_t values[] = {3 * kSpan + 1, 7, 3 * kSpan + 1, kSpan, 2};
  const Bitmap bitmap(5, values);
  EXPECT_EQ(keysOf(bitmap), (Keys{0, 1, 3}));
  EXPECT_EQ(positionsOf(bitmap), (Positions{2, 7, kSpan, 3 * kSpan + 1}));

  const Bitmap none(0, values);
  EXPECT_TRUE(keysOf(none).empty());
  EXPECT_TRUE(none.isEmpty());
}

TEST(BitmapConstruction, OfAddsEachArgumentToADefaultBitmap) {
  const Bitmap bitmap = Bitmap::of(3, std::uint64_t{9}, kSpan + 1, kMax);
  EXPECT_EQ(keysOf(bitmap), (Keys{0, 1, 0xFFFFFFFF}));
  EXPECT_EQ(positionsOf(bitmap), (Positions{9, kSpan + 1, kMax}));
  EXPECT_EQ(keysOf(Bitmap::of(0)), Keys{0});
}

TEST(BitmapCopy, CopyKeepsEmptyBucketsAndIsIndependent) {
  Bitmap source = Bitmap::of(1, 5 * kSpan);
  source.remove(5 * kSpan);
  source.add(3);
  Bitmap copy(source);
  EXPECT_EQ(keysOf(copy), (Keys{0, 5}));
  copy.add(4);
  EXPECT_FALSE(source.contains(4));

  Bitmap assigned;
  assigned.add(kSpan * 9);
  assigned = source;
  EXPECT_EQ(keysOf(assigned), (Keys{0, 5}));
  EXPECT_EQ(positionsOf(assigned), Positions{3});
  auto& alias = assigned;
  assigned = alias;
  EXPECT_EQ(positionsOf(assigned), Positions{3});
}

TEST(BitmapCopy, MovedFromBitmapHasNoBucketAndStaysUsable) {
  Bitmap source = Bitmap::of(2, std::uint64_t{1}, 2 * kSpan);
  Bitmap target(std::move(source));
  EXPECT_EQ(positionsOf(target), (Positions{1, 2 * kSpan}));
  EXPECT_TRUE(keysOf(source).empty());
  EXPECT_TRUE(source.isEmpty());
  source.add(kSpan + 4);
  EXPECT_EQ(keysOf(source), Keys{1});

  Bitmap assigned;
  assigned = std::move(source);
  EXPECT_EQ(keysOf(assigned), Keys{1});
  EXPECT_TRUE(keysOf(source).empty());
}

TEST(BitmapPointEdits, AddRemoveContainsAtTheExtremes) {
  Bitmap bitmap;
  bitmap.add(kMax);
  EXPECT_EQ(keysOf(bitmap), (Keys{0, 0xFFFFFFFF}));
  EXPECT_TRUE(bitmap.contains(kMax));
  EXPECT_EQ(bitmap.last(), kMax);

  bitmap.remove(7 * kSpan);  // no bucket: nothing created
  EXPECT_EQ(keysOf(bitmap), (Keys{0, 0xFFFFFFFF}));

  bitmap.remove(kMax);  // the emptied bucket stays, queries skip it
  EXPECT_EQ(keysOf(bitmap), (Keys{0, 0xFFFFFFFF}));
  EXPECT_TRUE(bitmap.isEmpty());
  EXPECT_FALSE(bitmap.last().has_value());
}

TEST(BitmapPointEdits, AddManyKeepsDuplicatesHarmlessAndUnsortedInput) {
  std::vector<std::uint64_t> values;
  // Enough values to take the sorting path; keys first seen in the order 0, 1, 2.
  for (std::uint64_t i = 0; i < 20000; ++i) values.push_back((i % 3) * kSpan + (i * 7919) % 100000);
  values.push_back(kMax);
  values.push_back(0);
  Bitmap bitmap;
  bitmap.addMany(values.size(), values.data());
  Bitmap oneByOne;
  for (std::uint64_t value : values) oneByOne.add(value);
  EXPECT_EQ(positionsOf(bitmap), positionsOf(oneByOne));
  EXPECT_EQ(keysOf(bitmap), keysOf(oneByOne));
}

TEST(SortedCopy, SortsFullWidthValuesWithDuplicates) {
  std::vector<std::uint64_t> values;
  std::uint64_t state = 88172645463325252u;
  for (int i = 0; i < 50000; ++i) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    values.push_back(i % 5 == 0 ? state >> (i % 64) : state);
  }
  values.insert(values.end(), {kMax, 0, kMax, 0});
  std::vector<std::uint64_t> expected = values;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(veltrane::storage::internal::sortedCopy(values.data(), values.size()), expected);
  EXPECT_TRUE(veltrane::storage::internal::isNonDecreasing(expected.data(), expected.size()));
  EXPECT_FALSE(veltrane::storage::internal::isNonDecreasing(values.data(), values.size()));
}

struct RangeCase {
  const char* name;
  std::uint64_t start;
  std::uint64_t end;
  std::uint64_t expectedCount;
  Keys expectedKeys;
};

class AddRangeTest : public ::testing::TestWithParam<RangeCase> {};

TEST_P(AddRangeTest, SetsExactlyTheRangeAndCreatesTheSpannedBuckets) {
  const RangeCase& c = GetParam();
  Bitmap bitmap;
  bitmap.addRange(c.start, c.end);
  EXPECT_EQ(bitmap.cardinality(), c.expectedCount);
  EXPECT_EQ(keysOf(bitmap), c.expectedKeys);
  if (c.expectedCount > 0) {
    EXPECT_EQ(bitmap.first(), c.start);
    EXPECT_EQ(bitmap.last(), c.end - 1);
    EXPECT_FALSE(bitmap.contains(c.end));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, AddRangeTest,
    ::testing::Values(
        RangeCase{"empty", 5, 5, 0, {0}}, RangeCase{"reversed_same_key", 5, 3, 0, {0}},
        RangeCase{"reversed_keys", kSpan, 5, 0, {0}},
        RangeCase{"end_on_boundary", 5, kSpan, kSpan - 5, {0, 1}},
        RangeCase{"across_boundary", kSpan - 2, kSpan + 2, 4, {0, 1}},
        RangeCase{"two_whole_buckets", 0, 2 * kSpan, 2 * kSpan, {0, 1, 2}},
        RangeCase{"ends_in_last_bucket", kMax - kSpan - 1, kMax, kSpan + 1,
                  {0, 0xFFFFFFFE, 0xFFFFFFFF}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BitmapRangeEdits, RemoveRangeUnsetsExactlyAndCreatesEmptyBuckets) {
  Bitmap bitmap;
  bitmap.addRange(1, 21);
  bitmap.removeRange(5, 10);
  for (std::uint64_t p = 1; p <= 20; ++p) EXPECT_EQ(bitmap.contains(p), p < 5 || p >= 10) << p;

  Bitmap wide;
  wide.removeRange(0, 3 * kSpan);
  EXPECT_EQ(keysOf(wide), (Keys{0, 1, 2, 3}));
  wide.removeRange(4 * kSpan, 5);
  EXPECT_EQ(keysOf(wide), (Keys{0, 1, 2, 3}));
}

TEST(BitmapRangeEdits, RemoveRangeEndingInLastBucketTerminates) {
  Bitmap bitmap;
  bitmap.addRange(kMax - 5, kMax);
  bitmap.add(kMax);
  bitmap.removeRange(kMax - 5, kMax);
  EXPECT_EQ(positionsOf(bitmap), Positions{kMax});
  bitmap.addRange(kSpan - 3, 3 * kSpan + 3);
  bitmap.removeRange(kSpan - 1, 3 * kSpan + 1);
  EXPECT_EQ(positionsOf(bitmap), (Positions{kSpan - 3, kSpan - 2, 3 * kSpan + 1, 3 * kSpan + 2, kMax}));
}

TEST(BitmapClear, LeavesNoBucketAndAcceptsNewPositions) {
  Bitmap bitmap = Bitmap::of(2, std::uint64_t{1}, 5 * kSpan);
  bitmap.clear();
  EXPECT_TRUE(keysOf(bitmap).empty());
  EXPECT_TRUE(bitmap.isEmpty());
  bitmap.add(kSpan);
  EXPECT_EQ(keysOf(bitmap), Keys{1});
}

TEST(BitmapCounts, CardinalityFirstLastSkipEmptyBuckets) {
  Bitmap bitmap;
  bitmap.addRange(0, 2 * kSpan);
  EXPECT_EQ(bitmap.cardinality(), 2 * kSpan);
  EXPECT_TRUE(bitmap.contains(kSpan - 1));
  EXPECT_TRUE(bitmap.contains(2 * kSpan - 1));
  bitmap.removeRange(0, kSpan);
  bitmap.add(9 * kSpan);
  bitmap.remove(9 * kSpan);
  EXPECT_EQ(bitmap.first(), kSpan);
  EXPECT_EQ(bitmap.last(), 2 * kSpan - 1);
}

}  // namespace
