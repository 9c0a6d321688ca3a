"""Many Python threads calling the functions at once, each checking its own results."""

import threading
from datetime import date, datetime, time, timedelta, timezone

import quarn_rs as q

CASES = [
    (q.parse_iso_date, "2024-02-29", date(2024, 2, 29)),
    (q.parse_iso_time, "12:30+05:30", time(12, 30, tzinfo=timezone(timedelta(seconds=19800)))),
    (q.parse_datetime, "Jan 5 2024 9:30 pm", datetime(2024, 1, 5, 21, 30)),
    (q.parse_datetime, "2024-01-05T10:30:00-08:00", datetime(2024, 1, 5, 18, 30, tzinfo=timezone.utc)),
    (q.parse_iso_duration, "PT1H30M", timedelta(minutes=90)),
    (q.timezone_from_name, "", None),
    (q.duration_isoformat, timedelta(seconds=90), "PT1M30S"),
    (q.parse_duration_ms, "1d2h3m4s5ms", 93_784_005),
    (q.parse_duration_s, "1h30m", 5400),
    (q.seconds_to_duration_string, 3661.5, "1h1m1s500ms"),
    (q.to_snake_case, "getXMLParserCode", "get_xml_parser_code"),
    (q.build_namespaced_name, "MyTeam::UserFeatures", "my_team::user_features"),
]


def test_concurrent_calls_give_correct_results():
    threads, rounds = 16, 300
    start = threading.Barrier(threads)
    failures = []

    def worker(offset):
        start.wait()
        for i in range(rounds):
            function, argument, expected = CASES[(offset + i) % len(CASES)]
            try:
                result = function(argument)
            except BaseException as error:  # report, never lose, a failure
                failures.append((function.__name__, argument, repr(error)))
                continue
            if result != expected:
                failures.append((function.__name__, argument, result))
            # Errors raised concurrently must keep their own messages too.
            try:
                q.parse_iso_date(f"bad{offset}")
                failures.append(("parse_iso_date", offset, "no error"))
            except BaseException as error:
                if str(error) != f'Unrecognised ISO 8601 date format: "bad{offset}"':
                    failures.append(("parse_iso_date", offset, repr(error)))

    pool = [threading.Thread(target=worker, args=(n,)) for n in range(threads)]
    for thread in pool:
        thread.start()
    for thread in pool:
        thread.join()
    assert failures == []


# Run in a fresh interpreter: zoneinfo must not be imported yet when the threads start, so that
# some of them meet it half-initialised on another thread.
_ZONE_RACE = r"""
import sys, threading
import quarn_rs as q
assert "zoneinfo" not in sys.modules
threads = 8
start = threading.Barrier(threads)
results = []
def worker():
    start.wait()
    try:
        results.append(repr(q.timezone_from_name("UTC")))
    except BaseException as error:
        results.append("error: " + repr(error))
workers = [threading.Thread(target=worker) for _ in range(threads)]
for w in workers: w.start()
for w in workers: w.join()
print("\n".join(results))
"""


def test_timezone_from_name_waits_for_an_import_in_progress():
    import subprocess
    import sys

    for _ in range(10):
        done = subprocess.run([sys.executable, "-c", _ZONE_RACE], capture_output=True, text=True,
                              timeout=60)
        assert done.returncode == 0, done.stderr
        assert done.stdout.splitlines() == ["zoneinfo.ZoneInfo(key='UTC')"] * 8
