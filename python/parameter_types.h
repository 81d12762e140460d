#pragma once

// Parameter and result types whose names in signatures, __doc__ and argument-mismatch
// messages are the module's documented spellings (int, Optional[int], buffer), which
// pybind11's own casters of the plain C++ types spell differently. Each converts exactly
// as the plain type's caster does.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <optional>

// An unsigned 64-bit position, ordinal or count taken from Python.
struct Position {
  std::uint64_t value = 0;
  Position() = default;
  Position(std::uint64_t position) : value(position) {}  // NOLINT: converts like the integer
  operator std::uint64_t() const { return value; }       // NOLINT: converts like the integer
};

using OptionalPosition = std::optional<Position>;

// A Python object with the buffer protocol.
class Buffer : public pybind11::buffer {
 public:
  PYBIND11_OBJECT_DEFAULT(Buffer, pybind11::buffer, PyObject_CheckBuffer)
};

namespace pybind11::detail {

template <>
class type_caster<Position> {
 public:
  PYBIND11_TYPE_CASTER(Position, const_name("int"));

  bool load(handle source, bool convert) {
    make_caster<std::uint64_t> integer;
    if (!integer.load(source, convert)) return false;
    value = cast_op<std::uint64_t>(integer);
    return true;
  }
  static handle cast(Position position, return_value_policy, handle) {
    return PyLong_FromUnsignedLongLong(position.value);
  }
};

// std::optional<T> spelled Optional[...] rather than "... | None".
template <typename T>
struct spelled_optional_caster : optional_caster<std::optional<T>> {
  static constexpr auto name = const_name("Optional[") + make_caster<T>::name + const_name("]");
};

template <>
struct type_caster<OptionalPosition> : spelled_optional_caster<Position> {};

template <>
struct handle_type_name<Buffer> {
  static constexpr auto name = const_name("buffer");
};

}  // namespace pybind11::detail
