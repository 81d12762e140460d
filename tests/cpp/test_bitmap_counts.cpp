// Counts of combinations against the size of the combination built by the operators,
// on random shapes and on the edge cases of empty and self operands.
#include <gtest/gtest.h>

#include <cmath>

#include "test_support.h"

using namespace test_support;

namespace {

void expectCountsOfBuiltResults(const Bitmap& a, const Bitmap& b) {
  const std::uint64_t shared = (a & b).cardinality(), either = (a | b).cardinality();
  EXPECT_EQ(a.intersectionCardinality(b), shared);
  EXPECT_EQ(a.unionCardinality(b), either);
  EXPECT_EQ(a.differenceCardinality(b), (a - b).cardinality());
  EXPECT_EQ(a.symmetricDifferenceCardinality(b), (a ^ b).cardinality());
  EXPECT_EQ(a.isDisjoint(b), shared == 0);
  if (either == 0) {
    EXPECT_TRUE(std::isnan(a.jaccardIndex(b)));
  } else {
    EXPECT_DOUBLE_EQ(a.jaccardIndex(b), static_cast<double>(shared) / static_cast<double>(either));
  }
}

}  // namespace

TEST(BitmapCounts, MatchTheBuiltResultsOnRandomShapes) {
  std::mt19937_64 random(20270127);
  for (int round = 0; round < 150; ++round) {
    const Bitmap a = randomShape(random), b = randomShape(random);
    SCOPED_TRACE(round);
    expectCountsOfBuiltResults(a, b);
    expectCountsOfBuiltResults(b, a);
    expectCountsOfBuiltResults(a, a);
  }
}

TEST(BitmapCounts, EmptyOperandsAndEmptyBuckets) {
  const Bitmap noBuckets(0, nullptr);
  const Bitmap emptied = Bitmap::of(2, std::uint64_t{5}, 3 * kSpan + 1) - Bitmap::of(2, std::uint64_t{5}, 3 * kSpan + 1);
  for (const Bitmap* empty : {&noBuckets, &emptied}) {
    expectCountsOfBuiltResults(*empty, Bitmap());
    expectCountsOfBuiltResults(*empty, Bitmap::of(2, std::uint64_t{5}, kMax));
    expectCountsOfBuiltResults(Bitmap::of(2, std::uint64_t{5}, kMax), *empty);
  }
  EXPECT_TRUE(std::isnan(Bitmap().jaccardIndex(noBuckets)));
}

// Unlike hasSharedPositionsWith, disjointness looks at positions, not keys.
TEST(BitmapCounts, DisjointnessLooksAtPositions) {
  EXPECT_TRUE(Bitmap::of(1, std::uint64_t{5}).isDisjoint(Bitmap::of(1, std::uint64_t{6})));
  EXPECT_FALSE(Bitmap::of(2, std::uint64_t{5}, kMax).isDisjoint(Bitmap::of(2, std::uint64_t{7}, kMax)));
  EXPECT_TRUE(Bitmap().isDisjoint(Bitmap()));
}
