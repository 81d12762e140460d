// Many-way union and intersection against the chain of binary operators: the same
// positions and buckets, and for two operands the very same containers.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "test_support.h"

using namespace test_support;
using Operands = std::vector<const Bitmap*>;

namespace {

Bitmap unionChain(const Operands& operands) {
  Bitmap result = *operands.front();
  for (auto it = operands.begin() + 1; it != operands.end(); ++it) result = result | **it;
  return result;
}

Bitmap intersectionChain(const Operands& operands) {
  Bitmap result = *operands.front();
  for (auto it = operands.begin() + 1; it != operands.end(); ++it) result = result & **it;
  return result;
}

void expectSameBuckets(const Bitmap& got, const Bitmap& chained, bool sameContainers) {
  EXPECT_EQ(keysOf(got), keysOf(chained));
  EXPECT_EQ(positionsOf(got), positionsOf(chained));
  if (sameContainers) {
    EXPECT_EQ(serializedForm(got, true), serializedForm(chained, true));
  }
}

}  // namespace

// Operands repeat on purpose: a repeated operand acts as a self-operand does.
TEST(BitmapManyWay, MatchesTheChainOfOperatorsOnRandomShapes) {
  std::mt19937_64 random(20270128);
  std::vector<Bitmap> pool;
  for (int i = 0; i < 12; ++i) pool.push_back(randomShape(random));
  for (int round = 0; round < 120; ++round) {
    Operands operands;
    const std::size_t count = 1 + random() % 6;
    for (std::size_t i = 0; i < count; ++i) operands.push_back(&pool[random() % pool.size()]);
    SCOPED_TRACE(round);
    const bool pair = count <= 2;
    expectSameBuckets(Bitmap::unionAll(count, operands.data()), unionChain(operands), pair);
    expectSameBuckets(Bitmap::intersectAll(count, operands.data()), intersectionChain(operands), pair);
  }
}

TEST(BitmapManyWay, NoOperands) {
  EXPECT_EQ(keysOf(Bitmap::unionAll(0, nullptr)), keysOf(Bitmap()));
  EXPECT_THROW(Bitmap::intersectAll(0, nullptr), std::invalid_argument);
}

TEST(BitmapManyWay, ManyOperandsOnOneKey) {
  std::vector<Bitmap> bitmaps;
  Operands operands;
  for (std::uint64_t i = 0; i < 300; ++i) bitmaps.push_back(Bitmap::of(2, i * 70001, kSpan + i % 3));
  for (const Bitmap& bitmap : bitmaps) operands.push_back(&bitmap);
  expectSameBuckets(Bitmap::unionAll(operands.size(), operands.data()), unionChain(operands), false);
  const Bitmap shared = Bitmap::intersectAll(operands.size(), operands.data());
  EXPECT_EQ(keysOf(shared), (std::vector<std::uint32_t>{0, 1}));
  EXPECT_TRUE(shared.isEmpty());
}
