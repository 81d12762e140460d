// The forward iterator (walks both ways, comparisons with the end) and the bulk
// copies of all positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "storage/block_reader.h"
#include "test_support.h"

using namespace test_support;

namespace {

// Empty buckets before, between and after the set ones; bucket 2 spans several
// containers and more values than one bulk read takes.
Bitmap bitmapWithEmptyBuckets() {
  Bitmap bitmap;  // empty bucket 0
  bitmap.add(kSpan + 3);
  bitmap.addRange(2 * kSpan + 65530, 2 * kSpan + 65530 + 5000);
  for (std::uint64_t low = 0; low < 4000000; low += 997) bitmap.add(2 * kSpan + low);
  bitmap.removeRange(3 * kSpan, 3 * kSpan + 1);  // empty bucket 3
  bitmap.add(4 * kSpan);
  bitmap.add(kMax);
  bitmap.removeRange(kMax - 2 * kSpan, kMax - 2 * kSpan + 1);  // empty, one below the top
  bitmap.add(kMax - kSpan);
  bitmap.remove(kMax - kSpan);  // empty, right below the top
  return bitmap;
}

Positions walkForward(const Bitmap& bitmap) {
  Positions walked;
  for (auto it = bitmap.begin(); it != bitmap.end(); ++it) walked.push_back(*it);
  return walked;
}

Positions walkBackward(const Bitmap& bitmap, bool postfix) {
  Positions walked;
  auto it = bitmap.end();
  while (it != bitmap.begin()) {
    if (postfix) {
      it--;
    } else {
      --it;
    }
    walked.push_back(*it);
  }
  std::reverse(walked.begin(), walked.end());
  return walked;
}

// copyPositionsTo writes every position in order and nothing past the count.
void expectCopyWritesThePositionsOnly(const Bitmap& bitmap) {
  const Positions expected = positionsOf(bitmap);
  Positions copied(expected.size() + 1, 77);
  bitmap.copyPositionsTo(copied.data());
  EXPECT_EQ(Positions(copied.begin(), copied.end() - 1), expected);
  EXPECT_EQ(copied.back(), 77u);
}

}  // namespace

TEST(BitmapIterator, WalksBothWaysOverEmptyBuckets) {
  const Bitmap bitmap = bitmapWithEmptyBuckets();
  const Positions expected = positionsOf(bitmap);
  EXPECT_EQ(walkForward(bitmap), expected);
  EXPECT_EQ(walkBackward(bitmap, false), expected);
  EXPECT_EQ(walkBackward(bitmap, true), expected);
}

TEST(BitmapIterator, PostfixFormsReturnThePreviousState) {
  Bitmap bitmap = Bitmap::of(3, std::uint64_t{3}, std::uint64_t{4294967297}, 5 * kSpan);
  bitmap.remove(5 * kSpan);  // trailing empty bucket 5
  auto it = bitmap.begin();
  EXPECT_EQ(*it++, 3u);
  EXPECT_EQ(*it, 4294967297u);
  EXPECT_EQ(it++, --bitmap.end());
  EXPECT_EQ(it, bitmap.end());

  auto fromEnd = bitmap.end();
  EXPECT_EQ(fromEnd--, bitmap.end());
  EXPECT_EQ(*fromEnd, 4294967297u);
  auto prefix = bitmap.end();
  EXPECT_EQ(*--prefix, 4294967297u);
}

TEST(BitmapIterator, NoSetPositionMeansBeginIsEnd) {
  Bitmap emptyBuckets = Bitmap::of(1, 7 * kSpan);
  emptyBuckets.remove(7 * kSpan);
  Bitmap noBuckets;
  noBuckets.clear();
  for (const Bitmap* bitmap : {&emptyBuckets, &noBuckets}) {
    EXPECT_TRUE(bitmap->begin() == bitmap->end());
    EXPECT_FALSE(bitmap->begin() < bitmap->end());
  }
}

// Iterators at 5, 9 (another bitmap), kMax, and two ends of different bitmaps, ranked
// by position with the end above everything.
TEST(BitmapIterator, ComparisonsTreatTheEndAsGreatest) {
  const Bitmap small = Bitmap::of(2, std::uint64_t{5}, kMax);
  const Bitmap other = Bitmap::of(1, std::uint64_t{9});
  struct Entry {
    Bitmap::BitmapForwardIterator it;
    int rank;
  };
  const std::vector<Entry> entries = {{small.begin(), 0}, {other.begin(), 1},
                                      {--small.end(), 2}, {small.end(), 3},
                                      {other.end(), 3}};
  for (const Entry& a : entries) {
    for (const Entry& b : entries) {
      EXPECT_EQ(a.it == b.it, a.rank == b.rank) << a.rank << " " << b.rank;
      EXPECT_EQ(a.it != b.it, a.rank != b.rank) << a.rank << " " << b.rank;
      EXPECT_EQ(a.it < b.it, a.rank < b.rank) << a.rank << " " << b.rank;
      EXPECT_EQ(a.it <= b.it, a.rank <= b.rank) << a.rank << " " << b.rank;
      EXPECT_EQ(a.it > b.it, a.rank > b.rank) << a.rank << " " << b.rank;
      EXPECT_EQ(a.it >= b.it, a.rank >= b.rank) << a.rank << " " << b.rank;
    }
  }
}

// Buckets made only of run containers are written by another route than buckets
// that hold array or bitset containers; both give the positions in order, also for a
// run that fills a whole container at the top of a bucket.
TEST(BitmapBulkOutput, CopyWritesRunAndMixedBucketsAlike) {
  Bitmap bitmap;
  bitmap.addRange(5, 70000);
  bitmap.addRange(kSpan + 0xFFFF0000u, 2 * kSpan);
  bitmap.addRange(3 * kSpan, 3 * kSpan + 1000);
  for (std::uint64_t low : {70000u, 70002u, 200000u}) bitmap.add(3 * kSpan + low);
  bitmap.add(kMax);
  bitmap.persistedSize(true, true, false);  // run-optimizes every bucket
  expectCopyWritesThePositionsOnly(bitmap);
}

TEST(BitmapBulkOutput, CopyAndMaskMatchThePositions) {
  expectCopyWritesThePositionsOnly(bitmapWithEmptyBuckets());

  // A mask relative to the first position, which lies in the bucket below the
  // rest and has a non-zero low part.
  Bitmap near;
  near.addRange(kSpan - 100, kSpan + 3000);
  const std::uint64_t offset = kSpan - 100;
  for (bool background : {false, true}) {
    std::vector<std::uint8_t> mask(3101, background);
    near.markPositionsIn(mask.data(), offset, background);
    for (std::size_t i : {0, 99, 100, 3099}) EXPECT_EQ(mask[i], !background) << i;
    EXPECT_EQ(mask[3100], background);
    EXPECT_EQ(std::count(mask.begin(), mask.end(), !background), 3100);
  }
}

// Blocks of several sizes, a block of one included, each holding one bucket's low parts.
TEST(BitmapBlockReader, ReadsEveryPositionInOrderAndThenNothing) {
  const Bitmap bitmap = bitmapWithEmptyBuckets();
  for (std::size_t capacity : {1, 7, 256, 5000}) {
    veltrane::storage::BlockReader reader(bitmap);
    std::vector<std::uint32_t> lows(capacity);
    Positions read;
    std::uint64_t high = 0;
    while (const std::size_t count = reader.read(lows.data(), capacity, high)) {
      ASSERT_LE(count, capacity);
      for (std::size_t i = 0; i < count; ++i) read.push_back(high | lows[i]);
    }
    EXPECT_EQ(read, positionsOf(bitmap)) << capacity;
    EXPECT_EQ(reader.read(lows.data(), capacity, high), 0u);
  }
  std::uint32_t low = 0;
  std::uint64_t high = 0;
  EXPECT_EQ(veltrane::storage::BlockReader(Bitmap()).read(&low, 1, high), 0u);
}
