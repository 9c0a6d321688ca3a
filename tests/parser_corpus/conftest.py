"""The installed standard library as a parser corpus: the files CPython's own `ast.parse` accepts,
each run once through `pydump ast`, shared by the corpus and the differential tests."""

import ast
import json
import os
import subprocess
import warnings
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from pathlib import Path

import pytest

CORPUS_ROOT = Path(os.environ.get("PARSER_CORPUS_ROOT", "/usr/lib/python3.11"))
PYDUMP = os.environ.get("PYDUMP")


@dataclass
class CorpusFile:
    path: Path
    source: bytes
    tree: ast.Module
    ours: dict = field(default=None)  # {"ast": ..., "errors": [...]}
    failure: str = None  # pydump refused or crashed


def _accepted_files():
    files = []
    for path in sorted(CORPUS_ROOT.rglob("*.py")):
        if not path.is_file():
            continue
        source = path.read_bytes()
        try:
            source.decode("utf-8")
        except UnicodeDecodeError:
            continue  # only UTF-8 sources are handed to the parser
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                tree = ast.parse(source, filename=str(path))
        except (SyntaxError, ValueError):
            continue
        files.append(CorpusFile(path, source, tree))
    return files


def _run_pydump(corpus_file):
    result = subprocess.run([PYDUMP, "ast", str(corpus_file.path)], capture_output=True, timeout=600)
    if result.returncode != 0:
        corpus_file.failure = f"pydump exited {result.returncode}: {result.stderr.decode(errors='replace').strip()}"
        return
    corpus_file.ours = json.loads(result.stdout)


@pytest.fixture(scope="session")
def corpus():
    if not PYDUMP:
        pytest.skip("PYDUMP names the pydump binary")
    files = _accepted_files()
    assert files, f"no accepted .py files under {CORPUS_ROOT}"
    with ThreadPoolExecutor(max_workers=min(8, os.cpu_count() or 1)) as pool:
        list(pool.map(_run_pydump, files))
    return files


_summaries = []


def report(line):
    """A line for the end-of-run summary (agreement figures, failure counts)."""
    _summaries.append(line)


def pytest_terminal_summary(terminalreporter):
    for line in _summaries:
        terminalreporter.write_line(line)
