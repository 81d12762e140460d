#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

#include <cstdint>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "storage/allocation_hooks.h"
#include "storage/internal/small_block_pool.h"

namespace {

namespace pool = veltrane::storage::internal::small_block_pool;
using veltrane::storage::failAllocationsAfter;

TEST(SmallBlockPool, EverySizeGetsItsOwnAlignedBlockOfItsClass) {
  pool::ThreadLists lists{};
  std::vector<unsigned char*> blocks;
  for (std::size_t size = 1; size <= pool::kLargestBlock; ++size) {
    auto* block = static_cast<unsigned char*>(pool::allocate(lists, size));
    ASSERT_TRUE(pool::owns(block));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u);
    EXPECT_EQ(pool::usableSize(block), (size + 15) / 16 * 16);
    std::memset(block, static_cast<int>(size), pool::usableSize(block));
    blocks.push_back(block);
  }
  for (std::size_t size = 1; size <= blocks.size(); ++size) {
    unsigned char* block = blocks[size - 1];
    for (std::size_t i = 0; i < pool::usableSize(block); ++i) ASSERT_EQ(block[i], size);  // no overlap
    pool::release(lists, block);
  }
  void* fromMalloc = std::malloc(32);
  EXPECT_FALSE(pool::owns(fromMalloc));
  EXPECT_FALSE(pool::owns(nullptr));
  std::free(fromMalloc);

  void* block = pool::allocate(lists, 40);
  pool::release(lists, block);
  EXPECT_EQ(pool::allocate(lists, 33), block);  // the class's most recently returned block
  pool::release(lists, block);
  pool::retire(lists);
}

// Blocks taken through one thread's lists and returned through another's, and the
// reverse; retired lists give their blocks back, and empty slabs go back to malloc.
TEST(SmallBlockPool, BlocksReturnedThroughAnyListsGoBackToTheSlabs) {
  const pool::Holdings before = pool::holdings();
  pool::ThreadLists mine{};
  std::vector<void*> blocks(100000);
  for (std::size_t i = 0; i < blocks.size(); ++i) blocks[i] = pool::allocate(mine, 1 + i % 64);
  EXPECT_GE(pool::holdings().slabs, before.slabs + 40);
  std::thread([&] {
    pool::ThreadLists theirs{};
    for (void* block : blocks) pool::release(theirs, block);
    for (void*& block : blocks) block = pool::allocate(theirs, 8);
    pool::retire(theirs);
  }).join();
  for (void* block : blocks) pool::release(mine, block);
  pool::retire(mine);
  pool::release(mine, pool::allocate(mine, 64));  // retired lists keep nothing
  const pool::Holdings after = pool::holdings();
  EXPECT_EQ(after.blocksOut, before.blocksOut);
  EXPECT_LE(after.slabs, before.slabs + pool::kSizeClasses);  // one kept per class
}

// Other threads keep taking and returning batches, which passes through the pool's
// lock, while this one forks: each child must find the lock free. A child that hangs
// is ended by its alarm and counts as a failure.
TEST(SmallBlockPool, AForkWhileOtherThreadsUseThePoolLeavesItUsableInTheChild) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> churn;
  for (int t = 0; t < 2; ++t) {
    churn.emplace_back([&stop] {
      pool::ThreadLists lists{};
      std::vector<void*> blocks(600);
      while (!stop) {
        for (void*& block : blocks) block = pool::allocate(lists, 16);
        for (void* block : blocks) pool::release(lists, block);
      }
      pool::retire(lists);
    });
  }
  for (int round = 0; round < 40; ++round) {
    const pid_t child = fork();
    if (child == 0) {
      alarm(10);
      pool::ThreadLists lists{};
      for (int i = 0; i < 1000; ++i) pool::release(lists, pool::allocate(lists, 48));
      pool::retire(lists);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
  }
  stop = true;
  for (std::thread& thread : churn) thread.join();
}

// Through CRoaring's hooks: contents survive a realloc into another size class or out
// of the pool and back, a calloc'd block is zeroed whatever the block held before, and
// injected failures reach small blocks, leaving a realloc'd block as it was.
TEST(SmallBlockPool, HookedAllocationsMoveBetweenClassesAndFailAsInjected) {
  veltrane::storage::installAllocationHooks();
  auto* bytes = static_cast<unsigned char*>(roaring_malloc(10));
  for (unsigned char i = 0; i < 10; ++i) bytes[i] = i;
  for (std::size_t size : {40, 64, 300, 24, 16, 10}) {
    bytes = static_cast<unsigned char*>(roaring_realloc(bytes, size));
    for (unsigned char i = 0; i < 10; ++i) ASSERT_EQ(bytes[i], i) << size;
  }
  void* dirty = roaring_malloc(48);
  std::memset(dirty, 0xFF, 48);
  roaring_free(dirty);
  auto* zeroed = static_cast<unsigned char*>(roaring_calloc(3, 16));
  for (int i = 0; i < 48; ++i) ASSERT_EQ(zeroed[i], 0);

  failAllocationsAfter(0, false);
  EXPECT_THROW(roaring_malloc(16), std::bad_alloc);
  failAllocationsAfter(0, false);
  EXPECT_THROW(roaring_realloc(bytes, 48), std::bad_alloc);
  for (unsigned char i = 0; i < 10; ++i) EXPECT_EQ(bytes[i], i);
  roaring_free(bytes);
  roaring_free(zeroed);
  roaring_free(roaring_malloc(16));  // nothing injected any more
}

}  // namespace
