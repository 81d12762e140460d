#pragma once

#include <roaring.h>

#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>

#include "storage/allocation_hooks.h"
#include "storage/cancellation.h"
#include "storage/croaring_layout.h"

namespace roaring {

// One bucket's 32-bit bitmap of low parts: an owning handle of a CRoaring bitmap held
// by value, so a bucket costs no extra allocation. Copies go through
// roaring_bitmap_overwrite and moves hand the containers over without touching them.
//
// Every member is one call into CRoaring. Members marked noexcept wrap calls that
// neither allocate nor fail; all others may allocate and then throw std::bad_alloc
// (or the fixed copy messages below). Ranges of low parts are half-open,
// [begin, end) with end up to 2^32.
class Roaring {
 public:
  // The raw bitmap. Storage code calls the members below; tests read it directly.
  roaring_bitmap_t roaring;

  Roaring() noexcept { roaring_bitmap_init_cleared(&roaring); }

  // Takes over a bitmap that CRoaring allocated (a decoder, a combining call): its
  // containers move in, the now empty shell is freed. nullptr means CRoaring could not
  // allocate it.
  explicit Roaring(roaring_bitmap_t* adopted) {
    if (adopted == nullptr) throw std::bad_alloc();
    roaring = *adopted;
    roaring_free(adopted);
  }

  Roaring(const Roaring& other) {
    roaring_bitmap_init_cleared(&roaring);
    if (!overwriteWith(other)) {
      throw veltrane::storage::BucketCopyFailure("failed roaring_bitmap_overwrite in constructor");
    }
  }

  Roaring(Roaring&& other) noexcept : roaring(other.roaring) {
    roaring_bitmap_init_cleared(&other.roaring);
  }

  // A failed assignment leaves the target empty.
  Roaring& operator=(const Roaring& other) {
    if (this != &other && !overwriteWith(other)) {
      throw veltrane::storage::BucketCopyFailure("failed memory alloc in assignment");
    }
    return *this;
  }

  Roaring& operator=(Roaring&& other) noexcept {
    if (this != &other) {
      roaring_bitmap_clear(&roaring);
      roaring = other.roaring;
      roaring_bitmap_init_cleared(&other.roaring);
    }
    return *this;
  }

  ~Roaring() { roaring_bitmap_clear(&roaring); }

  // --- Counts and membership -----------------------------------------------------

  bool isEmpty() const noexcept { return roaring_bitmap_is_empty(&roaring); }
  std::uint64_t cardinality() const noexcept { return roaring_bitmap_get_cardinality(&roaring); }
  bool contains(std::uint32_t low) const noexcept { return roaring_bitmap_contains(&roaring, low); }
  // Every low part of [begin, end) is set (true for an empty range).
  bool containsRange(std::uint64_t begin, std::uint64_t end) const noexcept {
    return roaring_bitmap_contains_range(&roaring, begin, end);
  }
  // Some low part of [begin, end) is set.
  bool intersectsRange(std::uint64_t begin, std::uint64_t end) const noexcept {
    return roaring_bitmap_intersect_with_range(&roaring, begin, end);
  }

  // --- Extremes, rank, select ----------------------------------------------------

  // The smallest / largest low part; only meaningful when not empty.
  std::uint32_t minimum() const noexcept { return roaring_bitmap_minimum(&roaring); }
  std::uint32_t maximum() const noexcept { return roaring_bitmap_maximum(&roaring); }
  // Number of low parts <= low.
  std::uint64_t rank(std::uint32_t low) const noexcept { return roaring_bitmap_rank(&roaring, low); }
  // The low part with 0-based rank `ordinal`, written to `low`; false when there is none.
  bool select(std::uint32_t ordinal, std::uint32_t& low) const noexcept {
    return roaring_bitmap_select(&roaring, ordinal, &low);
  }
  // The smallest low part >= low / the largest low part <= low, found by one seek.
  std::optional<std::uint32_t> atOrAfter(std::uint32_t low) const noexcept {
    roaring_uint32_iterator_t it;
    startAtFirst(it);
    if (!roaring_uint32_iterator_move_equalorlarger(&it, low)) return std::nullopt;
    return it.current_value;
  }
  std::optional<std::uint32_t> atOrBefore(std::uint32_t low) const noexcept {
    roaring_uint32_iterator_t it;
    startAtFirst(it);
    if (!roaring_uint32_iterator_move_equalorlarger(&it, low)) {
      if (isEmpty()) return std::nullopt;
      return maximum();
    }
    if (it.current_value == low) return low;
    if (!roaring_uint32_iterator_previous(&it)) return std::nullopt;
    return it.current_value;
  }

  // --- Point and range edits -----------------------------------------------------

  void add(std::uint32_t low) { roaring_bitmap_add(&roaring, low); }
  // add() for ascending runs of low parts; `context` remembers the last container.
  void addBulk(roaring_bulk_context_t& context, std::uint32_t low) {
    roaring_bitmap_add_bulk(&roaring, &context, low);
  }
  void remove(std::uint32_t low) { roaring_bitmap_remove(&roaring, low); }
  void addRange(std::uint64_t begin, std::uint64_t end) { roaring_bitmap_add_range(&roaring, begin, end); }
  void removeRange(std::uint64_t begin, std::uint64_t end) {
    roaring_bitmap_remove_range(&roaring, begin, end);
  }
  // Releases every container.
  void clear() noexcept { roaring_bitmap_clear(&roaring); }
  // A new bitmap holding every low part of [begin, end), built one complete container
  // after another.
  static Roaring ofRange(std::uint64_t begin, std::uint64_t end) {
    return Roaring(roaring_bitmap_from_range(begin, end, 1));
  }

  // --- Algebra -------------------------------------------------------------------

  // In place: this becomes this op other. `other` must be another bitmap.
  void intersectWith(const Roaring& other) { roaring_bitmap_and_inplace(&roaring, &other.roaring); }
  void subtract(const Roaring& other) { roaring_bitmap_andnot_inplace(&roaring, &other.roaring); }
  void uniteWith(const Roaring& other) { roaring_bitmap_or_inplace(&roaring, &other.roaring); }
  void symmetricDifferenceWith(const Roaring& other) {
    roaring_bitmap_xor_inplace(&roaring, &other.roaring);
  }
  // New bitmaps: a op b.
  static Roaring intersection(const Roaring& a, const Roaring& b) {
    return Roaring(roaring_bitmap_and(&a.roaring, &b.roaring));
  }
  static Roaring difference(const Roaring& a, const Roaring& b) {
    return Roaring(roaring_bitmap_andnot(&a.roaring, &b.roaring));
  }
  static Roaring unionOf(const Roaring& a, const Roaring& b) {
    return Roaring(roaring_bitmap_or(&a.roaring, &b.roaring));
  }
  static Roaring symmetricDifference(const Roaring& a, const Roaring& b) {
    return Roaring(roaring_bitmap_xor(&a.roaring, &b.roaring));
  }
  // The union of bitmaps[0 .. count) in one pass, as a new bitmap; count >= 1.
  static Roaring unionOfMany(std::size_t count, const roaring_bitmap_t** bitmaps) {
    return Roaring(roaring_bitmap_or_many(count, bitmaps));
  }
  // Sizes of a op b, counted without building it.
  static std::uint64_t intersectionCardinality(const Roaring& a, const Roaring& b) noexcept {
    return roaring_bitmap_and_cardinality(&a.roaring, &b.roaring);
  }
  static std::uint64_t differenceCardinality(const Roaring& a, const Roaring& b) noexcept {
    return roaring_bitmap_andnot_cardinality(&a.roaring, &b.roaring);
  }
  static std::uint64_t unionCardinality(const Roaring& a, const Roaring& b) noexcept {
    return roaring_bitmap_or_cardinality(&a.roaring, &b.roaring);
  }
  static std::uint64_t symmetricDifferenceCardinality(const Roaring& a, const Roaring& b) noexcept {
    return roaring_bitmap_xor_cardinality(&a.roaring, &b.roaring);
  }
  // Some low part is set in both.
  bool intersects(const Roaring& other) const noexcept {
    return roaring_bitmap_intersect(&roaring, &other.roaring);
  }
  bool equals(const Roaring& other) const noexcept {
    return roaring_bitmap_equals(&roaring, &other.roaring);
  }
  bool isSubsetOf(const Roaring& other) const noexcept {
    return roaring_bitmap_is_subset(&roaring, &other.roaring);
  }
  // Toggles every low part of [begin, end): in place, or into a new bitmap.
  void flipInPlace(std::uint64_t begin, std::uint64_t end) {
    roaring_bitmap_flip_inplace(&roaring, begin, end);
  }
  Roaring flipped(std::uint64_t begin, std::uint64_t end) const {
    return Roaring(roaring_bitmap_flip(&roaring, begin, end));
  }
  // { v + offset : v set, 0 <= v + offset < 2^32 }, as a new bitmap.
  Roaring shiftedBy(std::int64_t offset) const {
    return Roaring(roaring_bitmap_add_offset(&roaring, offset));
  }

  // --- Containers, layout, serialized sizes --------------------------------------

  // CRoaring keeps one container per 2^16 low parts, in an array sorted by the
  // container key (the upper 16 bits of the low parts it holds).
  std::uint32_t containerCount() const noexcept {
    return static_cast<std::uint32_t>(croaring_layout::containerCount(roaring));
  }
  const std::uint16_t* containerKeys() const noexcept { return croaring_layout::containerKeys(roaring); }
  void runOptimize() { roaring_bitmap_run_optimize(&roaring); }
  void shrinkToFit() { roaring_bitmap_shrink_to_fit(&roaring); }
  std::size_t portableSizeInBytes() const noexcept {
    return roaring_bitmap_portable_size_in_bytes(&roaring);
  }
  std::size_t nativeSizeInBytes() const noexcept { return roaring_bitmap_size_in_bytes(&roaring); }
  // Writes the portable / native form at `out`; returns the bytes written.
  std::size_t portableSerialize(char* out) const { return roaring_bitmap_portable_serialize(&roaring, out); }
  std::size_t nativeSerialize(char* out) const { return roaring_bitmap_serialize(&roaring, out); }
  // Replaces the content with the bitmap the portable or native form at `body`
  // describes: from trusted bytes, or from `size` untrusted bytes, never reading past
  // them. False, with the content unchanged, when the bytes cannot be decoded.
  bool readFrom(const char* body, bool portable) {
    return adoptDecoded(portable ? roaring_bitmap_portable_deserialize(body)
                                 : roaring_bitmap_deserialize(body));
  }
  bool readFrom(const char* body, std::size_t size, bool portable) {
    return adoptDecoded(portable ? roaring_bitmap_portable_deserialize_safe(body, size)
                                 : roaring_bitmap_deserialize_safe(body, size));
  }
  // Bytes the portable form at `body` occupies by its own headers, reading at most
  // `size` bytes; 0 when it does not fit.
  static std::size_t portableSizeAt(const char* body, std::size_t size) noexcept {
    return roaring_bitmap_portable_deserialize_size(body, size);
  }
  // CRoaring's own consistency check of an untrusted bitmap; `reason` names the fault.
  bool isValid(const char*& reason) const noexcept {
    return roaring_bitmap_internal_validate(&roaring, &reason);
  }

  // --- Walking the low parts -----------------------------------------------------

  // Starts `it` at the smallest / largest low part (has_value false when empty).
  void startAtFirst(roaring_uint32_iterator_t& it) const noexcept { roaring_iterator_init(&roaring, &it); }
  void startAtLast(roaring_uint32_iterator_t& it) const noexcept {
    roaring_iterator_init_last(&roaring, &it);
  }
  // Calls consume(lows, n) for the low parts in ascending order, read in chunks of up
  // to 2048 (8 KiB, small enough to stay in the first-level cache while used).
  template <typename Consume>
  void forEachChunk(Consume&& consume) const {
    constexpr std::uint32_t kChunk = 2048;
    std::uint32_t chunk[kChunk];
    roaring_uint32_iterator_t it;
    startAtFirst(it);
    while (it.has_value) {
      const std::uint32_t read = roaring_uint32_iterator_read(&it, chunk, kChunk);
      consume(static_cast<const std::uint32_t*>(chunk), read);
    }
  }
  // Writes high | low for every low part, ascending, to out[0 .. cardinality()) and
  // returns out + cardinality(). `high` has its lower 32 bits clear. Counts the
  // containers it writes on `countdown`; a cancellation leaves part of `out` written.
  std::uint64_t* writePositions(std::uint64_t high, std::uint64_t* out,
                                veltrane::storage::CancellationCountdown& countdown) const;
  // Calls visit(low) for every low part in ascending order while it returns true.
  template <typename Visit>
  void forEach(Visit&& visit) const {
    roaring_iterate(
        &roaring, [](std::uint32_t low, void* state) { return (*static_cast<Visit*>(state))(low); },
        &visit);
  }
 private:
  bool adoptDecoded(roaring_bitmap_t* decoded) {
    if (decoded == nullptr) return false;
    *this = Roaring(decoded);
    return true;
  }
  // roaring_bitmap_overwrite checks its allocations, so it is run with failures
  // reported as null. When it fails, the target's containers are already released
  // (it frees them before it allocates) but may still be counted: the count is
  // dropped before the target is cleared.
  bool overwriteWith(const Roaring& other) {
    const veltrane::storage::NullOnAllocationFailure reportAsNull;
    if (roaring_bitmap_overwrite(&roaring, &other.roaring)) return true;
    croaring_layout::forgetContainers(roaring);
    roaring_bitmap_clear(&roaring);
    return false;
  }
};

}  // namespace roaring
