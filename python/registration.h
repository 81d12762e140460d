#pragma once

#include <pybind11/pybind11.h>

// Registration of the module's classes, called from the module body in this order.
void registerMemoryScanner(pybind11::module_& module);
void registerBitmap(pybind11::module_& module);
