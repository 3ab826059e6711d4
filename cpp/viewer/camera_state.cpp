// camera_state.cpp: a CameraRenderer's C++ state, held by the instance in a capsule.
#include "camera_state.h"

#include "host.h"

namespace marnox::viewer::cameras {
namespace {

const char* const kCapsuleName = "marnox.viewer.CameraRenderer state";

}  // namespace

RendererState::~RendererState() {
    release_props_as_owner_goes(window, thread, "releasing a CameraRenderer's props");
}

nb::object new_state(double near, double far, nb::handle window) {
    auto* state = new RendererState{nb::borrow(window), near, far, std::nullopt, {}};
    return nb::capsule(state, kCapsuleName,
                       [](void* owned) noexcept { delete static_cast<RendererState*>(owned); });
}

HeldState state_of(nb::handle self) {
    nb::object held = pyglue::getattr(self, field::state);
    if (!PyCapsule_IsValid(held.ptr(), kCapsuleName))
        pyglue::raise(PyExc_TypeError, "_state must be the state a CameraRenderer made, not %.200s",
                      Py_TYPE(held.ptr())->tp_name);
    auto* state = static_cast<RendererState*>(PyCapsule_GetPointer(held.ptr(), kCapsuleName));
    return {held, *state};
}

void require_thread(RendererState& state, const char* operation, bool bind) {
    unsigned long caller = PyThread_get_thread_ident();
    if (!state.thread) {
        if (bind)
            state.thread = caller;
        return;
    }
    // The window's OpenGL context is current on the thread that drew first; VTK drawing on
    // another one aborts the interpreter or reads back another context's pixels.
    if (*state.thread != caller)
        pyglue::raise(PyExc_RuntimeError,
                      "%s() called from another thread: the renderer belongs to the thread that "
                      "first called render() (thread %lu)",
                      operation, *state.thread);
}

}  // namespace marnox::viewer::cameras
