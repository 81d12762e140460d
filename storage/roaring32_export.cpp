// Roaring::writePositions: a bucket's low parts written out as 64-bit positions.
//
// Two ways, chosen per kind of container by what measured fastest
// (bench/NOTES_ON_RATIOS.md, cause 7; the index_array rows of bench_arrays and
// bench_shapes):
// - Run and array containers are written one by one straight into the 64-bit output,
//   with the container reader that CRoaring's own 64-bit bitmaps use for their array
//   export. Nothing is staged.
// - A stretch of bitset containers goes through CRoaring's vectorised 32-bit export into
//   the front half of its own stretch of the output, which is then widened in place:
//   1.3 times faster than the reader's loop over the bits.
// Stretches hold up to kContainersPerGroup containers, with a cancellation check between
// them: one bucket may hold billions of positions.
#include <cstring>

#include "storage/cancellation.h"
#include "storage/croaring_layout.h"
#include "storage/roaring32.h"

namespace roaring {
namespace {

// At most 2^22 positions, written in some milliseconds.
constexpr std::int32_t kContainersPerGroup = 64;

bool readDirectly(std::uint8_t typecode) { return typecode != croaring_layout::kBitsetContainer; }

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

// The containers [first, end) of `bitmap`, all of them read directly or none.
std::uint64_t* writeStretch(const roaring_bitmap_t& bitmap, std::int32_t first, std::int32_t end,
                            std::uint64_t high, std::uint64_t* out) {
  if (readDirectly(croaring_layout::typecodeAt(bitmap, first))) {
    for (std::int32_t i = first; i < end; ++i) out = croaring_layout::writeContainer(bitmap, i, high, out);
    return out;
  }
  const roaring_bitmap_t group = croaring_layout::containerGroup(bitmap, first, end - first);
  const std::uint64_t count = roaring_bitmap_get_cardinality(&group);
  roaring_bitmap_to_uint32_array(&group, reinterpret_cast<std::uint32_t*>(out));
  widenInPlace(out, count, high);
  return out + count;
}

}  // namespace

std::uint64_t* Roaring::writePositions(std::uint64_t high, std::uint64_t* out,
                                       veltrane::storage::CancellationCountdown& countdown) const {
  const std::int32_t containers = croaring_layout::containerCount(roaring);
  for (std::int32_t first = 0, end = 0; first < containers; first = end) {
    const bool direct = readDirectly(croaring_layout::typecodeAt(roaring, first));
    end = first + 1;
    while (end < containers && end - first < kContainersPerGroup &&
           readDirectly(croaring_layout::typecodeAt(roaring, end)) == direct) {
      ++end;
    }
    countdown.passed(static_cast<std::uint32_t>(end - first));
    out = writeStretch(roaring, first, end, high, out);
  }
  return out;
}

}  // namespace roaring
