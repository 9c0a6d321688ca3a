"""Parser throughput against CPython's `ast.parse` on the same corpus, in one run.

Runs build/<preset>/bin/bench_parser for the figures of `parse_module` and the lexer alone,
bench_parser_memory for the allocations of a corpus parse and the bytes a kept tree takes, then parses every valid UTF-8 `.py` file of the corpus with
`ast.parse` (bytes in, as the parser takes them) and prints the rates in MB/s (10^6 bytes per
second) with their ratios. Dense arithmetic (SymPy's rubi integration tests when python3-sympy is
installed, generated files of long sums and products otherwise) is timed apart: it is the slowest
kind of source per byte.
"""

import ast
import json
import os
import random
import subprocess
import sys
import tempfile
import time
import warnings

CORPUS = os.environ.get("QUARN_BENCH_CORPUS", "/usr/lib/python3.11")
DENSE = "/usr/lib/python3/dist-packages/sympy/integrals/rubi/rubi_tests/tests"


def write_dense(directory):
    """Files of long arithmetic assertions, seeded, in the shape of SymPy's rubi tests."""
    rng = random.Random(1)
    atoms = ["x", "a", "b", "c", "d", "e", "f", "m", "n", "S(2)", "S(1)/S(3)", "sqrt(x)",
             "(a + b*x)", "(c + d*x)**m", "x**S(2)"]
    for k in range(4):
        lines = ["def test_%d():" % k]
        for _ in range(2500):
            terms = [rng.choice(atoms) for _ in range(rng.randint(6, 40))]
            expr = terms[0]
            for t in terms[1:]:
                expr += " " + rng.choice("+-*/") + " " + t
            lines.append(f"    assert rubi_test(rubi_integrate({expr}, x), x, {expr}, expand=True)")
        with open(os.path.join(directory, f"test_dense_{k}.py"), "w") as f:
            f.write("\n".join(lines) + "\n")


def load_corpus(corpus=CORPUS):
    files = []
    for directory, _, names in os.walk(corpus):
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


def ast_rate(files, rounds=2):
    total = sum(len(f) for f in files)
    best = float("inf")
    failures = 0
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for _ in range(rounds):
            failures = 0
            start = time.perf_counter()
            for data in files:
                try:
                    ast.parse(data)
                except (SyntaxError, ValueError):
                    failures += 1
            best = min(best, time.perf_counter() - start)
    return total / best / 1e6, failures


def bench_figures(build_dir, corpus=CORPUS, only=None):
    exe = os.path.join(build_dir, "bin", "bench_parser")
    args = [exe, "--benchmark_format=json"]
    if only:
        args.append(f"--benchmark_filter={only}")
    out = subprocess.run(
        args,
        check=True,
        capture_output=True,
        text=True,
        env={**os.environ, "QUARN_BENCH_CORPUS": corpus},
    ).stdout
    return {b["name"].split("/")[0]: b for b in json.loads(out)["benchmarks"]}


def memory_figures(build_dir):
    exe = os.path.join(build_dir, "bin", "bench_parser_memory")
    out = subprocess.run(
        [exe], check=True, capture_output=True, text=True,
        env={**os.environ, "QUARN_BENCH_CORPUS": CORPUS},
    ).stdout
    return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)


def main():
    build_dir = os.environ.get(
        "BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "build", "release")
    )
    files = load_corpus()
    total = sum(len(f) for f in files)
    figures = bench_figures(build_dir)
    parser = figures["BM_ParseModule"]
    lexer = figures["BM_Lexer"]["MB/s"]
    memory = memory_figures(build_dir)
    python, failures = ast_rate(files)
    print(f"corpus: {CORPUS}, {len(files)} files, {total / 1e6:.1f} MB")
    print(f"parse_module ({int(parser['failed'])} files with a syntax error): {parser['MB/s']:8.1f} MB/s")
    print(f"lexer alone:                             {lexer:8.1f} MB/s")
    print(f"CPython ast.parse ({failures} files failed):   {python:8.1f} MB/s")
    print(f"ratio parse_module / ast.parse: {parser['MB/s'] / python:.1f}x")
    print(f"ratio parse_module / lexer:     {parser['MB/s'] / lexer:.2f}")
    print(f"allocations per corpus parse: {int(memory['allocations'])}, "
          f"{float(memory['allocations_per_token']):.3f} per token")
    print(f"kept trees of the whole corpus: {float(memory['corpus_tree_bytes_per_source_byte']):.2f} "
          f"bytes per source byte")
    print(f"largest file ({memory['largest_file_bytes']} bytes): tree "
          f"{float(memory['tree_bytes_per_source_byte']):.2f} bytes per source byte, peak while "
          f"parsing {float(memory['peak_bytes_per_source_byte']):.2f}")
    with tempfile.TemporaryDirectory() as generated:
        dense = DENSE
        if not os.path.isdir(dense):
            write_dense(generated)
            dense = generated
        dense_files = load_corpus(dense)
        dense_parser = bench_figures(build_dir, dense, "BM_ParseModule")["BM_ParseModule"]
        dense_python, _ = ast_rate(dense_files)
    print(f"dense arithmetic ({dense}, {len(dense_files)} files, "
          f"{sum(len(f) for f in dense_files) / 1e6:.1f} MB): parse_module "
          f"{dense_parser['MB/s']:.1f} MB/s, ast.parse {dense_python:.1f} MB/s, "
          f"ratio {dense_parser['MB/s'] / dense_python:.1f}x")


if __name__ == "__main__":
    sys.exit(main())
