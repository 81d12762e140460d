#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <stdexcept>

// A view of a Python buffer held for the length of one call and released on every
// path. The bytes are used as one contiguous block from the first byte of the view,
// so only C-contiguous buffers of one-byte items are accepted.
class BufferView {
 public:
  enum class Access { ReadOnly, Writable };

  BufferView(const pybind11::buffer& buffer, Access access) {
    int flags = PyBUF_STRIDES | PyBUF_FORMAT;
    if (access == Access::Writable) flags |= PyBUF_WRITABLE;
    if (PyObject_GetBuffer(buffer.ptr(), &view, flags) != 0) throw pybind11::error_already_set();
    if (view.itemsize != 1) {
      PyBuffer_Release(&view);
      throw std::runtime_error("Item size should be 1");
    }
    if (!PyBuffer_IsContiguous(&view, 'C')) {
      PyBuffer_Release(&view);
      throw pybind11::buffer_error("buffer must be C-contiguous");
    }
  }
  BufferView(const BufferView&) = delete;
  BufferView& operator=(const BufferView&) = delete;
  ~BufferView() { PyBuffer_Release(&view); }

  char* data() const { return static_cast<char*>(view.buf); }
  std::size_t size() const { return static_cast<std::size_t>(view.len); }

 private:
  Py_buffer view{};
};
