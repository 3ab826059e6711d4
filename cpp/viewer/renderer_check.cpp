// renderer_check.cpp: the renderer a workspace viewer attaches to its window.
#include "window_checks.h"
#include "workspace_viewer.h"

namespace marnox::viewer {

nb::object checked_renderer(const Call& call) {
    nb::object renderer = pyglue::call_method(call.self(), workspace::method::get_renderer);
    int is_renderer = PyObject_IsInstance(renderer.ptr(), call.global(global::vtk_renderer).ptr());
    if (is_renderer < 0)
        pyglue::raise_current();
    if (!is_renderer)
        pyglue::raise(PyExc_TypeError, "_getRenderer() must return a vtkRenderer, not %.200s",
                      Py_TYPE(renderer.ptr())->tp_name);
    return renderer;
}

}  // namespace marnox::viewer
