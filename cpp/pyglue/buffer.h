// buffer.h: memory that an object exports through the buffer protocol, released with its guard.
#pragma once

#include <nanobind/nanobind.h>

#include "errors.h"

namespace pyglue {

namespace nb = nanobind;

/// A Py_buffer taken with PyObject_GetBuffer and released when the guard goes,
/// so that an exception between the two cannot leave the exporter locked.
class Buffer {
public:
    /// Throws the exporter's error (for example BufferError) if it refuses `flags`.
    Buffer(nb::handle exporter, int flags) {
        if (PyObject_GetBuffer(exporter.ptr(), &view_, flags) != 0)
            raise_current();
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { PyBuffer_Release(&view_); }

    const Py_buffer& view() const { return view_; }
    const Py_buffer* operator->() const { return &view_; }

private:
    Py_buffer view_;
};

}  // namespace pyglue
