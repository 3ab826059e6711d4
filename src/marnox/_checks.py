"""Checks of the values model objects are made from, raising errors that name the field.

A value that a project file cannot hold, or that VTK would draw as garbage, is
refused where the object is made rather than at the next save or frame.
"""

from __future__ import annotations

import math
import numbers
import operator

# The largest float32: VTK keeps geometry in single precision, where anything
# larger is infinite, so "finite" means finite there.
_FLOAT32_MAX = 3.4028234663852886e38
_UINT32_MAX = 0xFFFFFFFF


def finite(value, name):
    """``value`` as a float; ValueError naming ``name`` unless it is finite in single precision."""
    number = float(value)
    if not -_FLOAT32_MAX <= number <= _FLOAT32_MAX:
        raise ValueError(f"{name} must be finite and within +-3.4e38, got {number!r}")
    return number


def positiveReal(value, name, kind):
    """``value`` as a float; TypeError unless it is a real number (``kind`` says what one),
    ValueError naming ``name`` unless it is positive and finite."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be {kind}, not {value!r}")
    if not (math.isfinite(value) and value > 0):
        raise ValueError(f"{name} must be positive and finite, got {value!r}")
    return float(value)


def finiteVector(values, name):
    """``values`` as a tuple of three floats, each checked as ``finite`` does."""
    try:
        x, y, z = values
    except ValueError:
        raise ValueError(f"{name} must have three components, got {values!r}") from None
    vector = (float(x), float(y), float(z))
    for number in vector:
        if not -_FLOAT32_MAX <= number <= _FLOAT32_MAX:
            raise ValueError(f"{name} must be finite and within +-3.4e38, got {vector!r}")
    return vector


def instance(value, cls, name):
    """``value`` itself; TypeError naming ``name`` unless it is a ``cls``."""
    if not isinstance(value, cls):
        raise TypeError(f"{name} must be a {cls.__name__}, got {type(value).__name__}")
    return value


def uint32(value, name):
    """``value`` as an int from 0 to 2**32 - 1, the range a project file holds."""
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, got {type(value).__name__}") from None
    if not 0 <= number <= _UINT32_MAX:
        raise ValueError(f"{name} must be from 0 to {_UINT32_MAX}, got {number}")
    return number


__all__ = ["finite", "finiteVector", "instance", "uint32"]
