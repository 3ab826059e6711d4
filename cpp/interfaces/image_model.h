// image_model.h: the calls the image viewer makes on its project, the workspace and the system.
#pragma once

#include "model_names.h"

namespace marnox::model {

namespace nb = nanobind;

/// A project as the image viewer reads it.
struct ImageProject {
    nb::handle self;

    /// `len(project.workspace().getCameras())`: the layout needs nothing else of the cameras.
    Py_ssize_t camera_count() const {
        nb::object workspace = pyglue::call_method(self, names::workspace);
        nb::object cameras = pyglue::call_method(workspace, names::get_cameras);
        Py_ssize_t count = PyObject_Size(cameras.ptr());
        if (count < 0)
            pyglue::raise_current();
        return count;
    }

    /// `project.system().images()`: the current images, in viewport order.
    nb::object images() const {
        nb::object system = pyglue::call_method(self, names::system);
        return pyglue::call_method(system, names::images);
    }
};

}  // namespace marnox::model
