"""The module keeps interpreter objects once per process, so it loads only in the main
interpreter: a sub-interpreter's import fails with ImportError, before or after the main
interpreter's, and the main interpreter's functions and values stay sound."""

import subprocess
import sys

import pytest

# run_in_subinterp makes a sub-interpreter of the legacy kind, which shares the interpreter lock
# and ignores the module's declaration: the module has to refuse it itself.
SCRIPT = """\
import sys
import _testcapi

IMPORT = '''
import os
try:
    import quarn_rs
except ImportError as error:
    os.write(1, ("refused: " + str(error) + chr(10)).encode())
else:
    import datetime
    os.write(1, (str(quarn_rs.parse_iso_date("2024-02-29").year) + chr(10)).encode())
'''

def use_in_main():
    from datetime import datetime, timedelta, timezone
    import quarn_rs as q
    day = q.parse_iso_date("2024-02-29")
    assert (day.isoformat(), day.year) == ("2024-02-29", 2024), day
    moment = q.parse_datetime("2024-01-05T10:30:00-08:00")
    assert moment.utcoffset() == timedelta(hours=-8), moment
    assert moment == datetime(2024, 1, 5, 18, 30, tzinfo=timezone.utc), moment
    assert q.duration_isoformat(q.parse_iso_duration("PT1H30M")) == "PT1H30M"

if sys.argv[1] == "main first":
    use_in_main()
for _ in range(2):
    assert _testcapi.run_in_subinterp(IMPORT) == 0
use_in_main()
"""

REFUSED = "refused: module quarn_rs does not support loading in subinterpreters\n"


@pytest.mark.parametrize("order", ["main first", "sub first"])
def test_a_sub_interpreter_cannot_load_the_module(order):
    pytest.importorskip("_testcapi")
    done = subprocess.run([sys.executable, "-c", SCRIPT, order], capture_output=True, text=True,
                          timeout=60)
    assert (done.returncode, done.stdout, done.stderr) == (0, REFUSED * 2, "")
