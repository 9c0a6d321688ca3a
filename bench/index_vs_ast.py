"""The project index from Python against the same extraction written over CPython's `ast`.

Writes the synthetic project of bench_index (2,000 files), then times in this one process:
a new `AstProjectIndex` warmed up and asked for one resolver and one feature class of every file,
the extraction of bench/index/ast_baseline.py over the same files in this process and on a pool
of 8 processes (which must give the same outputs), and warm lookups of a feature class of 33
fields.
"""

import multiprocessing
import os
import subprocess
import sys
import tempfile
import time

import quarn_rs

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "index"))
import ast_baseline  # noqa: E402

BUILD_DIR = os.environ.get("BUILD_DIR", "build/release")
POOL = 8


def project_files(root):
    return sorted(os.path.join(d, n) for d, _, names in os.walk(root) for n in names
                  if n.endswith(".py"))


def index_warm_up_and_lookups(root, files):
    start = time.perf_counter()
    index = quarn_rs.AstProjectIndex(files, root)
    index.nonblocking_start_index()
    found = 0
    for path in files:
        module = os.path.relpath(path, root)[:-3].replace(os.sep, ".")
        number = module.rsplit("area", 1)[1]
        found += index.resolver_ast(module, f"resolve_{number}_0") is not None
        found += index.feature_class_ast(module, f"Area{number}Entity1") is not None
    return time.perf_counter() - start, found


def python_one_process(files):
    start = time.perf_counter()
    outputs = [ast_baseline.extract(path) for path in files]
    return time.perf_counter() - start, outputs


def python_pool(files):
    with multiprocessing.get_context("fork").Pool(POOL) as pool:
        pool.map(abs, range(POOL))  # the workers exist before the clock starts
        start = time.perf_counter()
        outputs = pool.map(ast_baseline.extract, files, chunksize=16)
        return time.perf_counter() - start, outputs


def wide_class_source(fields):
    lines = ["from quarn.features import features, feature", "", "",
             '@features(name="wide", max_staleness="1d")', "class Wide:"]
    for k in range(fields):
        lines += [f"    # Field {k}.", f"    # :owner: team-{k % 3}", "    # :tags: a, b",
                  f'    f{k}: int = feature(description="d{k}", version={k})']
    return "\n".join(lines) + "\n"


CLASS_PROPERTIES = ["module", "namespace", "class_name", "source", "class_name_location",
                    "class_definition_location", "decorator_location", "kwarg_names", "kwargs",
                    "annotations"]
FIELD_PROPERTIES = ["field_name", "field_name_location", "comment", "description", "owner",
                    "tags", "annotation", "feature_call", "kwarg_names", "kwargs"]


# Every property of a class and of each of its fields, as a tool that shows a class reads them.
def full_read(record):
    for name in CLASS_PROPERTIES:
        getattr(record, name)
    for field in record.fields.values():
        for name in FIELD_PROPERTIES:
            getattr(field, name)


def per_call_us(call, rounds=20000):
    call()
    best = float("inf")
    for _ in range(3):
        start = time.perf_counter()
        for _ in range(rounds):
            call()
        best = min(best, (time.perf_counter() - start) / rounds)
    return best * 1e6


# The wide class written to `root`, and an index over it that has read it once.
def wide_class_index(root):
    path = os.path.join(root, "wide.py")
    with open(path, "w") as f:
        f.write(wide_class_source(33))
    index = quarn_rs.AstProjectIndex([path], root)
    record = index.feature_class_ast("wide", "Wide")
    assert record is not None and len(record.fields) == 33
    return path, index, record


def warm_lookups(root):
    _, index, _ = wide_class_index(root)
    lookup = per_call_us(lambda: index.feature_class_ast("wide", "Wide"))
    fields = per_call_us(lambda: index.feature_class_ast("wide", "Wide").fields, 5000)
    print(f"warm feature_class_ast, 33 fields:   {lookup:8.2f} us; with .fields read "
          f"{fields:8.2f} us")
    full = per_call_us(lambda: full_read(index.feature_class_ast("wide", "Wide")), 2000)
    print(f"full read of the class and its fields: {full:8.2f} us "
          f"({len(CLASS_PROPERTIES) + 33 * len(FIELD_PROPERTIES)} property reads)")
    resolver = per_call_us(lambda: index.function_ast("wide", "missing"))
    print(f"warm function_ast miss:              {resolver:8.2f} us")


def main():
    with tempfile.TemporaryDirectory(prefix="quarn_index_bench_") as root:
        subprocess.run([os.path.join(BUILD_DIR, "bin", "bench_index"), "--write-project", root],
                       check=True)
        files = project_files(root)
        size = sum(os.path.getsize(p) for p in files)
        print(f"project: {len(files)} files, {size / 1e6:.1f} MB", flush=True)
        # The pool is forked before this process starts any index thread.
        pool_time, pool_outputs = python_pool(files)
        one_time, one_outputs = python_one_process(files)
        quarn_time, found = min(index_warm_up_and_lookups(root, files) for _ in range(3))
        if pool_outputs != one_outputs:
            print("the pool's outputs differ from the single process's")
            return 1
        print(f"quarn_rs warm-up + {2 * len(files)} lookups:  {quarn_time * 1e3:8.1f} ms "
              f"({found} found)")
        print(f"Python `ast`, 1 process:             {one_time * 1e3:8.1f} ms "
              f"(quarn_rs {one_time / quarn_time:.1f}x faster)")
        print(f"Python `ast`, pool of {POOL} processes:   {pool_time * 1e3:8.1f} ms "
              f"(quarn_rs {pool_time / quarn_time:.1f}x faster)")
        warm_lookups(root)
    return 0


if __name__ == "__main__":
    sys.exit(main())
