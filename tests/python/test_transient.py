"""Failures of the moment (no memory, no file descriptor left) answer the call that met them and
are not remembered: once the process has room again, the same file reads and parses. And an
index whose last reference is dropped stops warming up."""

import subprocess
import sys

import pytest

from conftest import SANITIZER, write_project


def module_text(functions):
    body = "from m import a as b\n"
    body += "".join(f"def f{k}(a, b: int) -> int:\n    return a + b\n" for k in range(functions))
    return body + "def last(x):\n    return x\n"


def run(script, *args):
    done = subprocess.run([sys.executable, "-c", script, *args], capture_output=True, text=True,
                          timeout=300)
    assert (done.returncode, done.stderr) == (0, ""), done.stderr
    return done.stdout


# Helpers shared by the scripts: the process's threads, and waiting until only the main one is
# left (the warm-up workers have ended).
COMMON = """\
import os, resource, sys, threading, time
import quarn_rs as q

# Read through a descriptor opened up front, which also works with none left.
STAT = os.open("/proc/self/stat", os.O_RDONLY)

def threads():
    # The field after the command's parenthesised name are the state, then 17 more to the count.
    return int(os.pread(STAT, 4096, 0).rsplit(b")", 1)[1].split()[17])

IDLE_THREADS = threads()

def count_idle_threads():
    # A sanitizer's runtime starts a thread of its own beside the process's first new thread: one
    # thread started and ended first makes it one of the idle process's threads.
    global IDLE_THREADS
    first = threading.Thread(target=lambda: None)
    first.start()
    first.join()
    time.sleep(0.05)
    IDLE_THREADS = threads()

def wait_for_workers():
    while threads() > IDLE_THREADS:
        time.sleep(0.002)

def check(cache, index, path):
    got, _, imports = cache.get_parsed_file(path)
    assert (got, imports) == (path, {"m": {"a": ["b"]}}), (got, imports)
    assert index.function_ast_in_file(path, "last").args_in_order == ["x"]
    assert index.function_ast("pkg.big", "last").resolver_name == "last"
"""

# Every file descriptor the limit allows is taken while the file is asked for, through the cache,
# the index lookups and the warm-up; then they are given back.
OUT_OF_DESCRIPTORS = COMMON + """
path, root = sys.argv[1:3]
count_idle_threads()
cache = q.AstFileParserCache([path], root)
index = q.AstProjectIndex([path], root)
warmed = q.AstProjectIndex([path], root)
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (len(os.listdir("/proc/self/fd")) + 8, hard))
held = []
try:
    while True:
        held.append(os.open(os.devnull, os.O_RDONLY))
except OSError:
    pass
try:
    for _ in range(2):
        try:
            cache.get_parsed_file(path)
        except ValueError as error:
            assert str(error) == f"Failed to read {path}: Too many open files (os error 24)", error
        else:
            sys.exit("read with no descriptor left")
        assert index.function_ast_in_file(path, "last") is None
        assert index.function_ast("pkg.big", "last") is None
    warmed.nonblocking_start_index()
    wait_for_workers()
finally:
    for fd in held:
        os.close(fd)
    resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))
check(cache, index, path)
check(q.AstFileParserCache([path], root), warmed, path)
"""

# The address space is capped a little above its current size, so that parsing the file fails
# for want of memory; then the cap is lifted.
OUT_OF_MEMORY = COMMON + """
path, root = sys.argv[1:3]
cache = q.AstFileParserCache([path], root)
index = q.AstProjectIndex([path], root)
warmed = q.AstProjectIndex([path], root)
# Started before the cap: a thread's stack is address space too.
wait_for_workers()
with open("/proc/self/status") as status:
    size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (size + (24 << 20), hard))
try:
    for lookup in (lambda: cache.get_parsed_file(path),
                   lambda: index.function_ast_in_file(path, "last"),
                   lambda: index.function_ast("pkg.big", "last")):
        for _ in range(2):
            try:
                lookup()
            except MemoryError:
                pass
            else:
                sys.exit("parsed with no memory left")
finally:
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
check(cache, index, path)
"""


@pytest.fixture(scope="module")
def big_file(tmp_path_factory):
    root = tmp_path_factory.mktemp("transient")
    [path] = write_project(root, {"pkg/big.py": module_text(30000)})
    return path, str(root)


# The address sanitizer build checks vptrs too, and with no descriptor left that check reports a
# sound object as one with an invalid vptr: it reads the object through a pipe, and pipe() fails.
# A suppression of that check has no effect with no descriptor left either, and pipe() needs two
# descriptors where the read needs one, so none can be left for it.
@pytest.mark.skipif(SANITIZER == "address",
                    reason="with no descriptor left the vptr check's own pipe fails and it reports "
                           "a sound object")
def test_running_out_of_file_descriptors_is_not_remembered(big_file):
    run(OUT_OF_DESCRIPTORS, *big_file)


@pytest.mark.skipif(bool(SANITIZER), reason="a sanitizer reserves more address space than any cap")
def test_running_out_of_memory_is_not_remembered(big_file):
    run(OUT_OF_MEMORY, *big_file)


# The time until the warm-up threads have ended, with the index kept and with it dropped at once.
DROPPED = COMMON + """
root, paths = sys.argv[1], sys.argv[2:]
count_idle_threads()

def warm_up(drop):
    index = q.AstProjectIndex(paths, root)
    started = time.monotonic()
    index.nonblocking_start_index()
    assert threads() > IDLE_THREADS
    if drop:
        del index
    wait_for_workers()
    return time.monotonic() - started

kept = warm_up(False)
dropped = warm_up(True)
print(f"{kept:.4f} {dropped:.4f}")
"""


def test_dropping_the_index_stops_its_warm_up(tmp_path):
    # Each worker finishes the file it is inside: the warm-up kept has to be many files longer.
    files = 400 if SANITIZER else 2000
    paths = write_project(tmp_path, {f"pkg/m{n}.py": module_text(200) for n in range(files)})
    kept, dropped = map(float, run(DROPPED, str(tmp_path), *paths).split())
    assert dropped < kept / 4, (kept, dropped)
