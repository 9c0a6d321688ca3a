"""Daemon threads inside calls that release the interpreter lock when the interpreter exits: the
interpreter ends them as they take the lock back, and the process still exits cleanly."""

import subprocess
import sys

import pytest

from conftest import SANITIZER

# Fewer under a sanitizer, whose processes start and run many times slower.
RUNS = 8 if SANITIZER else 20

# Each expression is one call that releases the interpreter lock; `fs`, `cache` and `path` are
# set up by the script.
CALLS = [
    "fs.read_to_string(path)",
    "fs.all_files()",
    "cache.all_files()",
    "cache.get_parsed_file(path)",
    # A fresh cache reads and parses the file inside the call.
    "q.AstFileParserCache([path], root).get_parsed_file(path)",
    "q.AstProjectIndex([path] * 50, root)",
    "q.parse_iso_date('2024-02-29')",
    "q.parse_datetime('2024-02-29T12:30:00+01:00')",
    "q.parse_iso_duration('P1DT2H')",
    "q.parse_duration_ms('1h30m')",
    "q.to_snake_case('HTTPResponseCode')",
]

SCRIPT = """\
import sys, threading, time
import quarn_rs as q
root, path = sys.argv[1], sys.argv[2]
fs = q.StdAstFileSystem([path])
cache = q.AstFileParserCache([path], root)
started = threading.Barrier(5)

def loop():
    started.wait()
    while True:
        {call}

for _ in range(4):
    threading.Thread(target=loop, daemon=True).start()
started.wait()
time.sleep(0.02)
"""


@pytest.mark.parametrize("call", CALLS)
def test_daemon_threads_inside_a_call_at_exit(tmp_path, call):
    path = tmp_path / "m.py"
    path.write_text("def f(a: int) -> int:\n    return a\n" * 50, encoding="utf-8")
    script = SCRIPT.format(call=call)
    outcomes = []
    # A few at a time: the runs share the machine with the rest of the suite.
    for _ in range(0, RUNS, 4):
        batch = [
            subprocess.Popen([sys.executable, "-c", script, str(tmp_path), str(path)],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            for _ in range(4)
        ]
        for run in batch:
            try:
                _, err = run.communicate(timeout=60)
            except subprocess.TimeoutExpired:
                run.kill()
                _, err = run.communicate()
            outcomes.append((run.returncode, err))
    assert outcomes == [(0, "")] * RUNS
