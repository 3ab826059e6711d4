// screenshot.cpp: writing a viewer's window to a PNG file.
#include <cerrno>

#include "host.h"

namespace marnox::viewer::host {
namespace {

const Name print{"print"};

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
    // An uninitialised window has no context to draw with; VTK would write an empty file.
    if (!is_initialised(self))
        pyglue::raise(PyExc_RuntimeError,
                      "Window not initialized, call init() before screenshot()");
    require_window_thread(self, "screenshot");
    if (pyglue::assertions_enabled())
        pyglue::assert_lower_endswith(filename, call.global(global::image_file_ext));

    // VTK would write to the name cut at the NUL; open() refuses such a name too.
    Py_ssize_t nul =
        PyUnicode_FindChar(filename.ptr(), 0, 0, PyUnicode_GET_LENGTH(filename.ptr()), 1);
    if (nul == -2)
        pyglue::raise_current();
    if (nul >= 0)
        pyglue::raise(PyExc_ValueError, "embedded null character");

    release_shared_props(window);
    nb::object capture = pyglue::call(call.global(global::vtk_window_to_image_filter));
    call_method(capture, vtk::SetInput, window);
    call_method(capture, vtk::SetScale, nb::int_(1));
    call_method(capture, vtk::SetInputBufferTypeToRGBA);
    call_method(capture, vtk::ReadFrontBufferOff);
    call_method(capture, vtk::Update);

    nb::object writer = pyglue::call(call.global(global::vtk_png_writer));
    call_method(writer, vtk::SetFileName, filename);
    call_method(writer, vtk::SetInputConnection, call_method(capture, vtk::GetOutputPort));
    errno = 0;
    call_method(writer, vtk::Write);
    // VTK reports a failed write only through its error code and error output;
    // a screenshot that was not written must not look like success. The writer
    // removes a partly written file itself.
    int write_errno = errno;
    if (pyglue::truthy(call_method(writer, vtk::GetErrorCode))) {
        errno = write_errno ? write_errno : EIO;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, filename.ptr());
        pyglue::raise_current();
    }
    return nb::none();
}

MethodDef screenshot_method() {
    const char* doc =
        "Write the window's content to the PNG file filename.\n"
        "\n"
        "The window is drawn anew and its back buffer read: RGBA, 8 bits per channel, at the\n"
        "window's size, on screen or off screen. An existing file is replaced. Returns None.\n"
        "\n"
        "Parameters:\n"
        "    filename: exactly a str whose lower-cased form ends with MX_IMAGE_FILE_EXT\n"
        "        (an assertion, skipped under python -O).\n"
        "\n"
        "Raises TypeError if filename is not a str, ValueError if it holds a NUL character,\n"
        "OSError naming the file if it could not be written (a missing folder, no\n"
        "permission), leaving no partial file, and RuntimeError before init(), after stop()\n"
        "or from a thread other than init()'s. If _window is None it prints \"Window not\n"
        "initialized, cannot take a screenshot\" and writes nothing.\n"
        "\n"
        "Example::\n"
        "\n"
        "    viewer.init(offscreen=True)\n"
        "    viewer.render()\n"
        "    viewer.screenshot(\"cell.png\")\n";
    return {
        .name = method::screenshot,
        .impl = screenshot,
        .params = {{.name = "filename", .annotation = "str"}},
        .doc = doc,
    };
}

}  // namespace marnox::viewer::host
