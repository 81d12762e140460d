// Cancellation of long operations: each checks between units of work, a short call
// never checks, and a cancelled edit leaves whole buckets that later calls can use.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "scanner/memory_scanner.h"
#include "storage/cancellation.h"
#include "test_support.h"

namespace {

using namespace test_support;

struct Cancelled {};

// Checks seen so far in the running test, and the one that cancels (0: none does).
int checksSeen = 0;
int cancellingCheck = 0;

class Cancellation : public testing::Test {
 protected:
  void SetUp() override {
    checksSeen = 0;
    cancellingCheck = 0;
    veltrane::storage::setCancellationCheck([] {
      if (++checksSeen == cancellingCheck) throw Cancelled{};
    });
  }
  void TearDown() override { veltrane::storage::setCancellationCheck(nullptr); }

  // Runs `call` with the `check`-th check cancelling it; true when it was cancelled.
  static bool cancelledAt(int check, const std::function<void()>& call) {
    checksSeen = 0;
    cancellingCheck = check;
    try {
      call();
    } catch (const Cancelled&) {
      return true;
    }
    return false;
  }
};

std::vector<std::uint64_t> ascending(std::size_t count, std::uint64_t step) {
  std::vector<std::uint64_t> values(count);
  for (std::size_t i = 0; i < count; ++i) values[i] = i * step;
  return values;
}

// The bitmap as its serialized form reads back: every bucket whole and usable.
void expectWhole(const Bitmap& bitmap) { EXPECT_TRUE(readBack(bitmap, true) == bitmap); }

TEST_F(Cancellation, ShortCallsNeverCheck) {
  Bitmap bitmap;
  bitmap.addRange(5, 2 * kSpan + 7);
  bitmap.flip(kSpan - 3, 2 * kSpan);
  bitmap.removeRange(1, 9);
  const std::vector<std::uint64_t> values = ascending(4000, 3);
  Bitmap small(values.size(), values.data());
  std::vector<std::uint64_t> out(values.size());
  small.copyPositionsTo(out.data());
  EXPECT_EQ(MemoryScanner(4096).scan("1 2 [3]", 7).documents, 3u);
  EXPECT_EQ(checksSeen, 0);
}

// Each range edit over 16 whole buckets is cancelled on its second check: the buckets
// below some key are done, the ones from there on untouched.
TEST_F(Cancellation, RangeEditsStopBetweenBuckets) {
  constexpr std::uint64_t kEnd = 16 * kSpan;
  Bitmap added;
  ASSERT_TRUE(cancelledAt(2, [&] { added.addRange(0, kEnd); }));
  Bitmap flipped;
  ASSERT_TRUE(cancelledAt(2, [&] { flipped.flip(0, kEnd); }));
  Bitmap removed;
  removed.addRange(0, kEnd);
  ASSERT_TRUE(cancelledAt(2, [&] { removed.removeRange(0, kEnd); }));
  for (const Bitmap* bitmap : {&added, &flipped}) {
    const std::uint64_t done = bitmap->cardinality();
    EXPECT_TRUE(done % kSpan == 0 && done > 0 && done < kEnd) << done;
    EXPECT_TRUE(bitmap->all(0, done));
    EXPECT_FALSE(bitmap->any(done, kEnd));
    expectWhole(*bitmap);
  }
  const std::uint64_t cleared = kEnd - removed.cardinality();
  EXPECT_TRUE(cleared % kSpan == 0 && cleared > 0 && cleared < kEnd) << cleared;
  EXPECT_TRUE(removed.all(cleared, kEnd));
  removed.add(3);
  EXPECT_TRUE(removed.contains(3));
  expectWhole(removed);
}

// One position in each of 2000 containers of one bucket, and 2^23 positions in one.
TEST_F(Cancellation, WritingPositionsOutChecksInsideABucket) {
  const std::vector<std::uint64_t> sparse = ascending(2000, 1 << 16);
  Bitmap spread(sparse.size(), sparse.data());
  std::vector<std::uint64_t> out(sparse.size());
  EXPECT_TRUE(cancelledAt(1, [&] { spread.copyPositionsTo(out.data()); }));
  EXPECT_FALSE(cancelledAt(0, [&] { spread.copyPositionsTo(out.data()); }));
  EXPECT_EQ(out, sparse);
  EXPECT_GE(checksSeen, 10);

  Bitmap dense;
  dense.addRange(0, std::uint64_t{1} << 23);
  std::vector<std::uint8_t> mask(std::uint64_t{1} << 23, 1);
  EXPECT_TRUE(cancelledAt(1, [&] { dense.markPositionsIn(mask.data(), 0, true); }));
}

TEST_F(Cancellation, AddingManyKeepsWhatWasAdded) {
  const std::vector<std::uint64_t> sorted = ascending(std::size_t{1} << 20, 3);
  Bitmap bitmap;
  ASSERT_TRUE(cancelledAt(2, [&] { bitmap.addMany(sorted.size(), sorted.data()); }));
  EXPECT_EQ(bitmap.cardinality(), std::uint64_t{2} << 18);
  EXPECT_TRUE(bitmap.contains(sorted[(2 << 18) - 1]) && !bitmap.contains(sorted[2 << 18]));
  expectWhole(bitmap);

  // Sorting is cancellable too: from more than one block of values on.
  std::vector<std::uint64_t> shuffled = ascending((std::size_t{1} << 21) + 1, 5);
  std::reverse(shuffled.begin(), shuffled.end());
  Bitmap unsorted;
  EXPECT_TRUE(cancelledAt(1, [&] { unsorted.addMany(shuffled.size(), shuffled.data()); }));
  EXPECT_TRUE(unsorted.isEmpty());
}

TEST_F(Cancellation, ACancelledScanLeavesTheScannerUsable) {
  std::string input;
  for (int i = 0; i < 10000; ++i) input += "[1] ";
  MemoryScanner scanner(4096);
  EXPECT_TRUE(cancelledAt(1, [&] { scanner.scan(input.data(), input.size()); }));
  const MemoryScanner::Result result = scanner.scan(input.data(), input.size());
  EXPECT_EQ(result, (MemoryScanner::Result{10000, input.size()}));
}

}  // namespace
