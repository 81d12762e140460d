#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "storage/bitmap.h"
#include "storage/internal/key_span.h"

// Reading a bitmap back without its own query operations, straight from the buckets.
namespace test_support {

using veltrane::storage::Bitmap;
using Keys = std::vector<std::uint32_t>;
using Positions = std::vector<std::uint64_t>;

constexpr std::uint64_t kSpan = std::uint64_t{1} << 32;
constexpr std::uint64_t kMax = ~std::uint64_t{0};
constexpr std::uint32_t kLastKey = 0xFFFFFFFFu;

// What `call` throws as `Error`, or "nothing thrown"; any other exception propagates.
template <typename Error, typename Call>
std::string messageOf(Call&& call) {
  try {
    call();
  } catch (const Error& error) {
    return error.what();
  }
  return "nothing thrown";
}

// The serialized form as written without compaction, which changes no container.
inline std::vector<char> serializedForm(const Bitmap& bitmap, bool portable) {
  std::vector<char> form(Bitmap(bitmap).persistedSize(portable, false, false));
  bitmap.write(form.data(), portable);
  return form;
}

inline Bitmap readBack(const Bitmap& bitmap, bool portable) {
  const std::vector<char> form = serializedForm(bitmap, portable);
  return Bitmap::read(form.data(), form.size(), portable);
}

// Exactly the buckets the positions need, no bucket 0 of its own.
inline Bitmap bitmapOf(const Positions& positions) { return Bitmap(positions.size(), positions.data()); }

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
    for (std::uint32_t low : lows) positions.push_back(veltrane::storage::internal::positionOf(key, low));
  }
  return positions;
}

// Several keys with array, bitmap and run containers, a bucket spread over many
// containers, and empty buckets at both ends and in between.
inline Bitmap mixedBitmap() {
  Bitmap bitmap;  // empty bucket 0
  std::mt19937_64 random(42);
  for (int i = 0; i < 300; ++i) bitmap.add(kSpan + random() % 5000000);
  for (int i = 0; i < 6000; ++i) bitmap.add(3 * kSpan + 70000 + random() % 60000);
  bitmap.addRange(3 * kSpan + 200000, 3 * kSpan + 300000);
  bitmap.add(5 * kSpan + 9);
  bitmap.remove(5 * kSpan + 9);  // empty bucket 5 between full ones
  bitmap.addRange(6 * kSpan - 10, 6 * kSpan + 10);
  bitmap.add(kMax);
  bitmap.add(kMax - 4);
  bitmap.removeRange(kMax - 2 * kSpan, kMax - 2 * kSpan + 1);  // empty bucket near the top
  return bitmap;
}

// Probes around every bucket border and some set positions, plus random ones.
inline std::vector<std::uint64_t> probesFor(const std::vector<std::uint64_t>& set) {
  std::vector<std::uint64_t> probes = {0, 1, kSpan - 1, kSpan, 2 * kSpan, 5 * kSpan, kMax, kMax - 1, kMax - 3};
  for (std::size_t i = 0; i < set.size(); i += 97) {
    for (std::uint64_t delta : {0, 1, 2}) {
      probes.push_back(set[i] + delta);
      probes.push_back(set[i] - delta);
    }
  }
  std::mt19937_64 random(7);
  for (int i = 0; i < 500; ++i) probes.push_back(random() % (8 * kSpan));
  return probes;
}

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
