// module.cpp: marnox.project: its imports and the Project class.
#include "project_names.h"

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
    using pyglue::MethodDef;
    pyglue::ClassBuilder(module, "Project", kProjectDoc)
        .def(MethodDef{
            .name = "__init__",
            .impl = init,
            .params = {},
            .doc = "Create an empty project: a new System, a new Workspace and no behaviors.",
        })
        .def(MethodDef{
            .name = "__str__",
            .impl = str,
            .params = {},
            .returns = "str",
            .doc = "Return \"Workspace\\n\", the workspace's text, \"Behaviors\\n\", then each\n"
                   "behavior's ``_str(1)`` in insertion order.",
        })
        .def(MethodDef{
            .name = "setWorkspace",
            .impl = set_workspace,
            .params = {{.name = "workspace", .annotation = "Workspace"}},
            .doc = "Replace the held workspace with ``workspace`` (any object, None included).",
        })
        .def(MethodDef{
            .name = "workspace",
            .impl = workspace,
            .params = {},
            .returns = "Workspace",
            .doc = "Return the held workspace itself.",
        })
        .def(MethodDef{
            .name = "addBehavior",
            .impl = add_behavior,
            .params = {{.name = "behavior", .annotation = "Behavior"}},
            .doc = "Store ``behavior`` under ``behavior.name()``, replacing any behavior of that\n"
                   "name in its place. The key is taken now and never recomputed.",
        })
        .def(MethodDef{
            .name = "behaviors",
            .impl = behaviors,
            .params = {},
            .returns = "Dict[str, Behavior]",
            .doc = "Return the held behaviors dict itself (or None).\n"
                   "\n"
                   "Raises TypeError if ``_behaviors`` was set to anything but a dict or None.",
        })
        .def(MethodDef{
            .name = "system",
            .impl = system,
            .params = {},
            .returns = "System",
            .doc = "Return the held system itself.",
        })
        .def(MethodDef{
            .name = "save",
            .impl = save,
            .params = {{.name = "file", .annotation = "str"}},
            .doc =
                "Write the project's workspace and behaviors to the JSON project file ``file``.\n"
                "\n"
                "``file`` must be a str ending, once lower-cased, with MX_PROJECT_FILE_EXT\n"
                "(an assertion, skipped under ``python -O``). The text is exactly what\n"
                "``MessageToJson`` returns for the snapshot. It is written to a temporary\n"
                "file beside the target and renamed over it, so a failed save leaves an\n"
                "existing file as it was. An existing file keeps its permission bits (and\n"
                "its owner and group where allowed); a symbolic link is followed and its\n"
                "target replaced. A FIFO or device is written into, never replaced.\n"
                "\n"
                "Raises TypeError if ``file`` is not a str or a behavior is keyed by anything\n"
                "but a str, AssertionError for a wrong ending, the model's ValueError for a\n"
                "node tree deeper than a project file holds, and the OSError that\n"
                "``open(file, \"w\")`` would raise.",
        })
        .def(MethodDef{
            .name = "load",
            .impl = load,
            .params = {{.name = "file", .annotation = "str"}},
            .doc =
                "Restore the workspace (in place) and the behaviors (a new dict) from ``file``.\n"
                "\n"
                "``file`` must be a str naming an existing file that ends, once lower-cased,\n"
                "with MX_PROJECT_FILE_EXT (assertions, skipped under ``python -O``). The file\n"
                "must be a JSON object with a JSON object for every message, nested at most\n"
                "128 deep. A file that does not parse raises protobuf's ParseError, and one\n"
                "the model refuses raises the model's error; either way the project is left\n"
                "as it was.",
        })
        .def(MethodDef{
            .name = "validate",
            .impl = validate,
            .params = {},
            .returns = "bool",
            .doc = "Log a warning that validation is not yet enabled and return True.",
        })
        .def(MethodDef{
            .name = "_getSnapshot",
            .impl = get_snapshot,
            .params = {},
            .returns = "project_pb2.ProjectSnapshot",
            .doc = "Return a new ProjectSnapshot of the workspace and the behaviors.",
        })
        .def(MethodDef{
            .name = "_setSnapshot",
            .impl = set_snapshot,
            .params = {{.name = "snapshot", .annotation = "project_pb2.ProjectSnapshot"}},
            .doc =
                "Restore the workspace in place and replace the behaviors dict from ``snapshot``.\n"
                "\n"
                "Every behavior is decoded before the workspace is restored, so an error\n"
                "leaves the project as it was.",
        })
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
