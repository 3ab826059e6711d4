// atomic_write.h: replacing a text file so that no failure loses its previous content.
#pragma once

#include <nanobind/nanobind.h>

namespace marnox::project {

namespace nb = nanobind;

/// Writes `text` to `path` as `open(path, "w").write(text)` would, but through a
/// temporary file in the same folder that is flushed, synced and renamed over
/// the target. A symbolic link is followed and its target replaced; an existing
/// target keeps its permission bits, and its owner and group where the process
/// may set them. A target that exists but is not a regular file (a FIFO, a
/// device) is written into directly, as open() would, and never replaced. On any
/// failure the old file is untouched, no temporary file remains, and the error is
/// the one `open(path, "w")` or the write would have raised.
void write_text_atomically(nb::handle path, nb::handle text);

}  // namespace marnox::project
