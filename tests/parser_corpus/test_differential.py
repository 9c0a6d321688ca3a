"""Node ranges against CPython's: every statement, expression, pattern, parameter, keyword and alias
that CPython's `ast` positions must have a node of the matching kind with the same byte range in
our tree, apart from the documented differences handled below. Prints the agreement."""

import ast
from collections import Counter

from conftest import report

STATEMENTS = {
    "FunctionDef": "StmtFunctionDef", "AsyncFunctionDef": "StmtFunctionDef",
    "ClassDef": "StmtClassDef", "Return": "StmtReturn", "Delete": "StmtDelete",
    "Assign": "StmtAssign", "AugAssign": "StmtAugAssign", "AnnAssign": "StmtAnnAssign",
    "For": "StmtFor", "AsyncFor": "StmtFor", "While": "StmtWhile", "If": "StmtIf",
    "With": "StmtWith", "AsyncWith": "StmtWith", "Match": "StmtMatch", "Raise": "StmtRaise",
    "Try": "StmtTry", "TryStar": "StmtTry", "Assert": "StmtAssert", "Import": "StmtImport",
    "ImportFrom": "StmtImportFrom", "Global": "StmtGlobal", "Nonlocal": "StmtNonlocal",
    "Expr": "StmtExpr", "Pass": "StmtPass", "Break": "StmtBreak", "Continue": "StmtContinue",
}
EXPRESSIONS = {
    "BoolOp": "ExprBoolOp", "NamedExpr": "ExprNamedExpr", "BinOp": "ExprBinOp",
    "UnaryOp": "ExprUnaryOp", "Lambda": "ExprLambda", "IfExp": "ExprIfExp", "Dict": "ExprDict",
    "Set": "ExprSet", "ListComp": "ExprListComp", "SetComp": "ExprSetComp",
    "DictComp": "ExprDictComp", "GeneratorExp": "ExprGeneratorExp", "Await": "ExprAwait",
    "Yield": "ExprYield", "YieldFrom": "ExprYieldFrom", "Compare": "ExprCompare",
    "Call": "ExprCall", "JoinedStr": "ExprFString", "Attribute": "ExprAttribute",
    "Subscript": "ExprSubscript", "Starred": "ExprStarred", "Name": "ExprName",
    "List": "ExprList", "Tuple": "ExprTuple", "Slice": "ExprSlice",
}
OTHERS = {"arg": "Parameter", "keyword": "Keyword", "alias": "Alias"}
COMPOUND = {"FunctionDef", "AsyncFunctionDef", "ClassDef", "For", "AsyncFor", "While", "If",
            "With", "AsyncWith", "Match", "Try", "TryStar"}


def constant_kind(value):
    if isinstance(value, bool):
        return "ExprBooleanLiteral"
    if value is None:
        return "ExprNoneLiteral"
    if value is Ellipsis:
        return "ExprEllipsisLiteral"
    if isinstance(value, str):
        return "ExprStringLiteral"
    if isinstance(value, bytes):
        return "ExprBytesLiteral"
    return "ExprNumberLiteral"


def our_kind(node):
    name = type(node).__name__
    if name == "Constant":
        return constant_kind(node.value)
    if isinstance(node, ast.pattern):
        return "Pattern" + name
    return STATEMENTS.get(name) or EXPRESSIONS.get(name) or OTHERS.get(name)


class Offsets:
    """CPython's line and UTF-8 byte column to byte offsets."""

    def __init__(self, source):
        self.source = source
        self.starts = [0]
        for i, byte in enumerate(source):
            if byte == 0x0A:
                self.starts.append(i + 1)

    def start(self, node):
        return self.starts[node.lineno - 1] + node.col_offset

    def end(self, node):
        return self.starts[node.end_lineno - 1] + node.end_col_offset

    def skip_blank_forward(self, i):
        s = self.source
        while i < len(s):
            if s[i] in b" \t\f\r\n\\":
                i += 1
            elif s[i] == 0x23:  # a comment runs to the line's end
                while i < len(s) and s[i] not in b"\r\n":
                    i += 1
            else:
                break
        return i

    def skip_blank_backward(self, i):
        while i > 0 and self.source[i - 1] in b" \t\f\r\n\\":
            i -= 1
        return i


def expected_ranges(tree, offsets):
    """(kind, start, end, CPython class) of every positioned node we compare."""
    src = offsets.source
    out = []
    skip = set()  # f-string interiors differ in shape
    for node in ast.walk(tree):
        if isinstance(node, ast.JoinedStr):
            for inner in ast.walk(node):
                if inner is not node:
                    skip.add(id(inner))
    elifs = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.If) and len(node.orelse) == 1 and isinstance(node.orelse[0], ast.If):
            inner = node.orelse[0]
            if src.startswith(b"elif", offsets.start(inner)):
                elifs.add(id(inner))
    starred_params = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.arguments):
            for param in (node.vararg, node.kwarg):
                if param is not None:
                    starred_params.add(id(param))
    sole_generators = set()
    for node in ast.walk(tree):
        if (isinstance(node, ast.Call) and len(node.args) == 1 and not node.keywords
                and isinstance(node.args[0], ast.GeneratorExp)):
            gen = node.args[0]
            if src[offsets.start(gen)] == 0x28 and offsets.end(gen) == offsets.end(node):
                sole_generators.add(id(gen))

    for node in ast.walk(tree):
        if id(node) in skip or not hasattr(node, "lineno") or getattr(node, "end_lineno", None) is None:
            continue
        kind = our_kind(node)
        if kind is None:
            continue
        start, end = offsets.start(node), offsets.end(node)
        name = type(node).__name__
        if id(node) in elifs:
            kind = "ElifElseClause"
            end = offsets.end(node.body[-1])
        if name in ("FunctionDef", "AsyncFunctionDef", "ClassDef") and node.decorator_list:
            at = offsets.start(node.decorator_list[0]) - 1
            while src[at] != 0x40:  # `@`
                at -= 1
            start = at
        if id(node) in starred_params:
            star = start - 1
            while src[star] in b" \t\f\r\n\\":
                star -= 1
            if star > 0 and src[star - 1] == 0x2A:
                star -= 1
            start = star
        if id(node) in sole_generators:
            start = offsets.skip_blank_forward(start + 1)
            end = offsets.skip_blank_backward(end - 1)
        if name in COMPOUND or id(node) in elifs:
            if end > 0 and src[end - 1] == 0x3B:  # `;`
                end = offsets.skip_blank_backward(end - 1)
        out.append((kind, start, end, name))
    return out


def our_ranges(tree_json):
    found = set()
    pending = [tree_json]
    while pending:
        value = pending.pop()
        if isinstance(value, dict):
            if "_type" in value and "range" in value:
                found.add((value["_type"], value["range"][0], value["range"][1]))
            pending.extend(value.values())
        elif isinstance(value, list):
            pending.extend(value)
    return found


def test_node_ranges_agree_with_cpython(corpus):
    total = agreed = 0
    clean_total = clean_agreed = 0
    misses = Counter()
    examples = {}
    for f in corpus:
        if f.ours is None:
            continue
        offsets = Offsets(f.source)
        ours = our_ranges(f.ours["ast"])
        clean = not f.ours["errors"]
        for kind, start, end, name in expected_ranges(f.tree, offsets):
            total += 1
            clean_total += clean
            if (kind, start, end) in ours:
                agreed += 1
                clean_agreed += clean
                continue
            misses[(name, kind)] += 1
            if clean:
                examples.setdefault((name, kind), f"{f.path}: {kind} expected at {start}..{end}")
    figure = 100.0 * agreed / total if total else 100.0
    clean_figure = 100.0 * clean_agreed / clean_total if clean_total else 100.0
    report(f"differential: {agreed} of {total} positioned nodes agree ({figure:.2f}%); "
           f"{clean_agreed} of {clean_total} in files parsed without error ({clean_figure:.2f}%)")
    for (name, kind), count in misses.most_common(25):
        report(f"  {count:7d} x {name} -> {kind}: {examples.get((name, kind), '(files with errors only)')}")
