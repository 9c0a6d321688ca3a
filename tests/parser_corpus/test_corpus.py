"""Every standard-library file CPython accepts parses without a syntax error."""

from pathlib import Path

from conftest import CORPUS_ROOT, report

# Files (relative to the corpus root) that fail for a reason already known, one per line with the
# reason after a space; they are reported, not failed.
KNOWN_FAILURES_FILE = Path(__file__).with_name("known_failures.txt")

def _known_failures():
    known = {}
    if KNOWN_FAILURES_FILE.exists():
        for line in KNOWN_FAILURES_FILE.read_text().splitlines():
            line = line.strip()
            if line and not line.startswith("#"):
                name, _, reason = line.partition(" ")
                known[name] = reason.strip()
    return known


def _first_error(corpus_file):
    if corpus_file.failure:
        return corpus_file.failure
    errors = corpus_file.ours["errors"]
    if not errors:
        return None
    e = errors[0]
    return f"{e['message']} at byte range {e['start']}..{e['end']}"


def test_accepted_files_parse_without_error(corpus):
    known = _known_failures()
    unexpected, expected = [], []
    for f in corpus:
        first = _first_error(f)
        if first is None:
            continue
        line = f"{f.path}: {first}"
        if str(f.path.relative_to(CORPUS_ROOT)) in known:
            expected.append(line)
        else:
            unexpected.append(line)
    ok = len(corpus) - len(unexpected) - len(expected)
    report(f"corpus: {ok} of {len(corpus)} files parse without error; "
           f"{len(expected)} expected failures, {len(unexpected)} unexpected")
    for line in expected[:20]:
        report(f"  expected failure: {line}")
    assert not unexpected, "files CPython accepts fail to parse:\n" + "\n".join(unexpected)
