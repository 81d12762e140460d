#pragma once

#include <roaring.h>

#include <cstdint>
#include <new>
#include <stdexcept>
#include <utility>

// What happens when CRoaring runs out of memory.
//
// Several CRoaring paths drop a failed allocation's result and go on with a null
// pointer or a half-grown array, which corrupts the heap. So the core installs memory
// hooks whose allocations throw std::bad_alloc at the failing call (CRoaring is built
// with -fexceptions, so the exception unwinds through its C frames) and CRoaring never
// proceeds past a failed allocation. What the unwinding may leave behind is repaired by
// the helpers below.
namespace veltrane::storage {

// Installs the hooks, once per process; every Bitmap constructor calls it. The thread
// that installs them is also prepared as below.
void installAllocationHooks();

// Sets up the calling thread's state for the hooks and for C++ exceptions, once per
// thread; later calls only test a flag. A library loaded at run time may get such
// per-thread state (the hooks' own, the C++ runtime's exception globals) only when a
// thread first uses it; if that first use is the exception of a failed allocation,
// there may be no memory left for the state and the C library aborts the process.
// Every call from Python into the module runs this first, while memory is available.
void prepareThreadForAllocationFailures();

// While one is alive, failed CRoaring allocations on this thread return null instead
// of throwing: for the calls that check every allocation and clean up after a failure
// themselves (copies through roaring_bitmap_overwrite).
class NullOnAllocationFailure {
 public:
  NullOnAllocationFailure();
  ~NullOnAllocationFailure();
  NullOnAllocationFailure(const NullOnAllocationFailure&) = delete;
  NullOnAllocationFailure& operator=(const NullOnAllocationFailure&) = delete;

 private:
  bool wasOn;
};

// A bucket copy that ran out of memory. It is the std::runtime_error with one of the
// two fixed copy messages that C++ callers know; the Python module reports it as
// MemoryError.
class BucketCopyFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Makes a bucket consistent after an allocation failed inside a CRoaring call that was
// changing it: CRoaring records a grown capacity before it allocates the larger array,
// so an array or run container may claim more room than its block has. The claim is
// cut back to the block. Positions are not touched.
void repairAfterFailedAllocation(roaring_bitmap_t& bucket);

// Removing one low value from inside a run splits the run in two, and CRoaring
// shortens the run before it makes room for the second half, so a failure there would
// drop the rest of the run. Makes that room first when the run container that holds
// `low` is full. Throws std::bad_alloc, with nothing changed, when memory runs out.
void reserveRoomForRunSplit(roaring_bitmap_t& bucket, std::uint32_t low);

// Calls (bucket.*edit)(arguments...) for a bucket member that changes the bucket in
// place, repairing the bucket before an out-of-memory exception leaves.
template <typename Bucket, typename Edit, typename... Arguments>
auto editBucket(Bucket& bucket, Edit edit, Arguments&&... arguments) {
  try {
    return (bucket.*edit)(std::forward<Arguments>(arguments)...);
  } catch (const std::bad_alloc&) {
    repairAfterFailedAllocation(bucket.roaring);
    throw;
  }
}

// For tests: lets the next `allocations` CRoaring allocations on this thread succeed
// and makes the one after fail, and every later one as well when `keepFailing`.
void failAllocationsAfter(std::uint64_t allocations, bool keepFailing);
// Ends what failAllocationsAfter started.
void stopFailingAllocations();

}  // namespace veltrane::storage
