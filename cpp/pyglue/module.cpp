// module.cpp: multi-phase module initialisation with a guard against a second execution.
#include "module.h"

#include "errors.h"
#include "method.h"
#include "names.h"

namespace pyglue {
namespace {

const char* g_short_name = nullptr;
ModuleExec g_exec = nullptr;
bool g_executed = false;
bool g_assertions_enabled = true;

int exec_slot(PyObject* module) noexcept {
    if (g_executed) {
        PyErr_Format(PyExc_RuntimeError,
                     "Module '%s' has already been imported. Re-initialisation is not supported.",
                     g_short_name);
        return -1;
    }
    if (!nb::register_module(module) || !intern_names() || !ready_method_type())
        return -1;
    try {
        nb::object flags = nb::module_::import_("sys").attr("flags");
        g_assertions_enabled = nb::cast<long>(flags.attr("optimize")) == 0;
        g_exec(module);
    } catch (...) {
        set_error_from_current_exception();
        return -1;
    }
    g_executed = true;
    return 0;
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_slot)},
    {0, nullptr},
};

PyModuleDef g_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = nullptr,
    .m_doc = nullptr,
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = g_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

/// The ImportError of `from module import name` for a missing name, with the
/// `name` and `path` attributes that code handling import failures reads.
[[noreturn]] void raise_missing_name(nb::handle source, const char* module_name, const char* name) {
    nb::object file = nb::getattr(source, "__file__", nb::none());
    if (!PyUnicode_Check(file.ptr()))
        file = nb::none();
    nb::object message =
        file.is_none()
            ? nb::steal(PyUnicode_FromFormat("cannot import name '%s' from '%s' (unknown location)",
                                             name, module_name))
            : nb::steal(PyUnicode_FromFormat("cannot import name '%s' from '%s' (%U)", name,
                                             module_name, file.ptr()));
    if (!message.is_valid())
        raise_current();
    PyErr_SetImportError(message.ptr(), nb::str(module_name).ptr(), file.ptr());
    raise_current();
}

}  // namespace

PyObject* module_init(const char* short_name, const char* full_name, ModuleExec exec) noexcept {
    g_short_name = short_name;
    g_exec = exec;
    g_def.m_name = full_name;
    return PyModuleDef_Init(&g_def);
}

void import_module(nb::handle module, const char* name, const char* alias) {
    nb::object imported = nb::module_::import_(name);
    nb::setattr(module, alias ? alias : name, imported);
}

void import_from(nb::handle module, const char* from, std::initializer_list<const char*> names) {
    nb::list fromlist;
    for (const char* name : names) fromlist.append(nb::str(name));
    nb::object source =
        nb::steal(PyImport_ImportModuleLevel(from, nullptr, nullptr, fromlist.ptr(), 0));
    if (!source.is_valid())
        raise_current();
    for (const char* name : names) {
        PyObject* value = PyObject_GetAttrString(source.ptr(), name);
        if (!value) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError))
                raise_current();
            PyErr_Clear();
            raise_missing_name(source, from, name);
        }
        nb::setattr(module, name, nb::steal(value));
    }
}

bool assertions_enabled() {
    return g_assertions_enabled;
}

}  // namespace pyglue
