// module.h: multi-phase module initialisation and the imports a module binds at load.
#pragma once

#include <nanobind/nanobind.h>

#include <initializer_list>

namespace pyglue {

namespace nb = nanobind;

/// Runs once, when the interpreter executes the module; throws on failure.
using ModuleExec = void (*)(nb::handle module);

/// The module definition for PyInit_<short_name>. Executing it a second time,
/// into another module object, raises RuntimeError: module state lives in this
/// extension's statics and cannot be built twice.
PyObject* module_init(const char* short_name, const char* full_name, ModuleExec exec) noexcept;

/// `import module` (or `import module as alias`), binding it in the namespace.
void import_module(nb::handle module, const char* name, const char* alias = nullptr);

/// `from module import a, b, ...`, binding each name in the namespace in order.
void import_from(nb::handle module, const char* from, std::initializer_list<const char*> names);

/// Whether `assert` statements run: false under `python -O`.
bool assertions_enabled();

}  // namespace pyglue

/// Declares the extension's entry point PyInit_<short_name>.
#define PYGLUE_MODULE(short_name, full_name, exec)                  \
    extern "C" NB_EXPORT PyObject* PyInit_##short_name() {          \
        return ::pyglue::module_init(#short_name, full_name, exec); \
    }
