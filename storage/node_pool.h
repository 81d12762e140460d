#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>

// The bucket map's node allocator. A map allocates one node per bucket; taken from the
// general heap, each node pays the heap's own header and a call into malloc and free,
// and nodes of one map end up scattered between the buckets' own allocations. Here the
// nodes of one map come from slabs that the map alone owns: consecutive nodes lie next
// to each other, and taking or returning one is a pointer swap.
namespace veltrane::storage {

// Fixed-size blocks carved from slabs. Each new slab holds a quarter of the blocks in
// use (at least one, at most kLargestSlab), so a map of n nodes holds at most about
// n / 4 spare blocks. Returned blocks are reused; the slabs go back to the heap once
// every block is back.
class NodePool {
 public:
  NodePool(std::size_t blockSize, std::size_t blockAlignment)
      : blockSize(roundedUp(std::max(blockSize, sizeof(FreeBlock)), blockAlignment)) {}
  NodePool(const NodePool&) = delete;
  NodePool& operator=(const NodePool&) = delete;
  ~NodePool() { releaseSlabs(); }

  std::size_t sizeOfBlocks() const noexcept { return blockSize; }

  void* take() {
    void* block;
    if (freeBlocks != nullptr) {
      block = freeBlocks;
      freeBlocks = freeBlocks->next;
    } else {
      if (unused == unusedEnd) addSlab();
      block = unused;
      unused += blockSize;
    }
    ++blocksInUse;
    return block;
  }

  void give(void* pointer) noexcept {
    auto* block = static_cast<FreeBlock*>(pointer);
    block->next = freeBlocks;
    freeBlocks = block;
    if (--blocksInUse == 0) releaseSlabs();
  }

 private:
  struct FreeBlock {
    FreeBlock* next;
  };
  // Starts every slab; the blocks follow at kSlabHeader bytes.
  struct Slab {
    Slab* next;
  };

  // Large slabs keep the nodes of a large map close together, which walks over the
  // map depend on (bench_shapes, "1,000,000 uniform 64-bit"; bench/NOTES_ON_RATIOS.md).
  static constexpr std::size_t kLargestSlab = 16384;
  static constexpr std::size_t kSlabHeader = alignof(std::max_align_t);

  static std::size_t roundedUp(std::size_t size, std::size_t alignment) {
    return (size + alignment - 1) / alignment * alignment;
  }

  // Blocks are handed out from the new slab in address order, so that blocks taken one
  // after another are neighbours in memory; a slab is not touched before its blocks
  // are taken.
  void addSlab() {
    const std::size_t count = std::clamp<std::size_t>(blocksInUse / 4, 1, kLargestSlab);
    auto* memory = static_cast<std::byte*>(::operator new(kSlabHeader + count * blockSize));
    slabs = new (memory) Slab{slabs};
    unused = memory + kSlabHeader;
    unusedEnd = unused + count * blockSize;
  }

  void releaseSlabs() noexcept {
    while (slabs != nullptr) {
      Slab* next = slabs->next;
      ::operator delete(static_cast<void*>(slabs));
      slabs = next;
    }
    freeBlocks = nullptr;
    unused = unusedEnd = nullptr;
  }

  const std::size_t blockSize;
  Slab* slabs = nullptr;
  FreeBlock* freeBlocks = nullptr;
  std::byte* unused = nullptr;  // the newest slab's blocks never taken yet
  std::byte* unusedEnd = nullptr;
  std::size_t blocksInUse = 0;
};

// A standard allocator that serves single objects from a NodePool of its own and
// anything else from the heap. The pool is made on the first allocation and shared by
// the copies a container makes of its allocator; a copied container gets a new pool,
// a moved or swapped one keeps its pool.
template <typename T>
class PooledAllocator {
 public:
  using value_type = T;
  using propagate_on_container_copy_assignment = std::false_type;
  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_swap = std::true_type;
  using is_always_equal = std::false_type;

  PooledAllocator() noexcept = default;
  template <typename U>
  PooledAllocator(const PooledAllocator<U>& other) noexcept : pool(other.pool) {}

  PooledAllocator select_on_container_copy_construction() const noexcept { return PooledAllocator(); }

  T* allocate(std::size_t count) {
    if (count != 1) return static_cast<T*>(::operator new(count * sizeof(T)));
    if (!pool) pool = std::make_shared<NodePool>(sizeof(T), alignof(T));
    if (!servesThisType()) return static_cast<T*>(::operator new(sizeof(T)));
    return static_cast<T*>(pool->take());
  }

  void deallocate(T* pointer, std::size_t count) noexcept {
    if (count == 1 && pool && servesThisType()) {
      pool->give(pointer);
    } else {
      ::operator delete(pointer);
    }
  }

  template <typename U>
  bool operator==(const PooledAllocator<U>& other) const noexcept {
    return pool == other.pool;
  }
  template <typename U>
  bool operator!=(const PooledAllocator<U>& other) const noexcept {
    return pool != other.pool;
  }

 private:
  template <typename U>
  friend class PooledAllocator;

  // The pool's block size is fixed by the type that made it (the map's node type).
  bool servesThisType() const noexcept {
    return pool->sizeOfBlocks() == sizeof(T) && alignof(T) <= alignof(std::max_align_t);
  }

  std::shared_ptr<NodePool> pool;
};

}  // namespace veltrane::storage
