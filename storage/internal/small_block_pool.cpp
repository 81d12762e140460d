#include "storage/internal/small_block_pool.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#include <pthread.h>

namespace veltrane::storage::internal::small_block_pool {

struct FreeBlock {
  FreeBlock* next;
};

namespace {

constexpr std::size_t kGranule = 16;
constexpr std::size_t kClasses = kSizeClasses;
static_assert(kClasses * kGranule == kLargestBlock);
constexpr unsigned kSlabBits = 16;
constexpr std::size_t kSlabBytes = std::size_t{1} << kSlabBits;
// Blocks start here in a slab, after its header, so they keep malloc's alignment.
constexpr std::size_t kSlabHeaderBytes = 64;
// A thread's free list of one class is cut back by kBatch blocks once it holds more
// than kThreadListLimit, and an empty one takes kBatch blocks at once.
constexpr std::uint32_t kBatch = 128;
constexpr std::uint32_t kThreadListLimit = 2 * kBatch;

struct Slab {
  FreeBlock* freeBlocks;
  char* unused;  // blocks never handed out run from here to the slab's end
  std::uint32_t blocksOut;
  std::uint32_t sizeClass;
  Slab* previous;  // in its class's list of slabs with room
  Slab* next;
  bool listed;
};
static_assert(sizeof(Slab) <= kSlabHeaderBytes);

std::size_t blockBytes(std::size_t sizeClass) { return (sizeClass + 1) * kGranule; }
char* slabEnd(Slab* slab) { return reinterpret_cast<char*>(slab) + kSlabBytes; }

// Which 64 KiB ranges of the address space are slabs: one byte per range, in leaves of
// 2^16 ranges made when a slab first lands in their 4 GiB. Leaves are never freed, so
// a lookup needs no lock; a slab's byte is set after its header is written.
constexpr unsigned kLeafBits = 16;
constexpr unsigned kAddressBits = 48;
constexpr std::size_t kRootEntries = std::size_t{1} << (kAddressBits - kSlabBits - kLeafBits);
using Leaf = std::atomic<std::uint8_t>[std::size_t{1} << kLeafBits];
std::atomic<Leaf*> root[kRootEntries];

std::atomic<std::uint8_t>* rangeEntry(std::uintptr_t address) {
  const std::uintptr_t range = address >> kSlabBits;
  const std::uintptr_t rootIndex = range >> kLeafBits;
  if (rootIndex >= kRootEntries) return nullptr;
  Leaf* leaf = root[rootIndex].load(std::memory_order_acquire);
  if (leaf == nullptr) return nullptr;
  return &(*leaf)[range & ((std::uintptr_t{1} << kLeafBits) - 1)];
}

Slab* slabOf(const void* block) {
  return reinterpret_cast<Slab*>(reinterpret_cast<std::uintptr_t>(block) & ~(kSlabBytes - 1));
}

// The slabs and the lists of those with room, behind one lock. Only batches of blocks
// pass through here.
struct Shared {
  std::mutex lock;
  Slab* withRoom[kClasses] = {};
  std::size_t slabs = 0;
  std::size_t blocksOut = 0;

  // Marks [slab, slab + kSlabBytes) as a slab; false when no memory is left for a leaf.
  bool mark(Slab* slab, bool isSlab) {
    const auto address = reinterpret_cast<std::uintptr_t>(slab);
    const std::uintptr_t rootIndex = address >> (kSlabBits + kLeafBits);
    if (rootIndex >= kRootEntries) return false;
    if (root[rootIndex].load(std::memory_order_relaxed) == nullptr) {
      auto* leaf = static_cast<Leaf*>(std::calloc(1, sizeof(Leaf)));
      if (leaf == nullptr) return false;
      root[rootIndex].store(leaf, std::memory_order_release);
    }
    rangeEntry(address)->store(isSlab ? 1 : 0, std::memory_order_release);
    return true;
  }

  void list(Slab* slab) {
    Slab*& head = withRoom[slab->sizeClass];
    slab->previous = nullptr;
    slab->next = head;
    if (head != nullptr) head->previous = slab;
    head = slab;
    slab->listed = true;
  }

  void unlist(Slab* slab) {
    if (slab->previous != nullptr) {
      slab->previous->next = slab->next;
    } else {
      withRoom[slab->sizeClass] = slab->next;
    }
    if (slab->next != nullptr) slab->next->previous = slab->previous;
    slab->listed = false;
  }

  Slab* newSlab(std::size_t sizeClass) {
    void* memory = nullptr;
    if (posix_memalign(&memory, kSlabBytes, kSlabBytes) != 0) return nullptr;
    auto* slab = static_cast<Slab*>(memory);
    *slab = Slab{nullptr, static_cast<char*>(memory) + kSlabHeaderBytes, 0,
                 static_cast<std::uint32_t>(sizeClass), nullptr, nullptr, false};
    if (!mark(slab, true)) {
      std::free(memory);
      return nullptr;
    }
    ++slabs;
    list(slab);
    return slab;
  }

  // Up to `wanted` blocks of the class onto `head`; how many, 0 when memory ran out.
  std::uint32_t take(std::size_t sizeClass, std::uint32_t wanted, FreeBlock*& head) {
    std::lock_guard<std::mutex> held(lock);
    const std::size_t bytes = blockBytes(sizeClass);
    std::uint32_t taken = 0;
    while (taken < wanted) {
      Slab* slab = withRoom[sizeClass];
      if (slab == nullptr && (slab = newSlab(sizeClass)) == nullptr) break;
      while (taken < wanted) {
        FreeBlock* block = slab->freeBlocks;
        if (block != nullptr) {
          slab->freeBlocks = block->next;
        } else if (slab->unused + bytes <= slabEnd(slab)) {
          block = reinterpret_cast<FreeBlock*>(slab->unused);
          slab->unused += bytes;
        } else {
          break;
        }
        block->next = head;
        head = block;
        ++slab->blocksOut;
        ++taken;
      }
      if (taken < wanted) unlist(slab);  // it ran out of room
    }
    blocksOut += taken;
    return taken;
  }

  // Returns up to `count` blocks from the list at `head` to their slabs; the rest of
  // the list is left at `head`.
  void give(FreeBlock*& head, std::uint32_t count) {
    std::lock_guard<std::mutex> held(lock);
    for (; count > 0 && head != nullptr; --count) {
      FreeBlock* block = head;
      head = block->next;
      Slab* slab = slabOf(block);
      block->next = slab->freeBlocks;
      slab->freeBlocks = block;
      --blocksOut;
      if (!slab->listed) list(slab);
      // An empty slab goes back unless it is the only one of its class with room.
      if (--slab->blocksOut == 0 && (slab->previous != nullptr || slab->next != nullptr)) {
        unlist(slab);
        mark(slab, false);
        std::free(slab);
        --slabs;
      }
    }
  }
};

Shared& shared();

// A fork while another thread holds the lock would leave it held for good in the child:
// the forking thread takes it first, and both sides release it after the fork.
void lockForFork() { shared().lock.lock(); }
void unlockAfterFork() { shared().lock.unlock(); }

Shared& shared() {
  // Never destroyed: blocks may come back from static destructors after exit began.
  static Shared* instance = [] {
    auto* pool = new Shared;
    pthread_atfork(lockForFork, unlockAfterFork, unlockAfterFork);
    return pool;
  }();
  return *instance;
}

}  // namespace

void* allocate(ThreadLists& lists, std::size_t size) noexcept {
  const std::size_t sizeClass = (size - 1) / kGranule;
  if (lists.heads[sizeClass] == nullptr) {
    const std::uint32_t wanted = lists.retired ? 1 : kBatch;
    lists.counts[sizeClass] = shared().take(sizeClass, wanted, lists.heads[sizeClass]);
    if (lists.counts[sizeClass] == 0) return nullptr;
  }
  FreeBlock* block = lists.heads[sizeClass];
  lists.heads[sizeClass] = block->next;
  --lists.counts[sizeClass];
  return block;
}

bool owns(const void* block) noexcept {
  const std::atomic<std::uint8_t>* entry = rangeEntry(reinterpret_cast<std::uintptr_t>(block));
  return entry != nullptr && entry->load(std::memory_order_acquire) != 0;
}

std::size_t usableSize(const void* block) noexcept { return blockBytes(slabOf(block)->sizeClass); }

void release(ThreadLists& lists, void* block) noexcept {
  auto* freed = static_cast<FreeBlock*>(block);
  const std::size_t sizeClass = slabOf(block)->sizeClass;
  freed->next = lists.heads[sizeClass];
  lists.heads[sizeClass] = freed;
  if (lists.retired) {
    shared().give(lists.heads[sizeClass], 1);
  } else if (++lists.counts[sizeClass] > kThreadListLimit) {
    shared().give(freed->next, kBatch);  // the block just returned stays first in line
    lists.counts[sizeClass] -= kBatch;
  }
}

void retire(ThreadLists& lists) noexcept {
  for (std::size_t c = 0; c < kClasses; ++c) {
    shared().give(lists.heads[c], lists.counts[c]);
    lists.counts[c] = 0;
  }
  lists.retired = true;
}

Holdings holdings() {
  Shared& pool = shared();
  std::lock_guard<std::mutex> held(pool.lock);
  return Holdings{pool.slabs, pool.blocksOut};
}

}  // namespace veltrane::storage::internal::small_block_pool
