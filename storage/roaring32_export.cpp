// Roaring::writePositions: a bucket's low parts written out as 64-bit positions.
//
// Two ways, chosen per group of containers by what measured fastest (bench/NOTES_ON_RATIOS.md,
// cause 7; the index_array rows of bench_arrays and bench_shapes):
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
#include "storage/roaring32.h"

// Two container-level functions of the pinned CRoaring release (4.2.3, checked by
// sha256 in scripts/setup.sh). They are compiled into the library with C linkage but
// are not declared in its public header; a container is an opaque pointer here.
extern "C" {
roaring_container_iterator_t container_init_iterator(const void* container, std::uint8_t typecode,
                                                     std::uint16_t* value);
bool container_iterator_read_into_uint64(const void* container, std::uint8_t typecode,
                                         roaring_container_iterator_t* it, std::uint64_t high48,
                                         std::uint64_t* buffer, std::uint32_t count,
                                         std::uint32_t* consumed, std::uint16_t* value);
}

namespace roaring {
namespace {

// CRoaring's container type code of a run container. Containers shared between
// bitmaps (code 4) only exist with copy-on-write, which this library never enables.
constexpr std::uint8_t kRunContainer = 3;
constexpr std::uint32_t kContainerSpan = std::uint32_t{1} << 16;
// At most 2^22 positions, written in some milliseconds.
constexpr std::int32_t kContainersPerGroup = 64;

bool onlyRunContainers(const roaring_array_t& containers) {
  for (std::int32_t i = 0; i < containers.size; ++i) {
    if (containers.typecodes[i] != kRunContainer) return false;
  }
  return true;
}

std::uint64_t* writeRunContainers(const roaring_array_t& containers, std::uint64_t high,
                                  std::uint64_t* out) {
  for (std::int32_t i = 0; i < containers.size; ++i) {
    const void* container = containers.containers[i];
    std::uint16_t value = 0;
    roaring_container_iterator_t it = container_init_iterator(container, kRunContainer, &value);
    std::uint32_t written = 0;
    container_iterator_read_into_uint64(container, kRunContainer, &it,
                                        high | (std::uint64_t{containers.keys[i]} << 16), out,
                                        kContainerSpan, &written, &value);
    out += written;
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

// The containers [first, first + count) of `containers`, sharing their storage: only
// for reading, and never to be freed.
roaring_bitmap_t containerGroup(const roaring_array_t& containers, std::int32_t first,
                                std::int32_t count) {
  roaring_bitmap_t group{};
  roaring_array_t& part = group.high_low_container;
  part.size = part.allocation_size = count;
  part.containers = containers.containers + first;
  part.keys = containers.keys + first;
  part.typecodes = containers.typecodes + first;
  part.flags = containers.flags;
  return group;
}

std::uint64_t* writeGroup(const roaring_bitmap_t& group, std::uint64_t high, std::uint64_t* out) {
  if (onlyRunContainers(group.high_low_container)) {
    return writeRunContainers(group.high_low_container, high, out);
  }
  const std::uint64_t count = roaring_bitmap_get_cardinality(&group);
  roaring_bitmap_to_uint32_array(&group, reinterpret_cast<std::uint32_t*>(out));
  widenInPlace(out, count, high);
  return out + count;
}

}  // namespace

std::uint64_t* Roaring::writePositions(std::uint64_t high, std::uint64_t* out,
                                       veltrane::storage::CancellationCountdown& countdown) const {
  const roaring_array_t& containers = roaring.high_low_container;
  for (std::int32_t first = 0; first < containers.size; first += kContainersPerGroup) {
    const std::int32_t count = std::min(kContainersPerGroup, containers.size - first);
    countdown.passed(static_cast<std::uint32_t>(count));
    out = writeGroup(containerGroup(containers, first, count), high, out);
  }
  return out;
}

}  // namespace roaring
