// module.cpp: marnox.project: its imports and the Project class.
#include "project.h"

namespace marnox::project {
namespace {

const char* const kModuleDoc =
    "Robot-cell projects: a workspace, named behaviors and a system, saved to and\n"
    "loaded from JSON project files.";

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

void exec(nb::handle module) {
    nb::setattr(module, "__doc__", nb::str(kModuleDoc));
    pyglue::import_module(module, "os");
    pyglue::import_module(module, "logging");
    pyglue::import_from(module, "typing", {"Dict"});
    pyglue::import_from(module, "google.protobuf.json_format",
                        {"MessageToJson", "Parse", "ParseError"});
    pyglue::import_from(module, "orvane.api", {"project_pb2"});
    pyglue::import_from(module, "marnox.constants", {"MX_PROJECT_FILE_EXT"});
    pyglue::import_from(module, "marnox.workspace", {"Workspace"});
    pyglue::import_from(module, "marnox.behavior", {"Behavior"});
    pyglue::import_from(module, "marnox.system", {"System"});
    define_project(module);
}

}  // namespace
}  // namespace marnox::project

PYGLUE_MODULE(project, "marnox.project", marnox::project::exec)
