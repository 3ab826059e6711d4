// image_copy.cpp: the one copy of a camera image into VTK's memory, flipped upside down.
#include "image_copy.h"

#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace marnox::viewer {
namespace {

/// One axis of a row after merging: `size` elements `stride` bytes apart.
struct Axis {
    Py_ssize_t size;
    Py_ssize_t stride;
};

/// The axes of one row (all but the first), outermost first, with axes of
/// size 1 dropped and neighbours that step evenly merged, so that a row that
/// lies contiguously in memory ends up as one axis with a stride of one element.
std::vector<Axis> row_axes(const StridedArray& src) {
    std::vector<Axis> axes;
    for (int k = 1; k < src.ndim; ++k) {
        Axis axis{src.shape[k], src.strides[k]};
        if (axis.size == 1)
            continue;
        if (!axes.empty() && axes.back().stride == axis.stride * axis.size)
            axes.back() = {axes.back().size * axis.size, axis.stride};
        else
            axes.push_back(axis);
    }
    if (axes.empty())
        axes.push_back({1, src.itemsize});
    return axes;
}

/// The element with its bytes in the opposite order.
template <typename T>
T reversed_bytes(T value) {
    if constexpr (sizeof(T) == 2)
        return static_cast<T>(__builtin_bswap16(value));
    else if constexpr (sizeof(T) == 4)
        return __builtin_bswap32(value);
    else if constexpr (sizeof(T) == 8)
        return __builtin_bswap64(value);
    else
        return value;
}

/// Copies `n` elements `stride` bytes apart to consecutive memory; returns the end.
/// Loads go through memcpy because NumPy arrays need not be aligned.
template <typename T, bool Swap>
char* copy_line(const char* src, Py_ssize_t n, Py_ssize_t stride, char* dst) {
    for (Py_ssize_t i = 0; i < n; ++i, src += stride, dst += sizeof(T)) {
        T value;
        std::memcpy(&value, src, sizeof(T));
        if constexpr (Swap)
            value = reversed_bytes(value);
        std::memcpy(dst, &value, sizeof(T));
    }
    return dst;
}

using LineCopy = char* (*)(const char*, Py_ssize_t, Py_ssize_t, char*);

/// The line copy for elements of type `T`.
template <typename T>
LineCopy line_copy_of(bool swap_bytes) {
    return swap_bytes ? copy_line<T, true> : copy_line<T, false>;
}

/// The line copy for elements of `itemsize` bytes (1, 2, 4 or 8); single
/// bytes have no order to reverse.
LineCopy line_copy_for(Py_ssize_t itemsize, bool swap_bytes) {
    switch (itemsize) {
        case 1:
            return line_copy_of<std::uint8_t>(false);
        case 2:
            return line_copy_of<std::uint16_t>(swap_bytes);
        case 4:
            return line_copy_of<std::uint32_t>(swap_bytes);
        default:
            return line_copy_of<std::uint64_t>(swap_bytes);
    }
}

/// Copies one row of any shape element by element, walking the outer axes
/// like an odometer and the innermost with `line`.
void copy_strided_row(const char* src, const std::vector<Axis>& axes, LineCopy line, char* dst) {
    const size_t outer = axes.size() - 1;
    const Axis inner = axes[outer];
    std::vector<Py_ssize_t> index(outer, 0);
    for (;;) {
        dst = line(src, inner.size, inner.stride, dst);
        size_t k = outer;
        for (;;) {
            if (k == 0)
                return;
            --k;
            src += axes[k].stride;
            if (++index[k] < axes[k].size)
                break;
            src -= axes[k].stride * axes[k].size;
            index[k] = 0;
        }
    }
}

/// Copies `n` contiguous bytes into fresh memory. On x86 the whole cache lines
/// of `dst` go out with non-temporal stores: ordinary stores would first read
/// each line from memory, most of the price of filling a new array, and in
/// mirrored row order that read runs backwards, where the prefetcher does not
/// follow. Partial lines at the ends take ordinary stores, since a line written
/// in two non-temporal parts goes to memory twice.
void copy_row_streaming(char* dst, const char* src, size_t n) {
#if defined(__SSE2__)
    constexpr size_t line = 64;
    size_t head = (line - reinterpret_cast<std::uintptr_t>(dst) % line) % line;
    if (head < n) {
        std::memcpy(dst, src, head);
        dst += head;
        src += head;
        n -= head;
        for (; n >= line; n -= line, dst += line, src += line) {
            auto from = reinterpret_cast<const __m128i*>(src);
            auto to = reinterpret_cast<__m128i*>(dst);
            __m128i a = _mm_loadu_si128(from);
            __m128i b = _mm_loadu_si128(from + 1);
            __m128i c = _mm_loadu_si128(from + 2);
            __m128i d = _mm_loadu_si128(from + 3);
            _mm_stream_si128(to, a);
            _mm_stream_si128(to + 1, b);
            _mm_stream_si128(to + 2, c);
            _mm_stream_si128(to + 3, d);
        }
    }
#endif
    std::memcpy(dst, src, n);
}

/// Makes the non-temporal stores visible to every reader (VTK may hand the
/// array to another thread) before the copy counts as done.
void finish_streaming() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

}  // namespace

void copy_rows_flipped(const StridedArray& src, char* dst, bool swap_bytes) {
    for (int k = 0; k < src.ndim; ++k)
        if (src.shape[k] == 0)
            return;
    const Py_ssize_t rows = src.shape[0];
    const std::vector<Axis> axes = row_axes(src);
    Py_ssize_t row_bytes = src.itemsize;
    for (const Axis& axis : axes) row_bytes *= axis.size;
    const bool contiguous = axes.size() == 1 && axes[0].stride == src.itemsize;
    const bool plain = contiguous && (!swap_bytes || src.itemsize == 1);
    const LineCopy line = line_copy_for(src.itemsize, swap_bytes);

    // The source is read forward through memory, where the prefetcher follows
    // it; each row lands in its mirrored place.
    const bool ascending = src.strides[0] >= 0;
    const char* row = src.data + (ascending ? 0 : (rows - 1) * src.strides[0]);
    const Py_ssize_t step = ascending ? src.strides[0] : -src.strides[0];
    for (Py_ssize_t r = 0; r < rows; ++r, row += step) {
        char* out = dst + (ascending ? rows - 1 - r : r) * row_bytes;
        if (plain)
            copy_row_streaming(out, row, static_cast<size_t>(row_bytes));
        else
            copy_strided_row(row, axes, line, out);
    }
    finish_streaming();
}

}  // namespace marnox::viewer
