"""Argument intake: matching by position and keyword, the argument errors, and conversions."""

import pytest

import quarn_rs as q

ARGUMENT_ERRORS = [
    (lambda: q.parse_iso_date(), "parse_iso_date() missing 1 required positional argument: 's'"),
    (
        lambda: q.parse_iso_date("2024-01-01", "x"),
        "parse_iso_date() takes 1 positional arguments but 2 were given",
    ),
    (
        lambda: q.build_namespaced_name("a", "b", "c"),
        "build_namespaced_name() takes from 0 to 2 positional arguments but 3 were given",
    ),
    (lambda: q.to_snake_case(nom="x"), "to_snake_case() got an unexpected keyword argument 'nom'"),
    (
        lambda: q.to_snake_case("x", name="y"),
        "to_snake_case() got multiple values for argument 'name'",
    ),
    (
        lambda: q.build_namespaced_name("a", namespace="b"),
        "build_namespaced_name() got multiple values for argument 'namespace'",
    ),
    (
        lambda: q.parse_datetime(**{"s": "x", "\udc80": 1}),
        "parse_datetime() got an unexpected keyword argument '\udc80'",
    ),
    # Conversion failures name the parameter.
    (lambda: q.to_snake_case(name=5), "argument 'name': 'int' object is not an instance of 'str'"),
    (lambda: q.parse_iso_date(b"2024"), "argument 's': 'bytes' object is not an instance of 'str'"),
    (lambda: q.timezone_from_name(None), "argument 'name': 'None' is not an instance of 'str'"),
    (
        lambda: q.build_namespaced_name(namespace=3),
        "argument 'namespace': 'int' object is not an instance of 'str'",
    ),
    (
        lambda: q.build_namespaced_name(None, ["x"]),
        "argument 'name': 'list' object is not an instance of 'str'",
    ),
    (lambda: q.seconds_to_duration_string("90"), "argument 'total_seconds': must be real number, not str"),
]


@pytest.mark.parametrize("call,message", ARGUMENT_ERRORS)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as raised:
        call()
    assert type(raised.value) is TypeError
    assert str(raised.value) == message


def test_argument_errors_come_before_any_conversion():
    # The unexpected keyword is found first; the bad positional value is never converted.
    with pytest.raises(TypeError, match="unexpected keyword argument 'x'"):
        q.to_snake_case(5, x=1)


def test_keyword_and_positional_forms_agree():
    assert q.to_snake_case(name="CamelCase") == q.to_snake_case("CamelCase") == "camel_case"
    assert q.build_namespaced_name(name="x", namespace="A") == "a::x"
    assert q.parse_duration_ms(s="1h") == 3_600_000
    assert q.seconds_to_duration_string(total_seconds=90) == "1m30s"


def test_str_subclasses_are_read_as_text():
    class Text(str):
        pass

    assert q.to_snake_case(Text("CamelCase")) == "camel_case"
    assert q.timezone_from_name(Text("")) is None


def test_lone_surrogate_raises_the_encoding_error_unchanged():
    with pytest.raises(UnicodeEncodeError) as raised:
        q.to_snake_case("a\ud800b")
    assert str(raised.value).startswith("'utf-8' codec can't encode character '\\ud800'")
    with pytest.raises(UnicodeEncodeError):
        q.build_namespaced_name(None, "\udfff")


class _Seconds:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class _Index:
    def __index__(self):
        return 120


class _FailingFloat:
    def __init__(self, error):
        self.error = error

    def __float__(self):
        raise self.error


@pytest.mark.parametrize(
    "value,expected",
    [(90, "1m30s"), (90.0, "1m30s"), (True, "1s"), (_Seconds(3661.5), "1h1m1s500ms"), (_Index(), "2m")],
)
def test_numbers_go_through_the_float_protocol(value, expected):
    assert q.seconds_to_duration_string(value) == expected


def test_float_conversion_errors_other_than_type_error_pass_unchanged():
    with pytest.raises(ValueError) as raised:
        q.seconds_to_duration_string(_FailingFloat(ValueError("no number here")))
    assert str(raised.value) == "no number here"


def test_type_error_subclasses_pass_unchanged():
    class Special(TypeError):
        pass

    with pytest.raises(Special) as raised:
        q.seconds_to_duration_string(_FailingFloat(Special("special")))
    assert str(raised.value) == "special"


def test_rewrapped_type_error_keeps_the_cause():
    cause = KeyError("inner cause")
    error = TypeError("not today")
    error.__cause__ = cause
    with pytest.raises(TypeError) as raised:
        q.seconds_to_duration_string(_FailingFloat(error))
    assert str(raised.value) == "argument 'total_seconds': not today"
    assert raised.value is not error
    assert raised.value.__cause__ is cause


# Shapes that no module function has, through a test-only function "_args_for_tests(a, b, c, d=None)".
INTAKE_ERRORS = [
    (lambda f: f(), "_args_for_tests() missing 3 required positional arguments: 'a', 'b', and 'c'"),
    (lambda f: f(1), "_args_for_tests() missing 2 required positional arguments: 'b' and 'c'"),
    (lambda f: f(1, c=3), "_args_for_tests() missing 1 required positional argument: 'b'"),
    (
        lambda f: f(1, 2, 3, 4, 5),
        "_args_for_tests() takes from 3 to 4 positional arguments but 5 were given",
    ),
    (lambda f: f(1, 2, 3, a=1), "_args_for_tests() got multiple values for argument 'a'"),
    (lambda f: f(1, 2, 3, e=1), "_args_for_tests() got an unexpected keyword argument 'e'"),
]


@pytest.mark.parametrize("call,message", INTAKE_ERRORS)
def test_intake_errors_of_larger_signatures(hooks, call, message):
    with pytest.raises(TypeError) as raised:
        call(hooks._args_for_tests)
    assert str(raised.value) == message


def test_intake_matches_positions_and_keywords(hooks):
    f = hooks._args_for_tests
    assert f(1, 2, 3) == (1, 2, 3, None)
    assert f(1, 2, 3, 4) == (1, 2, 3, 4)
    assert f(d=4, c=3, b=2, a=1) == (1, 2, 3, 4)
    assert f(1, c=3, b=2) == (1, 2, 3, None)
    assert f.__text_signature__ == "(a, b, c, d=None)"


def test_one_extra_argument_was_given(hooks):
    with pytest.raises(TypeError) as raised:
        hooks._no_args_for_tests(1)
    assert str(raised.value) == "_no_args_for_tests() takes 0 positional arguments but 1 was given"
    assert hooks._no_args_for_tests() is None
    assert hooks._no_args_for_tests.__text_signature__ == "()"


CONSTRUCTOR_ERRORS = [
    (lambda f: f(), "Hooks.__new__() missing 3 required positional arguments: 'a', 'b', and 'c'"),
    (lambda f: f(1, 2, 3, 4, 5), "Hooks.__new__() takes from 3 to 4 positional arguments but 5 were given"),
    (lambda f: f(1, 2, 3, b=1), "Hooks.__new__() got multiple values for argument 'b'"),
    (lambda f: f(1, 2, 3, x=1), "Hooks.__new__() got an unexpected keyword argument 'x'"),
]


@pytest.mark.parametrize("call,message", CONSTRUCTOR_ERRORS)
def test_constructor_intake_errors(hooks, call, message):
    with pytest.raises(TypeError) as raised:
        call(hooks._new_for_tests)
    assert str(raised.value) == message


def test_constructor_intake_matches_tuple_and_dict(hooks):
    f = hooks._new_for_tests
    assert f(1, 2, 3) == (1, 2, 3, None)
    assert f(1, d=4, c=3, b=2) == (1, 2, 3, 4)
    assert f(*[1, 2], **{"c": 3}) == (1, 2, 3, None)
