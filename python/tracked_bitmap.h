#pragma once

#include <pybind11/pybind11.h>

#include "python/constructed_caster.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "python/key_directory.h"
#include "python/rank_index.h"
#include "storage/bitmap.h"

// The value a Python Bitmap object owns: the core bitmap, a count of the edits made
// through Python, and what queries learn until the next edit: the rank index, the key
// directory and the count of positions. The bitmap is reached through view() for
// reads and edit() for changes, so a change that forgets to mark itself does not
// compile. Iterators compare the count with the one they started from, so an
// edit between two __next__ calls is detected before any stale storage is read.
class TrackedBitmap {
 public:
  using Bitmap = veltrane::storage::Bitmap;

  TrackedBitmap() = default;
  explicit TrackedBitmap(Bitmap&& value) noexcept : bitmap(std::move(value)) {}
  // The index refers into the source's map, so copies and moves start without one.
  TrackedBitmap(const TrackedBitmap& other) : bitmap(other.bitmap) {}
  TrackedBitmap(TrackedBitmap&& other) noexcept : bitmap(std::move(other.bitmap)) {
    other.edit();
  }
  TrackedBitmap& operator=(const TrackedBitmap&) = delete;
  TrackedBitmap& operator=(TrackedBitmap&&) = delete;

  const Bitmap& view() const noexcept { return bitmap; }
  // For every operation that may change positions, buckets or containers.
  Bitmap& edit() noexcept {
    ++edits;
    if (queryCaches) queryCaches->drop();
    knownCardinality.reset();
    return bitmap;
  }
  std::uint64_t editCount() const noexcept { return edits; }
  // The serialized size without compaction changes no container, so it is no edit.
  std::uint64_t uncompactedPersistedSize(bool portable) {
    return bitmap.persistedSize(portable, false, false);
  }

  // The count of set positions, counted once after each edit: a count walks every
  // bucket (bench_shapes, "cardinality" and "index_array" rows).
  std::uint64_t cardinality() const {
    if (!knownCardinality) knownCardinality = bitmap.cardinality();
    return *knownCardinality;
  }

  // Membership through the key directory once it pays (key_directory.h).
  bool contains(std::uint64_t position) const {
    if (!queryCaches && !KeyDirectory::mayPay(bitmap)) return bitmap.contains(position);
    return caches().directory.contains(bitmap, position);
  }

  // Rank and select: the first query after an edit walks the buckets, later ones use
  // the index (rank_index.h).
  std::uint64_t lowerCardinality(std::uint64_t position) const {
    if (index().firstQuery()) return bitmap.lowerCardinality(position);
    return index().lowerCardinality(bitmap.bucketMap(), position);
  }
  std::uint64_t upperCardinality(std::uint64_t position) const {
    if (index().firstQuery()) return bitmap.upperCardinality(position);
    return index().upperCardinality(bitmap.bucketMap(), position);
  }
  std::uint64_t nth(std::uint64_t ordinal) {
    const auto found = index().firstQuery() ? RankIndex::walkToOrdinal(bitmap.bucketMap(), ordinal)
                                            : index().nth(bitmap.bucketMap(), ordinal);
    if (found) return *found;
    return bitmap.nth(ordinal);  // throws the core's out-of-range error
  }
  // The neighbour queries create the probed position's bucket, as the core's do.
  std::uint64_t selfOrNext(std::uint64_t position) {
    addBucketOf(position);
    return index().selfOrNext(bitmap.bucketMap(), position);
  }
  std::uint64_t selfOrPrevious(std::uint64_t position) {
    addBucketOf(position);
    return index().selfOrPrevious(bitmap.bucketMap(), position);
  }

 private:
  // Inserts an empty bucket for the key of `position` when it has none (an empty
  // range creates the buckets of its keys). That moves and frees nothing that a
  // position iterator, the index or the directory holds and changes no count, so it
  // is no edit.
  void addBucketOf(std::uint64_t position) { bitmap.addRange(position, position); }

  // The index and the directory are made by the first query that needs them, so that
  // a bitmap that is never queried does not carry them (bench_memory, small shapes).
  struct QueryCaches {
    RankIndex index;
    KeyDirectory directory;
    void drop() noexcept {
      index.drop();
      directory.drop();
    }
  };
  QueryCaches& caches() const {
    if (!queryCaches) queryCaches = std::make_unique<QueryCaches>();
    return *queryCaches;
  }
  RankIndex& index() const { return caches().index; }

  Bitmap bitmap;
  std::uint64_t edits = 0;
  mutable std::unique_ptr<QueryCaches> queryCaches;
  mutable std::optional<std::uint64_t> knownCardinality;
};

namespace pybind11::detail {

template <>
class type_caster<TrackedBitmap> : public ConstructedOnlyCaster<TrackedBitmap> {};

}  // namespace pybind11::detail
