"""The extraction a user would write over CPython's `ast` instead of the project index: every
function with its parameters, returns and decorator keywords, every feature class with its
fields and the comment block above each. Prints the seconds taken for the folder given."""

import ast
import os
import sys
import time


def location(node):
    return (node.lineno - 1, node.col_offset, node.end_lineno - 1, node.end_col_offset)


def keywords(call):
    return {k.arg: location(k.value) for k in call.keywords if k.arg}


def function_record(node):
    args = node.args
    params = args.posonlyargs + args.args + ([args.vararg] if args.vararg else [])
    params += args.kwonlyargs + ([args.kwarg] if args.kwarg else [])
    returns = [location(n) for n in ast.walk(node) if isinstance(n, ast.Return)]
    decorator = None
    for d in node.decorator_list:
        target = d.func if isinstance(d, ast.Call) else d
        if isinstance(target, ast.Name) and target.id in ("online", "offline", "stream"):
            decorator = d
            break
    return {
        "name": node.name,
        "args": {p.arg: (location(p), p.annotation and location(p.annotation)) for p in params},
        "returns": returns,
        "return_annotation": node.returns and location(node.returns),
        "decorator": decorator and location(decorator),
        "kwargs": keywords(decorator) if isinstance(decorator, ast.Call) else {},
    }


def comment_block(lines, lineno):
    block = []
    i = lineno - 2
    while i >= 0 and lines[i].lstrip().startswith("#"):
        block.insert(0, lines[i].strip().lstrip("#").strip())
        i -= 1
    return block


def class_record(node, lines):
    fields = {}
    for stmt in node.body:
        if isinstance(stmt, ast.AnnAssign) and isinstance(stmt.target, ast.Name):
            fields[stmt.target.id] = (location(stmt.target), comment_block(lines, stmt.lineno))
        elif (isinstance(stmt, ast.Assign) and len(stmt.targets) == 1
              and isinstance(stmt.targets[0], ast.Name)):
            fields[stmt.targets[0].id] = (location(stmt.targets[0]),
                                          comment_block(lines, stmt.lineno))
    first = node.decorator_list[0].lineno if node.decorator_list else node.lineno
    source = "".join(lines[first - 1:node.end_lineno])
    return {"name": node.name, "fields": fields, "source": source}


def extract(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    tree = ast.parse(text)
    lines = text.splitlines(keepends=True)
    functions, classes = [], []
    for node in ast.walk(tree):
        if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
            functions.append(function_record(node))
        elif isinstance(node, ast.ClassDef):
            classes.append(class_record(node, lines))
    return functions, classes


def main():
    root = sys.argv[1]
    paths = sorted(os.path.join(d, n) for d, _, names in os.walk(root) for n in names
                   if n.endswith(".py"))
    start = time.perf_counter()
    for path in paths:
        extract(path)
    print(time.perf_counter() - start)


if __name__ == "__main__":
    main()
