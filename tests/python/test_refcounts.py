"""Every method, constructor and property called 10^5 times leaves no Python object and no
memory behind: leaked objects show in the interpreter's allocated block count, leaked C++ values
in the resident set size."""

import gc
import os
import sys

import pytest

import quarn_rs as q
from conftest import SANITIZER, write_project

N = 100_000


def _resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def _expect_raise(call, error):
    def run():
        try:
            call()
        except error:
            return
        raise AssertionError("no error")

    return run


def _assert_no_growth(name, call, arguments=()):
    for _ in range(1000):  # caches, interned names and free lists settle first
        call()
    gc.collect()
    counts = [sys.getrefcount(a) for a in arguments]
    blocks, resident = sys.getallocatedblocks(), _resident_bytes()
    for _ in range(N):
        call()
    gc.collect()
    grown = sys.getallocatedblocks() - blocks
    assert grown < 100, f"{name}: {grown} Python blocks more after {N} calls"
    assert [sys.getrefcount(a) for a in arguments] == counts, f"{name}: argument references"
    if not SANITIZER:
        rss = _resident_bytes() - resident
        assert rss < 16 << 20, f"{name}: resident set grew by {rss} bytes"


@pytest.fixture
def project(tmp_path):
    return tmp_path, write_project(tmp_path, {"m.py": "x = 1\n", "bad.py": "(\n"})


def test_service_calls(project):
    root, paths = project
    root = str(root)
    fs = q.StdAstFileSystem(paths)
    cache = q.AstFileParserCache(paths, root)
    missing = root + "/missing.py"
    calls = {
        "StdAstFileSystem()": lambda: q.StdAstFileSystem(paths),
        "AstFileParserCache()": lambda: q.AstFileParserCache(paths, root),
        "AstFileParserCache(filesystem=)": lambda: q.AstFileParserCache(paths, root, fs),
        "AstProjectIndex()": lambda: q.AstProjectIndex(paths, root),
        "AstProjectIndex(filesystem=)": lambda: q.AstProjectIndex(paths, root, filesystem=fs),
        "read_to_string": lambda: fs.read_to_string(paths[0]),
        "read_to_string missing": _expect_raise(lambda: fs.read_to_string(missing), OSError),
        "StdAstFileSystem.all_files": fs.all_files,
        "AstFileParserCache.all_files": cache.all_files,
        "argument count error": _expect_raise(lambda: q.AstProjectIndex(paths), TypeError),
        "keyword error": _expect_raise(lambda: fs.read_to_string(paths[0], p=1), TypeError),
        "file list error": _expect_raise(lambda: q.StdAstFileSystem([root, 1]), TypeError),
        "file system error": _expect_raise(lambda: q.AstProjectIndex(paths, root, 1), TypeError),
    }
    for name, call in calls.items():
        _assert_no_growth(name, call, (fs, cache, paths[0], root))


def test_parsed_file_calls(project):
    root, paths = project
    cache = q.AstFileParserCache(paths, str(root))
    _assert_no_growth("get_parsed_file", lambda: cache.get_parsed_file(paths[0]), (cache, paths[0]))
    _assert_no_growth(
        "get_parsed_file failing",
        _expect_raise(lambda: cache.get_parsed_file(paths[1]), ValueError),
        (cache, paths[1]),
    )


def _read_every_property(obj):
    calls = {}
    for name, value in vars(type(obj)).items():
        if hasattr(value, "__get__") and not name.startswith("__"):
            calls[f"{type(obj).__name__}.{name}"] = (lambda n=name: getattr(obj, n))
    return calls


def test_record_properties_of_test_records(hooks):
    resolver, function, feature_class = hooks._records_for_tests()
    calls = {}
    for obj in (resolver, function, feature_class, resolver.args["b"], feature_class.fields["items"]):
        calls.update(_read_every_property(obj))
    for name, call in calls.items():
        _assert_no_growth(name, call)


def test_index_calls(tmp_path):
    paths = write_project(
        tmp_path,
        {
            "m.py": "from quarn import online\nfrom quarn.features import features\n\n"
            "@features(name='n')\nclass C:\n    # :owner: o\n    # :tags: a, b\n    x: int = f(k=1)\n\n"
            "@online(tags={'a': 1})\ndef r(a: C.x, b) -> C.x:\n    return a\n",
        },
    )
    index = q.AstProjectIndex(paths, str(tmp_path))
    index.nonblocking_start_index()
    calls = {
        "feature_class_ast": lambda: index.feature_class_ast("m", "C"),
        "feature_class_ast_in_file": lambda: index.feature_class_ast_in_file(paths[0], "C"),
        "resolver_ast": lambda: index.resolver_ast("m", "r"),
        "resolver_ast_in_file": lambda: index.resolver_ast_in_file(paths[0], "r"),
        "function_ast": lambda: index.function_ast("m", "r"),
        "function_ast_in_file": lambda: index.function_ast_in_file(paths[0], "r"),
        "lookup finding nothing": lambda: index.function_ast("m", "nothing"),
        "nonblocking_start_index": index.nonblocking_start_index,
    }
    resolver = index.resolver_ast("m", "r")
    feature_class = index.feature_class_ast("m", "C")
    for obj in (resolver, feature_class, resolver.args["a"], feature_class.fields["x"]):
        calls.update(_read_every_property(obj))
    for name, call in calls.items():
        _assert_no_growth(name, call, (index, paths[0]))
