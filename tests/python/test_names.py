"""Compact durations, snake_case and namespaced names."""

import pytest

import quarn_rs as q


@pytest.mark.parametrize(
    "text,ms",
    [
        ("1h", 3_600_000),
        (" 1h", 3_600_000),
        ("1h30m", 5_400_000),
        ("1h 30m", 5_400_000),
        ("30m1h", 5_400_000),
        ("1d2h3m4s5ms", 93_784_005),
        ("-1h30m", -5_400_000),
        ("250ms", 250),
        ("all", 3_153_600_000_000),
        ("infinity", 3_153_600_000_000),
        ("", 0),
    ],
)
def test_parse_duration_ms(text, ms):
    assert q.parse_duration_ms(text) == ms


@pytest.mark.parametrize("text,s", [("1h30m", 5400), ("1500ms", 1), ("-1500ms", -1), ("59s", 59)])
def test_parse_duration_s(text, s):
    assert q.parse_duration_s(text) == s


@pytest.mark.parametrize(
    "text,component",
    [("1h1h", "1h"), ("1.5h", "1.5h"), ("10", "10"), ("1h,", ","), ("+5m", "+5m"), ("   ", "   "), ("1H", "1H")],
)
@pytest.mark.parametrize("function", [q.parse_duration_ms, q.parse_duration_s])
def test_parse_duration_errors(function, text, component):
    with pytest.raises(ValueError) as raised:
        function(text)
    assert str(raised.value).startswith(
        f"The duration '{text}' contained a component '{component}' that could not be parsed. "
        "Please use a valid duration, like '10m', '1h', or '1h30m'. Read more at "
    )
    assert str(raised.value).endswith("/api-docs#Duration")


@pytest.mark.parametrize(
    "seconds,text",
    [
        (0, ""),
        (90, "1m30s"),
        (3661.5, "1h1m1s500ms"),
        (-0.25, "-250ms"),
        (86400, "1d"),
        (3_153_599_999, "36499d23h59m59s"),
        (3_153_600_000, "infinity"),
        (-4_000_000_000, "-46296d7h6m40s"),
        (float("nan"), ""),
    ],
)
def test_seconds_to_duration_string(seconds, text):
    assert q.seconds_to_duration_string(seconds) == text


@pytest.mark.parametrize(
    "name,snake",
    [
        ("CamelCase", "camel_case"),
        ("XMLParser", "xml_parser"),
        ("getXMLParserCode", "get_xml_parser_code"),
        ("already_snake", "already_snake"),
        ("Version2Name", "version2_name"),
        ("A", "a"),
        ("ÄpfelBaum", "äpfel_baum"),
        ("", ""),
    ],
)
def test_to_snake_case(name, snake):
    assert q.to_snake_case(name) == snake


@pytest.mark.parametrize(
    "args,kwargs,expected",
    [
        ((), {}, ""),
        ((None, "x"), {}, "x"),
        (("MyTeam::UserFeatures", "Email"), {}, "my_team::user_features::Email"),
        (("::A::::B:",), {}, "a::b:"),
        (("::",), {"name": "a::B"}, "a::B"),
        ((), {"name": ""}, ""),
        ((), {"namespace": None, "name": None}, ""),
    ],
)
def test_build_namespaced_name(args, kwargs, expected):
    assert q.build_namespaced_name(*args, **kwargs) == expected
