// project.h: what the project module's files share: Project's fields and method names, the
// module-level names its methods use, and where each method is defined.
#pragma once

#include "interfaces/model.h"

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

/// Module-level names, looked up in the module namespace at call time. The model's classes are
/// in interfaces/model.h.
namespace global {
inline const Name os{"os"};
inline const Name logging{"logging"};
inline const Name message_to_json{"MessageToJson"};
inline const Name parse{"Parse"};
inline const Name parse_error{"ParseError"};
inline const Name project_pb2{"project_pb2"};
inline const Name project_file_ext{"MX_PROJECT_FILE_EXT"};
}  // namespace global

/// Python's `open` and the methods of the file objects it returns.
namespace io {
inline const Name open{"open"};
inline const Name read{"read"};
inline const Name write{"write"};
inline const Name flush{"flush"};
inline const Name close{"close"};
}  // namespace io

/// Project's methods besides __init__ and __str__ (pyglue::special), called through `self` so
/// that overrides take effect.
namespace method {
// The two accessors the viewers call on a project are named with those calls.
using model::names::system;
using model::names::workspace;
inline const Name set_workspace{"setWorkspace"};
inline const Name add_behavior{"addBehavior"};
inline const Name behaviors{"behaviors"};
inline const Name save{"save"};
inline const Name load{"load"};
inline const Name validate{"validate"};
inline const Name get_snapshot{"_getSnapshot"};
inline const Name set_snapshot{"_setSnapshot"};
}  // namespace method

/// Defines the Project class into `module` (container.cpp).
void define_project(nb::handle module);

// The Project methods that files.cpp defines, each beside its body.
MethodDef save_method();
MethodDef load_method();
MethodDef get_snapshot_method();
MethodDef set_snapshot_method();

// What the files need (atomic_write.cpp, json_kinds.cpp).

/// Writes `text` to `path` as `open(path, "w").write(text)` would, but through a
/// temporary file in the same folder that is flushed, synced and renamed over
/// the target. A symbolic link is followed and its target replaced; an existing
/// target keeps its permission bits, and its owner and group where the process
/// may set them. A target that exists but is not a regular file (a FIFO, a
/// device) is written into directly, as open() would, and never replaced. On any
/// failure the old file is untouched, no temporary file remains, and the error is
/// the one `open(path, "w")` or the write would have raised; creating the temporary
/// file needs a folder the process may write to.
void write_text_atomically(nb::handle path, nb::handle text);

/// Raises ParseError if `text`, which Parse has read into `snapshot`, is not a JSON object
/// or holds an array or a string where a message belongs. Parse reads those as empty
/// messages, so that `[]` would load as an empty project.
void check_json_kinds(const Call& call, nb::handle text, nb::handle snapshot);

}  // namespace marnox::project
