#pragma once

#include <cstdint>
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

}  // namespace test_support
