"""Public methods called with wrong counts, stray keywords and odd values: errors, no crashes."""

import inspect

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import marnox.viewer
from marnox.project import Project

CLASSES = [Project, marnox.viewer.WorkspaceViewer, marnox.viewer.ImageViewer]
# Opening a window on screen, or entering an event loop, is not for random arguments.
NOT_CALLED = {"init", "spin"}

ODD_VALUES = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(),
    st.floats(),
    st.text(max_size=12),
    st.binary(max_size=8),
    st.tuples(st.integers(-5, 5), st.integers(-5, 5)),
    st.lists(st.floats(allow_nan=False), max_size=4),
    st.just(object()),
    st.just(np.zeros((2, 2, 2))),
    st.just(Project()),
)


def methods():
    for cls in CLASSES:
        for name, value in vars(cls).items():
            if callable(value) and name != "__init__":
                yield pytest.param(cls, name, id=f"{cls.__name__}.{name}")


def parameters(cls, name):
    return list(inspect.signature(getattr(cls, name)).parameters.values())[1:]


@pytest.fixture(scope="module")
def instances():
    return {cls: cls() for cls in CLASSES}


@pytest.mark.parametrize("cls, name", list(methods()))
def test_signature_errors_are_type_errors(cls, name, instances):
    method = getattr(instances[cls], name)
    params = parameters(cls, name)
    required = [p for p in params if p.default is p.empty]
    filler = [None] * len(params)
    with pytest.raises(TypeError, match="positional argument"):
        method(*filler, None)
    with pytest.raises(TypeError, match="unexpected keyword argument 'bogus'"):
        method(bogus=1)
    if required:
        with pytest.raises(TypeError, match="missing"):
            method()
    if params:
        with pytest.raises(TypeError, match="multiple values"):
            method(None, **{params[0].name: None})


@pytest.mark.parametrize("cls, name", [m for m in methods() if m.values[1] not in NOT_CALLED])
@given(data=st.data())
@settings(suppress_health_check=[HealthCheck.function_scoped_fixture])
def test_odd_values_raise_or_return(cls, name, tmp_path_factory, monkeypatch, data):
    monkeypatch.chdir(tmp_path_factory.mktemp("cwd"))
    instance = cls()
    params = parameters(cls, name)
    count = data.draw(st.integers(0, len(params)))
    values = [data.draw(ODD_VALUES) for _ in range(count)]
    try:
        getattr(instance, name)(*values)
    except Exception:
        pass


@pytest.mark.parametrize("cls", CLASSES)
@given(arguments=st.lists(ODD_VALUES, max_size=4))
def test_odd_constructor_arguments_raise_or_construct(cls, arguments):
    try:
        cls(*arguments)
    except Exception:
        pass
