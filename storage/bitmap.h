#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "storage/node_pool.h"
#include "storage/roaring32.h"

namespace veltrane::storage {

// A mutable set of unsigned 64-bit positions. Positions are kept in buckets: an
// ordered map from the upper 32 bits of a position (its key) to a CRoaring 32-bit
// bitmap of the lower 32 bits (its low part). A bucket may be empty; empty buckets
// hold no position and every query skips them, but they count as buckets in the
// serialized form and the size figures.
//
// Failures are reported by standard exceptions with fixed messages. Edits are not
// rolled back when an exception interrupts them unless a member says otherwise. The
// members that may run for seconds check for cancellation (storage/cancellation.h);
// each says what a cancellation leaves behind, and every bucket stays whole.
class Bitmap {
 public:
  // The map takes its nodes from a pool of its own (storage/node_pool.h); it is used
  // like any std::map, except that nodes move between two maps (merge, extract) only
  // when one was made with the other's allocator.
  using Buckets = std::map<std::uint32_t, roaring::Roaring, std::less<std::uint32_t>,
                           PooledAllocator<std::pair<const std::uint32_t, roaring::Roaring>>>;
  class BitmapForwardIterator;

  // --- Construction, assignment, destruction -------------------------------------

  // One empty bucket, key 0.
  Bitmap();
  // No bucket at all, then addMany(count, values).
  Bitmap(std::size_t count, const std::uint64_t* values);
  Bitmap(const Bitmap& other);
  // Takes over the source's buckets; the source is left with none and stays usable.
  Bitmap(Bitmap&& other) noexcept;
  Bitmap& operator=(const Bitmap& other);
  Bitmap& operator=(Bitmap&& other) noexcept;
  ~Bitmap();

  // Bitmap() followed by add() of each of the `count` variadic arguments, which are
  // read as unsigned 64-bit values.
  static Bitmap of(std::size_t count, ...);

  // --- Point and range edits ------------------------------------------------------

  void add(std::uint64_t position);
  // Cancellable: the values added so far stay.
  void addMany(std::size_t count, const std::uint64_t* values);
  // A bucket that becomes empty stays.
  void remove(std::uint64_t position);
  // Sets [start, endEx). Creates every bucket from keyOf(start) to keyOf(endEx) when
  // the keys are in order, also those that receive no position. Cancellable between
  // buckets, as are removeRange and flip(start, endEx): the buckets of the keys below
  // the point of cancellation are done, those above it untouched.
  void addRange(std::uint64_t start, std::uint64_t endEx);
  // Unsets [start, endEx). Creates missing buckets like addRange; none is erased.
  void removeRange(std::uint64_t start, std::uint64_t endEx);
  // Removes every bucket, key 0 included.
  void clear();

  // --- Membership, counts, extremes -----------------------------------------------

  bool contains(std::uint64_t position) const;
  // Throws std::length_error when all 2^64 positions are set.
  std::uint64_t cardinality() const;
  bool isEmpty() const;
  bool isFull() const;
  std::optional<std::uint64_t> first() const;
  std::optional<std::uint64_t> last() const;

  // --- Rank, select, neighbours, iteration ----------------------------------------

  // Number of set positions strictly below / above `position`.
  std::uint64_t lowerCardinality(std::uint64_t position) const;
  std::uint64_t upperCardinality(std::uint64_t position) const;
  // The set position with 0-based `ordinal`; throws std::runtime_error when there is
  // no such position.
  std::uint64_t nth(std::uint64_t ordinal);
  // `position` when set, else the nearest set position above it, else 0. Creates an
  // empty bucket for the key of `position` when it has none.
  std::optional<std::uint64_t> selfOrNext(std::uint64_t position);
  // `position` when set, else the nearest set position below it, else 2^64 - 1.
  // Creates an empty bucket for the key of `position` when it has none.
  std::optional<std::uint64_t> selfOrPrevious(std::uint64_t position);
  BitmapForwardIterator begin() const;
  BitmapForwardIterator end() const;
  // Writes every set position, ascending, to out[0 .. cardinality() - 1].
  // Cancellable: part of `out` is written then.
  void copyPositionsTo(std::uint64_t* out) const;
  // Sets mask[p - offset] = !background for every set position p; the caller has
  // filled the mask with `background` and sized it to cover last() - offset.
  // Cancellable: part of the mask is marked then.
  void markPositionsIn(std::uint8_t* mask, std::uint64_t offset, bool background) const;

  // --- Set algebra ----------------------------------------------------------------

  Bitmap& operator&=(const Bitmap& other);
  Bitmap& operator-=(const Bitmap& other);
  Bitmap& operator|=(const Bitmap& other);
  Bitmap& operator^=(const Bitmap& other);
  Bitmap operator&(const Bitmap& other) const;
  Bitmap operator-(const Bitmap& other) const;
  Bitmap operator|(const Bitmap& other) const;
  Bitmap operator^(const Bitmap& other) const;
  // Same positions; empty buckets play no part.
  bool operator==(const Bitmap& other) const;
  bool isSubset(const Bitmap& other) const;
  bool isStrictSubset(const Bitmap& other) const;
  // True when some key has a bucket in both bitmaps, empty or not.
  bool hasSharedPositionsWith(const Bitmap& other) const;

  // --- Counts of combinations, many-way combinations --------------------------------

  // The number of positions of this & other, this | other, this - other and
  // this ^ other, counted bucket by bucket without building the result. Throw
  // std::length_error, as cardinality() does, when the count is 2^64.
  std::uint64_t intersectionCardinality(const Bitmap& other) const;
  std::uint64_t unionCardinality(const Bitmap& other) const;
  std::uint64_t differenceCardinality(const Bitmap& other) const;
  std::uint64_t symmetricDifferenceCardinality(const Bitmap& other) const;
  // intersectionCardinality / unionCardinality; NaN when neither holds a position.
  double jaccardIndex(const Bitmap& other) const;
  // True when no position is set in both; unlike hasSharedPositionsWith it looks at
  // the positions.
  bool isDisjoint(const Bitmap& other) const;
  // bitmaps[0] | bitmaps[1] | ..., made in one pass per key, with the buckets the
  // chain of operator| keeps: every key of every operand. No operand gives Bitmap().
  static Bitmap unionAll(std::size_t count, const Bitmap* const* bitmaps);
  // bitmaps[0] & bitmaps[1] & ..., made in one pass per key, with the buckets the
  // chain of operator& keeps: the keys of bitmaps[0]. Throws std::invalid_argument
  // for no operand. Both check for cancellation between keys; a cancelled call leaves
  // the operands as they were.
  static Bitmap intersectAll(std::size_t count, const Bitmap* const* bitmaps);

  // --- Range queries, flipping, slicing -------------------------------------------

  // Toggles every position in [start, endEx); requires start <= endEx.
  void flip(std::uint64_t start, std::uint64_t endEx);
  // Toggles the one position `position`, 2^64 - 1 included.
  void flip(std::uint64_t position);
  bool all(std::uint64_t startInc, std::uint64_t endEx) const;
  bool any(std::uint64_t startInc, std::uint64_t endEx) const;
  // The positions in [startInc, endInc) at their own values; the second bound is
  // excluded despite its name. Throws std::runtime_error when keyOf(endInc) is below
  // keyOf(startInc).
  Bitmap slice(std::uint64_t startInc, std::uint64_t endInc) const;

  // --- Position shifting ----------------------------------------------------------

  // Every position >= `position` moves up by `by`.
  void expand(std::uint64_t position, std::uint64_t by);
  // Positions in [position - by + 1, position] are removed; those above move down
  // by `by`.
  void contract(std::uint64_t position, std::uint64_t by);

  // --- Serialized form, sizes, text form ------------------------------------------

  // Byte length of the serialized form; `optimize` run-optimizes and `shrink`
  // releases spare capacity of every bucket first (positions never change).
  std::uint64_t persistedSize(bool portable, bool optimize, bool shrink);
  // Writes the serialized form at `buffer` and returns one past the last byte
  // written. The caller provides persistedSize(portable, ...) bytes.
  char* write(char* buffer, bool portable) const;
  // As above, but refuses (std::invalid_argument, nothing written) when the form
  // does not fit in `capacity` bytes.
  char* write(char* buffer, std::size_t capacity, bool portable) const;
  // Rebuilds a bitmap from trusted serialized bytes.
  static Bitmap read(const char* buffer, bool portable);
  // Rebuilds a bitmap from `length` untrusted bytes, never reading past them; a
  // truncated or inconsistent form raises std::invalid_argument.
  static Bitmap read(const char* buffer, std::size_t length, bool portable);
  // The portable 64-bit Roaring form that other Roaring libraries read and write: an
  // 8-byte count of 32-bit bitmaps, then for each bucket that holds a position, in
  // ascending key order, its 4-byte key and its portable body. Containers are written
  // as they are.
  std::uint64_t roaring64Size() const;
  // Writes it at `buffer` and returns one past the last byte written; refuses
  // (std::invalid_argument, nothing written) when it does not fit in `capacity` bytes.
  char* toRoaring64(char* buffer, std::size_t capacity) const;
  // Rebuilds a bitmap, with exactly the buckets the form holds, from `length`
  // untrusted bytes, never reading past them. A truncated or inconsistent form, keys
  // that do not ascend, or bytes left over raise std::invalid_argument.
  static Bitmap fromRoaring64(const char* buffer, std::size_t length);
  // Number of CRoaring containers over all buckets.
  std::uint64_t inMemorySize() const;
  // One line per bucket: "h: <key> {<low parts>}".
  std::string toString() const;
  // "<name>([p, q, ...])" with every position when there are at most 32; otherwise
  // the first 16, then ", ...]" and ", len=<count>)". Looks at 33 positions at most
  // and counts the rest bucket by bucket; a full bitmap gets its count too.
  std::string abbreviatedText(const std::string& name) const;

  // Read-only view of the buckets, for diagnostics and tests.
  const Buckets& bucketMap() const noexcept { return buckets; }

 private:
  Buckets buckets;
};

// Walks the set positions of a bitmap in ascending order. Valid only while the
// bitmap is not edited. The end counts as greater than every position.
class Bitmap::BitmapForwardIterator {
 public:
  // `exhausted` true builds the end iterator, false the iterator at the smallest set
  // position (or the end when there is none).
  BitmapForwardIterator(const Bitmap& bitmap, bool exhausted);

  std::uint64_t operator*() const;
  BitmapForwardIterator& operator++();
  BitmapForwardIterator operator++(int);
  BitmapForwardIterator& operator--();
  BitmapForwardIterator operator--(int);

  bool operator==(const BitmapForwardIterator& other) const;
  bool operator!=(const BitmapForwardIterator& other) const;
  bool operator<(const BitmapForwardIterator& other) const;
  bool operator<=(const BitmapForwardIterator& other) const;
  bool operator>(const BitmapForwardIterator& other) const;
  bool operator>=(const BitmapForwardIterator& other) const;

 private:
  bool atEnd() const { return current == mapEnd; }

  const Bitmap* bitmap;
  Buckets::const_iterator current;
  Buckets::const_iterator mapEnd;
  Buckets::const_iterator mapBegin;
  roaring_uint32_iterator_t lowIterator;
};

}  // namespace veltrane::storage
