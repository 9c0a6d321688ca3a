"""The module object: what it registers, how its functions present themselves, and the exec step."""

import importlib.util
import inspect

import pytest

import quarn_rs

# The service and record classes are registered ahead of the functions.
CLASS_NAMES = [
    "StdAstFileSystem",
    "AstFileParserCache",
    "FeatureFieldAST",
    "FeatureClassAST",
    "FunctionArgAST",
    "ResolverAST",
    "AstProjectIndex",
]

SIGNATURES = [
    ("parse_duration_ms", "(s)"),
    ("parse_duration_s", "(s)"),
    ("seconds_to_duration_string", "(total_seconds)"),
    ("parse_iso_date", "(s)"),
    ("parse_iso_time", "(s)"),
    ("parse_datetime", "(s)"),
    ("parse_iso_duration", "(s)"),
    ("duration_isoformat", "(tduration)"),
    ("timezone_from_name", "(name)"),
    ("to_snake_case", "(name)"),
    ("build_namespaced_name", "(namespace=None, name=None)"),
]
FUNCTION_NAMES = [name for name, _ in SIGNATURES]


def test_all_lists_the_registered_names_in_order():
    assert quarn_rs.__all__ == CLASS_NAMES + FUNCTION_NAMES


def test_module_doc_is_empty_text():
    assert quarn_rs.__doc__ == ""


@pytest.mark.parametrize("name,signature", SIGNATURES)
def test_function_surface(name, signature):
    function = getattr(quarn_rs, name)
    assert type(function).__name__ == "builtin_function_or_method"
    assert function.__name__ == name
    assert function.__qualname__ == name
    assert function.__text_signature__ == signature
    assert function.__doc__ is None
    assert function.__module__ == "quarn_rs"
    assert function.__self__ is None
    assert str(inspect.signature(function)) == signature


def _fresh_module(prepare=None):
    spec = importlib.util.find_spec("quarn_rs")
    module = spec.loader.create_module(spec)
    if prepare is not None:
        prepare(module)
    spec.loader.exec_module(module)
    return module


def test_each_module_object_gets_its_own_functions():
    module = _fresh_module()
    assert module is not quarn_rs
    assert module.__all__ == CLASS_NAMES + FUNCTION_NAMES
    assert module.__all__ is not quarn_rs.__all__
    assert module.parse_iso_date is not quarn_rs.parse_iso_date
    assert module.to_snake_case("CamelCase") == "camel_case"


def test_exec_appends_to_an_existing_all():
    module = _fresh_module(lambda m: setattr(m, "__all__", ["mine"]))
    assert module.__all__ == ["mine"] + CLASS_NAMES + FUNCTION_NAMES


def test_exec_refuses_an_all_that_is_not_a_list():
    with pytest.raises(TypeError) as raised:
        _fresh_module(lambda m: setattr(m, "__all__", ("mine",)))
    assert str(raised.value) == "'tuple' object is not an instance of 'list'"


def test_panic_exception_is_not_a_module_attribute():
    assert not hasattr(quarn_rs, "PanicException")
