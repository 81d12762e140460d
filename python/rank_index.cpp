// Rank, select and nearest non-empty bucket over lazily read prefix counts. Every
// answer is the one the core's walks give; only the number of buckets read differs.
#include "python/rank_index.h"

#include <algorithm>
#include <iterator>

#include "python/bucket_lows.h"
#include "storage/key_span.h"

using veltrane::storage::keyOf;
using veltrane::storage::lowOf;
using veltrane::storage::positionOf;

namespace {

constexpr std::uint64_t kNoNext = 0;
constexpr std::uint64_t kNoPrevious = ~std::uint64_t{0};

// An iterator over the low parts of `lows`, moved to the first one at or above `low`;
// false when there is none.
bool seekAtOrAbove(const roaring_bitmap_t* lows, std::uint32_t low, roaring_uint32_iterator_t& at) {
  roaring_iterator_init(lows, &at);
  return roaring_uint32_iterator_move_equalorlarger(&at, low);
}

}  // namespace

void RankIndex::drop() noexcept {
  entries.clear();
  started = false;
  total = 0;
}

bool RankIndex::readOne(const Buckets& buckets) {
  if (!started) {
    unread = buckets.begin();
    started = true;
  }
  if (unread == buckets.end()) return false;
  const roaring_bitmap_t* lows = lowsOf(*unread);
  const std::uint64_t count = roaring_bitmap_get_cardinality(lows);
  if (count > 0) {
    entries.push_back(Entry{unread->first, lows, total});
    total += count;
  }
  ++unread;
  return true;
}

bool RankIndex::frontierBeyond(const Buckets& buckets, std::uint32_t key) const {
  return started && (unread == buckets.end() || unread->first > key);
}

void RankIndex::readThroughKey(const Buckets& buckets, std::uint32_t key) {
  while (!frontierBeyond(buckets, key) && readOne(buckets)) {
  }
}

void RankIndex::readBeyondCount(const Buckets& buckets, std::uint64_t count) {
  while (total <= count && readOne(buckets)) {
  }
}

void RankIndex::readPastKey(const Buckets& buckets, std::uint32_t key) {
  while ((entries.empty() || entries.back().key <= key) && readOne(buckets)) {
  }
}

void RankIndex::readAll(const Buckets& buckets) {
  while (readOne(buckets)) {
  }
}

std::vector<RankIndex::Entry>::const_iterator RankIndex::firstAtOrAbove(std::uint32_t key) const {
  return std::lower_bound(entries.begin(), entries.end(), key,
                          [](const Entry& entry, std::uint32_t wanted) { return entry.key < wanted; });
}

// The rank within the bucket is below its count, at most 2^32 - 1, so one select
// answers every ordinal below the total, the last position of a full bucket included.
std::optional<std::uint64_t> RankIndex::nth(const Buckets& buckets, std::uint64_t ordinal) {
  readBeyondCount(buckets, ordinal);
  if (ordinal >= total) return std::nullopt;
  const auto holder = std::prev(std::upper_bound(
      entries.begin(), entries.end(), ordinal,
      [](std::uint64_t wanted, const Entry& entry) { return wanted < entry.countBefore; }));
  std::uint32_t low = 0;
  roaring_bitmap_select(holder->lows, static_cast<std::uint32_t>(ordinal - holder->countBefore), &low);
  return positionOf(holder->key, low);
}

std::uint64_t RankIndex::lowerCardinality(const Buckets& buckets, std::uint64_t position) {
  readThroughKey(buckets, keyOf(position));
  const auto at = firstAtOrAbove(keyOf(position));
  if (at == entries.end()) return total;
  std::uint64_t count = at->countBefore;
  if (at->key == keyOf(position) && lowOf(position) > 0) {
    count += roaring_bitmap_rank(at->lows, lowOf(position) - 1);
  }
  return count;
}

std::uint64_t RankIndex::upperCardinality(const Buckets& buckets, std::uint64_t position) {
  readAll(buckets);
  const auto at = firstAtOrAbove(keyOf(position));
  if (at == entries.end()) return 0;
  std::uint64_t count = total - at->countBefore;
  if (at->key == keyOf(position)) count -= roaring_bitmap_rank(at->lows, lowOf(position));
  return count;
}

std::uint64_t RankIndex::selfOrNext(const Buckets& buckets, std::uint64_t position) {
  const std::uint32_t key = keyOf(position);
  if (const auto probed = buckets.find(key); probed != buckets.end()) {
    roaring_uint32_iterator_t at;
    if (seekAtOrAbove(lowsOf(*probed), lowOf(position), at)) return positionOf(key, at.current_value);
  }
  readPastKey(buckets, key);
  const auto above = std::upper_bound(entries.begin(), entries.end(), key,
                                      [](std::uint32_t wanted, const Entry& entry) { return wanted < entry.key; });
  return above == entries.end() ? kNoNext : positionOf(above->key, roaring_bitmap_minimum(above->lows));
}

std::uint64_t RankIndex::selfOrPrevious(const Buckets& buckets, std::uint64_t position) {
  const std::uint32_t key = keyOf(position);
  if (const auto probed = buckets.find(key); probed != buckets.end()) {
    const roaring_bitmap_t* lows = lowsOf(*probed);
    roaring_uint32_iterator_t at;
    if (seekAtOrAbove(lows, lowOf(position), at)) {
      if (at.current_value == lowOf(position)) return position;
      if (roaring_uint32_iterator_previous(&at)) return positionOf(key, at.current_value);
    } else if (!roaring_bitmap_is_empty(lows)) {
      return positionOf(key, roaring_bitmap_maximum(lows));
    }
  }
  readThroughKey(buckets, key);
  const auto at = firstAtOrAbove(key);
  if (at == entries.begin()) return kNoPrevious;
  const auto below = std::prev(at);
  return positionOf(below->key, roaring_bitmap_maximum(below->lows));
}
