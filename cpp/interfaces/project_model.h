// project_model.h: the calls the project module makes on the workspace, behavior and system model.
#pragma once

#include "model_names.h"

namespace marnox::model {

namespace nb = nanobind;

/// A workspace: converts itself to and from its model message.
struct Workspace {
    nb::handle self;

    nb::object snapshot() const { return pyglue::call_method(self, names::get_snapshot); }
    void restore(nb::handle message) const {
        pyglue::call_method(self, names::set_snapshot, message);
    }
};

/// A behavior instance.
struct Behavior {
    nb::handle self;

    nb::object name() const { return pyglue::call_method(self, names::name); }
    nb::object text(nb::handle indent) const {
        return pyglue::call_method(self, names::str, indent);
    }
};

/// The Behavior class: converts behaviors to and from their model messages.
struct BehaviorClass {
    nb::handle cls;

    nb::object to_model(nb::handle behavior) const {
        return pyglue::call_method(cls, names::to_model, behavior);
    }
    nb::object from_model(nb::handle message) const {
        return pyglue::call_method(cls, names::from_model, message);
    }
};

}  // namespace marnox::model
