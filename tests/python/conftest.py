import pytest

import quarn_rs


@pytest.fixture
def hooks():
    """The test-only entry points; absent from release builds."""
    if not hasattr(quarn_rs, "_raise_for_tests"):
        pytest.skip("quarn_rs was built without QUARN_TEST_HOOKS")
    return quarn_rs


PROBE = """\
from quarn import online
from quarn.features import features

@features
class C:
    x: int

@online
def f(a: C.x) -> C.x:
    return a
"""


@pytest.fixture(scope="session")
def index_ready(tmp_path_factory):
    """Skips the test until the parser reads definitions."""
    root = tmp_path_factory.mktemp("probe")
    path = root / "probe.py"
    path.write_text(PROBE, encoding="utf-8")
    index = quarn_rs.AstProjectIndex([str(path)], str(root))
    found = index.resolver_ast_in_file(str(path), "f"), index.feature_class_ast_in_file(str(path), "C")
    if None in found:
        pytest.skip("the parser does not read definitions yet")


@pytest.fixture(scope="session")
def parsed_files_ready(tmp_path_factory):
    """Skips the test until the parser reads imports."""
    root = tmp_path_factory.mktemp("probe")
    path = root / "probe.py"
    path.write_text("from m import a\n", encoding="utf-8")
    try:
        quarn_rs.AstFileParserCache([str(path)], str(root)).get_parsed_file(str(path))
    except ValueError:
        pytest.skip("the parser does not read imports yet")


def write_project(root, files):
    """Writes {relative path: source} under root; returns the absolute paths in the given order."""
    paths = []
    for name, source in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(source, encoding="utf-8")
        paths.append(str(path))
    return paths
