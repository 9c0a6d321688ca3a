"""Eight Python threads sharing service objects and records, with the index's warm-up threads
running underneath; each thread checks its own results."""

import threading

import pytest

import quarn_rs as q
from conftest import write_project

THREADS = 8


def _run_threads(work, rounds):
    start = threading.Barrier(THREADS)
    failures = []

    def worker(offset):
        start.wait()
        for i in range(rounds):
            try:
                work(offset + i)
            except BaseException as error:  # report, never lose, a failure
                failures.append(repr(error))

    threads = [threading.Thread(target=worker, args=(n,)) for n in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


def test_file_system_and_cache_shared_by_threads(tmp_path):
    paths = write_project(tmp_path, {f"m{i}.py": f"x = {i}\n" for i in range(16)})
    fs = q.StdAstFileSystem(paths)
    caches = [q.AstFileParserCache([], str(tmp_path), filesystem=fs) for _ in range(2)]
    expected = sorted(paths)

    def work(i):
        path = paths[i % len(paths)]
        assert fs.read_to_string(path) == f"x = {i % len(paths)}\n"
        assert fs.all_files() == expected
        assert caches[i % 2].all_files() == expected
        try:
            fs.read_to_string(path + ".missing")
        except OSError as error:
            assert str(error).endswith("(os error 2)")
        else:
            raise AssertionError("read a missing file")

    _run_threads(work, 300)


def test_records_read_from_many_threads(hooks):
    resolver, _, feature_class = hooks._records_for_tests()

    def work(i):
        assert resolver.args_in_order == ["a", "b"]
        assert resolver.kwarg_dict_values == {"inputs": {"a": (0, 23, 0, 26)}}
        assert resolver.args["b"].annotation == (1, 12, 1, 15)
        assert feature_class.fields["items"].tags == ["x", "y"]
        assert [f.field_name for f in feature_class.annotations] == ["items", "total"]

    _run_threads(work, 500)


MODULE = """\
from quarn import online
from quarn.features import features


@features(name="ns{n}")
class Feature{n}:
    # :owner: team{n}
    value: int = feature(k={n})


@online
def resolve{n}(value: Feature{n}.value) -> int:
    return value
"""


def test_lookups_while_warm_up_threads_run(tmp_path):
    count = 40
    paths = write_project(tmp_path, {f"pkg/m{n}.py": MODULE.format(n=n) for n in range(count)})
    index = q.AstProjectIndex(paths, str(tmp_path))
    index.nonblocking_start_index()

    def work(i):
        n = (i * 7) % count
        if i % 3 == 0:
            index.nonblocking_start_index()
        feature = index.feature_class_ast(f"pkg.m{n}", f"Feature{n}")
        assert feature.namespace == f"ns{n}"
        assert feature.fields["value"].owner == f"team{n}"
        assert feature.fields["value"].kwarg_names == {"k": (7, 25, 7, 26)}
        resolver = index.resolver_ast_in_file(paths[n], f"resolve{n}")
        assert resolver.module == f"pkg.m{n}"
        assert resolver.args_in_order == ["value"]
        assert index.function_ast(f"pkg.m{n}", f"resolve{(n + 1) % count}") is None

    _run_threads(work, 200)


def test_interpreter_exits_while_warm_up_threads_run(tmp_path):
    import subprocess
    import sys

    body = "def f(a, b: int) -> int:\n    return a + b\n" * 300
    paths = write_project(tmp_path, {f"pkg/m{n}.py": body for n in range(60)})
    script = (
        "import quarn_rs\n"
        f"index = quarn_rs.AstProjectIndex({paths!r}, {str(tmp_path)!r})\n"
        "index.nonblocking_start_index()\n"
    )
    for _ in range(3):
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
        assert (done.returncode, done.stderr) == (0, "")
