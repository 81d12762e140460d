// Set algebra: which buckets each operator keeps or adds, self-operands, equality
// and the subset tests with empty buckets, and a randomized check against std::set.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "test_support.h"

using namespace test_support;

namespace {

// A bitmap with exactly the buckets its positions need, plus an empty bucket for each
// of `emptyKeys` (which must not be keys of the positions).
Bitmap made(const Positions& positions, const Keys& emptyKeys = {}) {
  Bitmap bitmap(positions.size(), positions.data());
  for (std::uint32_t key : emptyKeys) {
    bitmap.add(key * kSpan);
    bitmap.remove(key * kSpan);
  }
  return bitmap;
}

Keys keyUnion(const Keys& a, const Keys& b) {
  Keys keys;
  std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(keys));
  return keys;
}

struct Operator {
  const char* name;
  Bitmap& (Bitmap::*inPlace)(const Bitmap&);
  Bitmap (Bitmap::*combined)(const Bitmap&) const;
  std::function<bool(bool, bool)> keeps;  // whether a position in this / in other stays
  bool addsKeysOfOther;                    // union and symmetric difference do
};

const Operator kOperators[] = {
    {"intersection", &Bitmap::operator&=, &Bitmap::operator&,
     [](bool mine, bool theirs) { return mine && theirs; }, false},
    {"difference", &Bitmap::operator-=, &Bitmap::operator-,
     [](bool mine, bool theirs) { return mine && !theirs; }, false},
    {"union", &Bitmap::operator|=, &Bitmap::operator|,
     [](bool mine, bool theirs) { return mine || theirs; }, true},
    {"symmetricDifference", &Bitmap::operator^=, &Bitmap::operator^,
     [](bool mine, bool theirs) { return mine != theirs; }, true},
};

Positions expectedPositions(const Operator& op, const Positions& mine, const Positions& theirs) {
  std::set<std::uint64_t> all(mine.begin(), mine.end());
  all.insert(theirs.begin(), theirs.end());
  Positions kept;
  for (std::uint64_t p : all) {
    const bool inMine = std::binary_search(mine.begin(), mine.end(), p);
    const bool inTheirs = std::binary_search(theirs.begin(), theirs.end(), p);
    if (op.keeps(inMine, inTheirs)) kept.push_back(p);
  }
  return kept;
}

Keys expectedKeys(const Operator& op, const Bitmap& mine, const Bitmap& theirs) {
  return op.addsKeysOfOther ? keyUnion(keysOf(mine), keysOf(theirs)) : keysOf(mine);
}

// Checks both forms of `op` on (mine, theirs): the in-place form on a copy and the
// non-modifying form give the expected keys and positions, and leave the operands alone.
void expectBothForms(const Operator& op, const Bitmap& mine, const Bitmap& theirs) {
  const Positions minePositions = positionsOf(mine), theirPositions = positionsOf(theirs);
  const Keys mineKeys = keysOf(mine), theirKeys = keysOf(theirs);
  const Positions wanted = expectedPositions(op, minePositions, theirPositions);
  const Keys wantedKeys = expectedKeys(op, mine, theirs);

  Bitmap changed(mine);
  EXPECT_EQ(&(changed.*op.inPlace)(theirs), &changed);
  EXPECT_EQ(positionsOf(changed), wanted);
  EXPECT_EQ(keysOf(changed), wantedKeys);

  const Bitmap result = (mine.*op.combined)(theirs);
  EXPECT_EQ(positionsOf(result), wanted);
  EXPECT_EQ(keysOf(result), wantedKeys);

  EXPECT_EQ(positionsOf(mine), minePositions);
  EXPECT_EQ(keysOf(mine), mineKeys);
  EXPECT_EQ(positionsOf(theirs), theirPositions);
  EXPECT_EQ(keysOf(theirs), theirKeys);
}

void PrintTo(const Operator& op, std::ostream* out) { *out << op.name; }

class BitmapOperator : public testing::TestWithParam<Operator> {};

std::string operatorName(const testing::TestParamInfo<Operator>& info) { return info.param.name; }

}  // namespace

// Shared, one-sided and empty buckets on both sides, key 0 among them.
TEST_P(BitmapOperator, FollowsTheBucketRules) {
  const Bitmap mine = made({1, 2, kSpan + 2, 3 * kSpan + 5, 3 * kSpan + 6}, {5, 7});
  const Bitmap theirs = made({2, 9, 3 * kSpan + 6, 4 * kSpan + 7}, {1, 6, 7});
  expectBothForms(GetParam(), mine, theirs);
  expectBothForms(GetParam(), theirs, mine);
}

TEST_P(BitmapOperator, HandlesOperandsWithoutBucketsOrPositions) {
  const Bitmap mine = made({4, 2 * kSpan + 1}, {3});
  for (const Bitmap& theirs : {made({}), Bitmap(), made({}, {2, 9})}) {
    expectBothForms(GetParam(), mine, theirs);
    expectBothForms(GetParam(), theirs, mine);
  }
}

// Self-operands: | and & keep the positions, - and ^ leave none; every key stays.
TEST_P(BitmapOperator, SelfOperandGivesTheSetAlgebraAnswer) {
  const Operator& op = GetParam();
  const Bitmap original = made({3, kSpan, kSpan + 9, 4 * kSpan + 1}, {2});
  const Positions wanted = op.keeps(true, true) ? positionsOf(original) : Positions{};

  Bitmap bitmap(original);
  EXPECT_EQ(&(bitmap.*op.inPlace)(bitmap), &bitmap);
  EXPECT_EQ(positionsOf(bitmap), wanted);
  EXPECT_EQ(keysOf(bitmap), keysOf(original));

  const Bitmap same(original);
  const Bitmap result = (same.*op.combined)(same);
  EXPECT_EQ(positionsOf(result), wanted);
  EXPECT_EQ(keysOf(result), keysOf(original));
  EXPECT_EQ(positionsOf(same), positionsOf(original));
}

// Random layouts over 64 keys: each key has positions, an empty bucket or nothing on
// either side, with weights that change from round to round so that long stretches
// of keys on one side only occur and the key walks both step and search.
TEST_P(BitmapOperator, MatchesStdSetOverManyKeys) {
  enum Side { kNothing, kPositions, kEmptyBucket };
  std::mt19937 random(20240611);
  for (int round = 0; round < 40; ++round) {
    std::discrete_distribution<int> side({1.0 + random() % 4, 1.0 + random() % 6, 0.5});
    Positions mine, theirs;
    Keys mineEmpty, theirEmpty;
    for (std::uint32_t key = 0; key < 64; ++key) {
      for (auto [positions, empty] : {std::tie(mine, mineEmpty), std::tie(theirs, theirEmpty)}) {
        const int what = side(random);
        if (what == kEmptyBucket) empty.push_back(key);
        for (int i = 0; what == kPositions && i < 5; ++i) {
          positions.push_back(key * kSpan + 1 + random() % 40);
        }
      }
    }
    expectBothForms(GetParam(), made(mine, mineEmpty), made(theirs, theirEmpty));
  }
}

INSTANTIATE_TEST_SUITE_P(AllFour, BitmapOperator, testing::ValuesIn(kOperators), operatorName);

TEST(BitmapIntersection, WithAnEmptyBitmapKeepsEveryKeyEmptyAndEqualsDefault) {
  for (const Bitmap& empty : {made({}), Bitmap(), made({}, {1, 5})}) {
    Bitmap bitmap = made({1, kSpan + 1, 5 * kSpan + 3}, {8});
    bitmap &= empty;
    EXPECT_EQ(keysOf(bitmap), (Keys{0, 1, 5, 8}));
    EXPECT_EQ(bitmap.cardinality(), 0u);
    EXPECT_TRUE(bitmap.isEmpty());
    EXPECT_TRUE(bitmap == Bitmap());
    EXPECT_TRUE(Bitmap() == bitmap);
  }
  const Bitmap noCommonKey = made({kSpan + 1}) & made({2 * kSpan + 1});
  EXPECT_EQ(keysOf(noCommonKey), Keys{1});
  EXPECT_TRUE(noCommonKey == Bitmap());
}

TEST(BitmapUnion, KeepsTheOtherSidesEmptyBucketAndCopiesBucketsDeeply) {
  const Bitmap mine = made({1});
  const Bitmap theirs = made({kSpan + 4}, {3});
  Bitmap result = mine | theirs;
  EXPECT_EQ(keysOf(result), (Keys{0, 1, 3}));
  EXPECT_EQ(positionsOf(result), (Positions{1, kSpan + 4}));
  EXPECT_TRUE(result == made({1, kSpan + 4}));

  result.add(kSpan + 5);
  result.add(3 * kSpan);
  Bitmap changed(mine);
  changed |= theirs;
  changed.add(kSpan + 6);
  EXPECT_EQ(positionsOf(theirs), Positions{kSpan + 4});
  EXPECT_EQ(keysOf(theirs), (Keys{1, 3}));
}

TEST(BitmapDifference, ByABitmapWithoutPositionsIsACopy) {
  const Bitmap mine = made({1, 7 * kSpan}, {4});
  for (const Bitmap& theirs : {made({}), Bitmap(), made({}, {0, 7})}) {
    const Bitmap result = mine - theirs;
    EXPECT_EQ(keysOf(result), keysOf(mine));
    EXPECT_EQ(positionsOf(result), positionsOf(mine));
  }
}

namespace {

struct Comparison {
  const char* name;
  Bitmap lhs;
  Bitmap rhs;
  bool equal;
  bool subset;        // lhs.isSubset(rhs)
  bool strictSubset;  // lhs.isStrictSubset(rhs)
};

Bitmap setAndUnset(std::uint64_t position) {
  Bitmap bitmap;
  bitmap.add(position);
  bitmap.remove(position);
  return bitmap;
}

std::vector<Comparison> comparisons() {
  return {
      {"SetAndUnsetVersusDefault", setAndUnset(5), Bitmap(), true, true, false},
      {"EmptyBucketsOnlyVersusNoBuckets", made({}, {3, 9}), made({}), true, true, false},
      {"DifferentEmptyBucketsOnEachSide", made({1, kSpan}, {4}), made({1, kSpan}, {2, 9}), true,
       true, false},
      {"TrailingEmptyBucket", made({1}, {9}), made({1}), true, true, false},
      {"TrailingPosition", made({1, 9 * kSpan}), made({1}), false, false, false},
      {"LeadingEmptyBucketOnTheRight", made({kSpan + 1}), made({kSpan + 1}, {0}), true, true,
       false},
      {"ProperSubset", made({1, kSpan + 2}), made({1, 3, kSpan + 2}), false, true, true},
      {"ProperSuperset", made({1, 3, kSpan + 2}), made({1, kSpan + 2}), false, false, false},
      {"SameLowPartsOtherKey", made({5}), made({kSpan + 5}), false, false, false},
      {"PositionsWhereOtherHasOnlyAnEmptyBucket", made({kSpan + 1}), made({}, {1}), false, false,
       false},
      {"EmptyBucketsAtKeysOtherLacks", made({}, {3, 8}), made({kSpan + 5}), false, true, true},
      {"DefaultVersusNonEmpty", Bitmap(), made({2 * kSpan}), false, true, true},
      {"EqualManyKeys", made({1, kSpan + 1, 6 * kSpan}, {2}), made({1, kSpan + 1, 6 * kSpan}, {5}),
       true, true, false},
      // Same ends and container counts, so only the contents decide.
      {"SameEndsOtherMiddle", made({1, 50, 100}), made({1, 60, 100}), false, false, false},
      {"SameEndsSubset", made({1, 50, 100}), made({1, 50, 70, 100}), false, true, true},
      {"SameEndsOtherContainer", made({1, 70000, 200000}), made({1, 140000, 200000}), false,
       false, false},
  };
}

void PrintTo(const Comparison& comparison, std::ostream* out) { *out << comparison.name; }

class BitmapComparison : public testing::TestWithParam<Comparison> {};

}  // namespace

TEST_P(BitmapComparison, EmptyBucketsPlayNoPart) {
  const Comparison& c = GetParam();
  EXPECT_EQ(c.lhs == c.rhs, c.equal);
  EXPECT_EQ(c.rhs == c.lhs, c.equal);
  EXPECT_EQ(c.lhs.isSubset(c.rhs), c.subset);
  EXPECT_EQ(c.lhs.isStrictSubset(c.rhs), c.strictSubset);
  EXPECT_TRUE(c.lhs == c.lhs);
  EXPECT_TRUE(c.lhs.isSubset(c.lhs));
  EXPECT_FALSE(c.lhs.isStrictSubset(c.lhs));
}

INSTANTIATE_TEST_SUITE_P(Cases, BitmapComparison, testing::ValuesIn(comparisons()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BitmapSharedKeys, CountsBucketsWhateverTheyHold) {
  const std::uint64_t five = 5, keyOneFive = kSpan + 5;
  EXPECT_TRUE(Bitmap::of(1, five).hasSharedPositionsWith(Bitmap::of(1, std::uint64_t{6})));
  EXPECT_FALSE(Bitmap(1, &five).hasSharedPositionsWith(Bitmap(1, &keyOneFive)));
  // Both start from Bitmap(), so both hold the empty bucket 0 and share it.
  EXPECT_TRUE(Bitmap::of(1, kSpan).hasSharedPositionsWith(Bitmap::of(1, 2 * kSpan)));
  EXPECT_TRUE(Bitmap().hasSharedPositionsWith(Bitmap()));
  EXPECT_TRUE(made({}, {7}).hasSharedPositionsWith(made({3, 7 * kSpan + 1})));
  EXPECT_FALSE(made({}).hasSharedPositionsWith(Bitmap()));
  EXPECT_FALSE(Bitmap().hasSharedPositionsWith(made({})));
  // A key far down a long map of the other side.
  Positions many;
  for (std::uint64_t key = 1; key < 50; ++key) many.push_back(key * kSpan);
  EXPECT_TRUE(made({40 * kSpan + 3}).hasSharedPositionsWith(made(many)));
  EXPECT_FALSE(made({60 * kSpan + 3}).hasSharedPositionsWith(made(many)));
}
