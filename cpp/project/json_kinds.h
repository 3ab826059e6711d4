// json_kinds.h: the check that a project file gives every message field a JSON object.
#pragma once

#include "project_names.h"

namespace marnox::project {

/// Raises ParseError if `text`, which Parse has read into `snapshot`, is not a JSON object
/// or holds an array or a string where a message belongs. Parse reads those as empty
/// messages, so that `[]` would load as an empty project.
void check_json_kinds(const Call& call, nb::handle text, nb::handle snapshot);

}  // namespace marnox::project
