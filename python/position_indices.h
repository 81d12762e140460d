#pragma once

#include <pybind11/numpy.h>

#include "python/parameter_types.h"

#include <cstdint>
#include <optional>

// The argument of Bitmap(indices): a one-dimensional sequence of positions converted
// to unsigned 64-bit integers by NumPy's forced cast. Before the cast, every element
// must name a position (fractions are cut toward zero), and a masked array gives only
// its unmasked values.
struct PositionIndices {
  pybind11::object values;
};

// The converted array, or nothing when NumPy cannot convert `source` (an argument
// mismatch). Throws ValueError naming the first element that names no position.
std::optional<pybind11::array_t<std::uint64_t>> loadPositionIndices(pybind11::handle source,
                                                                    bool convert);

namespace pybind11::detail {

template <>
struct type_caster<PositionIndices> {
  PYBIND11_TYPE_CASTER(PositionIndices, const_name("numpy.ndarray[numpy.uint64]"));

  bool load(handle source, bool convert) {
    std::optional<array_t<std::uint64_t>> loaded = loadPositionIndices(source, convert);
    if (!loaded) return false;
    value.values = std::move(*loaded);
    return true;
  }

  static handle cast(const PositionIndices& indices, return_value_policy, handle) {
    return indices.values.inc_ref();
  }
};

template <>
struct type_caster<std::optional<PositionIndices>> : spelled_optional_caster<PositionIndices> {};

}  // namespace pybind11::detail
