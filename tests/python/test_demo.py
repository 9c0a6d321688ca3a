"""The demo prints what the README shows, run by the interpreter and module of the tests."""

import os
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
DEMO = ROOT / "examples" / "demo.py"
README = ROOT / "README.md"


def readme_demo_output():
    """The indented block of the README that starts with the demo's first line."""
    lines = README.read_text(encoding="utf-8").splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith("    quarn_rs indexed "))
    block = []
    for line in lines[start:]:
        if line and not line.startswith("    "):
            break
        block.append(line[4:])
    while block and not block[-1]:
        block.pop()
    return block


def test_demo_prints_what_the_readme_shows(tmp_path):
    result = subprocess.run([sys.executable, str(DEMO)], cwd=tmp_path, env=dict(os.environ),
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == readme_demo_output()
    # Among them the resolver written `async def` and the file that does not parse.
    assert "  resolver get_full_name  @online  at 32:11" in result.stdout
    assert "billing/broken.py: not indexed. Failed to parse billing/broken.py: " in result.stdout
