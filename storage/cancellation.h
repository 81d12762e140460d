#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>

// Cancelling long operations. Operations that can run for seconds check for
// cancellation between their units of work (buckets, groups of containers, blocks of
// values, documents), never inside a CRoaring call, so a cancelled edit leaves every
// bucket whole. What each operation leaves behind is stated where it is declared.
// The Python module installs a check that raises the KeyboardInterrupt of a pending
// Ctrl-C; with none installed, checking does nothing.
namespace veltrane::storage {

// Runs on the thread of the operation, which it cancels by throwing.
using CancellationCheck = void (*)();

inline std::atomic<CancellationCheck> installedCancellationCheck{nullptr};

// For the whole process; null removes the check.
inline void setCancellationCheck(CancellationCheck check) noexcept {
  installedCancellationCheck.store(check);
}

inline void checkForCancellation() {
  if (const CancellationCheck check = installedCancellationCheck.load(std::memory_order_relaxed)) {
    check();
  }
}

// Counts units of work and checks after every `period` of them, so that an operation
// of fewer units never checks at all.
class CancellationCountdown {
 public:
  explicit CancellationCountdown(std::uint32_t period) noexcept : period(period), left(period) {}

  void passed(std::uint32_t units = 1) {
    if (units < left) {
      left -= units;
      return;
    }
    left = period;
    checkForCancellation();
  }

 private:
  std::uint32_t period;
  std::uint32_t left;
};

// Calls body(begin, end) for consecutive blocks of `block` items covering [0, count),
// checking for cancellation between blocks.
template <typename Body>
void forEachCancellableBlock(std::size_t count, std::size_t block, Body&& body) {
  for (std::size_t begin = 0; begin < count; begin += block) {
    if (begin > 0) checkForCancellation();
    body(begin, std::min(count, begin + block));
  }
}

}  // namespace veltrane::storage
