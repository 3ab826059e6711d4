// container.cpp: Project construction, accessors, printing and validation.
#include "interfaces/project_model.h"
#include "project_names.h"

namespace marnox::project {
namespace {

const Name values{"values"};
const Name warning{"warning"};

}  // namespace

nb::object init(const Call& call) {
    nb::handle self = call.self();
    pyglue::setattr(self, field::system, pyglue::call(call.global(global::system_class)));
    pyglue::setattr(self, field::workspace, pyglue::call(call.global(global::workspace_class)));
    pyglue::setattr(self, field::behaviors, nb::dict());
    return nb::none();
}

nb::object str(const Call& call) {
    nb::handle self = call.self();
    nb::str empty_spec("");
    auto formatted = [&](nb::handle value) {
        return pyglue::checked(PyObject_Format(value.ptr(), empty_spec.ptr()));
    };
    nb::list pieces;
    pieces.append(nb::str("Workspace\n"));
    pieces.append(formatted(pyglue::getattr(self, field::workspace)));
    pieces.append(nb::str("Behaviors\n"));
    nb::object behaviors = pyglue::getattr(self, field::behaviors);
    nb::object indent = nb::int_(1);
    for (nb::handle behavior : pyglue::call_method(behaviors, values))
        pieces.append(formatted(model::Behavior{behavior}.text(indent)));
    return pyglue::checked(PyUnicode_Join(empty_spec.ptr(), pieces.ptr()));
}

nb::object set_workspace(const Call& call) {
    pyglue::setattr(call.self(), field::workspace, call.arg(1));
    return nb::none();
}

nb::object workspace(const Call& call) {
    return pyglue::getattr(call.self(), field::workspace);
}

nb::object add_behavior(const Call& call) {
    nb::object behaviors = pyglue::getattr(call.self(), field::behaviors);
    nb::handle behavior = call.arg(1);
    nb::object key = model::Behavior{behavior}.name();
    if (PyObject_SetItem(behaviors.ptr(), key.ptr(), behavior.ptr()) != 0)
        pyglue::raise_current();
    return nb::none();
}

nb::object behaviors(const Call& call) {
    nb::object held = pyglue::getattr(call.self(), field::behaviors);
    if (!held.is_none() && !PyDict_CheckExact(held.ptr()))
        pyglue::raise(PyExc_TypeError, "Expected %s, got %.200s", "dict",
                      Py_TYPE(held.ptr())->tp_name);
    return held;
}

nb::object system(const Call& call) {
    return pyglue::getattr(call.self(), field::system);
}

nb::object validate(const Call& call) {
    nb::object log_warning = pyglue::getattr(call.global(global::logging), warning);
    pyglue::call(log_warning, nb::str("Project validation is not yet enabled"));
    return nb::bool_(true);
}

}  // namespace marnox::project
