// files.cpp: Project snapshots and the JSON project files made from them.
#include "interfaces/model.h"
#include "project.h"

namespace marnox::project {
namespace {

const Name project_snapshot{"ProjectSnapshot"};
const Name snapshot_workspace{"workspace"};
const Name snapshot_behaviors{"behaviors"};
const Name copy_from{"CopyFrom"};
const Name items{"items"};
const Name path{"path"};
const Name exists{"exists"};
const pyglue::KwNames max_recursion_depth{"max_recursion_depth"};
const Name enter_project_file{"_enterProjectFile"};
const Name leave_project_file{"_leaveProjectFile"};

// How deep Parse lets messages nest: protobuf's default of 100 is less than a
// tree the model saves needs (100 levels, plus the messages around and below it).
constexpr int kMaxMessageDepth = 128;

/// `assert file.lower().endswith(MX_PROJECT_FILE_EXT)`.
void assert_project_file_name(const Call& call, nb::handle file) {
    pyglue::assert_lower_endswith(file, call.global(global::project_file_ext));
}

nb::object new_snapshot(const Call& call) {
    nb::object pb2 = call.global(global::project_pb2);
    return pyglue::call_method(pb2, project_snapshot);
}

/// Iterates `mapping.items()` as (key, value) pairs.
template <typename Body>
void for_each_item(nb::handle mapping, Body body) {
    for (nb::handle item : pyglue::call_method(mapping, items)) {
        nb::object pair = nb::borrow(item);
        body(pair[0], pair[1]);
    }
}

/// Closes a file on every way out: explicitly on success, so that an error of
/// close() propagates, and from the destructor while an error is unwinding.
class ClosingFile {
public:
    explicit ClosingFile(nb::object file) : file_(std::move(file)) {}
    ClosingFile(const ClosingFile&) = delete;
    ClosingFile& operator=(const ClosingFile&) = delete;
    ~ClosingFile() {
        if (!file_.is_valid())
            return;
        nb::object closed = nb::steal(PyObject_CallMethodNoArgs(file_.ptr(), io::close.ptr()));
        if (!closed.is_valid())
            PyErr_WriteUnraisable(file_.ptr());
    }
    nb::handle get() const { return file_; }
    void close_now() { pyglue::call_method(std::exchange(file_, nb::object()), io::close); }

private:
    nb::object file_;
};

/// While alive, the model knows `file` as the project file being saved or
/// loaded, so that it can store mesh paths relative to the file's folder and
/// resolve them against it. Undone on every way out, errors included.
class ProjectFileScope {
public:
    explicit ProjectFileScope(nb::handle file)
        : messages_(pyglue::checked(PyImport_ImportModule("marnox._messages"))),
          token_(pyglue::call_method(messages_, enter_project_file, file)) {}
    ProjectFileScope(const ProjectFileScope&) = delete;
    ProjectFileScope& operator=(const ProjectFileScope&) = delete;
    ~ProjectFileScope() {
        // An error on the way out is already held by the exception unwinding
        // past here, so the interpreter has none set while the context is undone.
        nb::object left = nb::steal(
            PyObject_CallMethodOneArg(messages_.ptr(), leave_project_file.ptr(), token_.ptr()));
        if (!left.is_valid())
            PyErr_WriteUnraisable(messages_.ptr());
    }

private:
    nb::object messages_;
    nb::object token_;
};

}  // namespace

nb::object get_snapshot(const Call& call) {
    nb::handle self = call.self();
    nb::object snapshot = new_snapshot(call);
    model::BehaviorClass behavior_class{call};

    nb::object workspace_field = pyglue::getattr(snapshot, snapshot_workspace);
    nb::object workspace = pyglue::call_method(self, method::workspace);
    pyglue::call_method(workspace_field, copy_from, model::Workspace{workspace}.snapshot());

    nb::object map = pyglue::getattr(snapshot, snapshot_behaviors);
    for_each_item(pyglue::getattr(self, field::behaviors), [&](nb::handle key, nb::handle value) {
        // The map would refuse the key with a message that does not name it.
        if (!PyUnicode_Check(key.ptr()))
            pyglue::raise(PyExc_TypeError, "behavior key %R must be a str, not %.200s", key.ptr(),
                          Py_TYPE(key.ptr())->tp_name);
        nb::object entry = pyglue::checked(PyObject_GetItem(map.ptr(), key.ptr()));
        pyglue::call_method(entry, copy_from, behavior_class.to_model(value));
    });
    return snapshot;
}

MethodDef get_snapshot_method() {
    return {
        .name = method::get_snapshot,
        .impl = get_snapshot,
        .params = {},
        .returns = "project_pb2.ProjectSnapshot",
        .doc = "Return a new ProjectSnapshot of the workspace and the behaviors.",
    };
}

nb::object set_snapshot(const Call& call) {
    nb::handle self = call.self();
    nb::handle snapshot = call.arg(1);
    model::BehaviorClass behavior_class{call};

    nb::object workspace = pyglue::call_method(self, method::workspace);
    // Every behavior is decoded before anything changes, and the workspace decodes its
    // message completely before it replaces its contents: a snapshot that fails leaves
    // the project as it was, so that a later save cannot lose what the failed load hid.
    nb::dict behaviors;
    for_each_item(pyglue::getattr(snapshot, snapshot_behaviors),
                  [&](nb::handle key, nb::handle value) {
                      nb::object behavior = behavior_class.from_model(value);
                      if (PyDict_SetItem(behaviors.ptr(), key.ptr(), behavior.ptr()) != 0)
                          pyglue::raise_current();
                  });
    model::Workspace{workspace}.restore(pyglue::getattr(snapshot, snapshot_workspace));
    pyglue::setattr(self, field::behaviors, behaviors);
    return nb::none();
}

MethodDef set_snapshot_method() {
    return {
        .name = method::set_snapshot,
        .impl = set_snapshot,
        .params = {{.name = "snapshot", .annotation = "project_pb2.ProjectSnapshot"}},
        .doc =
            "Restore the workspace in place and replace the behaviors dict from ``snapshot``.\n"
            "\n"
            "Every behavior is decoded before the workspace is restored, so an error\n"
            "leaves the project as it was.",
    };
}

nb::object save(const Call& call) {
    nb::handle file = call.arg(1);
    pyglue::require_exact_type(file, &PyUnicode_Type, "file");
    if (pyglue::assertions_enabled())
        assert_project_file_name(call, file);
    nb::object snapshot;
    {
        ProjectFileScope scope(file);
        snapshot = pyglue::call_method(call.self(), method::get_snapshot);
    }
    nb::object text = pyglue::call(call.global(global::message_to_json), snapshot);
    write_text_atomically(file, text);
    return nb::none();
}

MethodDef save_method() {
    return {
        .name = method::save,
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
            "``open(file, \"w\")`` would raise. The temporary file needs a folder the\n"
            "process may create files in: in a read-only folder ``save`` raises\n"
            "PermissionError even where the file itself could be written.",
    };
}

nb::object load(const Call& call) {
    nb::handle file = call.arg(1);
    pyglue::require_exact_type(file, &PyUnicode_Type, "file");
    if (pyglue::assertions_enabled()) {
        nb::object os_path = pyglue::getattr(call.global(global::os), path);
        if (!pyglue::truthy(pyglue::call_method(os_path, exists, file)))
            pyglue::fail_assertion();
        assert_project_file_name(call, file);
    }
    nb::object open = pyglue::builtin(io::open);
    ClosingFile opened(pyglue::call(open, file, nb::str("r")));
    nb::object text = pyglue::call_method(opened.get(), io::read);
    nb::object snapshot = new_snapshot(call);
    pyglue::call_kw(call.global(global::parse), max_recursion_depth, text, snapshot,
                    nb::int_(kMaxMessageDepth));
    check_json_kinds(call, text, snapshot);
    {
        ProjectFileScope scope(file);
        pyglue::call_method(call.self(), method::set_snapshot, snapshot);
    }
    opened.close_now();
    return nb::none();
}

MethodDef load_method() {
    return {
        .name = method::load,
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
    };
}

}  // namespace marnox::project
