// image_update.cpp: _updateImages: every image into its viewport's VTK image object, one copy each.
#include <bit>
#include <string_view>

#include "image_copy.h"
#include "image_viewer.h"
#include "interfaces/image_model.h"

namespace marnox::viewer::image {
namespace {

using pyglue::Buffer;
using pyglue::call_method;

const Name dtype{"dtype"};
const Name type{"type"};
const Name create_data_array{"CreateDataArray"};
const Name set_number_of_components{"SetNumberOfComponents"};
const Name set_number_of_tuples{"SetNumberOfTuples"};
const Name flipud{"flipud"};
const Name ravel{"ravel"};
const Name numpy_to_vtk{"numpy_to_vtk"};
const KwNames deep_array_type{"deep", "array_type"};
const Name set_dimensions{"SetDimensions"};
const Name set_spacing{"SetSpacing"};
const Name set_origin{"SetOrigin"};
const Name get_point_data{"GetPointData"};
const Name set_scalars{"SetScalars"};
const Name modified{"Modified"};

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
    call_method(array, set_number_of_components, nb::int_(channels));
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
        call_method(call.global(global::vtk_data_array), create_data_array, vtk_type);
    call_method(array, set_number_of_components, nb::int_(channels));
    Py_ssize_t elements = 1;
    for (int k = 0; k < src.ndim; ++k) elements *= src.shape[k];
    call_method(array, set_number_of_tuples, nb::int_(elements / channels));
    if (copy_flipped(src, array))
        return array;
    return converted_by_numpy(call, image, vtk_type, channels);
}

/// Puts `scalars` into `image_data` as a columns x rows picture at the origin
/// the mapper expects, and marks it changed so the next frame draws it.
void show(nb::handle image_data, nb::handle scalars, Py_ssize_t columns, Py_ssize_t rows) {
    nb::int_ one(1);
    nb::int_ minus_one(-1);
    call_method(image_data, set_dimensions, nb::int_(columns), nb::int_(rows), one);
    call_method(image_data, set_spacing, one, one, one);
    call_method(image_data, set_origin, minus_one, minus_one, minus_one);
    call_method(call_method(image_data, get_point_data), set_scalars, scalars);
    call_method(image_data, modified);
}

}  // namespace

/// `_updateImages()`: every image into its viewport's image object, paired by position.
nb::object update_images(const Call& call) {
    nb::handle self = call.self();
    nb::object images = model::ImageProject{pyglue::getattr(self, field::project)}.images();
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
        .name = "_updateImages",
        .impl = update_images,
        .params = {},
        .returns = "None",
        .doc = doc,
    };
}

}  // namespace marnox::viewer::image
