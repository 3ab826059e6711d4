"""Mutated project files: load raises only documented errors and never half-applies a bad parse."""

import json

import pytest
from google.protobuf.json_format import ParseError
from hypothesis import given
from hypothesis import strategies as st

from marnox.behavior import Behavior
from marnox.constants import MX_PROJECT_FILE_EXT
from marnox.project import Project
from marnox.sample import build_sample_cell

# A parse error leaves the project as it was; a file that parses but describes an
# impossible workspace (for example two nodes of one name) is refused by the model.
PARSE_ERRORS = (ParseError, UnicodeDecodeError)
MODEL_ERRORS = (ValueError,)


@pytest.fixture(scope="module")
def valid_text(tmp_path_factory):
    project = Project()
    build_sample_cell(project)
    path = str(tmp_path_factory.mktemp("valid") / ("cell" + MX_PROJECT_FILE_EXT))
    project.save(path)
    with open(path) as file:
        return file.read()


def json_values():
    scalars = st.one_of(
        st.none(),
        st.booleans(),
        st.integers(min_value=-(10**30), max_value=10**30),
        st.floats(allow_nan=True, allow_infinity=True),
        st.text(max_size=8),
    )
    return st.recursive(
        scalars,
        lambda inner: (
            st.lists(inner, max_size=3) | st.dictionaries(st.text(max_size=6), inner, max_size=3)
        ),
        max_leaves=8,
    )


def paths(document):
    """Every (container, key) in a JSON document, for mutating in place."""
    found = []

    def walk(node):
        items = (
            node.items()
            if isinstance(node, dict)
            else enumerate(node)
            if isinstance(node, list)
            else ()
        )
        for key, value in items:
            found.append((node, key))
            walk(value)

    walk(document)
    return found


@st.composite
def mutated_files(draw, text):
    kind = draw(st.sampled_from(["value", "key", "truncate", "bytes", "nesting", "number"]))
    if kind == "truncate":
        return text.encode()[: draw(st.integers(0, len(text) - 1))]
    if kind == "bytes":
        data = bytearray(text.encode())
        position = draw(st.integers(0, len(data)))
        return (
            bytes(data[:position])
            + draw(st.binary(min_size=1, max_size=4))
            + bytes(data[position:])
        )
    if kind == "nesting":
        depth = draw(st.integers(10, 5000))
        return ('{"workspace": {"items": ' + "[" * depth + "]" * depth + "}}").encode()
    if kind == "number":
        number = draw(st.sampled_from(["1e400", "-1e400", "1" * 400, "NaN", "0x10", "1.5e-400"]))
        return (
            '{"workspace": {"items": [{"name": "a", "pose": {"position": {"x": ' + number + "}}}]}}"
        ).encode()
    document = json.loads(text)
    container, key = draw(st.sampled_from(paths(document)))
    if kind == "value":
        container[key] = draw(json_values())
    elif isinstance(container, dict):
        container[draw(st.text(max_size=10))] = container.pop(key)
    return json.dumps(document).encode()


def project_state(project):
    return str(project), dict(project.behaviors())


@given(data=st.data())
def test_mutated_file_loads_or_fails_cleanly(valid_text, tmp_path_factory, data):
    path = str(tmp_path_factory.mktemp("fuzz") / ("mutated" + MX_PROJECT_FILE_EXT))
    with open(path, "wb") as file:
        file.write(data.draw(mutated_files(valid_text)))
    project = Project()
    project.addBehavior(Behavior("keep", [("move", "x")]))
    before = project_state(project)
    try:
        project.load(path)
    except PARSE_ERRORS:
        assert project_state(project) == before
    except MODEL_ERRORS:
        pass
