"""ISO 8601 dates, times, date-times, durations and zones, as Python datetime values."""

import datetime as dt
import random
from datetime import date, datetime, time, timedelta, timezone

import pytest

import quarn_rs as q


def offset_zone(name, **delta):
    return timezone(timedelta(**delta), name)


@pytest.mark.parametrize(
    "text,expected",
    [
        ("20", date(2001, 1, 1)),
        ("2024", date(2024, 1, 1)),
        ("202403", date(2024, 3, 1)),
        ("2024-03", date(2024, 3, 1)),
        ("20240229", date(2024, 2, 29)),
        ("2024-02-29", date(2024, 2, 29)),
        ("2024366", date(2024, 12, 31)),
        ("2024-366", date(2024, 12, 31)),
        ("2023-365", date(2023, 12, 31)),
        ("2024W01", date(2024, 1, 1)),
        ("2020-W53-7", date(2021, 1, 3)),
        ("2021-W53-1", date(2022, 1, 3)),
    ],
)
def test_parse_iso_date(text, expected):
    result = q.parse_iso_date(text)
    assert type(result) is date
    assert result == expected


@pytest.mark.parametrize(
    "text,message",
    [
        ("2024-1-01", 'Unrecognised ISO 8601 date format: "2024-1-01"'),
        ("2023-366", 'Unrecognised ISO 8601 date format: "2023-366"'),
        ("2024-W54", 'Unrecognised ISO 8601 date format: "2024-W54"'),
        ("2024-03-01 ", 'Unrecognised ISO 8601 date format: "2024-03-01 "'),
        ('20"\\\t', 'Unrecognised ISO 8601 date format: "20\\"\\\\\\t"'),
        ("2024-02-30", "day is out of range for month"),
        ("2024-13-01", "month must be in 1..12"),
        ("0000", "year 0 is out of range"),
    ],
)
def test_parse_iso_date_errors(text, message):
    with pytest.raises(ValueError) as raised:
        q.parse_iso_date(text)
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "text,expected",
    [
        ("12:30", time(12, 30)),
        ("1230", time(12, 30)),
        ("12:30.5", time(12, 30, 30)),
        ("12.5", time(12, 30)),
        ("T12:30:45.5+05:30", time(12, 30, 45, 500000, offset_zone("+05:30", seconds=19800))),
        ("123045,25Z", time(12, 30, 45, 250000, timezone.utc)),
        ("12:00:00.9999999", time(12, 0, 0, 999999)),
        ("12.00000000125", time(12, 0, 0, 4)),
        ("12:00-0800", time(12, 0, tzinfo=offset_zone("-0800", hours=-8))),
    ],
)
def test_parse_iso_time(text, expected):
    result = q.parse_iso_time(text)
    assert type(result) is time
    assert result == expected
    assert result.tzinfo == expected.tzinfo
    if expected.tzinfo is not None:
        assert result.tzname() == expected.tzname()


def test_parse_iso_time_zones():
    named = q.parse_iso_time("12:30+05:30").tzinfo
    assert named.utcoffset(None) == timedelta(seconds=19800)
    assert named.tzname(None) == "+05:30"
    for text, name in [("12:30+00:00", "+00:00"), ("12:00:00-00:00", "-00:00")]:
        zero = q.parse_iso_time(text).tzinfo
        assert zero is not timezone.utc
        assert zero.utcoffset(None) == timedelta(0)
        assert zero.tzname(None) == name
    assert q.parse_iso_time("12:30Z").tzinfo is timezone.utc
    assert q.parse_iso_time("12:30").tzinfo is None


@pytest.mark.parametrize(
    "text,message",
    [
        ("12:00:00.", 'Unrecognised ISO 8601 time format: "12:00:00."'),
        ("12:00:00+24:00", 'Unrecognised ISO 8601 time format: "12:00:00+24:00"'),
        ("t12:00", 'Unrecognised ISO 8601 time format: "t12:00"'),
        ("12:00é", 'Unrecognised ISO 8601 time format: "12:00é"'),
        ("24:00", "hour must be in 0..23"),
        ("12:75", "minute must be in 0..59"),
    ],
)
def test_parse_iso_time_errors(text, message):
    with pytest.raises(ValueError) as raised:
        q.parse_iso_time(text)
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "text,expected",
    [
        ("2024-01-05T10:30:00Z", datetime(2024, 1, 5, 10, 30, tzinfo=timezone.utc)),
        ("2024-01-05 10:30", datetime(2024, 1, 5, 10, 30)),
        ("  2024-01-05  ", datetime(2024, 1, 5)),
        ("20240105", datetime(2024, 1, 5)),
        ("Jan 5 2024", datetime(2024, 1, 5)),
        ("jan 5, 2024", datetime(2024, 1, 5)),
        ("5 Jan 2024", datetime(2024, 1, 5)),
        ("Sept 9 2024", datetime(2024, 9, 9)),
        ("Oct 5 2024", datetime(2024, 10, 5)),
        ("Jan 5 2024 9:30 pm", datetime(2024, 1, 5, 21, 30)),
        ("Jan 5 2024 12:15 am", datetime(2024, 1, 5, 0, 15)),
        ("Jan 5 2024 12:15 PM", datetime(2024, 1, 5, 12, 15)),
        (
            "2024-01-01T10:00:00-08:00",
            datetime(2024, 1, 1, 10, tzinfo=timezone(timedelta(hours=-8))),
        ),
        (
            "Jan 5 2024 10:30 +05:00",
            datetime(2024, 1, 5, 10, 30, tzinfo=timezone(timedelta(hours=5))),
        ),
    ],
)
def test_parse_datetime(text, expected):
    result = q.parse_datetime(text)
    assert type(result) is datetime
    assert result == expected
    assert result.tzinfo == expected.tzinfo
    if expected.tzinfo is not None:
        # The written designator is dropped: the zone has the default name of its offset.
        assert result.tzname() == expected.tzname()


@pytest.mark.parametrize("text", ["2024-01-01T10:00:00+00:00", "2024-01-01T10:00:00-00:00", "2024-01-01T10:00Z"])
def test_parse_datetime_zero_offsets_are_utc(text):
    assert q.parse_datetime(text).tzinfo is timezone.utc


def test_parse_datetime_time_alone_is_today():
    before = date.today()
    result = q.parse_datetime("10:30")
    after = date.today()
    assert result.date() in (before, after)
    assert (result.hour, result.minute, result.tzinfo) == (10, 30, None)


class _FixedDate(date):
    @classmethod
    def today(cls):
        return cls(2000, 1, 2)


def test_parse_datetime_asks_datetime_date_today_on_every_call(monkeypatch):
    monkeypatch.setattr(dt, "date", _FixedDate)
    assert q.parse_datetime("10:30") == datetime(2000, 1, 2, 10, 30)
    # Also when the text has a date of its own.
    calls = []

    class Counting(date):
        @classmethod
        def today(cls):
            calls.append(1)
            return cls(2000, 1, 2)

    monkeypatch.setattr(dt, "date", Counting)
    assert q.parse_datetime("2024-01-05") == datetime(2024, 1, 5)
    assert len(calls) == 1


def test_parse_datetime_today_failures(monkeypatch):
    class NotADate:
        @classmethod
        def today(cls):
            return "today"

    monkeypatch.setattr(dt, "date", NotADate)
    with pytest.raises(TypeError) as raised:
        q.parse_datetime("2024-01-05")
    assert str(raised.value) == "'str' object is not an instance of 'date'"

    class Broken:
        @classmethod
        def today(cls):
            raise LookupError("no clock")

    monkeypatch.setattr(dt, "date", Broken)
    with pytest.raises(LookupError, match="no clock"):
        q.parse_datetime("2024-01-05")


@pytest.mark.parametrize(
    "text,message",
    [
        ("2024-01-05T", "Unknown string format: 2024-01-05T"),
        ("2024-01-05Tnoon", "Unknown string format: 2024-01-05Tnoon"),
        ("OCT 5 2024", "Unknown string format: OCT 5 2024"),
        ("9:30", "Unknown string format: 9:30"),
        ("Jan 5 2024 13:15 pm", "Unknown string format: Jan 5 2024 13:15 pm"),
        ("Jan 5 2024 10:30 pm extra", "Unknown string format: Jan 5 2024 10:30 pm extra"),
        ("", "String does not contain a date: "),
        ("   ", "String does not contain a date:    "),
        ("é", "Unknown string format: é"),
        ("2024-02-30", "day is out of range for month"),
        ("Jan 5 2024 24:00", "hour must be in 0..23"),
    ],
)
def test_parse_datetime_errors(text, message):
    with pytest.raises(ValueError) as raised:
        q.parse_datetime(text)
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "text,expected",
    [
        ("P1D", timedelta(days=1)),
        ("PT1H30M", timedelta(minutes=90)),
        ("P1W", timedelta(weeks=1)),
        ("PT0.5S", timedelta(microseconds=500000)),
        ("PT0,5S", timedelta(microseconds=500000)),
        ("-PT1S", timedelta(days=-1, seconds=86399)),
        ("+P1D", timedelta(days=1)),
        ("P0Y1D", timedelta(days=1)),
        ("PT", timedelta(0)),
        ("P1DT", timedelta(days=1)),
        ("PT0.0000015S", timedelta(microseconds=2)),
        ("P99999D", timedelta(days=99999)),
    ],
)
def test_parse_iso_duration(text, expected):
    result = q.parse_iso_duration(text)
    assert type(result) is timedelta
    assert result == expected


@pytest.mark.parametrize(
    "text,error,message",
    [
        ("P1Y", TypeError, "ISO 8601 duration 'P1Y' contains year/month components that cannot be represented as a fixed timedelta"),
        ("P0.5M", TypeError, "ISO 8601 duration 'P0.5M' contains year/month components that cannot be represented as a fixed timedelta"),
        ("P1d", ValueError, 'Unable to parse duration string "P1d"'),
        ("P1D ", ValueError, 'Unable to parse duration string "P1D "'),
        ("P" + "9" * 400 + "D", ValueError, "Duration value is out of range"),
        ("P2147483648D", OverflowError, "Duration value is out of range"),
        ("-P2147483649D", OverflowError, "Duration value is out of range"),
        ("P1000000000D", OverflowError, "days=1000000000; must have magnitude <= 999999999"),
    ],
)
def test_parse_iso_duration_errors(text, error, message):
    with pytest.raises(error) as raised:
        q.parse_iso_duration(text)
    assert type(raised.value) is error
    assert str(raised.value) == message


class _Delta(timedelta):
    pass


@pytest.mark.parametrize(
    "value,expected",
    [
        (timedelta(seconds=90), "PT1M30S"),
        (timedelta(days=1, seconds=3600), "P1DT1H"),
        (timedelta(microseconds=500000), "PT0.5S"),
        (timedelta(seconds=-1), "-PT1S"),
        (timedelta(0), "P0D"),
        (timedelta(days=1, seconds=1), "P1DT1S"),
        (timedelta(days=2, seconds=45296, microseconds=789000), "P2DT12H34M56.789S"),
        (timedelta(microseconds=-1), "-PT0.000001S"),
        (_Delta(days=1), "P1D"),
        (timedelta.max, "P999999999DT23H59M59.999999S"),
        (timedelta.min, "-P999999999D"),
    ],
)
def test_duration_isoformat(value, expected):
    assert q.duration_isoformat(value) == expected


@pytest.mark.parametrize(
    "text,expected",
    [
        ("P999999999D", timedelta(days=999999999)),
        ("-P999999999D", timedelta.min),
        ("P104250DT0.000001S", timedelta(days=104250, microseconds=1)),
        ("P999999999DT23H59M59.999999S", timedelta.max),
        ("P142857142W5DT0.0000015S", timedelta(days=999999999, microseconds=2)),
        ("PT0.00000250000000000000000001S", timedelta(microseconds=3)),
    ],
)
def test_parse_iso_duration_is_exact_far_beyond_2_53_microseconds(text, expected):
    assert q.parse_iso_duration(text) == expected


def test_duration_isoformat_round_trips_over_the_whole_timedelta_range():
    rng = random.Random(22)
    spans = [10**6, 86400 * 10**6, 300 * 365 * 86400 * 10**6, 999999999 * 86400 * 10**6]
    for _ in range(5000):
        value = timedelta(microseconds=rng.randint(-1, 1) * rng.randrange(rng.choice(spans)))
        text = q.duration_isoformat(value)
        assert q.parse_iso_duration(text) == value, text


@pytest.mark.parametrize("value", [5, None, "PT1S", datetime(2024, 1, 1)])
def test_duration_isoformat_refuses_other_objects(value):
    with pytest.raises(TypeError) as raised:
        q.duration_isoformat(tduration=value)
    assert str(raised.value) == "duration_isoformat expects a datetime.timedelta"


def _has_zone(name):
    import zoneinfo

    try:
        zoneinfo.ZoneInfo(name)
    except Exception:
        return False
    return True


def test_timezone_from_name_unknown_names():
    assert q.timezone_from_name("") is None
    assert q.timezone_from_name("Not/AZone") is None
    assert q.timezone_from_name("../etc/passwd") is None


@pytest.mark.skipif(not _has_zone("UTC"), reason="no time-zone data for UTC")
def test_timezone_from_name_returns_the_zoneinfo_object():
    import zoneinfo

    assert q.timezone_from_name("UTC") is zoneinfo.ZoneInfo("UTC")


def test_timezone_from_name_lookup_failures(monkeypatch):
    import zoneinfo

    def not_a_zone(name):
        return 42

    monkeypatch.setattr(zoneinfo, "ZoneInfo", not_a_zone)
    with pytest.raises(TypeError) as raised:
        q.timezone_from_name("UTC")
    assert str(raised.value) == "'int' object is not an instance of 'tzinfo'"

    def failing(name):
        raise RuntimeError("database gone")

    monkeypatch.setattr(zoneinfo, "ZoneInfo", failing)
    assert q.timezone_from_name("UTC") is None

    def interrupted(name):
        raise KeyboardInterrupt

    # An interrupt is not a failed lookup: it must reach the caller.
    monkeypatch.setattr(zoneinfo, "ZoneInfo", interrupted)
    with pytest.raises(KeyboardInterrupt):
        q.timezone_from_name("UTC")

    seen = []
    monkeypatch.setattr(zoneinfo, "ZoneInfo", lambda name: seen.append(type(name)) or timezone.utc)

    class Text(str):
        pass

    assert q.timezone_from_name(Text("UTC")) is timezone.utc
    assert seen == [str]


def test_parse_iso_time_calls_datetime_timezone(monkeypatch):
    made = []

    def recording(offset, name):
        made.append((offset, name))
        return timezone(offset, name)

    monkeypatch.setattr(dt, "timezone", recording)
    assert q.parse_iso_time("12:30-01:30").tzname() == "-01:30"
    assert made == [(timedelta(hours=-1, minutes=-30), "-01:30")]
    # UTC is the C API's zone object, not a call.
    assert q.parse_iso_time("12:30Z").tzinfo is timezone.utc
    assert len(made) == 1

    monkeypatch.setattr(dt, "timezone", lambda offset, name: name)
    with pytest.raises(TypeError) as raised:
        q.parse_iso_time("12:30+01:00")
    assert str(raised.value) == "'str' object is not an instance of 'tzinfo'"


def test_the_datetime_module_is_imported_when_missing(monkeypatch):
    import sys

    monkeypatch.delitem(sys.modules, "datetime")
    assert q.parse_iso_time("12:30+01:00").tzname() == "+01:00"
    assert q.parse_datetime("2024-01-05") == datetime(2024, 1, 5)


def test_timezone_from_name_import_failures_are_raised(monkeypatch):
    import sys

    monkeypatch.setitem(sys.modules, "zoneinfo", None)
    with pytest.raises(ImportError):
        q.timezone_from_name("UTC")
    # An empty name is answered before anything is imported.
    assert q.timezone_from_name("") is None


def test_datetime_import_failures_are_raised(monkeypatch):
    import sys

    monkeypatch.setitem(sys.modules, "datetime", None)
    with pytest.raises(ImportError):
        q.parse_datetime("2024-01-05")
    with pytest.raises(ImportError):
        q.parse_iso_time("12:00+01:00")
    # No import is needed for a time without a named zone.
    assert q.parse_iso_time("12:00Z") == time(12, 0, tzinfo=timezone.utc)
