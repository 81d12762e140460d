// CRoaring's memory hooks: allocations that throw std::bad_alloc instead of handing
// CRoaring a null pointer, and the repair of what an interrupted call leaves behind.
#include "storage/allocation_hooks.h"

#include "storage/croaring_layout.h"
#include "storage/internal/small_block_pool.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace veltrane::storage {
namespace {

namespace pool = internal::small_block_pool;

// Under AddressSanitizer every block comes from malloc, so that the sanitizer checks
// each of CRoaring's blocks for overflows, use after free and leaks on its own.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPoolSmallBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPoolSmallBlocks = false;
#else
constexpr bool kPoolSmallBlocks = true;
#endif
#else
constexpr bool kPoolSmallBlocks = true;
#endif

bool pooledSize(std::size_t size) { return kPoolSmallBlocks && size != 0 && size <= pool::kLargestBlock; }

// malloc, realloc and free, with small blocks from the pool (through the calling
// thread's lists) and from malloc when the pool cannot place a new slab; free and
// realloc take blocks of either kind, since CRoaring may have had some from malloc
// before the hooks were installed.
void* heapMalloc(pool::ThreadLists& lists, std::size_t size) {
  if (pooledSize(size)) {
    if (void* block = pool::allocate(lists, size)) return block;
  }
  return std::malloc(size);
}

void heapFree(pool::ThreadLists& lists, void* block) {
  if (block == nullptr) return;
  if (pool::owns(block)) {
    pool::release(lists, block);
  } else {
    std::free(block);
  }
}

std::size_t usableSize(void* block) {
  return pool::owns(block) ? pool::usableSize(block) : malloc_usable_size(block);
}

// A block that changes size class, or moves between the pool and malloc, is copied.
void* heapRealloc(pool::ThreadLists& lists, void* block, std::size_t size) {
  if (block == nullptr) return heapMalloc(lists, size);
  const bool fromPool = pool::owns(block);
  if (fromPool && size == 0) {
    pool::release(lists, block);
    return nullptr;
  }
  if (!fromPool && !pooledSize(size)) return std::realloc(block, size);
  const std::size_t usable = usableSize(block);
  if (fromPool && size <= usable && size + 16 > usable) return block;
  void* moved = heapMalloc(lists, size);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, block, std::min(usable, size));
  heapFree(lists, block);
  return moved;
}

// Per thread, since bitmaps may be edited on several threads at once.
struct HookState {
  // The block most recently freed through the hooks, released at the next hook call.
  // Some CRoaring paths free a container's array and only then allocate its
  // replacement; when that allocation fails, the container still points at the old
  // block, which therefore must stay allocated. It is then left to the container.
  void* parked = nullptr;
  pool::ThreadLists poolLists{};
  bool nullOnFailure = false;
  // Injected failures for tests: allocations still allowed, or -1 for none injected.
  std::int64_t allowedBeforeFailure = -1;
  bool keepFailing = false;
  bool preparedForFailures = false;
  bool threadEndRegistered = false;

  void releaseParkedBlock() {
    heapFree(poolLists, parked);
    parked = nullptr;
  }
};

thread_local HookState state;

// Releases the thread's parked block and hands its pooled blocks back when the thread
// ends. It is a separate object so that the state stays valid (and empty) for frees
// that come later still, such as those of static objects destroyed after the main
// thread's thread-locals.
struct ThreadEnd {
  ~ThreadEnd() {
    state.releaseParkedBlock();
    pool::retire(state.poolLists);
  }
};

thread_local ThreadEnd threadEnd;

// Registers the release of the thread's parked and pooled blocks at its end.
[[gnu::noinline, gnu::cold]] void registerThreadEnd() { static_cast<void>(&threadEnd); }

// The calling thread's state, with its end registered. In a shared library the address
// of a thread-local comes from a call into the dynamic linker, which GCC repeats at
// each use rather than keep the address in a register; the empty asm makes the address
// a value it cannot recompute, so one such call serves the whole hook.
HookState& threadState() {
  HookState* hooks = &state;
  __asm__("" : "+r"(hooks));
  if (!hooks->threadEndRegistered) {
    registerThreadEnd();
    hooks->threadEndRegistered = true;
  }
  return *hooks;
}

// Thrown and caught once per thread: the C++ runtime (libstdc++ or libc++abi) makes
// its per-thread exception state at a thread's first throw. A throw has effects that
// no compiler removes, unlike a query of that state, which may be declared pure and
// dropped when its result is unused.
struct ThreadSetUpThrow {};

bool injectedFailure(HookState& hooks) {
  if (hooks.allowedBeforeFailure < 0) return false;
  if (hooks.allowedBeforeFailure > 0) {
    --hooks.allowedBeforeFailure;
    return false;
  }
  if (!hooks.keepFailing) hooks.allowedBeforeFailure = -1;
  return true;
}

// Runs allocate() unless a failure is injected; a block of zero bytes may be null.
template <typename Allocate>
void* allocateOrThrow(std::size_t size, Allocate allocate) {
  HookState& hooks = threadState();
  void* block = injectedFailure(hooks) ? nullptr : allocate(hooks.poolLists);
  if (block != nullptr || size == 0 || hooks.nullOnFailure) {
    hooks.releaseParkedBlock();
    return block;
  }
  hooks.parked = nullptr;
  throw std::bad_alloc();
}

void* hookMalloc(std::size_t size) {
  return allocateOrThrow(size, [size](pool::ThreadLists& lists) { return heapMalloc(lists, size); });
}

void* hookCalloc(std::size_t count, std::size_t size) {
  return allocateOrThrow(count * size, [count, size](pool::ThreadLists& lists) -> void* {
    if (size == 0 || count > pool::kLargestBlock / size || !pooledSize(count * size)) return std::calloc(count, size);
    void* block = pool::allocate(lists, count * size);
    return block == nullptr ? nullptr : std::memset(block, 0, count * size);
  });
}

// A failed realloc leaves the original block as it was.
void* hookRealloc(void* block, std::size_t size) {
  return allocateOrThrow(size, [block, size](pool::ThreadLists& lists) { return heapRealloc(lists, block, size); });
}

void* hookAlignedMalloc(std::size_t alignment, std::size_t size) {
  return allocateOrThrow(size, [alignment, size](pool::ThreadLists&) -> void* {
    void* block = nullptr;
    return posix_memalign(&block, alignment, size) == 0 ? block : nullptr;
  });
}

void hookFree(void* block) {
  HookState& hooks = threadState();
  heapFree(hooks.poolLists, hooks.parked);
  hooks.parked = block;
}

}  // namespace

void installAllocationHooks() {
  static const bool installed = [] {
    roaring_init_memory_hook(roaring_memory_t{hookMalloc, hookRealloc, hookCalloc, hookFree,
                                              hookAlignedMalloc, hookFree});
    prepareThreadForAllocationFailures();
    return true;
  }();
  static_cast<void>(installed);
}

void prepareThreadForAllocationFailures() {
  HookState& hooks = state;
  if (hooks.preparedForFailures) return;
  threadState();
  try {
    throw ThreadSetUpThrow{};
  } catch (const ThreadSetUpThrow&) {
    hooks.preparedForFailures = true;
  }
}

NullOnAllocationFailure::NullOnAllocationFailure() : wasOn(state.nullOnFailure) {
  state.nullOnFailure = true;
}

NullOnAllocationFailure::~NullOnAllocationFailure() { state.nullOnFailure = wasOn; }

void repairAfterFailedAllocation(roaring_bitmap_t& bucket) {
  using namespace croaring_layout;
  for (std::int32_t i = 0; i < containerCount(bucket); ++i) {
    GrowableContainer* container = growableAt(bucket, i);
    if (container == nullptr) continue;
    const std::size_t bytes = elementBytes(typecodeAt(bucket, i));
    const auto room = static_cast<std::int32_t>(usableSize(container->elements) / bytes);
    if (container->capacity > room) container->capacity = room;
  }
}

void reserveRoomForRunSplit(roaring_bitmap_t& bucket, std::uint32_t low) {
  using namespace croaring_layout;
  const auto high = static_cast<std::uint16_t>(low >> 16);
  const std::uint16_t* keysBegin = containerKeys(bucket);
  const std::uint16_t* keysEnd = keysBegin + containerCount(bucket);
  const std::uint16_t* key = std::lower_bound(keysBegin, keysEnd, high);
  if (key == keysEnd || *key != high) return;
  const auto index = static_cast<std::int32_t>(key - keysBegin);
  if (typecodeAt(bucket, index) != kRunContainer) return;
  auto* runs = growableAt(bucket, index);
  if (runs->count < runs->capacity) return;
  const std::int32_t room = runs->capacity + runs->capacity / 4 + 1;
  runs->elements = roaring_realloc(runs->elements, room * elementBytes(kRunContainer));
  runs->capacity = room;
}

void failAllocationsAfter(std::uint64_t allocations, bool keepFailing) {
  state.allowedBeforeFailure = static_cast<std::int64_t>(allocations);
  state.keepFailing = keepFailing;
}

void stopFailingAllocations() { state.allowedBeforeFailure = -1; }

}  // namespace veltrane::storage
