// errors.cpp: raising Python errors from C++ and translating them back at the boundary.
#include "errors.h"

#include <cstdarg>
#include <new>
#include <typeinfo>

namespace pyglue {

void raise(PyObject* exception_type, const char* format, ...) {
    va_list args;
    va_start(args, format);
    PyErr_FormatV(exception_type, format, args);
    va_end(args);
    throw nb::python_error();
}

namespace {

PyObject* builtin_exception_type(nb::exception_type type) {
    switch (type) {
        case nb::exception_type::stop_iteration:
            return PyExc_StopIteration;
        case nb::exception_type::index_error:
            return PyExc_IndexError;
        case nb::exception_type::key_error:
            return PyExc_KeyError;
        case nb::exception_type::value_error:
            return PyExc_ValueError;
        case nb::exception_type::type_error:
            return PyExc_TypeError;
        case nb::exception_type::buffer_error:
            return PyExc_BufferError;
        case nb::exception_type::import_error:
            return PyExc_ImportError;
        case nb::exception_type::attribute_error:
            return PyExc_AttributeError;
        default:
            return PyExc_RuntimeError;
    }
}

}  // namespace

void set_error_from_current_exception() noexcept {
    try {
        throw;
    } catch (nb::python_error& e) {
        // The same exception object, traceback included, goes back to Python.
        e.restore();
    } catch (const nb::builtin_exception& e) {
        PyErr_SetString(builtin_exception_type(e.type()), e.what());
    } catch (const std::bad_cast&) {
        PyErr_SetString(PyExc_TypeError, "value has an unexpected type");
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_SystemError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
    }
}

}  // namespace pyglue
