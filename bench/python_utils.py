"""Per-call time from Python of quarn_rs's date, duration and naming functions, next to the
standard library and the common Python packages for the same formats, on the same inputs.

Run by `make bench` (bench/run.sh) with PYTHONPATH pointing at the release module. A peer that is
not installed is left out of the table.
"""

import datetime
import importlib
import re
import sys
import timeit

import quarn_rs


def optional(module_name):
    try:
        return importlib.import_module(module_name)
    except ImportError:
        return None


ciso8601 = optional("ciso8601")
isodate = optional("isodate")
aniso8601 = optional("aniso8601")
dateutil_parser = optional("dateutil.parser")
pytimeparse = optional("pytimeparse")

_SUB_1 = re.compile(r"(.)([A-Z][a-z]+)")
_SUB_2 = re.compile(r"__([A-Z])")
_SUB_3 = re.compile(r"([a-z0-9])([A-Z])")


def snake_case_with_re(name):
    """The same three rewrites with the standard library's re module."""
    name = _SUB_1.sub(r"\1_\2", name)
    name = _SUB_2.sub(r"_\1", name)
    return _SUB_3.sub(r"\1_\2", name).lower()


def peers(*candidates):
    return [(label, fn) for label, module, fn in candidates if module is not None]


DATE = "2024-03-15"
TIME = "12:30:45.500000+05:30"
DATETIME = "2024-03-15T12:30:45.500000+05:30"
DURATION = "P1DT2H30M15.5S"
COMPACT = "1d2h30m15s"
CLASS_NAME = "getXMLParserCode"

GROUPS = [
    (
        f"date {DATE!r}",
        DATE,
        [("quarn_rs.parse_iso_date", quarn_rs.parse_iso_date)]
        + peers(
            ("datetime.date.fromisoformat", datetime, datetime.date.fromisoformat),
            ("ciso8601.parse_datetime", ciso8601, ciso8601 and ciso8601.parse_datetime),
            ("isodate.parse_date", isodate, isodate and isodate.parse_date),
            ("aniso8601.parse_date", aniso8601, aniso8601 and aniso8601.parse_date),
            ("dateutil.parser.isoparse", dateutil_parser, dateutil_parser and dateutil_parser.isoparse),
        ),
    ),
    (
        f"time {TIME!r}",
        TIME,
        [("quarn_rs.parse_iso_time", quarn_rs.parse_iso_time)]
        + peers(
            ("datetime.time.fromisoformat", datetime, datetime.time.fromisoformat),
            ("isodate.parse_time", isodate, isodate and isodate.parse_time),
            ("aniso8601.parse_time", aniso8601, aniso8601 and aniso8601.parse_time),
            (
                "dateutil isoparser.parse_isotime",
                dateutil_parser,
                dateutil_parser and dateutil_parser.isoparser().parse_isotime,
            ),
        ),
    ),
    (
        f"date-time {DATETIME!r}",
        DATETIME,
        [
            ("quarn_rs.parse_datetime", quarn_rs.parse_datetime),
            # parse_datetime asks for today's date on every call; this is that share of it.
            ("(datetime.date.today() alone)", lambda s: datetime.date.today()),
        ]
        + peers(
            ("datetime.datetime.fromisoformat", datetime, datetime.datetime.fromisoformat),
            ("ciso8601.parse_datetime", ciso8601, ciso8601 and ciso8601.parse_datetime),
            ("isodate.parse_datetime", isodate, isodate and isodate.parse_datetime),
            ("aniso8601.parse_datetime", aniso8601, aniso8601 and aniso8601.parse_datetime),
            ("dateutil.parser.isoparse", dateutil_parser, dateutil_parser and dateutil_parser.isoparse),
            ("dateutil.parser.parse", dateutil_parser, dateutil_parser and dateutil_parser.parse),
        ),
    ),
    (
        f"ISO duration {DURATION!r}",
        DURATION,
        [("quarn_rs.parse_iso_duration", quarn_rs.parse_iso_duration)]
        + peers(
            ("isodate.parse_duration", isodate, isodate and isodate.parse_duration),
            ("aniso8601.parse_duration", aniso8601, aniso8601 and aniso8601.parse_duration),
        ),
    ),
    (
        f"compact duration {COMPACT!r}",
        COMPACT,
        [("quarn_rs.parse_duration_ms", quarn_rs.parse_duration_ms)]
        + peers(("pytimeparse.parse", pytimeparse, pytimeparse and pytimeparse.parse)),
    ),
    (
        f"snake case {CLASS_NAME!r}",
        CLASS_NAME,
        [
            ("quarn_rs.to_snake_case", quarn_rs.to_snake_case),
            ("re.sub x3 + str.lower", snake_case_with_re),
        ],
    ),
]


def per_call_ns(fn, argument, target_seconds=0.2, repeats=5):
    fn(argument)  # warm caches and lazy imports
    timer = timeit.Timer(lambda: fn(argument))
    number, _ = timer.autorange()
    number = max(number, int(number * target_seconds / 0.2))
    return min(timer.repeat(repeat=repeats, number=number)) / number * 1e9


def main():
    rows = []
    for title, argument, candidates in GROUPS:
        ours = None
        for label, fn in candidates:
            ns = per_call_ns(fn, argument)
            if ours is None:
                ours = ns
            rows.append((title, label, ns, ns / ours))
    print(f"Python {sys.version.split()[0]}; per call, best of 5 runs; ratio = peer / quarn_rs")
    width = max(len(label) for _, label, _, _ in rows)
    current = None
    for title, label, ns, ratio in rows:
        if title != current:
            print(f"\n{title}")
            current = title
        print(f"  {label:<{width}}  {ns:9.1f} ns  {ratio:7.2f}x")


if __name__ == "__main__":
    main()
