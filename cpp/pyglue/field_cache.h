// field_cache.h: reading an instance attribute without the lookup, while nothing changed it.
#pragma once

#include "calls.h"
#include "lookup_state.h"

namespace pyglue {

/// One call site of `getattr(obj, name)` or `getattr(obj, name, fallback)` for a field kept in
/// the instance dict: behaves exactly as getattr and getattr_or, but remembers what the lookup
/// found when no class in the MRO defines the name. While `obj` is in the same LookupState, the
/// dict still holds that value (or still lacks the name), so it is read without a lookup.
class FieldCache {
public:
    explicit FieldCache(const Name& name) : name_(name) {}
    FieldCache(const FieldCache&) = delete;
    FieldCache& operator=(const FieldCache&) = delete;

    /// `obj.name`.
    nb::object get(nb::handle obj) {
        if (value_ && state_.matches(obj.ptr()))
            return nb::borrow(value_);
        return look_up(obj.ptr(), nullptr);
    }

    /// `getattr(obj, name, fallback)`: only a missing attribute gives `fallback`.
    nb::object get_or(nb::handle obj, nb::handle fallback) {
        if (state_.matches(obj.ptr()))
            return nb::borrow(value_ ? value_ : fallback.ptr());
        return look_up(obj.ptr(), fallback.ptr());
    }

private:
    /// The lookup itself; `fallback` nullptr for a plain getattr.
    nb::object look_up(PyObject* obj, PyObject* fallback);

    const Name& name_;
    LookupState state_;
    PyObject* value_ = nullptr;  ///< borrowed from the dict; nullptr: no such attribute
};

}  // namespace pyglue
