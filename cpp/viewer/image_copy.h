// image_copy.h: copying a strided array into contiguous memory, last row first.
#pragma once

#include <Python.h>

namespace marnox::viewer {

/// An array in memory as the buffer protocol describes it: any strides,
/// negative ones included, and elements of 1, 2, 4 or 8 bytes.
struct StridedArray {
    const char* data;
    int ndim;
    const Py_ssize_t* shape;
    const Py_ssize_t* strides;
    Py_ssize_t itemsize;
};

/// Writes `src` in C order to `dst` with its first axis reversed, which is
/// `np.ravel(np.flipud(src))`, reversing the bytes of every element when
/// `swap_bytes` is set. `dst` holds exactly the elements of `src`.
void copy_rows_flipped(const StridedArray& src, char* dst, bool swap_bytes);

}  // namespace marnox::viewer
