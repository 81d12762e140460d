#pragma once

#include <pybind11/numpy.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Positions from Python objects, element by element: ints (bool included) and objects
// with __index__ (NumPy integers) exactly, floats and other real numbers cut toward
// zero, complex numbers by their real part. Throw TypeError naming the first element
// that is no number (strings, bytes, datetime64, timedelta64, other objects),
// ValueError naming the first number outside 0 .. 2^64 - 1, and let any error of the
// elements' own conversions pass.

// The elements of a one-dimensional NumPy array of objects, leaving out those where
// `unmasked` (a bool array of the same length, or None) is false.
pybind11::array_t<std::uint64_t> positionsOfObjects(const pybind11::array& objects,
                                                    const pybind11::object& unmasked);

// The elements of a list, tuple or range, read without NumPy, which would first look
// into every element for nested sequences. Nothing when an element is a sequence
// itself: NumPy then decides the shape.
std::optional<pybind11::array_t<std::uint64_t>> positionsOfSequence(pybind11::handle sequence);

// The message part that shows an element: its repr() for objects that are no number,
// its str() for numbers (NumPy scalars as the Python values they hold).
std::string elementText(pybind11::handle element, bool asNumber);

// ValueError: indices[index] is <value>, which is no position ...
[[noreturn]] void refuseNumber(std::size_t index, pybind11::handle element);

// TypeError: indices[index] is <repr>, which is not a number.
[[noreturn]] void refuseNonNumber(std::size_t index, pybind11::handle element);
