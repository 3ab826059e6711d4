// project_file_scope.cpp: the model's project-file context around a save or load.
#include "project_file_scope.h"

#include "project_names.h"

namespace marnox::project {
namespace {

const Name enter_project_file{"_enterProjectFile"};
const Name leave_project_file{"_leaveProjectFile"};

}  // namespace

ProjectFileScope::ProjectFileScope(nb::handle file)
    : messages_(pyglue::checked(PyImport_ImportModule("marnox._messages"))),
      token_(pyglue::call_method(messages_, enter_project_file, file)) {}

ProjectFileScope::~ProjectFileScope() {
    // An error on the way out is already held by the exception unwinding
    // past here, so the interpreter has none set while the context is undone.
    nb::object left = nb::steal(
        PyObject_CallMethodOneArg(messages_.ptr(), leave_project_file.ptr(), token_.ptr()));
    if (!left.is_valid())
        PyErr_WriteUnraisable(messages_.ptr());
}

}  // namespace marnox::project
