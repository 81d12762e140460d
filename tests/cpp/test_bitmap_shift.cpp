// expand and contract: exact cases, the buckets they leave behind, refusals, and a
// randomized comparison with shifting a sorted list of positions by arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <random>
#include <stdexcept>
#include <vector>

#include "test_support.h"

using namespace test_support;

namespace {

enum class Shift { kExpand, kContract };

void apply(Bitmap& bitmap, Shift shift, std::uint64_t position, std::uint64_t by) {
  if (shift == Shift::kExpand) {
    bitmap.expand(position, by);
  } else {
    bitmap.contract(position, by);
  }
}

// Built from values, so only the keys of the values have buckets (no key 0 unless used).
// The same positions, plus an empty bucket at key 0 and at both neighbours of every key
// that holds a position.
Bitmap withEmptyNeighbours(const Positions& positions) {
  Bitmap bitmap;
  for (std::uint64_t p : positions) {
    const std::uint64_t key = p >> 32;
    if (key > 0) bitmap.removeRange((key - 1) << 32, (key - 1) << 32);
    if (key < 0xFFFFFFFF) bitmap.removeRange((key + 1) << 32, (key + 1) << 32);
  }
  for (std::uint64_t p : positions) bitmap.add(p);
  return bitmap;
}

const std::uint64_t kTopKey = kMax - kSpan + 1;  // first position of key 4294967295

// Which buckets exist afterwards shows in the serialized form, so where a case lists
// keysAfter they are pinned too. emptyKeys get an empty bucket before the shift.
struct ShiftCase {
  const char* name;
  Shift shift;
  std::uint64_t position;
  std::uint64_t by;
  Positions before;
  Positions after = {};
  std::optional<Keys> keysAfter = std::nullopt;
  Keys emptyKeys = {};
};

Bitmap before(const ShiftCase& c) {
  Bitmap bitmap = bitmapOf(c.before);
  for (std::uint32_t key : c.emptyKeys) bitmap.removeRange(kSpan * key, kSpan * key);
  return bitmap;
}

const ShiftCase kShiftCases[] = {
    {"ExpandEmpty", Shift::kExpand, 0, 5, {}, {}},
    {"ExpandAboveLast", Shift::kExpand, 101, 5, {1, 100}, {1, 100}},
    {"ExpandByZero", Shift::kExpand, 3, 0, {1, 5, kSpan}, {1, 5, kSpan}, Keys{0, 1}},
    {"ExpandWithinKey", Shift::kExpand, 5, 3, {1, 5, 6, 100}, {1, 8, 9, 103}},
    {"ExpandCarriesToNextKey", Shift::kExpand, 0, 1, {kSpan - 1}, {kSpan}, Keys{0, 1}},
    {"ExpandStartKeyWithoutBucket", Shift::kExpand, 0, 1, {kSpan}, {kSpan + 1}, Keys{1}},
    {"ExpandSplitsStartKey", Shift::kExpand, 10, 5, {3, 10, kSpan - 2}, {3, 15, kSpan + 3}},
    {"ExpandEmptyCarryCreatesNothing", Shift::kExpand, 0, 1, {0, 5 * kSpan},
     {1, 5 * kSpan + 1}, Keys{0, 5}},
    {"ExpandCarryFillsEmptyBucket", Shift::kExpand, 0, 1, {kSpan - 1}, {kSpan}, Keys{0, 1},
     Keys{1}},
    {"ExpandLeavesEmptyBucketsAlone", Shift::kExpand, 0, 1, {3 * kSpan}, {3 * kSpan + 1},
     Keys{1, 3, 9}, Keys{1, 9}},
    {"ExpandCarryIntoNextBucket", Shift::kExpand, 0, 10, {kSpan - 1, kSpan + 3},
     {kSpan + 9, kSpan + 13}, Keys{0, 1}},
    {"ExpandWholeKeyUp", Shift::kExpand, 0, kSpan, {1, kSpan + 2, 5 * kSpan},
     {kSpan + 1, 2 * kSpan + 2, 6 * kSpan}, Keys{0, 1, 2, 5, 6}},
    {"ExpandLastKey", Shift::kExpand, kTopKey, 1, {kTopKey}, {kTopKey + 1}},
    {"ExpandFarApart", Shift::kExpand, 0, 1, {0, kTopKey}, {1, kTopKey + 1}},
    {"ExpandUpToLastPosition", Shift::kExpand, 7, kMax - 8, {6, 8}, {6, kMax}},
    {"ExpandNearTopOfKey", Shift::kExpand, kSpan - 2, 5, {kSpan - 3, kSpan - 2, kSpan - 1, kSpan},
     {kSpan - 3, kSpan + 3, kSpan + 4, kSpan + 5}, Keys{0, 1}},
    {"ExpandManyKeys", Shift::kExpand, 2 * kSpan + 7, 3 * kSpan + 10,
     {1, 2 * kSpan + 6, 2 * kSpan + 7, 3 * kSpan - 1, 9 * kSpan},
     {1, 2 * kSpan + 6, 5 * kSpan + 17, 6 * kSpan + 9, 12 * kSpan + 10},
     Keys{0, 2, 5, 6, 9, 12}},
    {"ContractEmpty", Shift::kContract, 0, 0, {}, {}},
    {"ContractAboveLastKeepsRun", Shift::kContract, 100, 50, {60, 70}, {60, 70}},
    {"ContractByZero", Shift::kContract, 3, 0, {1, 5, kSpan}, {1, 5, kSpan}},
    {"ContractWithinKey", Shift::kContract, 10, 3, {5, 7, 8, 9, 10, 11, 20}, {5, 7, 8, 17}},
    {"ContractSkipsKeyWithoutBucket", Shift::kContract, 10, 1, {5, 2 * kSpan + 100},
     {5, 2 * kSpan + 99}, Keys{0, 2}},
    {"ContractCarryErasesEmptiedBucket", Shift::kContract, 10, 1, {5, 2 * kSpan},
     {5, 2 * kSpan - 1}, Keys{0, 1}},
    {"ContractCarryCreatesMissingKey", Shift::kContract, 10, 1, {5, 3 * kSpan},
     {5, 3 * kSpan - 1}, Keys{0, 2}},
    {"ContractKeepsBucketsItPasses", Shift::kContract, 10, 1, {5, 3 * kSpan + 100},
     {5, 3 * kSpan + 99}, Keys{0, 2, 3, 4}, Keys{2, 4}},
    {"ContractCarryPassesEmptyBucket", Shift::kContract, 10, 1, {5, 3 * kSpan},
     {5, 3 * kSpan - 1}, Keys{0, 1, 2, 4}, Keys{1, 4}},
    {"ContractTopOfStartKey", Shift::kContract, 10, 1, {5, kSpan - 1}, {5, kSpan - 2}},
    {"ContractKeepsEmptiedStartBucket", Shift::kContract, kSpan + 12, 2,
     {kSpan + 11, kSpan + 12}, {}, Keys{1, 2}, Keys{2}},
    {"ContractEmptyStartBucket", Shift::kContract, kSpan, 1, {2 * kSpan}, {2 * kSpan - 1},
     Keys{1}},
    {"ContractCreatesEmptyStartBucket", Shift::kContract, kSpan + 10, 1, {5, 3 * kSpan + 100},
     {5, 3 * kSpan + 99}, Keys{0, 1, 3}},
    {"ContractWholeKeyDown", Shift::kContract, kSpan + 5, kSpan, {3, 2 * kSpan, 3 * kSpan + 1},
     {3, kSpan, 2 * kSpan + 1}, Keys{0, 1, 2}},
    {"ContractEmptyStartKeepsKeysBelow", Shift::kContract, 2 * kSpan + 1, 4,
     {2 * kSpan - 2, 3 * kSpan + 2}, {2 * kSpan - 2, 3 * kSpan - 2}},
    {"ContractLastKey", Shift::kContract, kTopKey + 10, 3, {kTopKey + 10, kTopKey + 11, kMax},
     {kTopKey + 8, kMax - 3}},
};

TEST(BitmapShift, MovesExactlyTheExpectedPositionsAndBuckets) {
  for (const ShiftCase& c : kShiftCases) {
    SCOPED_TRACE(c.name);
    Bitmap bitmap = before(c);
    apply(bitmap, c.shift, c.position, c.by);
    EXPECT_EQ(positionsOf(bitmap), c.after);
    if (c.keysAfter) {
      EXPECT_EQ(keysOf(bitmap), *c.keysAfter);
    }

    // Empty buckets hold nothing, so they must not change which positions move.
    Bitmap withEmptyBuckets = withEmptyNeighbours(c.before);
    apply(withEmptyBuckets, c.shift, c.position, c.by);
    EXPECT_EQ(positionsOf(withEmptyBuckets), c.after);
  }
}

// Refused shifts leave `before` as it was; they state no `after`.
const ShiftCase kRefusedCases[] = {
    {"ContractByAllBits", Shift::kContract, 10, kMax, {5, 100}},
    {"ContractRunReachesBelowStartKey", Shift::kContract, 3, 5, {1, 2, 100}},
    {"ContractRunEndsAtLowPart", Shift::kContract, kSpan + 7, 7, {kSpan, 3 * kSpan + 1}},
    {"ContractByZeroAtLowPartZero", Shift::kContract, kSpan, 0, {kSpan, kSpan + 1}},
    {"ContractEmptyStartBeyondOneKey", Shift::kContract, kSpan + 5, kSpan + 1, {2, 3 * kSpan}},
    {"ExpandPastLastPosition", Shift::kExpand, kMax, 1, {kMax}},
    {"ExpandCarryPastLastKey", Shift::kExpand, 0, 2, {7, kMax - 1}},
    {"ExpandFarPastLastKey", Shift::kExpand, 1, kMax, {0, 1}},
    {"ExpandManyKeysPastLastKey", Shift::kExpand, 5, kSpan << 31, {5, kSpan << 31}},
};

TEST(BitmapShift, OutOfBoundsIsRefusedBeforeAnythingChanges) {
  for (const ShiftCase& c : kRefusedCases) {
    SCOPED_TRACE(c.name);
    Bitmap bitmap = before(c);
    const Keys keysBefore = keysOf(bitmap);
    EXPECT_EQ(messageOf<std::invalid_argument>([&] { apply(bitmap, c.shift, c.position, c.by); }),
              "Range Out of Bounds");
    EXPECT_EQ(positionsOf(bitmap), c.before);
    EXPECT_EQ(keysOf(bitmap), keysBefore);
  }
}

TEST(BitmapShift, ExpandIsInstantForKeysFarApart) {
  Bitmap bitmap = bitmapOf({0, kTopKey});
  const auto started = std::chrono::steady_clock::now();
  bitmap.expand(0, 1);
  bitmap.contract(kSpan - 1, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
  EXPECT_EQ(positionsOf(bitmap), (Positions{1, kTopKey}));
}

// --- Randomized comparison with arithmetic on a sorted list ---------------------------

Positions expandedModel(const Positions& before, std::uint64_t position, std::uint64_t by) {
  Positions after;
  for (std::uint64_t p : before) after.push_back(p >= position ? p + by : p);
  return after;
}

// Positions at or above the start key keep the stated effect; positions below the
// start key are never touched, also when they lie in the removed run.
Positions contractedModel(const Positions& before, std::uint64_t position, std::uint64_t by) {
  const std::uint64_t startKeyBegin = position & ~(kSpan - 1);
  Positions after;
  for (std::uint64_t p : before) {
    if (p > position) {
      after.push_back(p - by);
    } else if (p < startKeyBegin || (by <= position && p <= position - by)) {
      after.push_back(p);
    }
  }
  std::sort(after.begin(), after.end());
  return after;
}

bool contractRefused(const Positions& before, std::uint64_t position, std::uint64_t by) {
  const std::uint64_t startKeyBegin = position & ~(kSpan - 1);
  const bool startHolds = std::any_of(before.begin(), before.end(), [&](std::uint64_t p) {
    return p >= startKeyBegin && p - startKeyBegin < kSpan;
  });
  return startHolds ? (position & (kSpan - 1)) <= by : by > kSpan;
}

class RandomShifts {
 public:
  explicit RandomShifts(std::uint64_t seed) : engine(seed) {}

  // A handful of positions in a few keys: neighbouring keys, far-apart keys and key
  // 4294967295, with low parts crowded near both ends of a key.
  Positions positions() {
    const std::uint64_t keys[] = {0, 1, 2, 3, 1000, 0x7FFFFFFF, 0xFFFFFFFE, 0xFFFFFFFF};
    Positions result;
    const int count = pick(12);
    for (int i = 0; i < count; ++i) {
      result.push_back((keys[pick(8)] << 32) | low());
    }
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
  }

  std::uint64_t position(const Positions& positions) {
    if (!positions.empty() && pick(2) == 0) {
      const std::uint64_t p = positions[pick(static_cast<int>(positions.size()))];
      return p + pick(3) - (p > 0 ? 1 : 0);
    }
    return (std::uint64_t{static_cast<std::uint32_t>(pick(4))} << 32) | low();
  }

  std::uint64_t by() {
    switch (pick(6)) {
      case 0: return pick(8);
      case 1: return kSpan - pick(4);
      case 2: return kSpan + pick(4);
      case 3: return (std::uint64_t{static_cast<std::uint32_t>(pick(5))} << 32) | low();
      case 4: return kMax - low();
      default: return low();
    }
  }

 private:
  int pick(int below) { return std::uniform_int_distribution<int>(0, below - 1)(engine); }

  std::uint64_t low() {
    const std::uint64_t offset = pick(6);
    switch (pick(3)) {
      case 0: return offset;
      case 1: return kSpan - 1 - offset;
      default: return engine() & (kSpan - 1);
    }
  }

  std::mt19937_64 engine;
};

// Each round shifts one random bitmap both ways from the same start.
TEST(BitmapShiftRandomized, ExpandAndContractMatchArithmetic) {
  RandomShifts random(20240605);
  for (int round = 0; round < 3000; ++round) {
    const Positions before = random.positions();
    const std::uint64_t position = random.position(before);
    const std::uint64_t by = random.by();
    const bool acts = !before.empty() && before.back() >= position;
    for (Shift shift : {Shift::kExpand, Shift::kContract}) {
      const bool expand = shift == Shift::kExpand;
      Bitmap bitmap = round % 2 == 0 ? bitmapOf(before) : withEmptyNeighbours(before);
      SCOPED_TRACE(::testing::Message() << (expand ? "expand(" : "contract(") << position << ", " << by
                                        << ") round " << round);
      if (acts && (expand ? by > kMax - before.back() : contractRefused(before, position, by))) {
        EXPECT_THROW(apply(bitmap, shift, position, by), std::invalid_argument);
        EXPECT_EQ(positionsOf(bitmap), before);
        continue;
      }
      apply(bitmap, shift, position, by);
      EXPECT_EQ(positionsOf(bitmap), !acts  ? before
                                     : expand ? expandedModel(before, position, by)
                                              : contractedModel(before, position, by));
    }
  }
}

// expand(p, by) then contract(p + by - 1, by) restores the positions when the low part
// of p + by - 1 is above by or that key has no positions after the expand.
TEST(BitmapShiftRandomized, ContractUndoesExpand) {
  RandomShifts random(5);
  int restored = 0;
  for (int round = 0; round < 3000; ++round) {
    const Positions before = random.positions();
    const std::uint64_t position = random.position(before);
    const std::uint64_t by = random.by();
    if (by == 0 || by > kSpan - (position & (kSpan - 1))) continue;
    if (!before.empty() && by > kMax - before.back()) continue;
    Bitmap bitmap = bitmapOf(before);
    bitmap.expand(position, by);
    const std::uint64_t gapEnd = position + by - 1;
    const Positions expanded = positionsOf(bitmap);
    const bool gapKeyEmpty = std::none_of(expanded.begin(), expanded.end(), [&](auto p) {
      return p >> 32 == gapEnd >> 32;
    });
    if ((gapEnd & (kSpan - 1)) <= by && !gapKeyEmpty) continue;
    SCOPED_TRACE(::testing::Message() << "expand/contract(" << position << ", " << by << ")");
    bitmap.contract(gapEnd, by);
    EXPECT_EQ(positionsOf(bitmap), before);
    ++restored;
  }
  EXPECT_GT(restored, 500);
}

}  // namespace
