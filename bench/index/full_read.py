"""What a full read of a warm feature class costs at the Python boundary.

Reads every property of a feature class of 33 fields and of each of its fields, as
bench/index_vs_ast.py does, and the same loop over plain Python objects that hold the same values
(the cost of the loop itself, which no binding can take away), side by side in one process.

    full_read.py [--rounds N]      wall times per read, best of three
    full_read.py --reads N         N reads and nothing else, for `valgrind --tool=callgrind`:
                                   run it with two values of N and divide the difference in
                                   instructions by the difference in reads
    full_read.py --reads N --plain the same over the plain objects
    full_read.py --against SO      the same reads through the module built as SO too (another
                                   build of quarn_rs, e.g. main's), in turns in this process: the
                                   ratio of the two holds on a loaded machine, where wall times
                                   of separate runs swing
"""

import argparse
import importlib.machinery
import importlib.util
import os
import sys
import tempfile
import time

import quarn_rs

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from index_vs_ast import (  # noqa: E402
    CLASS_PROPERTIES,
    FIELD_PROPERTIES,
    full_read,
    per_call_us,
    wide_class_index,
)


class Plain:
    pass


# A plain object with the same attributes, holding what the record's properties return.
def plain_copy(record):
    copy = Plain()
    for name in CLASS_PROPERTIES:
        setattr(copy, name, getattr(record, name))
    fields = {}
    for key, field in record.fields.items():
        plain = Plain()
        for name in FIELD_PROPERTIES:
            setattr(plain, name, getattr(field, name))
        fields[key] = plain
    copy.fields = fields
    return copy


# Another build of the module, loaded beside the one imported above (its types are its own).
def load_module(path):
    loader = importlib.machinery.ExtensionFileLoader("quarn_rs", path)
    spec = importlib.util.spec_from_file_location("quarn_rs", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def compare(path, other, rounds):
    root = os.path.dirname(path)
    indexes = {"this build": quarn_rs.AstProjectIndex([path], root),
               "--against": load_module(other).AstProjectIndex([path], root)}
    best = dict.fromkeys(indexes, float("inf"))
    for _ in range(15):
        for name, index in indexes.items():
            start = time.perf_counter()
            for _ in range(rounds):
                full_read(index.feature_class_ast("wide", "Wide"))
            best[name] = min(best[name], (time.perf_counter() - start) / rounds * 1e6)
    for name, us in best.items():
        print(f"full read, {name}: {us:8.2f} us")
    print(f"--against / this build: {best['--against'] / best['this build']:.3f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=4000)
    parser.add_argument("--reads", type=int, default=None)
    parser.add_argument("--plain", action="store_true",
                        help="with --reads: read the plain objects instead")
    parser.add_argument("--against", metavar="SO", default=None)
    options = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="quarn_full_read_") as root:
        path, index, record = wide_class_index(root)
        if options.against is not None:
            compare(path, options.against, max(options.rounds // 2, 1))
            return 0

        def read():
            full_read(index.feature_class_ast("wide", "Wide"))

        plain = plain_copy(record)
        if options.reads is not None:
            call = (lambda: full_read(plain)) if options.plain else read
            call()
            for _ in range(options.reads):
                call()
            return 0

        reads = len(CLASS_PROPERTIES) + 33 * len(FIELD_PROPERTIES)
        quarn = per_call_us(read, options.rounds)
        loop = per_call_us(lambda: full_read(plain), options.rounds)
        print(f"full read of the class and its fields: {quarn:8.2f} us ({reads} property reads)")
        print(f"the same loop over plain objects:      {loop:8.2f} us "
              f"(the binding's own share {quarn - loop:.2f} us)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
