// method.cpp: the method type: a vectorcall function object that binds like a Python function.
#include "method.h"

#include <structmember.h>

#include <string>

#include "errors.h"

namespace pyglue {
namespace {

struct MethodObject {
    PyObject_HEAD vectorcallfunc vectorcall;
    Impl impl;
    PyObject* globals;      ///< the module namespace the body looks names up in
    PyObject* names;        ///< tuple of interned parameter names, `self` first
    PyObject* defaults;     ///< tuple of defaults of the trailing parameters, or None
    Py_ssize_t n_params;    ///< parameters including `self`
    Py_ssize_t n_required;  ///< leading parameters without a default
    PyObject* name;
    PyObject* qualname;
    PyObject* module;
    PyObject* doc;
    PyObject* annotations;  ///< dict of parameter name (and "return") to string
    PyObject* signature;    ///< inspect.Signature, built on first request
};

extern PyTypeObject method_type;

/// Runs the body with fully bound arguments; the boundary where C++ exceptions end.
PyObject* invoke(MethodObject* m, PyObject* const* args) noexcept {
    try {
        return m->impl(Call(m->globals, args)).release().ptr();
    } catch (...) {
        set_error_from_current_exception();
        return nullptr;
    }
}

/// "'a'", "'a' and 'b'", "'a', 'b', and 'c'", as the interpreter lists missing arguments.
std::string quoted_list(const std::vector<const char*>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0)
            out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        out += '\'';
        out += names[i];
        out += '\'';
    }
    return out;
}

PyObject* too_many_positional(MethodObject* m, Py_ssize_t given) {
    Py_ssize_t most = m->n_params;
    std::string takes = m->n_required == most ? std::to_string(most)
                                              : "from " + std::to_string(m->n_required) + " to " +
                                                    std::to_string(most);
    PyErr_Format(PyExc_TypeError, "%U() takes %s positional argument%s but %zd %s given",
                 m->qualname, takes.c_str(), most == 1 ? "" : "s", given,
                 given == 1 ? "was" : "were");
    return nullptr;
}

Py_ssize_t find_param(MethodObject* m, PyObject* key) {
    for (Py_ssize_t i = 0; i < m->n_params; ++i)
        if (PyTuple_GET_ITEM(m->names, i) == key)
            return i;
    for (Py_ssize_t i = 0; i < m->n_params; ++i) {
        int equal = PyObject_RichCompareBool(PyTuple_GET_ITEM(m->names, i), key, Py_EQ);
        if (equal != 0)
            return equal > 0 ? i : -2;
    }
    return -1;
}

/// The interpreter's TypeError for a keyword that names no parameter. From 3.13 on the
/// interpreter adds the nearest parameter name when one is near enough; asking its own
/// suggestion code keeps the choice the same as for a Python function.
PyObject* unexpected_keyword(MethodObject* m, PyObject* key) noexcept {
#if PY_VERSION_HEX >= 0x030D0000
    try {
        nb::object suggest = nb::module_::import_("_suggestions").attr("_generate_suggestions");
        nb::object nearest = suggest(nb::list(nb::handle(m->names)), nb::handle(key));
        if (!nearest.is_none()) {
            PyErr_Format(PyExc_TypeError,
                         "%U() got an unexpected keyword argument '%S'. Did you mean '%S'?",
                         m->qualname, key, nearest.ptr());
            return nullptr;
        }
    } catch (...) {
        set_error_from_current_exception();
        return nullptr;
    }
#endif
    PyErr_Format(PyExc_TypeError, "%U() got an unexpected keyword argument '%S'", m->qualname, key);
    return nullptr;
}

/// Binds keywords and defaults, raising the interpreter's usual TypeErrors, in
/// the interpreter's order: keyword errors, then surplus positionals, then
/// missing arguments.
PyObject* call_general(MethodObject* m, PyObject* const* args, Py_ssize_t n_args,
                       PyObject* kwnames) {
    std::vector<PyObject*> slots(static_cast<size_t>(m->n_params), nullptr);
    for (Py_ssize_t i = 0; i < n_args && i < m->n_params; ++i)
        slots[static_cast<size_t>(i)] = args[i];

    Py_ssize_t n_kw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < n_kw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t index = find_param(m, key);
        if (index == -2)
            return nullptr;
        if (index < 0)
            return unexpected_keyword(m, key);
        if (slots[static_cast<size_t>(index)]) {
            PyErr_Format(PyExc_TypeError, "%U() got multiple values for argument '%S'", m->qualname,
                         key);
            return nullptr;
        }
        slots[static_cast<size_t>(index)] = args[n_args + k];
    }

    if (n_args > m->n_params)
        return too_many_positional(m, n_args);

    std::vector<const char*> missing;
    for (Py_ssize_t i = 0; i < m->n_required; ++i)
        if (!slots[static_cast<size_t>(i)])
            missing.push_back(PyUnicode_AsUTF8(PyTuple_GET_ITEM(m->names, i)));
    if (!missing.empty()) {
        PyErr_Format(PyExc_TypeError, "%U() missing %zd required positional argument%s: %s",
                     m->qualname, static_cast<Py_ssize_t>(missing.size()),
                     missing.size() == 1 ? "" : "s", quoted_list(missing).c_str());
        return nullptr;
    }
    for (Py_ssize_t i = m->n_required; i < m->n_params; ++i)
        if (!slots[static_cast<size_t>(i)])
            slots[static_cast<size_t>(i)] = PyTuple_GET_ITEM(m->defaults, i - m->n_required);

    return invoke(m, slots.data());
}

/// Whether the arguments are already the parameters in order: every parameter given once,
/// the keywords naming the trailing ones in declaration order, as in `self.add(item=node)`.
/// Interned names match by identity; any other spelling takes the general path.
bool binds_in_order(const MethodObject* m, Py_ssize_t n_args, PyObject* kwnames) {
    Py_ssize_t n_kw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (n_args + n_kw != m->n_params)
        return false;
    for (Py_ssize_t k = 0; k < n_kw; ++k)
        if (PyTuple_GET_ITEM(kwnames, k) != PyTuple_GET_ITEM(m->names, n_args + k))
            return false;
    return true;
}

/// The call entry point: arguments that bind in order go straight to the body.
PyObject* method_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf,
                            PyObject* kwnames) noexcept {
    auto* m = reinterpret_cast<MethodObject*>(self);
    Py_ssize_t n_args = PyVectorcall_NARGS(nargsf);
    if (binds_in_order(m, n_args, kwnames))
        return invoke(m, args);
    return call_general(m, args, n_args, kwnames);
}

/// Binds to an instance like a Python function; the class gets the method itself.
PyObject* method_descr_get(PyObject* self, PyObject* instance, PyObject*) noexcept {
    if (!instance || instance == Py_None)
        return Py_NewRef(self);
    return PyMethod_New(self, instance);
}

PyObject* method_repr(PyObject* self) noexcept {
    auto* m = reinterpret_cast<MethodObject*>(self);
    return PyUnicode_FromFormat("<function %U at %p>", m->qualname, self);
}

int method_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    auto* m = reinterpret_cast<MethodObject*>(self);
    Py_VISIT(m->globals);
    Py_VISIT(m->names);
    Py_VISIT(m->defaults);
    Py_VISIT(m->name);
    Py_VISIT(m->qualname);
    Py_VISIT(m->module);
    Py_VISIT(m->doc);
    Py_VISIT(m->annotations);
    Py_VISIT(m->signature);
    return 0;
}

int method_clear(PyObject* self) noexcept {
    auto* m = reinterpret_cast<MethodObject*>(self);
    Py_CLEAR(m->globals);
    Py_CLEAR(m->names);
    Py_CLEAR(m->defaults);
    Py_CLEAR(m->name);
    Py_CLEAR(m->qualname);
    Py_CLEAR(m->module);
    Py_CLEAR(m->doc);
    Py_CLEAR(m->annotations);
    Py_CLEAR(m->signature);
    return 0;
}

void method_dealloc(PyObject* self) noexcept {
    PyObject_GC_UnTrack(self);
    method_clear(self);
    PyObject_GC_Del(self);
}

/// `__signature__`: an inspect.Signature with every parameter positional-or-keyword.
PyObject* method_get_signature(PyObject* self, void*) noexcept {
    auto* m = reinterpret_cast<MethodObject*>(self);
    if (m->signature)
        return Py_NewRef(m->signature);
    try {
        nb::module_ inspect = nb::module_::import_("inspect");
        nb::object parameter = inspect.attr("Parameter");
        nb::object empty = parameter.attr("empty");
        nb::object kind = parameter.attr("POSITIONAL_OR_KEYWORD");
        nb::dict annotations = nb::borrow<nb::dict>(m->annotations);
        nb::list params;
        for (Py_ssize_t i = 0; i < m->n_params; ++i) {
            nb::handle name = PyTuple_GET_ITEM(m->names, i);
            nb::object annotation =
                annotations.contains(name) ? nb::object(annotations[name]) : empty;
            nb::object default_value =
                i >= m->n_required ? nb::borrow(PyTuple_GET_ITEM(m->defaults, i - m->n_required))
                                   : empty;
            params.append(parameter(name, kind, nb::arg("default") = default_value,
                                    nb::arg("annotation") = annotation));
        }
        nb::str return_key("return");
        nb::object returns =
            annotations.contains(return_key) ? nb::object(annotations[return_key]) : empty;
        nb::object signature =
            inspect.attr("Signature")(params, nb::arg("return_annotation") = returns);
        m->signature = signature.inc_ref().ptr();
        return signature.release().ptr();
    } catch (...) {
        set_error_from_current_exception();
        return nullptr;
    }
}

PyObject* method_get_defaults(PyObject* self, void*) noexcept {
    return Py_NewRef(reinterpret_cast<MethodObject*>(self)->defaults);
}

PyObject* method_get_kwdefaults(PyObject*, void*) noexcept {
    Py_RETURN_NONE;
}

PyObject* method_get_annotations(PyObject* self, void*) noexcept {
    return Py_NewRef(reinterpret_cast<MethodObject*>(self)->annotations);
}

PyMemberDef method_members[] = {
    {"__name__", T_OBJECT, offsetof(MethodObject, name), READONLY, nullptr},
    {"__qualname__", T_OBJECT, offsetof(MethodObject, qualname), READONLY, nullptr},
    {"__module__", T_OBJECT, offsetof(MethodObject, module), 0, nullptr},
    {"__doc__", T_OBJECT, offsetof(MethodObject, doc), 0, nullptr},
    {"__globals__", T_OBJECT, offsetof(MethodObject, globals), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef method_getset[] = {
    {"__signature__", method_get_signature, nullptr, nullptr, nullptr},
    {"__defaults__", method_get_defaults, nullptr, nullptr, nullptr},
    {"__kwdefaults__", method_get_kwdefaults, nullptr, nullptr, nullptr},
    {"__annotations__", method_get_annotations, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject method_type = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0).tp_name = "marnox.method",
    .tp_basicsize = sizeof(MethodObject),
    .tp_dealloc = method_dealloc,
    .tp_vectorcall_offset = offsetof(MethodObject, vectorcall),
    .tp_repr = method_repr,
    .tp_call = PyVectorcall_Call,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
                Py_TPFLAGS_METHOD_DESCRIPTOR,
    .tp_doc = "A method of a marnox class, implemented in C++.",
    .tp_traverse = method_traverse,
    .tp_clear = method_clear,
    .tp_members = method_members,
    .tp_getset = method_getset,
    .tp_descr_get = method_descr_get,
};

}  // namespace

bool ready_method_type() {
    return PyType_Ready(&method_type) == 0;
}

nb::object make_method(const MethodDef& def, const char* class_qualname, nb::handle module_name,
                       nb::handle globals) {
    auto n_params = static_cast<Py_ssize_t>(def.params.size()) + 1;
    nb::object names = nb::steal(PyTuple_New(n_params));
    if (!names.is_valid())
        raise_current();
    nb::dict annotations;
    Py_ssize_t n_required = 1;
    nb::list defaults;
    PyTuple_SET_ITEM(names.ptr(), 0, PyUnicode_InternFromString("self"));
    for (size_t i = 0; i < def.params.size(); ++i) {
        const Param& param = def.params[i];
        PyObject* name = PyUnicode_InternFromString(param.name);
        if (!name)
            raise_current();
        PyTuple_SET_ITEM(names.ptr(), static_cast<Py_ssize_t>(i) + 1, name);
        if (param.annotation)
            annotations[name] = nb::str(param.annotation);
        if (param.default_value.is_valid())
            defaults.append(param.default_value);
        else if (defaults.size() == 0)
            n_required = static_cast<Py_ssize_t>(i) + 2;
        else
            raise(PyExc_SystemError, "parameter '%s' without default follows one with a default",
                  param.name);
    }
    if (def.returns)
        annotations["return"] = nb::str(def.returns);

    auto* m = PyObject_GC_New(MethodObject, &method_type);
    if (!m)
        raise_current();
    nb::object result = nb::steal(reinterpret_cast<PyObject*>(m));
    m->vectorcall = method_vectorcall;
    m->impl = def.impl;
    m->globals = globals.inc_ref().ptr();
    m->names = names.release().ptr();
    m->defaults = defaults.size() ? PySequence_Tuple(defaults.ptr()) : Py_NewRef(Py_None);
    m->n_params = n_params;
    m->n_required = n_required;
    m->name = Py_NewRef(def.name.ptr());
    m->qualname = PyUnicode_FromFormat("%s.%s", class_qualname, def.name.text());
    m->module = module_name.inc_ref().ptr();
    m->doc = def.doc ? PyUnicode_FromString(def.doc) : Py_NewRef(Py_None);
    m->annotations = annotations.release().ptr();
    m->signature = nullptr;
    PyObject_GC_Track(m);
    if (!m->defaults || !m->qualname || !m->doc)
        raise_current();
    return result;
}

}  // namespace pyglue
