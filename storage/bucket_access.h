#pragma once

#include <cstdint>

#include "storage/bitmap.h"

// The two bucket lookups every operation uses: find, which never changes the map,
// and get-or-create, which inserts an empty bucket for a missing key.
namespace veltrane::storage {

inline roaring_bitmap_t* find(Bitmap::Buckets& buckets, std::uint32_t key) {
  const auto it = buckets.find(key);
  return it == buckets.end() ? nullptr : &it->second.roaring;
}

inline const roaring_bitmap_t* find(const Bitmap::Buckets& buckets, std::uint32_t key) {
  const auto it = buckets.find(key);
  return it == buckets.end() ? nullptr : &it->second.roaring;
}

inline Bitmap::Buckets::iterator getOrCreateEntry(Bitmap::Buckets& buckets, std::uint32_t key) {
  auto it = buckets.lower_bound(key);
  if (it == buckets.end() || it->first != key) it = buckets.emplace_hint(it, key, roaring::Roaring());
  return it;
}

inline roaring_bitmap_t& getOrCreate(Bitmap::Buckets& buckets, std::uint32_t key) {
  return getOrCreateEntry(buckets, key)->second.roaring;
}

}  // namespace veltrane::storage
