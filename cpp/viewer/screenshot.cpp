// screenshot.cpp: writing a viewer's window to a PNG file.
#include <cerrno>

#include "host.h"

namespace marnox::viewer::host {
namespace {

const Name print{"print"};
const Name lower{"lower"};
const Name endswith{"endswith"};
const Name set_input{"SetInput"};
const Name set_scale{"SetScale"};
const Name set_input_buffer_type_to_rgba{"SetInputBufferTypeToRGBA"};
const Name read_front_buffer_off{"ReadFrontBufferOff"};
const Name update{"Update"};
const Name set_file_name{"SetFileName"};
const Name set_input_connection{"SetInputConnection"};
const Name get_output_port{"GetOutputPort"};
const Name write{"Write"};
const Name get_error_code{"GetErrorCode"};

}  // namespace

/// `screenshot(filename)`: captures the back buffer after a fresh draw and writes it as PNG.
nb::object screenshot(const Call& call) {
    using pyglue::call_method;
    nb::handle self = call.self();
    nb::handle filename = call.arg(1);
    pyglue::require_exact_type(filename, &PyUnicode_Type, "filename");

    nb::object window = pyglue::getattr(self, field::window);
    if (window.is_none()) {
        pyglue::call(pyglue::builtin(print),
                     nb::str("Window not initialized, cannot take a screenshot"));
        return nb::none();
    }
    // The capture would draw, and so reopen, a window that stop closed.
    if (is_stopped(self))
        pyglue::raise(PyExc_RuntimeError, "Window stopped, cannot take a screenshot");
    if (pyglue::assertions_enabled()) {
        nb::object lowered = call_method(filename, lower);
        if (!pyglue::truthy(call_method(lowered, endswith, call.global(global::image_file_ext)))) {
            PyErr_SetNone(PyExc_AssertionError);
            pyglue::raise_current();
        }
    }

    nb::object capture = pyglue::call(call.global(global::vtk_window_to_image_filter));
    call_method(capture, set_input, window);
    call_method(capture, set_scale, nb::int_(1));
    call_method(capture, set_input_buffer_type_to_rgba);
    call_method(capture, read_front_buffer_off);
    call_method(capture, update);

    nb::object writer = pyglue::call(call.global(global::vtk_png_writer));
    call_method(writer, set_file_name, filename);
    call_method(writer, set_input_connection, call_method(capture, get_output_port));
    errno = 0;
    call_method(writer, write);
    // VTK reports a failed write only through its error code and error output;
    // a screenshot that was not written must not look like success. The writer
    // removes a partly written file itself.
    int write_errno = errno;
    if (pyglue::truthy(call_method(writer, get_error_code))) {
        errno = write_errno ? write_errno : EIO;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, filename.ptr());
        pyglue::raise_current();
    }
    return nb::none();
}

}  // namespace marnox::viewer::host
