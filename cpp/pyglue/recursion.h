// recursion.h: the interpreter's recursion limit for C++ bodies that call back into themselves.
#pragma once

#include <Python.h>

#include "errors.h"

namespace pyglue {

/// Counts one level of the interpreter's recursion depth for as long as it lives, so that
/// unbounded recursion through C++ bodies raises RecursionError instead of overflowing the C
/// stack. `where` completes the message: "maximum recursion depth exceeded<where>".
class RecursionGuard {
public:
    explicit RecursionGuard(const char* where) {
        if (Py_EnterRecursiveCall(where) != 0)
            raise_current();
    }
    ~RecursionGuard() { Py_LeaveRecursiveCall(); }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
};

}  // namespace pyglue
