// image_types.cpp: the VTK type of an image's elements, from NUMPY_TO_VTK_TYPE.
#include "image_viewer.h"

namespace marnox::viewer::image {
namespace {

const Name dtype{"dtype"};

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

}  // namespace

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

}  // namespace marnox::viewer::image
