#include "storage/internal/key_directory.h"

#include <new>
#include <utility>

#include "storage/internal/key_span.h"

namespace veltrane::storage::internal {

namespace {

// Below this many buckets the map is cheap enough to search; above the largest, the
// table's slot numbers would not fit the hash.
constexpr std::size_t kSmallestMap = 64;
constexpr std::size_t kLargestMap = std::size_t{1} << 30;
// One lookup in the map costs about as much as building this many slots.
constexpr std::uint64_t kSlotsPerLookup = 32;

}  // namespace

bool KeyDirectory::mayPay(const Bitmap& bitmap) noexcept {
  const std::size_t size = bitmap.bucketMap().size();
  return size >= kSmallestMap && size <= kLargestMap;
}

void KeyDirectory::drop() noexcept {
  std::vector<Slot>().swap(slots);
  lookups = 0;
}

bool KeyDirectory::contains(const Bitmap& bitmap, std::uint64_t position) {
  if (slots.empty()) {
    if (!worthBuilding(bitmap) || !built(bitmap.bucketMap())) return bitmap.contains(position);
  }
  const roaring::Roaring* bucket = find(keyOf(position));
  return bucket != nullptr && bucket->contains(lowOf(position));
}

bool KeyDirectory::worthBuilding(const Bitmap& bitmap) {
  return mayPay(bitmap) && ++lookups * kSlotsPerLookup >= bitmap.bucketMap().size();
}

// A table that cannot be allocated is no error: lookups go on in the map, and the
// table is tried again after as many lookups once more.
bool KeyDirectory::built(const Bitmap::Buckets& buckets) {
  try {
    build(buckets);
    return true;
  } catch (const std::bad_alloc&) {
    drop();
    return false;
  }
}

// Twice as many slots as non-empty buckets, rounded up to a power of two.
void KeyDirectory::build(const Bitmap::Buckets& buckets) {
  std::size_t filled = 0;
  for (const auto& entry : buckets) filled += entry.second.isEmpty() ? 0 : 1;
  unsigned bits = 1;
  while ((std::size_t{1} << bits) < 2 * filled) ++bits;
  std::vector<Slot> table(std::size_t{1} << bits, Slot{0, nullptr});
  slots.swap(table);
  shift = 32 - bits;
  for (const auto& [key, bucket] : buckets) {
    if (bucket.isEmpty()) continue;
    std::size_t slot = slotOf(key);
    while (slots[slot].bucket != nullptr) slot = (slot + 1) & (slots.size() - 1);
    slots[slot] = Slot{key, &bucket};
  }
}

const roaring::Roaring* KeyDirectory::find(std::uint32_t key) const noexcept {
  for (std::size_t slot = slotOf(key);; slot = (slot + 1) & (slots.size() - 1)) {
    if (slots[slot].bucket == nullptr) return nullptr;
    if (slots[slot].key == key) return slots[slot].bucket;
  }
}

// Fibonacci hashing: the top bits of key times 2^32 / golden ratio.
std::size_t KeyDirectory::slotOf(std::uint32_t key) const noexcept {
  return static_cast<std::uint32_t>(key * 2654435769u) >> shift;
}

}  // namespace veltrane::storage::internal
