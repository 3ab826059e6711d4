// project_file_scope.h: telling the model which project file a save or load is about.
#pragma once

#include <nanobind/nanobind.h>

namespace marnox::project {

namespace nb = nanobind;

/// While alive, the model knows `file` as the project file being saved or
/// loaded, so that it can store mesh paths relative to the file's folder and
/// resolve them against it. Undone on every way out, errors included.
class ProjectFileScope {
public:
    explicit ProjectFileScope(nb::handle file);
    ProjectFileScope(const ProjectFileScope&) = delete;
    ProjectFileScope& operator=(const ProjectFileScope&) = delete;
    ~ProjectFileScope();

private:
    nb::object messages_;
    nb::object token_;
};

}  // namespace marnox::project
