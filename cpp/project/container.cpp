// container.cpp: the Project class: its definition, construction, accessors, printing and
// validation; saving and loading are in files.cpp.
#include "interfaces/model.h"
#include "project.h"

namespace marnox::project {
namespace {

const Name values{"values"};
const Name warning{"warning"};

const char* const kProjectDoc =
    "A robot-cell project: one workspace, a dict of behaviors keyed by name, and one system.\n"
    "\n"
    "The accessors hand out the held objects themselves, never copies. The state lives\n"
    "in the instance attributes ``_system``, ``_workspace`` and ``_behaviors``.\n"
    "\n"
    "Example::\n"
    "\n"
    "    project = Project()\n"
    "    project.addBehavior(Behavior(\"pick\"))\n"
    "    project.save(\"cell\" + MX_PROJECT_FILE_EXT)\n";

nb::object init(const Call& call) {
    nb::handle self = call.self();
    pyglue::setattr(self, field::system, model::new_system(call));
    pyglue::setattr(self, field::workspace, model::new_workspace(call));
    pyglue::setattr(self, field::behaviors, nb::dict());
    return nb::none();
}

MethodDef init_method() {
    return {
        .name = pyglue::special::init,
        .impl = init,
        .params = {},
        .doc = "Create an empty project: a new System, a new Workspace and no behaviors.",
    };
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

MethodDef str_method() {
    return {
        .name = pyglue::special::str,
        .impl = str,
        .params = {},
        .returns = "str",
        .doc =
            "Return \"Workspace\\n\", the workspace's text, \"Behaviors\\n\", then each\n"
            "behavior's ``_str(1)`` in insertion order.",
    };
}

nb::object set_workspace(const Call& call) {
    pyglue::setattr(call.self(), field::workspace, call.arg(1));
    return nb::none();
}

MethodDef set_workspace_method() {
    return {
        .name = method::set_workspace,
        .impl = set_workspace,
        .params = {{.name = "workspace", .annotation = "Workspace"}},
        .doc = "Replace the held workspace with ``workspace`` (any object, None included).",
    };
}

nb::object workspace(const Call& call) {
    return pyglue::getattr(call.self(), field::workspace);
}

MethodDef workspace_method() {
    return {
        .name = method::workspace,
        .impl = workspace,
        .params = {},
        .returns = "Workspace",
        .doc = "Return the held workspace itself.",
    };
}

nb::object add_behavior(const Call& call) {
    nb::object behaviors = pyglue::getattr(call.self(), field::behaviors);
    nb::handle behavior = call.arg(1);
    nb::object key = model::Behavior{behavior}.name();
    if (PyObject_SetItem(behaviors.ptr(), key.ptr(), behavior.ptr()) != 0)
        pyglue::raise_current();
    return nb::none();
}

MethodDef add_behavior_method() {
    return {
        .name = method::add_behavior,
        .impl = add_behavior,
        .params = {{.name = "behavior", .annotation = "Behavior"}},
        .doc =
            "Store ``behavior`` under ``behavior.name()``, replacing any behavior of that\n"
            "name in its place. The key is taken now and never recomputed.",
    };
}

nb::object behaviors(const Call& call) {
    nb::object held = pyglue::getattr(call.self(), field::behaviors);
    if (!held.is_none() && !PyDict_CheckExact(held.ptr()))
        pyglue::raise(PyExc_TypeError, "Expected %s, got %.200s", "dict",
                      Py_TYPE(held.ptr())->tp_name);
    return held;
}

MethodDef behaviors_method() {
    return {
        .name = method::behaviors,
        .impl = behaviors,
        .params = {},
        .returns = "Dict[str, Behavior]",
        .doc =
            "Return the held behaviors dict itself (or None).\n"
            "\n"
            "Raises TypeError if ``_behaviors`` was set to anything but a dict or None.",
    };
}

nb::object system(const Call& call) {
    return pyglue::getattr(call.self(), field::system);
}

MethodDef system_method() {
    return {
        .name = method::system,
        .impl = system,
        .params = {},
        .returns = "System",
        .doc = "Return the held system itself.",
    };
}

nb::object validate(const Call& call) {
    nb::object log_warning = pyglue::getattr(call.global(global::logging), warning);
    pyglue::call(log_warning, nb::str("Project validation is not yet enabled"));
    return nb::bool_(true);
}

MethodDef validate_method() {
    return {
        .name = method::validate,
        .impl = validate,
        .params = {},
        .returns = "bool",
        .doc = "Log a warning that validation is not yet enabled and return True.",
    };
}

}  // namespace

void define_project(nb::handle module) {
    pyglue::ClassBuilder(module, "Project", kProjectDoc)
        .def(init_method())
        .def(str_method())
        .def(set_workspace_method())
        .def(workspace_method())
        .def(add_behavior_method())
        .def(behaviors_method())
        .def(system_method())
        .def(save_method())
        .def(load_method())
        .def(validate_method())
        .def(get_snapshot_method())
        .def(set_snapshot_method())
        .finish();
}

}  // namespace marnox::project
