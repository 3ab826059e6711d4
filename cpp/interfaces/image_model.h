// image_model.h: the calls the image viewer makes on its project, the workspace and the system.
#pragma once

#include "pyglue/pyglue.h"

namespace marnox::model {

namespace nb = nanobind;

namespace image_names {
inline const pyglue::Name workspace{"workspace"};
inline const pyglue::Name system{"system"};
inline const pyglue::Name get_cameras{"getCameras"};
inline const pyglue::Name images{"images"};
}  // namespace image_names

/// A project as the image viewer reads it.
struct ImageProject {
    nb::handle self;

    /// `len(project.workspace().getCameras())`: the layout needs nothing else of the cameras.
    Py_ssize_t camera_count() const {
        nb::object workspace = pyglue::call_method(self, image_names::workspace);
        nb::object cameras = pyglue::call_method(workspace, image_names::get_cameras);
        Py_ssize_t count = PyObject_Size(cameras.ptr());
        if (count < 0)
            pyglue::raise_current();
        return count;
    }

    /// `project.system().images()`: the current images, in viewport order.
    nb::object images() const {
        nb::object system = pyglue::call_method(self, image_names::system);
        return pyglue::call_method(system, image_names::images);
    }
};

}  // namespace marnox::model
