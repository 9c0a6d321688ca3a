"""Dumps every property of every record the index reports for a set of files, one text per file.

A guard for changes that must not change the records: dump before and after, compare the bytes.

    record_dump.py OUT_DIR [--stdlib DIR] [--synthetic] [--decorated N]

The files: the standard library (every .py under DIR, default /usr/lib/python3.11), the synthetic
project of bench_index (with --synthetic; BUILD_DIR names the build), and N standard-library files
rewritten so that their functions carry resolver decorators and their classes the feature
decorator, some with CRLF line ends, a byte-order mark or tab indentation. Functions and classes
are found by name with Python's `ast` (names it cannot parse come from a line scan), then looked
up in the file and in the module.
"""

import ast
import os
import re
import subprocess
import sys
import tempfile

import quarn_rs

BUILD_DIR = os.environ.get("BUILD_DIR", "build/release")

HEADER = ("from quarn import online, offline as off, stream\n"
          "from quarn.features import features, feature, online as fon\n")
DECORATORS = [
    '@online(name="r", inputs={"a": "x", "b": g(1), 3: "n", "c" "d": 1}, output="o")',
    "@off",
    '@stream(window={"w": 1})',
    "@fon()",
]
CLASS_DECORATOR = '@features(name="ns", max_staleness="1d", owner="t")'


def decorate(text, seed):
    out = []
    k = seed
    for line in text.splitlines(keepends=True):
        m = re.match(r"([ \t]*)(async[ \t]+)?(def|class)[ \t]", line)
        if m:
            indent = m.group(1)
            if m.group(3) == "def":
                out.append(indent + DECORATORS[k % len(DECORATORS)] + "\n")
            elif k % 3 != 2:
                out.append(indent + CLASS_DECORATOR + "\n")
            k += 1
        out.append(line)
    return HEADER + "".join(out)


# Fields declared more than once, annotated and assigned in either order.
MERGES = """from quarn.features import features, feature

@features(name="n")
class A:
    # c1
    # :owner: me
    x: int = feature(a=1)
    z = feature(q=1)
    # c2
    x = feature(b=2, c=3)
    y: str
    # :tags: t, u
    y: int = feature(d=4)
    w: int
    w = 5
    z: float
    v = feature()
    v = other(k=1)
"""


def write_decorated(sources, count, root):
    path = os.path.join(root, "deco", "merges.py")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(MERGES)
    paths = [path]
    step = max(1, len(sources) // max(count, 1))
    for n, source in enumerate(sources[::step][:count]):
        with open(source, "rb") as f:
            data = f.read()
        try:
            text = data.decode("utf-8")
        except UnicodeDecodeError:
            continue
        text = decorate(text, n)
        if n % 7 == 1:
            text = text.replace("\r\n", "\n").replace("\n", "\r\n")
        if n % 11 == 2:
            text = "\ufeff" + text
        if n % 13 == 3:
            text = re.sub(r"^((?:    )+)", lambda m: "\t" * (len(m.group(1)) // 4), text,
                          flags=re.M)
        path = os.path.join(root, "deco", f"d{n:04d}_{os.path.basename(source)}")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(text.encode("utf-8"))
        paths.append(path)
    return paths


def names_in(path):
    with open(path, "rb") as f:
        data = f.read()
    functions, classes = set(), set()
    try:
        tree = ast.parse(data)
        for node in ast.walk(tree):
            if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
                functions.add(node.name)
            elif isinstance(node, ast.ClassDef):
                classes.add(node.name)
    except (SyntaxError, ValueError):
        text = data.decode("utf-8", "replace")
        functions.update(re.findall(r"\bdef[ \t]+(\w+)", text))
        classes.update(re.findall(r"\bclass[ \t]+(\w+)", text))
    return sorted(functions), sorted(classes)


def form(value):
    """A text of a property value that does not depend on dict order."""
    if isinstance(value, dict):
        return "{" + ", ".join(f"{k!r}: {form(value[k])}" for k in sorted(value)) + "}"
    if isinstance(value, list):
        return "[" + ", ".join(form(v) for v in value) + "]"
    if isinstance(value, (quarn_rs.FunctionArgAST, quarn_rs.FeatureFieldAST,
                          quarn_rs.FeatureClassAST, quarn_rs.ResolverAST)):
        return record(value)
    return repr(value)


def record(obj):
    names = [n for n in dir(type(obj)) if not n.startswith("_")]
    return type(obj).__name__ + "(" + ", ".join(f"{n}={form(getattr(obj, n))}"
                                                for n in names) + ")"


def module_of(root, path):
    rel = os.path.relpath(path, root)
    return rel[:-3].replace(os.sep, ".") if rel.endswith(".py") else rel


def dump(root, files, out_path):
    index = quarn_rs.AstProjectIndex(files, root)
    with open(out_path, "w", encoding="utf-8", errors="surrogateescape") as out:
        for path in files:
            functions, classes = names_in(path)
            module = module_of(root, path)
            out.write(f"== {os.path.relpath(path, root)}\n")
            for name in functions:
                for kind, found in (("function", index.function_ast_in_file(path, name)),
                                    ("resolver", index.resolver_ast_in_file(path, name))):
                    if found is not None:
                        out.write(f"{kind} {name}: {record(found)}\n")
            # Module lookups walk every file: one per file keeps the dump quick.
            if functions:
                found = index.function_ast(module, functions[0])
                out.write(f"by module {functions[0]}: {found is not None}\n")
            if classes:
                found = index.feature_class_ast(module, classes[0])
                out.write(f"class by module {classes[0]}: {found is not None}\n")
            for name in classes:
                found = index.feature_class_ast_in_file(path, name)
                if found is not None:
                    out.write(f"class {name}: {record(found)}\n")


def main():
    args = sys.argv[1:]
    out_dir = args.pop(0)
    stdlib = "/usr/lib/python3.11"
    synthetic = False
    decorated = 0
    while args:
        flag = args.pop(0)
        if flag == "--stdlib":
            stdlib = args.pop(0)
        elif flag == "--synthetic":
            synthetic = True
        elif flag == "--decorated":
            decorated = int(args.pop(0))
    os.makedirs(out_dir, exist_ok=True)
    sources = sorted(os.path.join(d, n) for d, _, names in os.walk(stdlib) for n in names
                     if n.endswith(".py"))
    dump(stdlib, sources, os.path.join(out_dir, "stdlib.txt"))
    with tempfile.TemporaryDirectory(prefix="quarn_record_dump_") as root:
        if decorated:
            paths = write_decorated(sources, decorated, root)
            dump(root, paths, os.path.join(out_dir, "decorated.txt"))
        if synthetic:
            project = os.path.join(root, "synthetic")
            subprocess.run([os.path.join(BUILD_DIR, "bin", "bench_index"), "--write-project",
                            project], check=True)
            files = sorted(os.path.join(d, n) for d, _, names in os.walk(project)
                           for n in names if n.endswith(".py"))
            dump(project, files, os.path.join(out_dir, "synthetic.txt"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
