// Ctrl-C during a long core operation. The core checks for cancellation between units
// of work (storage/cancellation.h); the module's check runs the interpreter's signal
// handlers, and one that raises (KeyboardInterrupt for SIGINT) cancels the operation
// with that very exception. Every method holds the interpreter lock throughout, so the
// handlers run where the interpreter allows them.
#include <pybind11/pybind11.h>

#include "python/registration.h"
#include "storage/cancellation.h"

namespace py = pybind11;

namespace {

void raisePendingSignals() {
  if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

}  // namespace

void cancelOnPendingSignals() { veltrane::storage::setCancellationCheck(raisePendingSignals); }
