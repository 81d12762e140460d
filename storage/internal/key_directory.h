#pragma once

#include <cstdint>
#include <vector>

#include "storage/bitmap.h"

namespace veltrane::storage::internal {

// A hash table from key to non-empty bucket, for membership tests on bitmaps with many
// buckets. Finding a key in the bucket map reads about log2(buckets) tree nodes one
// after another, most of them cache misses once the map outgrows the cache; the table
// needs one or two reads.
//
// The table is built lazily, once enough lookups have been made since the last drop to
// pay for it: building costs a walk over the buckets, and a map lookup costs about as
// much as building a few dozen slots. Its owner drops it on every edit. Inserting an
// empty bucket needs no drop: the table holds non-empty buckets only, and a node-based
// map keeps every bucket the table points to where it is.
class KeyDirectory {
 public:
  // False for bitmaps whose bucket map is small enough to search every time.
  static bool mayPay(const Bitmap& bitmap) noexcept;

  void drop() noexcept;
  bool contains(const Bitmap& bitmap, std::uint64_t position);

 private:
  struct Slot {
    std::uint32_t key;
    const roaring::Roaring* bucket;  // nullptr marks a free slot
  };

  bool worthBuilding(const Bitmap& bitmap);
  bool built(const Bitmap::Buckets& buckets);
  void build(const Bitmap::Buckets& buckets);
  const roaring::Roaring* find(std::uint32_t key) const noexcept;
  std::size_t slotOf(std::uint32_t key) const noexcept;

  std::vector<Slot> slots;
  unsigned shift = 32;
  std::uint64_t lookups = 0;
};

}  // namespace veltrane::storage::internal
