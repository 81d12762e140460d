// Rank, select and nearest non-empty bucket over lazily read prefix counts. Every
// answer is the one the core's walks give; only the number of buckets read differs.
#include "storage/internal/rank_index.h"

#include <algorithm>
#include <iterator>

#include "storage/internal/key_span.h"

namespace veltrane::storage::internal {

template <typename Iterator>
void RankIndex::Reading<Iterator>::drop() noexcept {
  entries.clear();
  started = false;
  total = 0;
}

template <typename Iterator>
bool RankIndex::Reading<Iterator>::readOne(Iterator first, Iterator last, bool inclusive) {
  if (!started) {
    unread = first;
    started = true;
  }
  if (unread == last) return false;
  const roaring::Roaring& lows = unread->second;
  const std::uint64_t count = lows.cardinality();
  if (count > 0) {
    entries.push_back(Entry{unread->first, &lows, inclusive ? total + count : total});
    total += count;
  }
  ++unread;
  return true;
}

void RankIndex::drop() noexcept {
  up.drop();
  down.drop();
  queried = false;
}

void RankIndex::readThroughKey(const Buckets& buckets, std::uint32_t key) {
  while (!(up.started && (up.unread == buckets.end() || up.unread->first > key)) && readUp(buckets)) {
  }
}

void RankIndex::readBeyondCount(const Buckets& buckets, std::uint64_t count) {
  while (up.total <= count && readUp(buckets)) {
  }
}

void RankIndex::readPastKey(const Buckets& buckets, std::uint32_t key) {
  while ((up.entries.empty() || up.entries.back().key <= key) && readUp(buckets)) {
  }
}

void RankIndex::readDownToKey(const Buckets& buckets, std::uint32_t key) {
  while (!(down.started && (down.unread == buckets.rend() || down.unread->first < key)) &&
         readDown(buckets)) {
  }
}

std::vector<RankIndex::Entry>::const_iterator RankIndex::firstAtOrAbove(std::uint32_t key) const {
  return std::lower_bound(up.entries.begin(), up.entries.end(), key,
                          [](const Entry& entry, std::uint32_t wanted) { return entry.key < wanted; });
}

namespace {

// The rank within a bucket is below its count, at most 2^32 - 1, so one select answers
// every ordinal below the total, the last position of a full bucket included.
std::uint64_t positionWithRank(std::uint32_t key, const roaring::Roaring& lows, std::uint64_t rank) {
  std::uint32_t low = 0;
  lows.select(static_cast<std::uint32_t>(rank), low);
  return positionOf(key, low);
}

}  // namespace

std::optional<std::uint64_t> RankIndex::nth(const Buckets& buckets, std::uint64_t ordinal) {
  readBeyondCount(buckets, ordinal);
  if (ordinal >= up.total) return std::nullopt;
  const auto holder = std::prev(std::upper_bound(
      up.entries.begin(), up.entries.end(), ordinal,
      [](std::uint64_t wanted, const Entry& entry) { return wanted < entry.count; }));
  return positionWithRank(holder->key, *holder->lows, ordinal - holder->count);
}

std::uint64_t RankIndex::lowerCardinality(const Buckets& buckets, std::uint64_t position) {
  readThroughKey(buckets, keyOf(position));
  const auto at = firstAtOrAbove(keyOf(position));
  if (at == up.entries.end()) return up.total;
  std::uint64_t count = at->count;
  if (at->key == keyOf(position) && lowOf(position) > 0) {
    count += at->lows->rank(lowOf(position) - 1);
  }
  return count;
}

// The count from the top at the lowest non-empty bucket from the key of `position` up,
// less the low values up to the position's when that bucket is the position's own.
std::uint64_t RankIndex::upperCardinality(const Buckets& buckets, std::uint64_t position) {
  const std::uint32_t key = keyOf(position);
  readDownToKey(buckets, key);
  const auto below = std::partition_point(down.entries.begin(), down.entries.end(),
                                          [key](const Entry& entry) { return entry.key >= key; });
  if (below == down.entries.begin()) return 0;
  const auto lowest = std::prev(below);
  std::uint64_t count = lowest->count;
  if (lowest->key == key) count -= lowest->lows->rank(lowOf(position));
  return count;
}

namespace {

// How many buckets next to the probed one the neighbour queries look at before they turn
// to the index: right after an edit the index is empty, and reading it from the
// smallest key would cost more than the few steps most searches need.
constexpr int kDirectSteps = 8;

// The first non-empty bucket from `first` towards `last`: `last` when the map ends
// before kDirectSteps buckets were seen, nothing when the steps ran out.
template <typename Iterator>
std::optional<Iterator> nearbyNonEmpty(Iterator first, Iterator last) {
  int steps = 0;
  for (auto it = first; it != last; ++it) {
    if (!it->second.isEmpty()) return it;
    if (++steps == kDirectSteps) return std::nullopt;
  }
  return last;
}

}  // namespace

// The probed bucket answers with one seek; otherwise a few buckets next to it are tried
// before the index.
std::uint64_t RankIndex::selfOrNext(const Buckets& buckets, std::uint64_t position) {
  const std::uint32_t key = keyOf(position);
  if (const auto probed = buckets.find(key); probed != buckets.end()) {
    if (const auto low = probed->second.atOrAfter(lowOf(position))) return positionOf(key, *low);
    if (const auto near = nearbyNonEmpty(std::next(probed), buckets.end())) {
      if (*near == buckets.end()) return kNoNext;
      return positionOf((*near)->first, (*near)->second.minimum());
    }
  }
  readPastKey(buckets, key);
  const auto above = std::upper_bound(up.entries.begin(), up.entries.end(), key,
                                      [](std::uint32_t wanted, const Entry& entry) { return wanted < entry.key; });
  return above == up.entries.end() ? kNoNext : positionOf(above->key, above->lows->minimum());
}

std::uint64_t RankIndex::selfOrPrevious(const Buckets& buckets, std::uint64_t position) {
  const std::uint32_t key = keyOf(position);
  if (const auto probed = buckets.find(key); probed != buckets.end()) {
    if (const auto low = probed->second.atOrBefore(lowOf(position))) return positionOf(key, *low);
    if (const auto near = nearbyNonEmpty(std::make_reverse_iterator(probed), buckets.rend())) {
      if (*near == buckets.rend()) return kNoPrevious;
      return positionOf((*near)->first, (*near)->second.maximum());
    }
  }
  readThroughKey(buckets, key);
  const auto at = firstAtOrAbove(key);
  if (at == up.entries.begin()) return kNoPrevious;
  const auto below = std::prev(at);
  return positionOf(below->key, below->lows->maximum());
}

}  // namespace veltrane::storage::internal
