// names.cpp: the registry that interns every declared name at module execution.
#include "names.h"

namespace pyglue {
namespace {

// Function-local statics: Names are declared at namespace scope in other files,
// so the registries must exist before the first of them is constructed.
std::vector<Name*>& name_registry() {
    static std::vector<Name*> names;
    return names;
}

std::vector<KwNames*>& kwnames_registry() {
    static std::vector<KwNames*> tuples;
    return tuples;
}

}  // namespace

Name::Name(const char* text) : text_(text) {
    name_registry().push_back(this);
}

KwNames::KwNames(std::initializer_list<const char*> names) : names_(names) {
    kwnames_registry().push_back(this);
}

bool intern_names() {
    // Interned strings and these tuples live for the rest of the process, like
    // the identifiers of compiled Python code.
    for (Name* name : name_registry()) {
        if (name->object_)
            continue;
        name->object_ = PyUnicode_InternFromString(name->text_);
        if (!name->object_)
            return false;
    }
    for (KwNames* kw : kwnames_registry()) {
        if (kw->tuple_)
            continue;
        PyObject* tuple = PyTuple_New(kw->size());
        if (!tuple)
            return false;
        for (Py_ssize_t i = 0; i < kw->size(); ++i) {
            PyObject* item = PyUnicode_InternFromString(kw->names_[static_cast<size_t>(i)]);
            if (!item) {
                Py_DECREF(tuple);
                return false;
            }
            PyTuple_SET_ITEM(tuple, i, item);
        }
        kw->tuple_ = tuple;
    }
    return true;
}

}  // namespace pyglue
