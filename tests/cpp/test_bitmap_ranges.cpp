// Range queries, flipping and slicing.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "test_support.h"

using namespace test_support;

namespace {

// Buckets 1, 2 and 3 exist but are empty; positions sit in buckets 0 and 4.
Bitmap withEmptyMiddleBuckets() {
  Bitmap bitmap = bitmapOf({5, 4 * kSpan + 10});
  bitmap.removeRange(kSpan, 4 * kSpan);
  return bitmap;
}

}  // namespace

TEST(BitmapFlip, RangeOverThreeBucketsTogglesEachPositionOnce) {
  Bitmap bitmap;
  bitmap.flip(kSpan - 10, 2 * kSpan + 10);
  EXPECT_EQ(bitmap.cardinality(), kSpan + 20);
  EXPECT_FALSE(bitmap.contains(kSpan - 11));
  EXPECT_TRUE(bitmap.contains(kSpan - 10));
  EXPECT_TRUE(bitmap.contains(2 * kSpan + 9));
  EXPECT_FALSE(bitmap.contains(2 * kSpan + 10));
  EXPECT_EQ(keysOf(bitmap), (Keys{0, 1, 2}));
}

TEST(BitmapFlip, TogglesSetAndUnsetPositionsAlike) {
  Bitmap bitmap = bitmapOf({1, 3, 5, kSpan + 1});
  bitmap.flip(0, 6);
  EXPECT_EQ(positionsOf(bitmap), (Positions{0, 2, 4, kSpan + 1}));
}

TEST(BitmapFlip, WidePieceOfAFullBucketKeepsTheRestOfTheBucket) {
  Bitmap bitmap;
  bitmap.addRange(0, 2 * kSpan);
  bitmap.flip(kSpan / 2, kSpan + 5);
  EXPECT_EQ(bitmap.cardinality(), 2 * kSpan - (kSpan / 2 + 5));
  EXPECT_TRUE(bitmap.contains(kSpan / 2 - 1));
  EXPECT_FALSE(bitmap.contains(kSpan / 2));
  EXPECT_FALSE(bitmap.contains(kSpan + 4));
  EXPECT_TRUE(bitmap.contains(kSpan + 5));
}

TEST(BitmapFlip, DoubleFlipRestoresPositionsAndKeepsCreatedBuckets) {
  Bitmap bitmap = bitmapOf({5, kSpan + 7});
  bitmap.flip(3, 4 * kSpan);
  bitmap.flip(3, 4 * kSpan);
  EXPECT_EQ(positionsOf(bitmap), (Positions{5, kSpan + 7}));
  // Key 4 holds no flipped position (low part of the end is 0) but is created anyway.
  EXPECT_EQ(keysOf(bitmap), (Keys{0, 1, 2, 3, 4}));
}

TEST(BitmapFlip, RangeEndingInTheLastKeyFinishes) {
  Bitmap bitmap(0, nullptr);
  bitmap.flip(kMax - kSpan - 2, kMax);
  EXPECT_EQ(bitmap.cardinality(), kSpan + 2);
  EXPECT_FALSE(bitmap.contains(kMax));
  EXPECT_TRUE(bitmap.contains(kMax - 1));
  EXPECT_EQ(keysOf(bitmap), (Keys{kLastKey - 1, kLastKey}));
}

TEST(BitmapFlip, EmptyOrReversedRangeChangesNoPosition) {
  Bitmap bitmap = bitmapOf({5});
  bitmap.flip(5, 5);
  bitmap.flip(6, 5);
  bitmap.flip(2 * kSpan, 5);
  EXPECT_EQ(positionsOf(bitmap), Positions{5});
  EXPECT_EQ(keysOf(bitmap), Keys{0});
}

TEST(BitmapFlip, SinglePositionIncludingTheLargest) {
  Bitmap bitmap = bitmapOf({5});
  bitmap.flip(5);
  bitmap.flip(kMax);
  EXPECT_EQ(positionsOf(bitmap), Positions{kMax});
  bitmap.flip(kMax);
  EXPECT_TRUE(bitmap.isEmpty());
  EXPECT_EQ(keysOf(bitmap), (Keys{0, kLastKey}));
}

TEST(BitmapFlip, SinglePositionAtTheTopOfABucketIsTheRangeUpToTheNextKey) {
  Bitmap bitmap(0, nullptr);
  bitmap.flip(kSpan - 1);
  EXPECT_EQ(positionsOf(bitmap), Positions{kSpan - 1});
  EXPECT_EQ(keysOf(bitmap), (Keys{0, 1}));
}

namespace {

struct RangeCase {
  const char* name;
  Bitmap (*make)();
  std::uint64_t start;
  std::uint64_t end;
  bool expected;
};

class BitmapAll : public ::testing::TestWithParam<RangeCase> {};
class BitmapAny : public ::testing::TestWithParam<RangeCase> {};

TEST_P(BitmapAll, Answers) {
  const RangeCase& c = GetParam();
  EXPECT_EQ(c.make().all(c.start, c.end), c.expected);
}

TEST_P(BitmapAny, Answers) {
  const RangeCase& c = GetParam();
  EXPECT_EQ(c.make().any(c.start, c.end), c.expected);
}

std::string caseName(const ::testing::TestParamInfo<RangeCase>& info) { return info.param.name; }

Bitmap noBucket() { return Bitmap(0, nullptr); }
Bitmap defaultBitmap() { return Bitmap(); }
Bitmap tenToNineteen() {
  Bitmap bitmap;
  bitmap.addRange(10, 20);
  return bitmap;
}
Bitmap tenToNineteenWithAHole() {
  Bitmap bitmap = tenToNineteen();
  bitmap.remove(15);
  return bitmap;
}
Bitmap wholeBucketZero() {
  Bitmap bitmap;
  bitmap.addRange(0, kSpan);  // also creates bucket 1, empty
  return bitmap;
}
Bitmap wholeBucketZeroOnly() {
  Bitmap bitmap;
  bitmap.addRange(0, kSpan - 1);
  bitmap.add(kSpan - 1);
  return bitmap;
}
Bitmap acrossFourKeys() {
  Bitmap bitmap;
  bitmap.addRange(kSpan - 5, 3 * kSpan + 5);
  return bitmap;
}
Bitmap acrossFourKeysMissingMiddle() { return bitmapOf({kSpan - 2, kSpan - 1, 3 * kSpan}); }
Bitmap topOfLastKey() {
  Bitmap bitmap;
  bitmap.addRange(kMax - 10, kMax);
  return bitmap;
}
Bitmap oneAboveKeyOne() { return bitmapOf({kSpan + 100}); }
Bitmap justFive() { return bitmapOf({5}); }
Bitmap justTheLargest() { return bitmapOf({kMax}); }
Bitmap belowTheLargest() { return bitmapOf({kMax - 1}); }
Bitmap farAway() { return bitmapOf({1000 * kSpan + 3}); }

}  // namespace

INSTANTIATE_TEST_SUITE_P(
    Cases, BitmapAll,
    ::testing::Values(
        RangeCase{"NoBucket", noBucket, 0, 10, false},
        RangeCase{"NoBucketEmptyRange", noBucket, 5, 5, false},
        RangeCase{"NoBucketReversedKeys", noBucket, kSpan, 5, false},
        RangeCase{"EmptyRangeInExistingBucket", defaultBitmap, 5, 5, true},
        RangeCase{"EmptyRangeInMissingBucket", defaultBitmap, kSpan + 5, kSpan + 5, false},
        RangeCase{"ReversedLowsInExistingBucket", defaultBitmap, 7, 5, true},
        RangeCase{"ReversedKeys", defaultBitmap, kSpan, 5, true},
        RangeCase{"EmptyBucketRange", defaultBitmap, 0, 1, false},
        RangeCase{"AllSet", tenToNineteen, 10, 20, true},
        RangeCase{"OnePastTheSetRun", tenToNineteen, 10, 21, false},
        RangeCase{"OneUnset", tenToNineteenWithAHole, 10, 20, false},
        RangeCase{"WholeBucketWithEmptyNextKey", wholeBucketZero, 0, kSpan, true},
        RangeCase{"WholeBucketWithoutNextKey", wholeBucketZeroOnly, 0, kSpan, true},
        RangeCase{"IntoTheMissingNextKey", wholeBucketZeroOnly, 0, kSpan + 1, false},
        RangeCase{"AcrossFourKeys", acrossFourKeys, kSpan - 5, 3 * kSpan + 5, true},
        RangeCase{"AcrossFourKeysOneTooLow", acrossFourKeys, kSpan - 6, 3 * kSpan + 5, false},
        RangeCase{"AcrossFourKeysOneTooHigh", acrossFourKeys, kSpan - 5, 3 * kSpan + 6, false},
        RangeCase{"MissingMiddleBucket", acrossFourKeysMissingMiddle, kSpan - 2, 3 * kSpan + 1,
                  false},
        RangeCase{"EndingInTheLastKey", topOfLastKey, kMax - 10, kMax, true},
        RangeCase{"FromBelowIntoTheLastKey", topOfLastKey, kMax - kSpan - 1, kMax, false},
        RangeCase{"WholeSpaceStopsAtTheFirstGap", justFive, 0, kMax, false}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Cases, BitmapAny,
    ::testing::Values(
        RangeCase{"NoBucket", noBucket, 0, kMax, false},
        RangeCase{"BelowThePosition", oneAboveKeyOne, kSpan + 5, kSpan + 10, false},
        RangeCase{"ReachingThePosition", oneAboveKeyOne, kSpan + 5, kSpan + 101, true},
        RangeCase{"EndingAtThePosition", oneAboveKeyOne, kSpan + 5, kSpan + 100, false},
        RangeCase{"EmptyRange", oneAboveKeyOne, kSpan + 100, kSpan + 100, false},
        RangeCase{"ReversedLows", oneAboveKeyOne, kSpan + 101, kSpan + 5, false},
        RangeCase{"ReversedKeys", oneAboveKeyOne, kSpan + 100, 5, false},
        RangeCase{"FromTheKeyBelow", oneAboveKeyOne, 6, kSpan + 101, true},
        RangeCase{"EmptyMiddleBuckets", withEmptyMiddleBuckets, 6, 4 * kSpan + 10, false},
        RangeCase{"LastPieceHit", withEmptyMiddleBuckets, 6, 4 * kSpan + 11, true},
        RangeCase{"FirstPieceHit", withEmptyMiddleBuckets, 5, 4 * kSpan, true},
        RangeCase{"EndInLastKeyStartAboveThePosition", justFive, (kSpan - 2) * kSpan, kMax,
                  false},
        RangeCase{"EndExcludesTheLargest", justTheLargest, 0, kMax, false},
        RangeCase{"JustBelowTheLargest", belowTheLargest, 0, kMax, true},
        RangeCase{"WholeSpaceOneFarPosition", farAway, 0, kMax, true},
        RangeCase{"WholeSpaceMissesTheFarPosition", farAway, 1000 * kSpan + 4, kMax, false}),
    caseName);

TEST(BitmapSlice, ExcludesItsSecondBoundAndKeepsValues) {
  Bitmap source;
  source.addRange(0, 100);
  const Bitmap slice = source.slice(10, 20);
  Positions expected;
  for (std::uint64_t p = 10; p < 20; ++p) expected.push_back(p);
  EXPECT_EQ(positionsOf(slice), expected);
  EXPECT_EQ(keysOf(slice), Keys{0});
  EXPECT_EQ(source.cardinality(), 100u);
}

TEST(BitmapSlice, ReversedWithinOneKeyIsEmptyAcrossKeysThrows) {
  Bitmap source;
  source.addRange(0, 100);
  EXPECT_TRUE(source.slice(20, 10).isEmpty());
  EXPECT_EQ(messageOf<std::runtime_error>([&] { source.slice(kSpan + 5, 5); }), "Invalid range4294967301..5");
}

TEST(BitmapSlice, AcrossABucketBoundary) {
  Bitmap source;
  source.addRange(kSpan - 2, kSpan + 6);
  const Bitmap slice = source.slice(kSpan - 2, kSpan + 2);
  EXPECT_EQ(positionsOf(slice), (Positions{kSpan - 2, kSpan - 1, kSpan, kSpan + 1}));
  EXPECT_EQ(keysOf(slice), (Keys{0, 1}));
}

// The result holds key 0 and every bucket of the source inside the span, masked first
// and last buckets included even when nothing of them is left.
TEST(BitmapSlice, ResultBuckets) {
  Bitmap source = bitmapOf({1, 2 * kSpan + 1, 2 * kSpan + 50, 5 * kSpan + 1, 7 * kSpan});
  source.removeRange(3 * kSpan, 3 * kSpan);  // empty bucket 3

  Bitmap slice = source.slice(2 * kSpan + 10, 5 * kSpan);
  EXPECT_EQ(positionsOf(slice), Positions{2 * kSpan + 50});
  EXPECT_EQ(keysOf(slice), (Keys{0, 2, 3, 5}));

  slice = source.slice(2 * kSpan + 60, 7 * kSpan + 1);
  EXPECT_EQ(positionsOf(slice), (Positions{5 * kSpan + 1, 7 * kSpan}));
  EXPECT_EQ(keysOf(slice), (Keys{0, 2, 3, 5, 7}));

  EXPECT_EQ(keysOf(source.slice(4 * kSpan, 4 * kSpan + 9)), Keys{0});
  EXPECT_EQ(keysOf(source.slice(2 * kSpan + 9, 2 * kSpan + 9)), (Keys{0, 2}));
  EXPECT_EQ(positionsOf(source.slice(0, kMax)), positionsOf(source));
}

TEST(BitmapSlice, EndingInTheLastKey) {
  const Bitmap source = bitmapOf({3, kMax - 3, kMax});
  const Bitmap slice = source.slice(kMax - 5, kMax);
  EXPECT_EQ(positionsOf(slice), Positions{kMax - 3});
  EXPECT_EQ(keysOf(slice), (Keys{0, kLastKey}));
}

// A narrow range over a bucket of many containers is cut out through a mask of the
// containers inside it, a wide range over a bucket of few containers by trimming a
// copy; both must keep exactly the range.
TEST(BitmapSlice, NarrowAndWideRangesOfOneBucket) {
  const auto at = [](std::uint64_t container, std::uint64_t low) {
    return kSpan + (container << 16) + low;
  };
  Positions spread;  // every third container holds low part 7
  for (std::uint64_t i = 0; i < 1000; ++i) spread.push_back(at(3 * i, 7));
  const Bitmap many = bitmapOf(spread);
  EXPECT_EQ(positionsOf(many.slice(at(30, 7), at(36, 8))),
            (Positions{at(30, 7), at(33, 7), at(36, 7)}));
  EXPECT_EQ(positionsOf(many.slice(at(30, 8), at(36, 7))), Positions{at(33, 7)});
  EXPECT_EQ(positionsOf(many.slice(at(31, 0), at(33, 0))), Positions{});

  const Bitmap few = bitmapOf({3, 5, std::uint64_t{1} << 31, kSpan - 1});
  EXPECT_EQ(positionsOf(few.slice(4, (std::uint64_t{1} << 31) + 1)),
            (Positions{5, std::uint64_t{1} << 31}));
  EXPECT_EQ(positionsOf(few.slice(4, kSpan)), (Positions{5, std::uint64_t{1} << 31, kSpan - 1}));
}
