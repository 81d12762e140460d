// The bucket map's pooled node allocator: nodes stay valid however maps and bitmaps
// are moved, swapped, copied and destroyed, and a map that gives back all its nodes
// gives back its memory. The sanitizer build turns any node freed to the wrong pool,
// or used after its slab went back to the heap, into a failure here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "storage/node_pool.h"
#include "test_support.h"

namespace {

using namespace test_support;
using veltrane::storage::NodePool;
using veltrane::storage::PooledAllocator;
using TextMap = std::map<int, std::string, std::less<int>, PooledAllocator<std::pair<const int, std::string>>>;

TextMap numbered(int first, int count) {
  TextMap map;
  for (int i = first; i < first + count; ++i) map.emplace(i, std::string(40, static_cast<char>('a' + i % 26)));
  return map;
}

Bitmap spreadOverKeys(std::uint64_t keys, std::uint64_t offset) {
  Bitmap bitmap;
  for (std::uint64_t key = 0; key < keys; ++key) bitmap.add(key * kSpan + offset);
  return bitmap;
}

TEST(NodePool, BlocksAreDistinctAlignedAndReusedAfterEverySlabIsReleased) {
  NodePool pool(40, 8);
  std::vector<void*> blocks;
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 5000; ++i) {
      blocks.push_back(pool.take());
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(blocks.back()) % 8, 0u);
      std::memset(blocks.back(), 0xAB, pool.sizeOfBlocks());
    }
    std::vector<void*> sorted = blocks;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
    for (void* block : blocks) pool.give(block);
    blocks.clear();
  }
}

TEST(NodePool, MapsKeepTheirNodesThroughMovesSwapsAndCopies) {
  TextMap first = numbered(0, 3000);
  TextMap second = numbered(5000, 10);
  TextMap moved(std::move(first));
  first = numbered(100, 50);  // the moved-from map allocates again, from a pool of its own
  std::swap(moved, second);
  TextMap copied(second);
  second.clear();
  copied = numbered(7, 7);  // copy assignment keeps the target's pool
  moved = std::move(copied);
  EXPECT_EQ(moved, numbered(7, 7));
  EXPECT_EQ(first, numbered(100, 50));
  EXPECT_TRUE(copied.empty() || copied == numbered(7, 7));
}

TEST(NodePool, BitmapsOutliveTheBitmapsTheyWereMovedOrCopiedFrom) {
  std::vector<Bitmap> kept;
  {
    Bitmap source = spreadOverKeys(2000, 5);
    kept.push_back(Bitmap(source));
    kept.push_back(std::move(source));
    source.add(3 * kSpan);  // usable after the move
    kept.push_back(source);
  }
  Bitmap target;
  target = kept[0];
  kept[0] = spreadOverKeys(3, 9);
  kept.push_back(std::move(target));
  EXPECT_EQ(kept[1], spreadOverKeys(2000, 5));
  EXPECT_EQ(kept[3], spreadOverKeys(2000, 5));
  EXPECT_EQ(positionsOf(kept[2]), std::vector<std::uint64_t>{3 * kSpan});
  EXPECT_EQ(kept[0], spreadOverKeys(3, 9));
}

// Shifting moves map nodes between the bitmap's map and a working copy, which is
// only sound when both take nodes from one pool.
TEST(NodePool, ShiftsAcrossManyKeysKeepEveryPosition) {
  Bitmap bitmap = spreadOverKeys(3000, 17);
  bitmap.expand(1500 * kSpan, 5 * kSpan);
  Bitmap expected = spreadOverKeys(1500, 17);
  for (std::uint64_t key = 1500; key < 3000; ++key) expected.add((key + 5) * kSpan + 17);
  EXPECT_EQ(bitmap, expected);
  for (std::uint64_t key = 1505; key > 1500; --key) bitmap.contract(key * kSpan - 1, kSpan);
  EXPECT_EQ(bitmap, spreadOverKeys(3000, 17));
  bitmap.clear();
  bitmap.add(kMax);
  EXPECT_EQ(positionsOf(bitmap), std::vector<std::uint64_t>{kMax});
}

}  // namespace
