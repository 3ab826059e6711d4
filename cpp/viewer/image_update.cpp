// image_update.cpp: _updateImages: every image into its viewport's VTK image object, one copy
// each, as the VTK type that NUMPY_TO_VTK_TYPE gives its elements.
#include <bit>
#include <string_view>

#include "image_copy.h"
#include "image_viewer.h"
#include "interfaces/model.h"

namespace marnox::viewer::image {
namespace {

using pyglue::Buffer;
using pyglue::call_method;

const Name dtype{"dtype"};
const Name type{"type"};
const Name flipud{"flipud"};
const Name ravel{"ravel"};
const Name numpy_to_vtk{"numpy_to_vtk"};
const KwNames deep_array_type{"deep", "array_type"};

/// The value of the first entry of the dict `table` whose key has the dtype of
/// `scalar_type`, or an invalid object if there is none.
nb::object find_equal_dtype(const Call& call, nb::handle table, nb::handle scalar_type) {
    nb::object np = call.global(global::np);
    nb::object wanted = pyglue::call_method(np, dtype, scalar_type);
    nb::object entries = pyglue::checked(PyDict_Items(table.ptr()));
    for (nb::handle entry : entries) {
        nb::handle key = PyTuple_GET_ITEM(entry.ptr(), 0);
        int equal = PyObject_RichCompareBool(pyglue::call_method(np, dtype, key).ptr(),
                                             wanted.ptr(), Py_EQ);
        if (equal < 0)
            pyglue::raise_current();
        if (equal)
            return nb::borrow(PyTuple_GET_ITEM(entry.ptr(), 1));
    }
    return {};
}

/// `NUMPY_TO_VTK_TYPE[scalar_type]`, or else the entry whose key has the same dtype;
/// KeyError(scalar_type) if there is none.
nb::object vtk_type_of(const Call& call, nb::handle table, nb::handle scalar_type) {
    PyObject* found = PyObject_GetItem(table.ptr(), scalar_type.ptr());
    if (found)
        return nb::steal(found);
    if (!PyErr_ExceptionMatches(PyExc_KeyError) || !PyDict_Check(table.ptr()))
        pyglue::raise_current();
    // NumPy has distinct scalar types for one dtype (longlong and int64 on Linux, for
    // example); the table names one of them, and an image of the other holds the same data.
    nb::python_error missing;
    nb::object equal = find_equal_dtype(call, table, scalar_type);
    if (!equal.is_valid())
        throw missing;
    return equal;
}

/// What a buffer's struct format says about one element.
struct Element {
    enum Kind { other, integer, real } kind;
    bool native;
};

/// Reads a single-element format such as "B", "<f" or ">H"; none means "B".
/// Integers of one size copy bit for bit whatever their signedness, as NumPy's
/// astype does, so only integer, real and anything else are told apart.
Element element_of(const char* format) {
    if (!format)
        return {Element::integer, true};
    constexpr bool little = std::endian::native == std::endian::little;
    bool native = true;
    switch (*format) {
        case '<':
            native = little;
            ++format;
            break;
        case '>':
        case '!':
            native = !little;
            ++format;
            break;
        case '@':
        case '=':
            ++format;
            break;
    }
    if (format[0] == '\0' || format[1] != '\0')
        return {Element::other, native};
    std::string_view integers = "bBhHiIlLqQnNc";
    std::string_view reals = "efd";
    if (integers.find(format[0]) != std::string_view::npos)
        return {Element::integer, native};
    if (reals.find(format[0]) != std::string_view::npos)
        return {Element::real, native};
    return {Element::other, native};
}

/// `numpy_to_vtk(np.ravel(np.flipud(image)), deep=True, array_type=vtk_type)`
/// with the channels as components: for a table entry whose VTK type stores
/// elements differently from the image, where NumPy must convert the values.
nb::object converted_by_numpy(const Call& call, nb::handle image, nb::handle vtk_type,
                              Py_ssize_t channels) {
    nb::object np = call.global(global::np);
    nb::object flat = call_method(np, ravel, call_method(np, flipud, image));
    nb::object array = pyglue::call_method_kw(call.global(global::numpy_support), numpy_to_vtk,
                                              deep_array_type, flat, nb::bool_(true), vtk_type);
    call_method(array, vtk::SetNumberOfComponents, nb::int_(channels));
    return array;
}

/// Copies the image upside down into `array` if both store their elements
/// alike; returns false, leaving `array` unwritten, if they do not.
bool copy_flipped(const Py_buffer& src, nb::handle array) {
    Element from = element_of(src.format);
    Buffer dst(array, PyBUF_RECORDS);
    Element to = element_of(dst->format);
    if (from.kind == Element::other || from.kind != to.kind || src.itemsize != dst->itemsize ||
        src.len != dst->len)
        return false;
    StridedArray view{static_cast<const char*>(src.buf), src.ndim, src.shape, src.strides,
                      src.itemsize};
    copy_rows_flipped(view, static_cast<char*>(dst->buf), !from.native);
    return true;
}

/// A new VTK array of `vtk_type` holding the image upside down, rows x columns
/// tuples of `channels` components. Its memory is written once, straight
/// from the image's buffer.
nb::object flipped_vtk_array(const Call& call, nb::handle image, const Py_buffer& src,
                             nb::handle vtk_type) {
    Py_ssize_t channels = src.shape[2];
    nb::object array =
        call_method(call.global(global::vtk_data_array), vtk::CreateDataArray, vtk_type);
    call_method(array, vtk::SetNumberOfComponents, nb::int_(channels));
    Py_ssize_t elements = 1;
    for (int k = 0; k < src.ndim; ++k) elements *= src.shape[k];
    call_method(array, vtk::SetNumberOfTuples, nb::int_(elements / channels));
    if (copy_flipped(src, array))
        return array;
    return converted_by_numpy(call, image, vtk_type, channels);
}

/// Puts `scalars` into `image_data` as a columns x rows picture at the origin
/// the mapper expects, and marks it changed so the next frame draws it.
void show(nb::handle image_data, nb::handle scalars, Py_ssize_t columns, Py_ssize_t rows) {
    nb::int_ one(1);
    nb::int_ minus_one(-1);
    call_method(image_data, vtk::SetDimensions, nb::int_(columns), nb::int_(rows), one);
    call_method(image_data, vtk::SetSpacing, one, one, one);
    call_method(image_data, vtk::SetOrigin, minus_one, minus_one, minus_one);
    call_method(call_method(image_data, vtk::GetPointData), vtk::SetScalars, scalars);
    call_method(image_data, vtk::Modified);
}

}  // namespace

/// `_updateImages()`: every image into its viewport's image object, paired by position.
nb::object update_images(const Call& call) {
    nb::handle self = call.self();
    model::Project project{pyglue::getattr(self, field::project)};
    nb::object images = model::System{project.system()}.images();
    nb::object table = call.global(global::numpy_to_vtk_type);
    pyglue::for_each_pair(
        images, pyglue::getattr(self, field::image_data),
        [&](nb::handle image, nb::handle image_data) {
            nb::object scalar_type = pyglue::getattr(pyglue::getattr(image, dtype), type);
            nb::object vtk_type = vtk_type_of(call, table, scalar_type);
            Buffer src(image, PyBUF_RECORDS_RO);
            if (src->ndim < 3)
                pyglue::raise(PyExc_IndexError, "tuple index out of range");
            // Drawing reads a value per pixel; without channels VTK would read past the array.
            if (src->shape[2] == 0)
                pyglue::raise(PyExc_ValueError, "an image needs at least one channel");
            nb::object scalars = flipped_vtk_array(call, image, src.view(), vtk_type);
            show(image_data, scalars, src->shape[1], src->shape[0]);
        });
    return nb::none();
}

MethodDef update_images_method() {
    const char* doc =
        "Copy each image of ``_project.system().images()`` upside down into a new\n"
        "VTK array of its ``NUMPY_TO_VTK_TYPE`` type and make it the scalars of\n"
        "the viewport's image, pairing images and viewports by position.\n"
        "\n"
        "Raises KeyError for an element type missing from the table and\n"
        "IndexError for an array of fewer than three dimensions, before that\n"
        "viewport is touched. Arrays in either byte order show their values.";
    return {
        .name = method::update_images,
        .impl = update_images,
        .params = {},
        .returns = "None",
        .doc = doc,
    };
}

}  // namespace marnox::viewer::image
