"""The shipped .pyi stubs match the running C++ modules, so editors show the truth."""

import ast
import importlib
import importlib.util
import inspect
import os

import pytest

MODULES = ["marnox.project", "marnox.viewer"]


def stub_classes(module_name):
    """{class name: {method name: ast.FunctionDef}} from the stub installed beside the module."""
    origin = importlib.util.find_spec(module_name).origin
    stub = os.path.join(os.path.dirname(origin), module_name.rsplit(".", 1)[1] + ".pyi")
    with open(stub) as file:
        tree = ast.parse(file.read())
    return {
        node.name: {f.name: f for f in node.body if isinstance(f, ast.FunctionDef)}
        for node in tree.body
        if isinstance(node, ast.ClassDef)
    }


def runtime_methods(cls):
    return {name for name, value in vars(cls).items() if callable(value)}


@pytest.mark.parametrize("module_name", MODULES)
def test_stub_declares_every_class_and_method(module_name):
    module = importlib.import_module(module_name)
    for class_name, methods in stub_classes(module_name).items():
        assert set(methods) == runtime_methods(getattr(module, class_name)), class_name


def stub_signatures():
    for module_name in MODULES:
        for class_name, methods in stub_classes(module_name).items():
            for method_name, definition in methods.items():
                yield pytest.param(
                    module_name, class_name, definition, id=f"{class_name}.{method_name}"
                )


@pytest.mark.parametrize("module_name, class_name, definition", list(stub_signatures()))
def test_stub_signature_matches_runtime(module_name, class_name, definition):
    method = getattr(getattr(importlib.import_module(module_name), class_name), definition.name)
    runtime = list(inspect.signature(method).parameters.values())
    arguments = definition.args
    assert [a.arg for a in arguments.args] == [p.name for p in runtime]
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in runtime)
    assert not (arguments.vararg or arguments.kwarg or arguments.kwonlyargs)

    stub_defaults = [ast.literal_eval(d) for d in arguments.defaults]
    runtime_defaults = [p.default for p in runtime if p.default is not p.empty]
    assert stub_defaults == runtime_defaults

    for argument, parameter in zip(arguments.args, runtime, strict=True):
        if parameter.annotation is not parameter.empty:
            assert ast.unparse(argument.annotation) == parameter.annotation
    returns = method.__annotations__.get("return")
    if returns is not None:
        assert ast.unparse(definition.returns) == returns
