// project_names.h: fields of Project and the module-level names its methods use.
#pragma once

#include "pyglue/pyglue.h"

namespace marnox::project {

namespace nb = nanobind;
using pyglue::Call;
using pyglue::Name;

namespace field {
inline const Name system{"_system"};
inline const Name workspace{"_workspace"};
inline const Name behaviors{"_behaviors"};
}  // namespace field

namespace global {
inline const Name os{"os"};
inline const Name logging{"logging"};
inline const Name message_to_json{"MessageToJson"};
inline const Name parse{"Parse"};
inline const Name parse_error{"ParseError"};
inline const Name project_pb2{"project_pb2"};
inline const Name project_file_ext{"MX_PROJECT_FILE_EXT"};
inline const Name workspace_class{"Workspace"};
inline const Name behavior_class{"Behavior"};
inline const Name system_class{"System"};
}  // namespace global

namespace method {
inline const Name workspace{"workspace"};
inline const Name get_snapshot{"_getSnapshot"};
inline const Name set_snapshot{"_setSnapshot"};
}  // namespace method

// Bodies of the Project methods, in the order the class defines them.
nb::object init(const Call& call);
nb::object str(const Call& call);
nb::object set_workspace(const Call& call);
nb::object workspace(const Call& call);
nb::object add_behavior(const Call& call);
nb::object behaviors(const Call& call);
nb::object system(const Call& call);
nb::object save(const Call& call);
nb::object load(const Call& call);
nb::object validate(const Call& call);
nb::object get_snapshot(const Call& call);
nb::object set_snapshot(const Call& call);

}  // namespace marnox::project
