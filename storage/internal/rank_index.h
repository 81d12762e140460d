#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "storage/bitmap.h"

namespace veltrane::storage::internal {

// Prefix counts of a bitmap's non-empty buckets, so that rank, select and the search
// for the nearest non-empty bucket cost a binary search plus one bucket call instead
// of a walk over the buckets.
//
// The index is read lazily, only as far as a query needs, and remembers where it
// stopped: from the smallest key up for nth, lower_cardinality and the neighbour
// queries, from the largest key down for upper_cardinality. So the first query after
// an edit reads no more bucket counts than a plain walk would. Its owner drops it on
// every edit. Inserting an empty bucket needs no drop: it changes
// no count, and a node-based map keeps every entry and iterator the index holds.
class RankIndex {
 public:
  using Buckets = Bitmap::Buckets;

  // Forgets everything read; the next query starts again from the smallest key.
  void drop() noexcept;
  // True for the first rank or select query after a drop. That one is answered by the
  // bitmap's own walk, which writes nothing: reading the index costs about half as much
  // again as a walk (bench_navigate, "first call after an edit" rows), which only pays
  // off from the second query on.
  bool firstQuery() noexcept { return !std::exchange(queried, true); }

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
    const roaring::Roaring* lows;
    // From the bottom: positions in the entries below this one. From the top:
    // positions in this entry and those above it.
    std::uint64_t count;
  };

  // Non-empty buckets read in one direction, in reading order, with running counts.
  template <typename Iterator>
  struct Reading {
    std::vector<Entry> entries;
    Iterator unread{};  // meaningful only while `started`
    bool started = false;
    std::uint64_t total = 0;  // positions in all entries

    void drop() noexcept;
    // Reads the next bucket of [first, last); false when none is left. With
    // `inclusive` an entry's count includes its own positions.
    bool readOne(Iterator first, Iterator last, bool inclusive);
  };

  // Reads upwards until every bucket with a key up to `key` has been read.
  void readThroughKey(const Buckets& buckets, std::uint32_t key);
  // Reads upwards until more than `count` positions have been seen.
  void readBeyondCount(const Buckets& buckets, std::uint64_t count);
  // Reads upwards until a non-empty bucket with a key above `key` has been read.
  void readPastKey(const Buckets& buckets, std::uint32_t key);
  // Reads downwards until every bucket with a key from `key` up has been read.
  void readDownToKey(const Buckets& buckets, std::uint32_t key);
  bool readUp(const Buckets& buckets) { return up.readOne(buckets.begin(), buckets.end(), false); }
  bool readDown(const Buckets& buckets) { return down.readOne(buckets.rbegin(), buckets.rend(), true); }

  // The first entry read upwards whose key is not below `key`.
  std::vector<Entry>::const_iterator firstAtOrAbove(std::uint32_t key) const;

  // From the smallest key up (count: positions below the entry), for nth,
  // lower_cardinality and the neighbour queries; from the largest key down (count:
  // positions in the entry and above), for upper_cardinality.
  Reading<Buckets::const_iterator> up;
  Reading<Buckets::const_reverse_iterator> down;
  bool queried = false;
};

}  // namespace veltrane::storage::internal
