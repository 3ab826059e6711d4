// json_kinds.cpp: refuses project files that put an array or a string where a message belongs.
#include <string>
#include <string_view>

#include "project.h"

namespace marnox::project {
namespace {

const Name loads{"loads"};
const Name descriptor_attr{"DESCRIPTOR"};
const Name fields{"fields"};
const Name fields_by_name{"fields_by_name"};
const Name name_attr{"name"};
const Name json_name{"json_name"};
const Name full_name{"full_name"};
const Name message_type{"message_type"};
const Name get_options{"GetOptions"};
const Name map_entry{"map_entry"};
const Name value_attr{"value"};

bool is_json_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

/// Whether `json` may hold an array or a string where a message belongs: only an empty
/// one slips through Parse, and MessageToJson never writes one, so saved files skip the
/// full check. False alarms (inside strings) only cost that check.
bool may_be_lax(std::string_view json) {
    size_t first = 0;
    while (first < json.size() && is_json_space(json[first])) ++first;
    if (first == json.size() || json[first] != '{')
        return true;
    if (json.find("\"\"") != std::string_view::npos)
        return true;
    for (size_t open = json.find('['); open != std::string_view::npos;
         open = json.find('[', open + 1)) {
        size_t next = open + 1;
        while (next < json.size() && is_json_space(json[next])) ++next;
        if (next < json.size() && json[next] == ']')
            return true;
    }
    return false;
}

/// The text of the str `value`, valid while `value` lives.
std::string_view text_of(nb::handle value) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
    if (!utf8)
        pyglue::raise_current();
    return {utf8, static_cast<size_t>(size)};
}

const char* json_kind(nb::handle value) {
    if (PyList_Check(value.ptr()))
        return "an array";
    if (PyUnicode_Check(value.ptr()))
        return "a string";
    return Py_TYPE(value.ptr())->tp_name;
}

/// The field of `descriptor` that the JSON key `key` names, or an invalid object.
nb::object field_for_key(nb::handle descriptor, nb::handle key) {
    for (nb::handle field : pyglue::getattr(descriptor, fields)) {
        for (const Name* name : {&json_name, &name_attr}) {
            int equal =
                PyObject_RichCompareBool(pyglue::getattr(field, *name).ptr(), key.ptr(), Py_EQ);
            if (equal < 0)
                pyglue::raise_current();
            if (equal)
                return nb::borrow(field);
        }
    }
    return nb::object();
}

/// The message type of `field` when its JSON form must be an object (or objects), else
/// an invalid object. The well-known types have JSON forms of their own.
nb::object object_type(nb::handle field) {
    nb::object type = pyglue::getattr(field, message_type);
    if (type.is_none())
        return nb::object();
    if (text_of(pyglue::getattr(type, full_name)).starts_with("google.protobuf."))
        return nb::object();
    return type;
}

/// `for key, value in dict.items(): body(key, value)` over a dict of our own making.
template <typename Body>
void for_each_entry(nb::handle dict, Body body) {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t position = 0;
    while (PyDict_Next(dict.ptr(), &position, &key, &value))
        body(nb::handle(key), nb::handle(value));
}

std::string member_path(const std::string& path, nb::handle key) {
    std::string joined = path;
    if (!joined.empty())
        joined += '.';
    joined += text_of(key);
    return joined;
}

class Checker {
public:
    explicit Checker(nb::handle parse_error) : parse_error_(parse_error) {}

    /// `value` is the JSON that Parse read into `message`; `path` names it for the error.
    void object(nb::handle value, nb::handle message, const std::string& path) {
        pyglue::RecursionGuard guard(" while checking a project file");
        if (!PyDict_Check(value.ptr()))
            refuse(path, value);
        nb::object descriptor = pyglue::getattr(message, descriptor_attr);
        for_each_entry(value, [&](nb::handle key, nb::handle child) {
            nb::object field = field_for_key(descriptor, key);
            if (!field.is_valid() || child.is_none())
                return;
            nb::object type = object_type(field);
            if (!type.is_valid())
                return;
            nb::object held = pyglue::checked(
                PyObject_GetAttr(message.ptr(), pyglue::getattr(field, name_attr).ptr()));
            member(child, type, held, member_path(path, key));
        });
    }

private:
    /// A message-typed member: a map, a repeated field or a single message.
    void member(nb::handle value, nb::handle type, nb::handle held, const std::string& path) {
        nb::object options = pyglue::call_method(type, get_options);
        if (pyglue::truthy(pyglue::getattr(options, map_entry))) {
            nb::object entry_value = pyglue::checked(
                PyObject_GetItem(pyglue::getattr(type, fields_by_name).ptr(), value_attr.ptr()));
            if (!object_type(entry_value).is_valid())
                return;
            for_each_entry(value, [&](nb::handle key, nb::handle entry) {
                nb::object message = held[key];
                object(entry, message, member_path(path, key));
            });
        } else if (!pyglue::getattr_or(held, descriptor_attr, Py_None).is_none()) {
            object(value, held, path);
        } else {
            Py_ssize_t index = 0;
            for (nb::handle item : value) {
                nb::object message = held[index];
                object(item, message, path + "[" + std::to_string(index) + "]");
                ++index;
            }
        }
    }

    [[noreturn]] void refuse(const std::string& path, nb::handle value) {
        if (path.empty())
            pyglue::raise(parse_error_.ptr(), "A project file must be a JSON object, not %s",
                          json_kind(value));
        pyglue::raise(parse_error_.ptr(), "%s must be a JSON object, not %s", path.c_str(),
                      json_kind(value));
    }

    nb::handle parse_error_;
};

}  // namespace

void check_json_kinds(const Call& call, nb::handle text, nb::handle snapshot) {
    if (!PyUnicode_Check(text.ptr()))
        return;
    if (!may_be_lax(text_of(text)))
        return;
    nb::object json = pyglue::checked(PyImport_ImportModule("json"));
    nb::object document = pyglue::call_method(json, loads, text);
    nb::object parse_error = call.global(global::parse_error);
    Checker(parse_error).object(document, snapshot, "");
}

}  // namespace marnox::project
