// lookup_state.h: when an attribute lookup on an instance is sure to give what it gave before.
#pragma once

#include <Python.h>

#include <cstdint>

namespace pyglue {

/// What every attribute lookup on an instance of a class with the generic `__getattribute__`
/// depends on: the class, with its bases (its version tag, which CPython clears whenever any
/// attribute of it or of a base changes), and the instance `__dict__` (its PEP 509 version,
/// which changes whenever the dict does). Both are unique for the life of the process, so while
/// an instance's state equals a recorded one, every lookup on it gives what it gave then, and
/// the objects it found are still held by the class or the dict.
///
/// Recording materialises the instance's `__dict__`, as `vars(obj)` does. On 3.11 that leaves
/// the interpreter's specialised method calls on the instance as fast as before, but Python
/// code reading its attributes then takes the generic lookup (about 270 instructions more per
/// read), so only the objects a hot path calls its own methods on should be recorded. On
/// Python 3.12 and later, whose dicts no longer promise PEP 509 versions, nothing is recorded
/// and every lookup takes the interpreter's own path.
class LookupState {
public:
    /// Records the state of `obj` now. Returns false, with nothing recorded, when `obj` has no
    /// instance dict, its class no version tag or its own attribute lookup.
    bool record(PyObject* obj) {
        *this = LookupState();
#if PY_VERSION_HEX < 0x030C0000
        PyTypeObject* type = Py_TYPE(obj);
        if (!PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG) ||
            type->tp_getattro != PyObject_GenericGetAttr)
            return false;
        PyObject* dict = instance_dict(obj);
        if (!dict)
            return false;
        type_version_ = type->tp_version_tag;
        dict_ = dict;
        dict_version_ = reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
        return true;
#else
        (void)obj;
        return false;
#endif
    }

    /// Whether `obj` is now in the recorded state; never true when nothing was recorded.
    bool matches(PyObject* obj) const {
#if PY_VERSION_HEX < 0x030C0000
        PyTypeObject* type = Py_TYPE(obj);
        if (type->tp_version_tag != type_version_ || type_version_ == 0 ||
            !PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG))
            return false;
        PyObject* dict = instance_dict(obj);
        return dict == dict_ &&
               reinterpret_cast<PyDictObject*>(dict)->ma_version_tag == dict_version_;
#else
        (void)obj;
        return false;
#endif
    }

    bool operator==(const LookupState&) const = default;

    /// The instance dict of the recorded state.
    PyObject* dict() const { return dict_; }

private:
    /// The instance `__dict__`, materialised if the instance keeps its values inline; nullptr
    /// if there is none (or it is not exactly a dict).
    static PyObject* instance_dict(PyObject* obj) {
        PyObject** slot = _PyObject_GetDictPtr(obj);
        return slot && *slot && PyDict_CheckExact(*slot) ? *slot : nullptr;
    }

    unsigned int type_version_ = 0;  ///< 0: nothing recorded
    PyObject* dict_ = nullptr;
    std::uint64_t dict_version_ = 0;
};

}  // namespace pyglue
