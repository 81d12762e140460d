// IndexedBitmap answers every query as its Bitmap does: from fresh caches, from caches
// read in part or in full, and after the edits and copies that must drop them.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <utility>

#include "storage/indexed_bitmap.h"
#include "test_support.h"

using namespace test_support;
using veltrane::storage::IndexedBitmap;

namespace {

// mixedBitmap() spread over enough keys for the key table to pay, empty buckets included,
// and a run of empty buckets too long for the neighbour queries to step over (kRunProbe).
constexpr std::uint64_t kRunProbe = 410 * kSpan + 9;

Bitmap manyBuckets() {
  Bitmap bitmap = mixedBitmap();
  for (std::uint64_t key = 10; key < 400; key += 3) bitmap.add(key * kSpan + key);
  for (std::uint64_t key = 11; key < 420; key += 7) bitmap.addRange(key * kSpan, key * kSpan);
  for (std::uint64_t key = 400; key < 420; ++key) bitmap.addRange(key * kSpan, key * kSpan);
  for (std::uint64_t low : {5, 70}) {
    bitmap.add(399 * kSpan + low);
    bitmap.add(420 * kSpan + low);
  }
  return bitmap;
}

// Every query of `indexed` against the same query of a plain copy of its bitmap.
void expectSameAnswers(IndexedBitmap& indexed) {
  Bitmap plain = indexed.view();
  const std::vector<std::uint64_t> set = positionsOf(plain);
  ASSERT_EQ(indexed.cardinality(), set.size());
  std::vector<std::uint64_t> probes = probesFor(set);
  probes.push_back(kRunProbe);
  for (std::uint64_t p : probes) {
    EXPECT_EQ(indexed.contains(p), plain.contains(p)) << p;
    EXPECT_EQ(indexed.lowerCardinality(p), plain.lowerCardinality(p)) << p;
    EXPECT_EQ(indexed.upperCardinality(p), plain.upperCardinality(p)) << p;
    EXPECT_EQ(indexed.selfOrNext(p), plain.selfOrNext(p)) << p;
    EXPECT_EQ(indexed.selfOrPrevious(p), plain.selfOrPrevious(p)) << p;
  }
  for (std::size_t i = 0; i < set.size(); i += 11) EXPECT_EQ(indexed.nth(i), set[i]) << i;
  EXPECT_THROW(indexed.nth(set.size()), std::runtime_error);
  EXPECT_EQ(positionsOf(indexed.view()), set);
}

// The counts of a combination with `other`, against the bitmaps' own walks.
void expectSameCounts(const IndexedBitmap& indexed, const IndexedBitmap& other) {
  const Bitmap &a = indexed.view(), &b = other.view();
  EXPECT_EQ(indexed.unionCardinality(other), a.unionCardinality(b));
  EXPECT_EQ(indexed.differenceCardinality(other), a.differenceCardinality(b));
  EXPECT_EQ(indexed.symmetricDifferenceCardinality(other), a.symmetricDifferenceCardinality(b));
  EXPECT_EQ(indexed.jaccardIndex(other), a.jaccardIndex(b));
}

}  // namespace

TEST(IndexedBitmap, CountsOfCombinationsAreThoseOfTheWalks) {
  std::mt19937_64 random(17);
  IndexedBitmap other(manyBuckets());
  for (int round = 0; round < 200; ++round) {
    IndexedBitmap indexed(randomShape(random));
    expectSameCounts(indexed, other);
    expectSameCounts(other, indexed);
    indexed.edit().addRange(kSpan - 9, kSpan + 9);  // the kept count must follow
    expectSameCounts(indexed, other);
  }
  const IndexedBitmap empty(Bitmap(0, nullptr));
  EXPECT_TRUE(std::isnan(empty.jaccardIndex(empty)));
}

TEST(IndexedBitmap, AnswersAsItsBitmapDoes) {
  IndexedBitmap indexed(manyBuckets());
  expectSameAnswers(indexed);
  expectSameAnswers(indexed);
}

TEST(IndexedBitmap, EditsDropWhatWasLearnt) {
  IndexedBitmap indexed(manyBuckets());
  expectSameAnswers(indexed);
  indexed.edit().removeRange(3 * kSpan, 7 * kSpan);
  expectSameAnswers(indexed);
  indexed.edit().add(2 * kSpan + 1);
  indexed.edit().addRange(kMax - 100, kMax);
  expectSameAnswers(indexed);
  indexed.edit().clear();
  expectSameAnswers(indexed);
}

TEST(IndexedBitmap, CopiesAndMovesCarryThePositionsOnly) {
  IndexedBitmap source(manyBuckets());
  expectSameAnswers(source);
  IndexedBitmap copy(source);
  source.edit().clear();
  expectSameAnswers(copy);
  IndexedBitmap moved(std::move(copy));
  expectSameAnswers(moved);
  EXPECT_TRUE(copy.view().bucketMap().empty());  // NOLINT(bugprone-use-after-move)
  expectSameAnswers(copy);
}
