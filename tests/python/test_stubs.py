"""The type stubs shipped beside the module as the stub-only package quarn_rs-stubs: where they
are, that they describe the module as it is, and that a type checker using them catches a user's
mistakes."""

import ast
import inspect
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

import quarn_rs

STUB_DIR = Path(quarn_rs.__file__).parent / "quarn_rs-stubs"
TYPED = Path(__file__).parent / "typed"


@pytest.fixture(scope="module")
def mypy():
    """Runs mypy with the interpreter that runs the tests. The Makefile installs Debian's
    python3-mypy for Debian's interpreter; another interpreter may have no mypy of its own."""
    probe = subprocess.run([sys.executable, "-c", "import mypy.stubtest"], capture_output=True,
                           text=True, timeout=120)
    if probe.returncode != 0:
        if os.path.realpath(sys.executable).startswith("/usr/bin/"):
            pytest.fail(f"mypy does not run on {sys.executable}:\n{probe.stderr}")
        pytest.skip(f"mypy does not run on {sys.executable}")

    def run(*args, cwd):
        # The stubs are found where the module is: on the interpreter's path, no extra setting.
        env = {k: v for k, v in os.environ.items() if k != "MYPYPATH"}
        return subprocess.run([sys.executable, "-m", *args], cwd=cwd, env=env,
                              capture_output=True, text=True, timeout=300)

    return run


def test_stubs_sit_beside_the_module_as_a_stub_only_package():
    assert (STUB_DIR / "__init__.pyi").is_file()
    assert Path(quarn_rs.__file__).name.startswith("quarn_rs.")
    # Nothing named quarn_rs but the module itself: a stub directory of that name would be
    # imported as a namespace package wherever the module is missing.
    beside = {p.name for p in Path(quarn_rs.__file__).parent.iterdir()}
    assert [n for n in beside if n.split(".")[0] == "quarn_rs"] == [Path(quarn_rs.__file__).name]


def test_stubs_alone_do_not_import(tmp_path):
    # An interpreter for which no module was built finds the stubs and must still fail at once.
    # Where the wheel installed the module into this interpreter, it is found first.
    if quarn_rs.__file__.startswith(sys.prefix):
        pytest.skip("the module is installed in this interpreter")
    (tmp_path / "quarn_rs-stubs").mkdir()
    stub = (STUB_DIR / "__init__.pyi").read_bytes()
    (tmp_path / "quarn_rs-stubs" / "__init__.pyi").write_bytes(stub)
    result = subprocess.run([sys.executable, "-c", "import quarn_rs"], cwd=tmp_path,
                            env={**os.environ, "PYTHONPATH": str(tmp_path)},
                            capture_output=True, text=True, timeout=60)
    assert "ModuleNotFoundError: No module named 'quarn_rs'" in result.stderr


def test_every_property_and_function_says_what_it_holds():
    tree = ast.parse((STUB_DIR / "__init__.pyi").read_text(encoding="utf-8"))
    undocumented = []
    for node in tree.body:
        members = node.body if isinstance(node, ast.ClassDef) else [node]
        for member in members:
            if isinstance(member, ast.FunctionDef) and member.name != "__new__":
                if not ast.get_docstring(member):
                    undocumented.append(member.name)
    assert undocumented == []


def test_stubs_declare_the_module_surface_in_its_order():
    # The module lists its surface once, as the __all__ it builds; the stubs must say the same,
    # both in their own __all__ and in the order of their definitions.
    tree = ast.parse((STUB_DIR / "__init__.pyi").read_text(encoding="utf-8"))
    declared_all = next(ast.literal_eval(node.value) for node in tree.body
                        if isinstance(node, ast.Assign)
                        and [getattr(t, "id", None) for t in node.targets] == ["__all__"])
    defined = [node.name for node in tree.body
               if isinstance(node, (ast.ClassDef, ast.FunctionDef))
               and not node.name.startswith("_")]
    assert declared_all == quarn_rs.__all__
    assert defined == quarn_rs.__all__


def test_stubtest_finds_no_difference_from_the_module(mypy, tmp_path):
    result = mypy("mypy.stubtest", "quarn_rs", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_mypy_accepts_a_correct_user(mypy, tmp_path):
    result = mypy("mypy", "--strict", "--no-incremental", "--cache-dir", os.devnull,
                  str(TYPED / "clean.py"), cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_mypy_flags_each_marked_mistake_and_nothing_else(mypy, tmp_path):
    path = TYPED / "mistakes.py"
    expected = set()
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if "# error: [" in line:
            expected.add((number, line.rsplit("[", 1)[1].rstrip("]")))

    result = mypy("mypy", "--strict", "--no-incremental", "--cache-dir", os.devnull,
                  "--show-error-codes", str(path), cwd=tmp_path)
    reported = {
        (int(m.group(1)), m.group(2))
        for m in re.finditer(r"^.*mistakes\.py:(\d+): error: .*  \[([a-z-]+)\]$", result.stdout,
                             re.MULTILINE)
    }
    assert reported == expected, result.stdout
    assert "Cannot find implementation or library stub" not in result.stdout


def stub_parameters(function, drop_first=False):
    """(name, kind, default) of each parameter of a stub function, as inspect names them."""
    args = function.args
    positional = [(a, "POSITIONAL_ONLY") for a in args.posonlyargs]
    positional += [(a, "POSITIONAL_OR_KEYWORD") for a in args.args]
    defaults = [None] * (len(positional) - len(args.defaults)) + list(args.defaults)
    out = [(a.arg, kind, None if d is None else ast.unparse(d))
           for (a, kind), d in zip(positional, defaults)]
    if args.vararg or args.kwonlyargs or args.kwarg:
        out.append(("*", "VAR", None))
    return out[1:] if drop_first else out


def runtime_parameters(callable_):
    return [
        (p.name, p.kind.name, None if p.default is p.empty else repr(p.default))
        for p in inspect.signature(callable_).parameters.values()
    ]


def stub_callables():
    """(name, stub parameters, runtime callable) of each function, constructor and method."""
    tree = ast.parse((STUB_DIR / "__init__.pyi").read_text(encoding="utf-8"))
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            yield node.name, stub_parameters(node), getattr(quarn_rs, node.name)
        elif isinstance(node, ast.ClassDef):
            cls = getattr(quarn_rs, node.name)
            for member in node.body:
                if not isinstance(member, ast.FunctionDef):
                    continue
                if any(getattr(d, "id", None) == "property" for d in member.decorator_list):
                    continue
                if member.name == "__new__":
                    # The class's own text signature, without cls.
                    yield f"{node.name}()", stub_parameters(member, drop_first=True), cls
                else:
                    method = getattr(cls, member.name)
                    yield f"{node.name}.{member.name}", stub_parameters(member), method


def test_every_signature_matches_the_text_signature_including_positional_only_self():
    # stubtest leaves the kind of self and the parameters of __new__ unchecked.
    checked = {name: (stub, runtime_parameters(call)) for name, stub, call in stub_callables()}
    mismatched = {name: pair for name, pair in checked.items() if pair[0] != pair[1]}
    assert mismatched == {}
    assert checked["AstProjectIndex()"][0] == [
        ("files", "POSITIONAL_OR_KEYWORD", None),
        ("project_root", "POSITIONAL_OR_KEYWORD", None),
        ("filesystem", "POSITIONAL_OR_KEYWORD", "None"),
    ]
    assert checked["StdAstFileSystem.read_to_string"][0] == [
        ("self", "POSITIONAL_ONLY", None),
        ("path", "POSITIONAL_OR_KEYWORD", None),
    ]
    functions = {n for n in quarn_rs.__all__ if not isinstance(getattr(quarn_rs, n), type)}
    constructors = {"StdAstFileSystem()", "AstFileParserCache()", "AstProjectIndex()"}
    assert functions | constructors <= set(checked)
