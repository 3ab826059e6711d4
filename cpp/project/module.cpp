// module.cpp: marnox.project: its imports, then the Project class.
#include "project.h"

namespace marnox::project {
namespace {

const char* const kModuleDoc =
    "Robot-cell projects: a workspace, named behaviors and a system, saved to and\n"
    "loaded from JSON project files.";

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
