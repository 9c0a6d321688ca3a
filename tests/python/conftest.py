import os

import pytest

import quarn_rs


def _sanitizer():
    # Named by the CTest entries of the sanitizer builds; a run by hand shows it in the preloaded
    # runtime.
    named = os.environ.get("QUARN_TEST_SANITIZER")
    if named is not None:
        return named
    preload = os.environ.get("LD_PRELOAD", "")
    return "address" if "libasan" in preload else "thread" if "libtsan" in preload else ""


# "address", "thread" or "" (no sanitizer). Sanitized processes run many times slower: the heavy
# cases take fewer rounds or files under one.
SANITIZER = _sanitizer()


@pytest.fixture
def hooks():
    """The test-only entry points; absent from release builds."""
    if not hasattr(quarn_rs, "_raise_for_tests"):
        pytest.skip("quarn_rs was built without QUARN_TEST_HOOKS")
    return quarn_rs


def write_project(root, files):
    """Writes {relative path: source} under root; returns the absolute paths in the given order."""
    paths = []
    for name, source in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(source, encoding="utf-8")
        paths.append(str(path))
    return paths
