// CRoaring's memory hooks: allocations that throw std::bad_alloc instead of handing
// CRoaring a null pointer, and the repair of what an interrupted call leaves behind.
#include "storage/allocation_hooks.h"

#include "storage/croaring_layout.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>

namespace veltrane::storage {
namespace {

// Per thread, since bitmaps may be edited on several threads at once.
struct HookState {
  // The block most recently freed through the hooks, released at the next hook call.
  // Some CRoaring paths free a container's array and only then allocate its
  // replacement; when that allocation fails, the container still points at the old
  // block, which therefore must stay allocated. It is then left to the container.
  void* parked = nullptr;
  bool nullOnFailure = false;
  // Injected failures for tests: allocations still allowed, or -1 for none injected.
  std::int64_t allowedBeforeFailure = -1;
  bool keepFailing = false;
  bool preparedForFailures = false;

  void releaseParkedBlock() {
    std::free(parked);
    parked = nullptr;
  }
};

thread_local HookState state;

// Releases the thread's parked block when the thread ends. It is a separate object so
// that the state stays valid (and empty) for frees that come later still, such as
// those of static objects destroyed after the main thread's thread-locals.
struct ParkedBlockRelease {
  ~ParkedBlockRelease() { state.releaseParkedBlock(); }
};

thread_local ParkedBlockRelease parkedBlockRelease;

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
  HookState& hooks = state;
  void* block = injectedFailure(hooks) ? nullptr : allocate();
  if (block != nullptr || size == 0 || hooks.nullOnFailure) {
    hooks.releaseParkedBlock();
    return block;
  }
  hooks.parked = nullptr;
  throw std::bad_alloc();
}

void* hookMalloc(std::size_t size) {
  return allocateOrThrow(size, [size] { return std::malloc(size); });
}

void* hookCalloc(std::size_t count, std::size_t size) {
  return allocateOrThrow(count * size, [count, size] { return std::calloc(count, size); });
}

// A failed realloc leaves the original block as it was.
void* hookRealloc(void* block, std::size_t size) {
  return allocateOrThrow(size, [block, size] { return std::realloc(block, size); });
}

void* hookAlignedMalloc(std::size_t alignment, std::size_t size) {
  return allocateOrThrow(size, [alignment, size]() -> void* {
    void* block = nullptr;
    return posix_memalign(&block, alignment, size) == 0 ? block : nullptr;
  });
}

void hookFree(void* block) {
  static_cast<void>(&parkedBlockRelease);
  HookState& hooks = state;
  std::free(hooks.parked);
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
  static_cast<void>(&parkedBlockRelease);
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
    const auto room = static_cast<std::int32_t>(malloc_usable_size(container->elements) / bytes);
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
