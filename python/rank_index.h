#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "storage/bitmap.h"

// Prefix counts of a bitmap's non-empty buckets, so that rank, select and the search
// for the nearest non-empty bucket cost a binary search plus one CRoaring call instead
// of a walk over the buckets.
//
// The index is read lazily, in key order, only as far as a query needs, and remembers
// where it stopped; so the first query after an edit reads no more bucket counts than
// a plain walk would (upper_cardinality excepted: it needs the total, so it reads all).
// Its owner drops it on every edit. Inserting an empty bucket needs no drop: it changes
// no count, and a node-based map keeps every entry and iterator the index holds.
class RankIndex {
 public:
  using Bitmap = veltrane::storage::Bitmap;
  using Buckets = Bitmap::Buckets;

  // Forgets everything read; the next query starts again from the smallest key.
  void drop() noexcept;

  // Nothing when the ordinal is not below the number of set positions.
  std::optional<std::uint64_t> nth(const Buckets& buckets, std::uint64_t ordinal);
  std::uint64_t lowerCardinality(const Buckets& buckets, std::uint64_t position);
  std::uint64_t upperCardinality(const Buckets& buckets, std::uint64_t position);
  // The bucket of `position`'s key must exist (the caller creates it first).
  std::uint64_t selfOrNext(const Buckets& buckets, std::uint64_t position);
  std::uint64_t selfOrPrevious(const Buckets& buckets, std::uint64_t position);

 private:
  struct Entry {
    std::uint32_t key;
    const roaring_bitmap_t* lows;
    std::uint64_t countBefore;  // positions in the entries before this one
  };

  // Reads buckets until every bucket with a key up to `key` has been read.
  void readThroughKey(const Buckets& buckets, std::uint32_t key);
  // Reads buckets until more than `count` positions have been seen.
  void readBeyondCount(const Buckets& buckets, std::uint64_t count);
  // Reads buckets until a non-empty one with a key above `key` has been read.
  void readPastKey(const Buckets& buckets, std::uint32_t key);
  void readAll(const Buckets& buckets);
  // Reads the next bucket; false when all have been read.
  bool readOne(const Buckets& buckets);
  bool frontierBeyond(const Buckets& buckets, std::uint32_t key) const;

  // The first entry whose key is not below `key`.
  std::vector<Entry>::const_iterator firstAtOrAbove(std::uint32_t key) const;

  std::vector<Entry> entries;
  Buckets::const_iterator unread;  // meaningful only while `started`
  bool started = false;
  std::uint64_t total = 0;  // positions in all entries
};
