#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>

#include "python/parameter_types.h"
#include "python/position_indices.h"
#include "python/tracked_bitmap.h"

// Adapters between Python objects and the core, one per Python method that needs
// more than argument conversion.

// Bitmap(indices=None): the distinct values of a one-dimensional array.
veltrane::storage::Bitmap bitmapFromIndices(const std::optional<PositionIndices>& indices);

// write(buffer, portable) and the static read(buffer, portable).
std::uint64_t writeToBuffer(const veltrane::storage::Bitmap& bitmap, const Buffer& buffer,
                            bool portable);
TrackedBitmap readFromBuffer(const Buffer& buffer, bool portable);

// to_roaring64() and the static from_roaring64(buffer).
pybind11::bytes roaring64Bytes(const veltrane::storage::Bitmap& bitmap);
TrackedBitmap readRoaring64(const Buffer& buffer);

// The static union_all(bitmaps) and intersect_all(bitmaps).
TrackedBitmap unionAll(const pybind11::iterable& bitmaps);
TrackedBitmap intersectAll(const pybind11::iterable& bitmaps);

// index_array() and bool_array(invert, relative).
pybind11::array indexArray(const TrackedBitmap& bitmap);
pybind11::array boolArray(const veltrane::storage::Bitmap& bitmap, bool invert, bool relative);

// __iter__(): an iterator object that keeps the bitmap alive and detects edits.
pybind11::object iterateBitmap(const TrackedBitmap& bitmap);
