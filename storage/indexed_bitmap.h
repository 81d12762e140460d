#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "storage/bitmap.h"

namespace veltrane::storage {

// A Bitmap together with what its queries learn until the next edit: the count of set
// positions, prefix counts of the buckets for rank, select and the neighbour queries,
// and a hash table of keys for membership. Every answer is the Bitmap's own; only the
// cost differs (bench_navigate, bench_shapes). The bitmap is read through view() and
// changed through edit(), which forgets what was learnt, so a change that forgets to
// say so does not compile.
class IndexedBitmap {
 public:
  IndexedBitmap();
  explicit IndexedBitmap(Bitmap&& value) noexcept;
  // What was learnt refers into the source's buckets: copies and moves start without it.
  IndexedBitmap(const IndexedBitmap& other);
  // The source is left with no bucket, as a moved-from Bitmap is.
  IndexedBitmap(IndexedBitmap&& other) noexcept;
  IndexedBitmap& operator=(const IndexedBitmap&) = delete;
  IndexedBitmap& operator=(IndexedBitmap&&) = delete;
  ~IndexedBitmap();

  const Bitmap& view() const noexcept { return bitmap; }
  // For every operation that may change positions, buckets or containers.
  Bitmap& edit() noexcept {
    if (caches) forgetIndexes();
    knownCardinality.reset();
    return bitmap;
  }

  // Bitmap::cardinality(), counted once after each edit: a count walks every bucket
  // (bench_shapes, "cardinality" and "index_array" rows).
  std::uint64_t cardinality() const {
    if (!knownCardinality) knownCardinality = bitmap.cardinality();
    return *knownCardinality;
  }
  // Bitmap::contains(), through the key table once it pays.
  bool contains(std::uint64_t position) const;
  // Bitmap's rank and select: the first query after an edit is the bitmap's own walk,
  // later ones use the prefix counts.
  std::uint64_t lowerCardinality(std::uint64_t position) const;
  std::uint64_t upperCardinality(std::uint64_t position) const;
  std::uint64_t nth(std::uint64_t ordinal);
  // Bitmap's neighbour queries; like those, they create the probed position's bucket,
  // which moves and frees nothing and changes no count, so it is no edit.
  std::optional<std::uint64_t> selfOrNext(std::uint64_t position);
  std::optional<std::uint64_t> selfOrPrevious(std::uint64_t position);
  // Bitmap's counts of a combination with `other`, the same answers and the same error
  // at 2^64: the intersection count and the counts both keep give them without a walk
  // over the keys that only one side has (bench_counts).
  std::uint64_t unionCardinality(const IndexedBitmap& other) const;
  std::uint64_t differenceCardinality(const IndexedBitmap& other) const;
  std::uint64_t symmetricDifferenceCardinality(const IndexedBitmap& other) const;
  double jaccardIndex(const IndexedBitmap& other) const;
  // Bitmap::persistedSize() without compaction, which changes no container: no edit.
  std::uint64_t uncompactedPersistedSize(bool portable);

 private:
  struct Indexes;
  Indexes& indexes() const;
  void forgetIndexes() noexcept;

  Bitmap bitmap;
  // Made by the first query that needs them, so that a bitmap that is never queried
  // does not carry them (bench_memory, small shapes).
  mutable std::unique_ptr<Indexes> caches;
  mutable std::optional<std::uint64_t> knownCardinality;
};

}  // namespace veltrane::storage
