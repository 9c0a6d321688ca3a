"""The file system, the parsed-file cache and the index constructors over small projects."""

import collections
import gc
import os
import sys

import pytest

import quarn_rs as q

CONSTRUCTORS = [
    lambda files: q.StdAstFileSystem(files),
    lambda files: q.AstFileParserCache(files, "/p"),
    lambda files: q.AstProjectIndex(files, "/p"),
    # A file system given makes `files` unused, but it is still checked.
    lambda files: q.AstFileParserCache(files, "/p", filesystem=q.StdAstFileSystem([])),
    lambda files: q.AstProjectIndex(files, "/p", q.StdAstFileSystem([])),
]


class Unsized(collections.abc.Sequence):
    """A sequence whose length fails: the length only sizes the result."""

    def __init__(self, items):
        self.items = items

    def __getitem__(self, i):
        return self.items[i]

    def __len__(self):
        raise RuntimeError("no length")

    def __iter__(self):
        return iter(self.items)


class Misreported(collections.abc.Sequence):
    """A sequence whose length is not the number of items it yields."""

    def __init__(self, items, length):
        self.items = items
        self.length = length

    def __getitem__(self, i):
        return self.items[i]

    def __len__(self):
        return self.length

    def __iter__(self):
        return iter(self.items)


class Failing(collections.abc.Sequence):
    def __getitem__(self, i):
        raise IndexError

    def __len__(self):
        return 1

    def __iter__(self):
        yield "a.py"
        raise KeyError("iteration failed")


class StrSub(str):
    pass


FILE_LIST_ERRORS = [
    ("a.py", TypeError, "argument 'files': Can't extract `str` to `Vec`"),
    (StrSub("a.py"), TypeError, "argument 'files': Can't extract `str` to `Vec`"),
    ({"a.py": 1}, TypeError, "argument 'files': 'dict' object is not an instance of 'Sequence'"),
    ({"a.py"}, TypeError, "argument 'files': 'set' object is not an instance of 'Sequence'"),
    ((x for x in ["a.py"]), TypeError, "argument 'files': 'generator' object is not an instance of 'Sequence'"),
    (None, TypeError, "argument 'files': 'NoneType' object is not an instance of 'Sequence'"),
    (b"ab", TypeError, "argument 'files': 'int' object is not an instance of 'str'"),
    (["a.py", 3], TypeError, "argument 'files': 'int' object is not an instance of 'str'"),
    (["a.py", None], TypeError, "argument 'files': 'None' is not an instance of 'str'"),
    (Failing(), KeyError, "'iteration failed'"),
    (["\udc80.py"], UnicodeEncodeError, None),
]


@pytest.mark.parametrize("make", CONSTRUCTORS)
@pytest.mark.parametrize("files,error,message", FILE_LIST_ERRORS)
def test_file_list_conversion_errors(make, files, error, message):
    with pytest.raises(error) as raised:
        make(files)
    assert type(raised.value) is error
    if message is not None:
        assert str(raised.value) == message


@pytest.mark.parametrize(
    "files",
    [("b.py", "a.py"), ["b.py", "a.py"], collections.deque(["b.py", "a.py"]), Unsized(["b.py", "a.py"]), [StrSub("b.py"), "a.py"]],
)
def test_any_sequence_of_str_is_a_file_list(files):
    assert q.StdAstFileSystem(files).all_files() == ["a.py", "b.py"]
    assert q.AstFileParserCache(files, "/p").all_files() == ["a.py", "b.py"]


@pytest.mark.parametrize("length", [sys.maxsize, 2**40, 0])
def test_a_misreported_length_only_sizes_the_file_list(length):
    # Whatever length the sequence claims, the list is what it yields.
    for make in CONSTRUCTORS:
        make(Misreported(["b.py", "a.py"], length))
    assert q.StdAstFileSystem(Misreported(["b.py", "a.py"], length)).all_files() == ["a.py", "b.py"]
    assert q.AstFileParserCache(Misreported(["b.py", "a.py"], length), "/p").all_files() == ["a.py", "b.py"]


@pytest.mark.parametrize(
    "args,message",
    [
        (([], 5), "argument 'project_root': 'int' object is not an instance of 'str'"),
        (([], "/p", 5), "argument 'filesystem': 'int' object is not an instance of 'StdAstFileSystem'"),
        (([], "/p", "fs"), "argument 'filesystem': 'str' object is not an instance of 'StdAstFileSystem'"),
        # The parameters are converted in order: the first failure is the one reported.
        (("a.py", 5, 5), "argument 'files': Can't extract `str` to `Vec`"),
        (([], 5, 5), "argument 'project_root': 'int' object is not an instance of 'str'"),
    ],
)
@pytest.mark.parametrize("cls", [q.AstFileParserCache, q.AstProjectIndex])
def test_service_constructor_conversion_errors(cls, args, message):
    with pytest.raises(TypeError) as raised:
        cls(*args)
    assert str(raised.value) == message


def test_file_system_lists_only_py_files_sorted_once():
    fs = q.StdAstFileSystem(["b.py", "a.py", "a.py", "notes.txt", "c.pyi", "d.PY", "pkg/e.py"])
    assert fs.all_files() == ["a.py", "b.py", "pkg/e.py"]
    listed = fs.all_files()
    listed.append("x.py")
    assert fs.all_files() == ["a.py", "b.py", "pkg/e.py"]


def test_read_to_string_reads_any_path(tmp_path):
    listed = tmp_path / "listed.py"
    other = tmp_path / "other.txt"
    listed.write_text("x = 1\n", encoding="utf-8")
    other.write_text("héllo ✓\n", encoding="utf-8")
    fs = q.StdAstFileSystem([str(listed)])
    assert fs.read_to_string(str(listed)) == "x = 1\n"
    assert fs.read_to_string(str(other)) == "héllo ✓\n"
    assert fs.read_to_string(path=str(other)) == "héllo ✓\n"


def test_read_to_string_errors_are_os_errors(tmp_path):
    fs = q.StdAstFileSystem([])
    with pytest.raises(IOError) as missing:
        fs.read_to_string(str(tmp_path / "missing.py"))
    assert type(missing.value) is OSError
    assert str(missing.value).endswith(" (os error 2)")
    assert str(missing.value) == f"{os.strerror(2)} (os error 2)"
    assert missing.value.errno is None and missing.value.strerror is None

    with pytest.raises(OSError):
        fs.read_to_string(str(tmp_path))

    latin1 = tmp_path / "latin1.py"
    latin1.write_bytes(b"x = '\xe9'\n")
    with pytest.raises(OSError) as invalid:
        fs.read_to_string(str(latin1))
    assert str(invalid.value) == "stream did not contain valid UTF-8"


def test_cache_lists_its_file_system_and_ignores_files_when_given_one():
    fs = q.StdAstFileSystem(["z.py", "y.py"])
    assert q.AstFileParserCache(["a.py", "b.py"], "/p", filesystem=fs).all_files() == ["y.py", "z.py"]
    assert q.AstFileParserCache(["b.py", "a.py", "x.txt"], "/p").all_files() == ["a.py", "b.py"]
    assert q.AstFileParserCache(["b.py"], "/p", None).all_files() == ["b.py"]


def test_file_system_outlives_its_python_object(tmp_path):
    source = tmp_path / "m.py"
    source.write_text("x = 1\n", encoding="utf-8")
    fs = q.StdAstFileSystem([str(source)])
    cache = q.AstFileParserCache([], str(tmp_path), filesystem=fs)
    index = q.AstProjectIndex([str(source)], str(tmp_path), filesystem=fs)
    del fs
    gc.collect()
    assert cache.all_files() == [str(source)]
    assert index.function_ast_in_file(str(source), "nothing") is None
