// names.h: interned Python strings for attribute, method and keyword names.
#pragma once

#include <Python.h>

#include <initializer_list>
#include <vector>

namespace pyglue {

/// An attribute or argument name, interned once when the module is executed so
/// that hot paths compare and look up by pointer instead of building strings.
class Name {
public:
    explicit Name(const char* text);
    Name(const Name&) = delete;
    Name& operator=(const Name&) = delete;

    PyObject* ptr() const { return object_; }
    const char* text() const { return text_; }

private:
    friend bool intern_names();
    const char* text_;
    PyObject* object_ = nullptr;
};

/// A tuple of keyword names for vectorcall, built once alongside the names.
class KwNames {
public:
    KwNames(std::initializer_list<const char*> names);
    KwNames(const KwNames&) = delete;
    KwNames& operator=(const KwNames&) = delete;

    PyObject* ptr() const { return tuple_; }
    Py_ssize_t size() const { return static_cast<Py_ssize_t>(names_.size()); }

private:
    friend bool intern_names();
    std::vector<const char*> names_;
    PyObject* tuple_ = nullptr;
};

/// The special method names that classes written in C++ define.
namespace special {
inline const Name init{"__init__"};
inline const Name str{"__str__"};
}  // namespace special

/// Interns every Name and builds every KwNames declared in this extension.
/// Returns false with a Python error set on failure.
bool intern_names();

}  // namespace pyglue
