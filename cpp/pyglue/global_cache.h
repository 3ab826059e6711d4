// global_cache.h: a module-level name read without the dict lookup while the module is unchanged.
#pragma once

#include <cstdint>

#include "call.h"

namespace pyglue {

/// One call site of Call::global: behaves exactly as it, but remembers the value found
/// together with the module namespace's PEP 509 version. That version changes whenever any
/// module-level name is bound, rebound or deleted (monkeypatching included), so while it is
/// unchanged the dict still holds the same value. Python 3.12 and later always look up.
class GlobalCache {
public:
    explicit GlobalCache(const Name& name) : name_(name) {}
    GlobalCache(const GlobalCache&) = delete;
    GlobalCache& operator=(const GlobalCache&) = delete;

    nb::object get(const Call& call) {
#if PY_VERSION_HEX < 0x030C0000
        PyObject* globals = call.globals();
        if (globals == globals_ &&
            reinterpret_cast<PyDictObject*>(globals)->ma_version_tag == version_)
            return nb::borrow(value_);
        nb::object value = call.global(name_);
        globals_ = globals;
        version_ = reinterpret_cast<PyDictObject*>(globals)->ma_version_tag;
        value_ = value.ptr();
        return value;
#else
        return call.global(name_);
#endif
    }

private:
    const Name& name_;
    PyObject* globals_ = nullptr;
    std::uint64_t version_ = 0;
    PyObject* value_ = nullptr;  ///< borrowed: the module namespace holds it
};

}  // namespace pyglue
