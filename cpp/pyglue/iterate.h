// iterate.h: walking Python iterables from C++ as a for statement would.
#pragma once

#include "calls.h"

namespace pyglue {

/// The next item of `iterator`, or an invalid object at its end.
inline nb::object next_item(nb::handle iterator) {
    nb::object item = nb::steal(PyIter_Next(iterator.ptr()));
    if (!item.is_valid() && PyErr_Occurred())
        raise_current();
    return item;
}

/// `for a, b in zip(first, second): body(a, b)`. Stops at the end of the
/// shorter one and, like zip, takes the next of `first` before that of `second`.
template <typename Body>
void for_each_pair(nb::handle first, nb::handle second, Body body) {
    nb::object first_items = checked(PyObject_GetIter(first.ptr()));
    nb::object second_items = checked(PyObject_GetIter(second.ptr()));
    for (;;) {
        nb::object a = next_item(first_items);
        if (!a.is_valid())
            return;
        nb::object b = next_item(second_items);
        if (!b.is_valid())
            return;
        body(nb::handle(a), nb::handle(b));
    }
}

}  // namespace pyglue
