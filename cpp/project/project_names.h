// project_names.h: fields of Project and the module-level names its methods use.
#pragma once

#include "pyglue/pyglue.h"

namespace marnox::project {

namespace nb = nanobind;
using pyglue::Call;
using pyglue::MethodDef;
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

/// Python's `open` and the methods of the file objects it returns.
namespace io {
inline const Name open{"open"};
inline const Name read{"read"};
inline const Name write{"write"};
inline const Name flush{"flush"};
inline const Name close{"close"};
}  // namespace io

namespace method {
inline const Name workspace{"workspace"};
inline const Name get_snapshot{"_getSnapshot"};
inline const Name set_snapshot{"_setSnapshot"};
}  // namespace method

// The Project methods, each defined beside its body, in the order the class defines them.
MethodDef init_method();
MethodDef str_method();
MethodDef set_workspace_method();
MethodDef workspace_method();
MethodDef add_behavior_method();
MethodDef behaviors_method();
MethodDef system_method();
MethodDef save_method();
MethodDef load_method();
MethodDef validate_method();
MethodDef get_snapshot_method();
MethodDef set_snapshot_method();

}  // namespace marnox::project
