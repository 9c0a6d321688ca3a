"""Lexer throughput against CPython's tokenize module on the same corpus, in one run.

Runs build/<preset>/bin/bench_lexer for the lexer's figure, then tokenizes every valid UTF-8
`.py` file of the corpus with `tokenize.tokenize` (bytes in, as the lexer takes them) and prints
both rates in MB/s (10^6 bytes per second) with their ratio.
"""

import io
import json
import os
import subprocess
import sys
import time
import tokenize

CORPUS = os.environ.get("QUARN_BENCH_CORPUS", "/usr/lib/python3.11")


def load_corpus():
    files = []
    for directory, _, names in os.walk(CORPUS):
        for name in sorted(names):
            if not name.endswith(".py"):
                continue
            with open(os.path.join(directory, name), "rb") as f:
                data = f.read()
            try:
                data.decode("utf-8")
            except UnicodeDecodeError:
                continue
            files.append(data)
    return files


def tokenize_rate(files, rounds=2):
    total = sum(len(f) for f in files)
    best = float("inf")
    failures = 0
    for _ in range(rounds):
        failures = 0
        start = time.perf_counter()
        for data in files:
            try:
                for _token in tokenize.tokenize(io.BytesIO(data).readline):
                    pass
            except (tokenize.TokenError, SyntaxError):
                failures += 1
        best = min(best, time.perf_counter() - start)
    return total / best / 1e6, failures


def lexer_rate(build_dir):
    exe = os.path.join(build_dir, "bin", "bench_lexer")
    out = subprocess.run(
        [exe, "--benchmark_format=json", "--benchmark_filter=^BM_Lexer/"],
        check=True,
        capture_output=True,
        text=True,
        env={**os.environ, "QUARN_BENCH_CORPUS": CORPUS},
    ).stdout
    result = json.loads(out)["benchmarks"][0]
    return result["MB/s"], int(result["files"])


def main():
    build_dir = os.environ.get(
        "BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "build", "release")
    )
    files = load_corpus()
    total = sum(len(f) for f in files)
    lexer, lexer_files = lexer_rate(build_dir)
    python, failures = tokenize_rate(files)
    print(f"corpus: {CORPUS}, {len(files)} files, {total / 1e6:.1f} MB")
    print(f"lexer (bench_lexer, {lexer_files} files): {lexer:8.1f} MB/s")
    print(f"CPython tokenize ({failures} files failed): {python:8.1f} MB/s")
    print(f"ratio lexer / tokenize: {lexer / python:.1f}x")


if __name__ == "__main__":
    sys.exit(main())
