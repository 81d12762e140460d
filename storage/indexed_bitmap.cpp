#include "storage/indexed_bitmap.h"

#include <utility>

#include "storage/internal/key_directory.h"
#include "storage/internal/rank_index.h"

namespace veltrane::storage {

using namespace internal;

struct IndexedBitmap::Indexes {
  RankIndex ranks;
  KeyDirectory keys;
};

IndexedBitmap::IndexedBitmap() = default;

IndexedBitmap::IndexedBitmap(Bitmap&& value) noexcept : bitmap(std::move(value)) {}

IndexedBitmap::IndexedBitmap(const IndexedBitmap& other) : bitmap(other.bitmap) {}

IndexedBitmap::IndexedBitmap(IndexedBitmap&& other) noexcept : bitmap(std::move(other.bitmap)) {
  other.edit();
}

IndexedBitmap::~IndexedBitmap() = default;

IndexedBitmap::Indexes& IndexedBitmap::indexes() const {
  if (!caches) caches = std::make_unique<Indexes>();
  return *caches;
}

void IndexedBitmap::forgetIndexes() noexcept {
  caches->ranks.drop();
  caches->keys.drop();
}

bool IndexedBitmap::contains(std::uint64_t position) const {
  if (!caches && !KeyDirectory::mayPay(bitmap)) return bitmap.contains(position);
  return indexes().keys.contains(bitmap, position);
}

std::uint64_t IndexedBitmap::lowerCardinality(std::uint64_t position) const {
  RankIndex& ranks = indexes().ranks;
  if (ranks.firstQuery()) return bitmap.lowerCardinality(position);
  return ranks.lowerCardinality(bitmap.bucketMap(), position);
}

std::uint64_t IndexedBitmap::upperCardinality(std::uint64_t position) const {
  RankIndex& ranks = indexes().ranks;
  if (ranks.firstQuery()) return bitmap.upperCardinality(position);
  return ranks.upperCardinality(bitmap.bucketMap(), position);
}

// An ordinal beyond the count is left to the bitmap, which throws its error.
std::uint64_t IndexedBitmap::nth(std::uint64_t ordinal) {
  RankIndex& ranks = indexes().ranks;
  if (ranks.firstQuery()) return bitmap.nth(ordinal);
  if (const auto found = ranks.nth(bitmap.bucketMap(), ordinal)) return *found;
  return bitmap.nth(ordinal);
}

// An empty range creates the buckets of its keys and nothing else.
std::optional<std::uint64_t> IndexedBitmap::selfOrNext(std::uint64_t position) {
  bitmap.addRange(position, position);
  return indexes().ranks.selfOrNext(bitmap.bucketMap(), position);
}

std::optional<std::uint64_t> IndexedBitmap::selfOrPrevious(std::uint64_t position) {
  bitmap.addRange(position, position);
  return indexes().ranks.selfOrPrevious(bitmap.bucketMap(), position);
}

std::uint64_t IndexedBitmap::uncompactedPersistedSize(bool portable) {
  return bitmap.persistedSize(portable, false, false);
}

}  // namespace veltrane::storage
