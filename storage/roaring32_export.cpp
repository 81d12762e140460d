// Roaring::writePositions: a bucket's low parts written out as 64-bit positions.
//
// Two ways, chosen per group of containers by what measured fastest
// (bench/NOTES_ON_RATIOS.md, cause 7; the index_array rows of bench_arrays and
// bench_shapes):
// - A group made only of run containers is written container by container straight
//   into the 64-bit output, with the container reader that CRoaring's own 64-bit
//   bitmaps use for their array export. Nothing is staged.
// - Any other group goes through CRoaring's vectorised 32-bit export into the front
//   half of its own stretch of the output, which is then widened in place. Array and
//   bitset containers are exported 1.3 to 1.9 times faster that way than by the
//   per-value 64-bit reader.
// Groups hold up to kContainersPerGroup containers, with a cancellation check between
// them: one bucket may hold billions of positions.
#include <algorithm>
#include <cstring>

#include "storage/cancellation.h"
#include "storage/croaring_layout.h"
#include "storage/roaring32.h"

namespace roaring {
namespace {

// At most 2^22 positions, written in some milliseconds.
constexpr std::int32_t kContainersPerGroup = 64;

bool onlyRunContainers(const roaring_bitmap_t& bitmap) {
  for (std::int32_t i = 0; i < croaring_layout::containerCount(bitmap); ++i) {
    if (croaring_layout::typecodeAt(bitmap, i) != croaring_layout::kRunContainer) return false;
  }
  return true;
}

std::uint64_t* writeRunContainers(const roaring_bitmap_t& bitmap, std::uint64_t high, std::uint64_t* out) {
  for (std::int32_t i = 0; i < croaring_layout::containerCount(bitmap); ++i) {
    out = croaring_layout::writeRunContainer(bitmap, i, high, out);
  }
  return out;
}

// Turns the `count` 32-bit low values at the start of `values` into base | low, in
// place, from the back. A block of 8 ending at element e is copied out, then its
// stores overwrite low values from 2e - 16 up: never below the block itself while
// e >= 8. Below that, element e overwrites low values 2e and 2e + 1, both past e.
void widenInPlace(std::uint64_t* values, std::uint64_t count, std::uint64_t base) {
  constexpr std::uint64_t kBlock = 8;
  const auto* lows = reinterpret_cast<const unsigned char*>(values);
  std::uint64_t end = count;
  for (; end >= kBlock; end -= kBlock) {
    std::uint32_t block[kBlock];
    std::memcpy(block, lows + 4 * (end - kBlock), sizeof block);
    for (std::uint64_t i = 0; i < kBlock; ++i) values[end - kBlock + i] = base | block[i];
  }
  while (end > 0) {
    --end;
    std::uint32_t low;
    std::memcpy(&low, lows + 4 * end, sizeof low);
    values[end] = base | low;
  }
}

std::uint64_t* writeGroup(const roaring_bitmap_t& group, std::uint64_t high, std::uint64_t* out) {
  if (onlyRunContainers(group)) return writeRunContainers(group, high, out);
  const std::uint64_t count = roaring_bitmap_get_cardinality(&group);
  roaring_bitmap_to_uint32_array(&group, reinterpret_cast<std::uint32_t*>(out));
  widenInPlace(out, count, high);
  return out + count;
}

}  // namespace

std::uint64_t* Roaring::writePositions(std::uint64_t high, std::uint64_t* out,
                                       veltrane::storage::CancellationCountdown& countdown) const {
  const std::int32_t containers = croaring_layout::containerCount(roaring);
  for (std::int32_t first = 0; first < containers; first += kContainersPerGroup) {
    const std::int32_t count = std::min(kContainersPerGroup, containers - first);
    countdown.passed(static_cast<std::uint32_t>(count));
    out = writeGroup(croaring_layout::containerGroup(roaring, first, count), high, out);
  }
  return out;
}

}  // namespace roaring
