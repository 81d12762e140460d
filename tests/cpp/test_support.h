#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "storage/bitmap.h"
#include "storage/key_span.h"

// Reading a bitmap back without its own query operations, straight from the buckets.
namespace test_support {

using veltrane::storage::Bitmap;

inline std::vector<std::uint32_t> keysOf(const Bitmap& bitmap) {
  std::vector<std::uint32_t> keys;
  for (const auto& entry : bitmap.bucketMap()) keys.push_back(entry.first);
  return keys;
}

inline std::vector<std::uint64_t> positionsOf(const Bitmap& bitmap) {
  std::vector<std::uint64_t> positions;
  for (const auto& [key, bucket] : bitmap.bucketMap()) {
    std::vector<std::uint32_t> lows(roaring_bitmap_get_cardinality(&bucket.roaring));
    roaring_bitmap_to_uint32_array(&bucket.roaring, lows.data());
    for (std::uint32_t low : lows) positions.push_back(veltrane::storage::positionOf(key, low));
  }
  return positions;
}

constexpr std::uint64_t kSpan = std::uint64_t{1} << 32;
constexpr std::uint64_t kMax = ~std::uint64_t{0};

// A random bitmap over a few keys, the last one among them: each key has nothing, an
// empty bucket, scattered positions (an array container), a dense stretch (a bitset
// container), a range (a run container) or all three.
inline Bitmap randomShape(std::mt19937_64& random) {
  Bitmap bitmap(0, nullptr);
  for (std::uint64_t key : {0ull, 1ull, 2ull, 5ull, 0xFFFFFFFFull}) {
    const std::uint64_t base = key * kSpan;
    const int what = static_cast<int>(random() % 6);
    if (what == 1) {
      bitmap.add(base);
      bitmap.remove(base);
    }
    for (int i = 0; (what == 2 || what == 5) && i < 40; ++i) bitmap.add(base + random() % 200000);
    for (std::uint64_t low = 0; (what == 3 || what == 5) && low < 12000; low += 2) {
      bitmap.add(base + 70000 + low + random() % 2);
    }
    const std::uint64_t start = base + random() % 150000;
    if (what == 4 || what == 5) bitmap.addRange(start, start + 1 + random() % 100000);
  }
  return bitmap;
}

}  // namespace test_support
