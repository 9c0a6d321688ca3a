"""Index the example project with quarn_rs and print its feature classes and resolvers.

Only the module's public surface is used: the index answers lookups by name, so the names to ask
for are those of the class and function definitions (`async def` included) that Python's own `ast`
finds in each file, and the index says which of them are feature classes and resolvers. The module's
locations are zero-based; the demo prints them as line:character, both counted from 1.
"""

import ast
import os
import sys

import quarn_rs

PROJECT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "project")


def python_files(root):
    for directory, subdirectories, names in os.walk(root):
        subdirectories.sort()
        for name in sorted(names):
            if name.endswith(".py"):
                yield os.path.relpath(os.path.join(directory, name), root)


def definitions(text):
    """(is a class, name) of every class and function definition, nested ones too, in source
    order."""
    nodes = [
        node
        for node in ast.walk(ast.parse(text))
        if isinstance(node, (ast.ClassDef, ast.FunctionDef, ast.AsyncFunctionDef))
    ]
    nodes.sort(key=lambda node: (node.lineno, node.col_offset))
    return [(isinstance(node, ast.ClassDef), node.name) for node in nodes]


def at(location):
    return f"{location[0] + 1}:{location[1] + 1}"


class Source:
    """The text of one file, cut by the index's locations."""

    def __init__(self, text):
        # The line breaks the module counts: \r\n, \r and \n.
        self.lines = text.replace("\r\n", "\n").replace("\r", "\n").split("\n")

    def __getitem__(self, location):
        start_line, start, end_line, end = location
        if start_line == end_line:
            return self.lines[start_line][start:end]
        parts = [self.lines[start_line][start:]]
        parts += self.lines[start_line + 1 : end_line]
        parts.append(self.lines[end_line][:end])
        return " ".join(part.strip() for part in parts)


def show_feature_class(feature_class, source):
    print(f"  feature class {feature_class.class_name}  namespace {feature_class.namespace!r}"
          f"  at {at(feature_class.class_name_location)}")
    options = ", ".join(f"{k}={source[v]}" for k, v in sorted(feature_class.kwargs.items()))
    if options:
        print(f"    options: {options}")
    fields = sorted(feature_class.fields.values(), key=lambda field: field.field_name_location)
    rows = [
        (
            field.field_name,
            source[field.annotation] if field.annotation else "-",
            field.owner or "-",
            ", ".join(field.tags) or "-",
            at(field.field_name_location),
        )
        for field in fields
    ]
    widths = [max(len(row[i]) for row in rows) for i in range(4)] if rows else []
    for field, (name, kind, owner, tags, position) in zip(fields, rows):
        print(f"    {name:<{widths[0]}}  {kind:<{widths[1]}}  owner {owner:<{widths[2]}}"
              f"  tags {tags:<{widths[3]}}  at {position}")
        if field.description:
            print(f"    {'':<{widths[0]}}  {field.description}")


def show_resolver(resolver, source):
    decorator = source[resolver.decorator_location]
    print(f"  resolver {resolver.resolver_name}  @{decorator}  at {at(resolver.resolver_name_location)}")
    inputs = []
    for name in resolver.args_in_order:
        annotation = resolver.args[name].annotation
        inputs.append(f"{name}: {source[annotation]}" if annotation else name)
    print(f"    inputs:  {', '.join(inputs) or '-'}")
    output = resolver.return_annotation
    print(f"    output:  {source[output] if output else '-'}")


def main():
    # Relative paths keep the output the same on every machine.
    os.chdir(PROJECT)
    files = list(python_files("."))
    filesystem = quarn_rs.StdAstFileSystem(files)
    index = quarn_rs.AstProjectIndex(files, ".", filesystem=filesystem)
    index.nonblocking_start_index()  # parses every file on background threads
    parsed = quarn_rs.AstFileParserCache(files, ".", filesystem=filesystem)

    print(f"quarn_rs indexed {len(files)} files of examples/project")
    print("(positions are line:character, both counted from 1)")
    for path in filesystem.all_files():
        try:
            _, text, _ = parsed.get_parsed_file(path)
        except ValueError as error:
            print(f"\n{path}: not indexed. {error}")
            continue
        source = Source(text)
        found = []
        for is_class, name in definitions(text):
            if is_class:
                record = index.feature_class_ast_in_file(path, name)
            else:
                record = index.resolver_ast_in_file(path, name)
            if record is not None:
                found.append(record)
        if not found:
            continue
        print(f"\n{path}  (module {found[0].module})")
        for record in found:
            if isinstance(record, quarn_rs.FeatureClassAST):
                show_feature_class(record, source)
            else:
                show_resolver(record, source)


if __name__ == "__main__":
    sys.exit(main())
