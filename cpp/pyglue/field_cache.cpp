// field_cache.cpp: the generic attribute lookup, remembered when only the instance dict answered.
#include "field_cache.h"

namespace pyglue {

nb::object FieldCache::look_up(PyObject* obj, PyObject* fallback) {
    state_ = LookupState();
    value_ = nullptr;
#if PY_VERSION_HEX < 0x030C0000
    // With no class attribute of that name, the generic lookup answers from the dict alone.
    // Looking the name up gives the class a version tag if it has none, so record after it.
    LookupState before;
    bool cacheable = !_PyType_Lookup(Py_TYPE(obj), name_.ptr()) && before.record(obj);
#endif
    nb::object value = fallback ? getattr_optional(obj, name_) : getattr(obj, name_);
#if PY_VERSION_HEX < 0x030C0000
    LookupState after;
    if (cacheable && after.record(obj) && after == before) {
        state_ = after;
        value_ = value.ptr();
    }
#endif
    return value.is_valid() ? value : nb::borrow(fallback);
}

}  // namespace pyglue
