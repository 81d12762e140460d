#pragma once

#include <cstddef>

// A process-wide pool for CRoaring's small blocks (bitmap container arrays, container
// structs and short value arrays, mostly 16 to 48 bytes on sparse data). Taken from
// malloc, each such block pays glibc's chunk header and rounding and a call into
// malloc and free; here blocks of four size classes are carved from 64 KiB slabs, and
// each thread keeps a short list of free blocks per class, so that taking and
// returning one usually touches no lock. The lists are the caller's, so that a caller
// with thread-local state of its own looks up one thread-local object per call.
//
// Blocks carry no header: a slab is aligned to its size, and a table over the address
// space records which 64 KiB ranges are slabs, so any pointer can be told apart from a
// malloc block. Any thread may return any block, whichever thread took it: free
// blocks of one class are interchangeable, and a thread's list goes back to the slabs
// when it grows long and when the thread ends. A slab goes back to malloc once all its
// blocks are back (one empty slab per class is kept for reuse).
namespace veltrane::storage::internal::small_block_pool {

constexpr std::size_t kLargestBlock = 64;
constexpr std::size_t kSizeClasses = 4;

struct FreeBlock;

// A thread's free blocks per size class. Its owner keeps one per thread (zeroed, as a
// thread_local is) and retires it when the thread ends.
struct ThreadLists {
  FreeBlock* heads[kSizeClasses];
  unsigned counts[kSizeClasses];
  // Once retired, blocks pass straight between the caller and the slabs.
  bool retired;
};

// A block of at least `size` bytes (1 to kLargestBlock), aligned as malloc aligns, or
// null when no memory is left for a new slab.
void* allocate(ThreadLists& lists, std::size_t size) noexcept;

// Whether `block` lies in one of the pool's slabs; false for null.
bool owns(const void* block) noexcept;

// The bytes usable in a block that owns() accepts.
std::size_t usableSize(const void* block) noexcept;

// Takes back a block that owns() accepts, whichever lists it came from.
void release(ThreadLists& lists, void* block) noexcept;

// Hands every block of the lists back to the slabs and marks them retired.
void retire(ThreadLists& lists) noexcept;

// What the pool holds, for tests: slabs taken from malloc, and blocks handed out and
// not yet back in a slab (blocks in threads' lists count as handed out).
struct Holdings {
  std::size_t slabs;
  std::size_t blocksOut;
};
Holdings holdings();

}  // namespace veltrane::storage::internal::small_block_pool
