"""The project index and the parsed-file cache over small projects written by the tests."""

import gc
import os
import threading

import pytest

import quarn_rs as q
from conftest import write_project


SHOP = {
    "shop/__init__.py": "",
    "shop/cart.py": """\
from quarn import online, offline as off
from quarn.features import features


@features(name="shop")
class Cart:
    # Items in the cart.
    # :owner: team-a
    # :tags: pii, core  beta
    items: int = feature(description="x", max_age=3)
    total: float
    count = 0


@features
class UserProfile:
    id: int


@online(owner="me", tags={"tier": "gold"})
def total_of(items: Cart.items, price) -> Cart.total:
    return items * price


@off
def later(a, b: int) -> None:
    pass


def plain(x, *rest, k=1, **more):
    def inner():
        return 1
    return x
""",
    "shop/other.py": "def plain():\n    return 2\n",
}


@pytest.fixture
def shop(tmp_path):
    paths = write_project(tmp_path, SHOP)
    return tmp_path, paths, q.AstProjectIndex(paths, str(tmp_path))


def test_feature_class_lookup_by_module_and_by_file(shop):
    root, paths, index = shop
    cart_path = paths[1]
    by_module = index.feature_class_ast("shop.cart", "Cart")
    by_file = index.feature_class_ast_in_file(cart_path, "Cart")
    assert type(by_module) is q.FeatureClassAST
    assert by_module is not by_file and by_module != by_file
    for cart in (by_module, by_file):
        assert cart.module == "shop.cart"
        assert cart.namespace == "shop"
        assert cart.class_name == "Cart"
        assert cart.class_name_location == (5, 6, 5, 10)
        assert cart.class_definition_location == (5, 0, 5, 11)
        assert cart.decorator_location == (4, 1, 4, 22)
        assert cart.kwarg_names == {"name": (4, 10, 4, 14)}
        assert cart.kwargs == {"name": (4, 15, 4, 21)}
        assert cart.source.startswith('@features(name="shop")\nclass Cart:\n')
        assert [f.field_name for f in cart.annotations] == ["items", "total"]
        assert sorted(cart.fields) == ["count", "items", "total"]
    items = by_module.fields["items"]
    assert items.comment == "Items in the cart.\n:owner: team-a\n:tags: pii, core  beta"
    assert items.description == "Items in the cart."
    assert items.owner == "team-a"
    assert items.tags == ["pii", "core", "beta"]
    assert items.field_name_location == (9, 4, 9, 9)
    assert items.annotation == (9, 11, 9, 14)
    assert items.feature_call == (9, 17, 9, 52)
    assert items.kwarg_names == {"description": (9, 25, 9, 36), "max_age": (9, 42, 9, 49)}
    total = by_module.fields["total"]
    assert (total.comment, total.owner, total.tags, total.feature_call) == (None, None, [], None)
    assert by_module.fields["count"].feature_call == (11, 12, 11, 13)
    assert by_module.fields["count"].annotation is None
    profile = index.feature_class_ast("shop.cart", "UserProfile")
    assert profile.namespace == "user_profile"
    assert profile.kwargs == {}


def test_resolver_lookups(shop):
    root, paths, index = shop
    resolver = index.resolver_ast("shop.cart", "total_of")
    assert type(resolver) is q.ResolverAST
    assert resolver.module == "shop.cart"
    assert resolver.resolver_name_location == (20, 4, 20, 12)
    assert resolver.decorator_location == (19, 1, 19, 42)
    assert sorted(resolver.kwarg_names) == ["owner", "tags"]
    assert resolver.kwarg_dict_key_names == {"tags": {"tier": (19, 26, 19, 32)}}
    assert resolver.kwarg_dict_values == {"tags": {"tier": (19, 34, 19, 40)}}
    assert resolver.args_in_order == ["items", "price"]
    assert resolver.args["items"].annotation == (20, 20, 20, 30)
    assert resolver.args["price"].annotation is None
    assert resolver.return_annotation == (20, 42, 20, 52)
    assert resolver.missing_return_annotation is None
    assert resolver.return_statements == [(21, 4, 21, 24)]
    assert resolver.return_arg == (21, 11, 21, 24)

    later = index.resolver_ast_in_file(paths[1], "later")
    assert later.decorator_location == (24, 1, 24, 4)
    assert later.kwargs == {} and later.kwarg_dict_values == {}
    assert later.args_in_order == ["a", "b"]
    assert later.args["a"].annotation is None
    assert later.args["b"].annotation == (25, 16, 25, 19)


def test_function_lookups_return_resolver_records_for_plain_functions(shop):
    root, paths, index = shop
    plain = index.function_ast("shop.cart", "plain")
    assert type(plain) is q.ResolverAST
    assert plain.decorator_location is None
    assert plain.args_in_order == ["x", "rest", "k", "more"]
    assert plain.missing_return_annotation == (29, 32, 29, 33)
    assert index.function_ast_in_file(paths[1], "inner").resolver_name == "inner"
    assert index.resolver_ast("shop.cart", "plain") is None
    assert index.resolver_ast_in_file(paths[1], "plain") is None
    # The module decides which file answers.
    assert index.function_ast("shop.other", "plain").return_statements == [(1, 4, 1, 12)]
    # A resolver is a function too.
    assert index.function_ast("shop.cart", "total_of").decorator_location is not None


@pytest.mark.parametrize(
    "lookup,args",
    [
        ("feature_class_ast", ("shop.cart", "Nope")),
        ("feature_class_ast", ("shop.other", "Cart")),
        ("resolver_ast", ("no.such.module", "total_of")),
        ("function_ast", ("shop.cart", "")),
        ("feature_class_ast_in_file", ("/no/such/file.py", "Cart")),
        ("resolver_ast_in_file", ("/no/such/file.py", "total_of")),
        ("function_ast_in_file", ("", "plain")),
    ],
)
def test_lookups_that_find_nothing_return_none(shop, lookup, args):
    index = shop[2]
    assert getattr(index, lookup)(*args) is None


def test_missing_and_broken_files_are_passed_over(tmp_path):
    paths = write_project(tmp_path, {"bad.py": "def f(:\n", "good.py": "def f():\n    pass\n"})
    missing = str(tmp_path / "missing.py")
    index = q.AstProjectIndex([missing] + paths, str(tmp_path))
    assert index.function_ast("bad", "f") is None
    assert index.function_ast_in_file(paths[0], "f") is None
    assert index.function_ast_in_file(missing, "f") is None
    assert index.function_ast("good", "f").resolver_name == "f"
    only_missing = q.AstProjectIndex([missing, str(tmp_path / "gone.py")], str(tmp_path))
    assert only_missing.function_ast("missing", "f") is None


def test_construction_reads_no_file(tmp_path):
    path = tmp_path / "late.py"
    path.write_text("def early():\n    pass\n", encoding="utf-8")
    index = q.AstProjectIndex([str(path)], str(tmp_path))
    path.write_text("def late():\n    pass\n", encoding="utf-8")
    assert index.function_ast("late", "late") is not None
    assert index.function_ast("late", "early") is None
    # Read once: later changes on disk are not seen by the same index.
    path.write_text("def later():\n    pass\n", encoding="utf-8")
    assert index.function_ast("late", "later") is None


def test_index_over_a_shared_file_system_outlives_it(tmp_path):
    paths = write_project(tmp_path, {"a.py": "def f():\n    pass\n"})
    fs = q.StdAstFileSystem(paths)
    index = q.AstProjectIndex(paths, str(tmp_path), filesystem=fs)
    cache = q.AstFileParserCache([], str(tmp_path), fs)
    del fs
    assert index.function_ast("a", "f").resolver_name == "f"
    assert cache.all_files() == paths


def test_nonblocking_start_index(shop, tmp_path):
    index = shop[2]
    assert index.nonblocking_start_index() is None
    assert index.nonblocking_start_index() is None
    assert index.feature_class_ast("shop.cart", "Cart").namespace == "shop"
    assert q.AstProjectIndex([], str(tmp_path)).nonblocking_start_index() is None
    # An index dropped while its warm-up threads still run.
    q.AstProjectIndex(shop[1] * 20, str(shop[0])).nonblocking_start_index()


def test_location_at_the_very_start(tmp_path):
    paths = write_project(tmp_path, {"m.py": "def f(a):\n    return a\n"})
    f = q.AstProjectIndex(paths, str(tmp_path)).function_ast("m", "f")
    assert f.resolver_name_location[:2] == (0, 4)
    assert f.args["a"].arg_location == (0, 6, 0, 7)
    assert f.body == (1, 4, 1, 12)


def test_locations_count_characters_not_bytes(tmp_path):
    paths = write_project(tmp_path, {"café/m.py": "x = 'é😀'; y = 1\ndef größe(ä, b): pass\n"})
    f = q.AstProjectIndex(paths, str(tmp_path)).function_ast_in_file(paths[0], "größe")
    assert f.module == "café.m"
    assert f.resolver_name_location == (1, 4, 1, 9)
    assert f.args["b"].arg_location == (1, 13, 1, 14)


class TestParsedFiles:
    def test_get_parsed_file_returns_path_source_and_imports(self, tmp_path):
        source = "from m import b as z, a as y\nfrom m import c\nfrom n import x as é, x as B, x as a, x as b, x\nimport os\nfrom . import rel\n"
        paths = write_project(tmp_path, {"m.py": source})
        cache = q.AstFileParserCache(paths, str(tmp_path))
        path, text, imports = cache.get_parsed_file(paths[0])
        assert path == paths[0] and text == source
        assert imports == {"m": {"b": ["z"], "a": ["y"], "c": ["c"]}, "n": {"x": ["B", "a", "b", "x", "é"]}}
        again = cache.get_parsed_file(path=paths[0])
        assert again == (path, text, imports) and again[2] is not imports

    def test_failures_are_value_errors_and_remembered(self, tmp_path):
        paths = write_project(tmp_path, {"bad.py": "def f(:\n"})
        cache = q.AstFileParserCache(paths, str(tmp_path))
        with pytest.raises(ValueError) as first:
            cache.get_parsed_file(paths[0])
        assert str(first.value).startswith(f"Failed to parse {paths[0]}")
        os.remove(paths[0])
        with pytest.raises(ValueError) as second:
            cache.get_parsed_file(paths[0])
        assert str(second.value) == str(first.value)
        with pytest.raises(ValueError) as missing:
            cache.get_parsed_file(str(tmp_path / "missing.py"))
        assert str(missing.value).startswith(f"Failed to read {tmp_path / 'missing.py'}: ")


DEPTH = 1590
DEEP_HEADERS = {
    "if": ("if c:", None),
    "def": ("def f{k}():", None),
    "class": ("class C{k}:", None),
    "while": ("while c:", None),
    "try": ("try:", "finally:"),
    "with": ("with c:", None),
}


def deep_source(kind):
    """DEPTH nested blocks of one kind, with `def leaf(): return 1` innermost on line DEPTH."""
    header, closer = DEEP_HEADERS[kind]
    lines = [" " * (4 * k) + header.format(k=k) for k in range(DEPTH)]
    lines.append(" " * (4 * DEPTH) + "def leaf(): return 1")
    if closer:
        for k in reversed(range(DEPTH)):
            lines += [" " * (4 * k) + closer, " " * (4 * k + 4) + "pass"]
    return "\n".join(lines) + "\n"


@pytest.mark.parametrize("kind", sorted(DEEP_HEADERS))
def test_deeply_nested_blocks_are_walked_on_a_small_thread_stack(tmp_path, kind):
    path = tmp_path / "deep.py"
    path.write_text(deep_source(kind), encoding="utf-8")
    index = q.AstProjectIndex([str(path)], str(tmp_path))
    found = []

    def lookup():
        try:
            found.append(index.function_ast_in_file(str(path), "leaf"))
        except BaseException as error:  # report, never lose, a failure
            found.append(error)

    previous = threading.stack_size(256 * 1024)
    try:
        thread = threading.Thread(target=lookup)
        thread.start()
        thread.join()
    finally:
        threading.stack_size(previous)
    (leaf,) = found
    assert leaf is not None and not isinstance(leaf, BaseException), leaf
    column = 4 * DEPTH + 4
    assert leaf.resolver_name_location == (DEPTH, column, DEPTH, column + 4)
    # `return 1`, the one return of the leaf's body.
    assert leaf.return_statements == [(DEPTH, column + 8, DEPTH, column + 16)]
    assert leaf.return_arg == (DEPTH, column + 15, DEPTH, column + 16)


ORDERED = """\
from quarn import online
from quarn.features import features


@features(zulu="1", alpha="2", mike="3")
class Order:
    zeta: int
    alpha = 1
    mid: str = feature(yankee=1, bravo=2)
    beta: float
    alpha: int


@online(zulu=1, tags={"z": 1, "a": 2, "m": 3}, alpha=2)
def resolve(zed, alpha, *mid, kilo=1, **beta):
    return 1
"""


def test_dicts_come_in_source_order(tmp_path):
    (path,) = write_project(tmp_path, {"ordered.py": ORDERED})
    index = q.AstProjectIndex([path], str(tmp_path))
    order = index.feature_class_ast("ordered", "Order")
    resolve = index.resolver_ast("ordered", "resolve")
    cases = [
        # A field's place is that of its first statement, assigned or annotated.
        (order.fields, ["zeta", "alpha", "mid", "beta"]),
        ([f.field_name for f in order.annotations], ["zeta", "mid", "beta", "alpha"]),
        (order.kwarg_names, ["zulu", "alpha", "mike"]),
        (order.kwargs, ["zulu", "alpha", "mike"]),
        (order.fields["mid"].kwarg_names, ["yankee", "bravo"]),
        (order.fields["mid"].kwargs, ["yankee", "bravo"]),
        (resolve.kwarg_names, ["zulu", "tags", "alpha"]),
        (resolve.kwargs, ["zulu", "tags", "alpha"]),
        (resolve.kwarg_dict_key_names["tags"], ["z", "a", "m"]),
        (resolve.kwarg_dict_values["tags"], ["z", "a", "m"]),
        (resolve.args, ["zed", "alpha", "mid", "kilo", "beta"]),
    ]
    for got, expected in cases:
        assert list(got) == expected


# Thirty fields whose calls and comments repeat some names and not others: more distinct names
# than a record tree keeps for reuse, names of one character, names beyond ASCII, and a name
# longer than any kept one.
LONG_NAME = "a_keyword_name_of_forty_one_characters_x"
NAMES_FIELDS = 30


def names_source():
    lines = ["from quarn.features import features, feature", "", "", "@features", "class Names:"]
    for k in range(NAMES_FIELDS):
        lines += [
            f"    # :owner: team-{k % 2}",
            f"    # :tags: common, t{k}, ünï, z",
            f"    f{k}: int = feature(shared=1, x=2, é=3, {LONG_NAME}=4, kw{k}=5)",
        ]
    return "\n".join(lines) + "\n"


def test_names_read_through_a_tree_are_each_their_own_text(tmp_path):
    (path,) = write_project(tmp_path, {"names.py": names_source()})
    index = q.AstProjectIndex([path], str(tmp_path))
    # Two trees at once, read in turns: neither sees the other's names.
    trees = [index.feature_class_ast("names", "Names") for _ in range(2)]
    fields = [list(tree.fields.values()) for tree in trees]
    for k in range(NAMES_FIELDS):
        keywords = ["shared", "x", "é", LONG_NAME, f"kw{k}"]
        for tree_fields in fields:
            field = tree_fields[k]
            for got in (field.kwarg_names, field.kwargs):
                assert list(got) == keywords
                assert all(type(key) is str for key in got)
                # Looked up by equal strs made here: the keys hash as any str does.
                assert all(key in got for key in [f"kw{k}", "shared", "x", "\u00e9"])
                assert "kw" not in got and f"kw{k + 1}" not in got
            assert field.tags == ["common", f"t{k}", "ünï", "z"]
            assert field.owner == f"team-{k % 2}"
    # A changed result does not reach the names of a later read.
    tags = fields[0][0].tags
    tags[0] += "!"
    assert fields[0][1].tags[0] == "common" and trees[0].fields["f0"].tags[0] == "common"


LINES_SOURCE = """\
from quarn.features import features, feature


@features(name="n")
class C:
    a: int = feature(k=1)
    # :owner: o
    bb: str = feature(k=2, long_name=3)
"""

# (record, property, value), the records named by a path from the class.
LINES_CASES = [
    ((), "decorator_location", (3, 1, 3, 19)),
    ((), "class_name_location", (4, 6, 4, 7)),
    ((), "kwarg_names", {"name": (3, 10, 3, 14)}),
    ((), "kwargs", {"name": (3, 15, 3, 18)}),
    (("a",), "field_name_location", (5, 4, 5, 5)),
    (("a",), "annotation", (5, 7, 5, 10)),
    (("a",), "feature_call", (5, 13, 5, 25)),
    (("a",), "kwarg_names", {"k": (5, 21, 5, 22)}),
    (("a",), "kwargs", {"k": (5, 23, 5, 24)}),
    (("bb",), "field_name_location", (7, 4, 7, 6)),
    (("bb",), "annotation", (7, 8, 7, 11)),
    (("bb",), "feature_call", (7, 14, 7, 39)),
    (("bb",), "kwarg_names", {"k": (7, 22, 7, 23), "long_name": (7, 27, 7, 36)}),
    (("bb",), "kwargs", {"k": (7, 24, 7, 25), "long_name": (7, 37, 7, 38)}),
    (("annotations", 1), "field_name_location", (7, 4, 7, 6)),
    (("annotations", 0), "feature_call", (5, 13, 5, 25)),
]


@pytest.mark.parametrize("order", ["forward", "backward", "interleaved"])
def test_locations_of_a_tree_read_in_any_order(tmp_path, order):
    (path,) = write_project(tmp_path, {"lines.py": LINES_SOURCE})
    index = q.AstProjectIndex([path], str(tmp_path))
    cases = list(LINES_CASES)
    if order == "backward":
        cases.reverse()
    elif order == "interleaved":
        cases = cases[::2] + cases[1::2][::-1]
    record = index.feature_class_ast("lines", "C")
    # The nested records are made first, then read in the order of the cases.
    nested = {
        ("a",): record.fields["a"],
        ("bb",): record.fields["bb"],
        ("annotations", 0): record.annotations[0],
        ("annotations", 1): record.annotations[1],
        (): record,
    }
    for where, name, expected in cases:
        assert getattr(nested[where], name) == expected, (where, name)
    # A nested record read after its class and the index are gone reads the same.
    field = nested[("bb",)]
    del record, nested, index
    gc.collect()
    assert field.kwargs == {"k": (7, 24, 7, 25), "long_name": (7, 37, 7, 38)}
    assert field.owner == "o"


def test_locations_beyond_a_thousand_lines_and_columns(tmp_path):
    pad = "x" * 1100
    source = (
        "from quarn.features import features, feature\n"
        + "# pad\n" * 1100
        + "@features\nclass Far:\n"
        + f'    f: int = feature(pad="{pad}", last=2)\n'
    )
    (path,) = write_project(tmp_path, {"far.py": source})
    far = q.AstProjectIndex([path], str(tmp_path)).feature_class_ast("far", "Far")
    field = far.fields["f"]
    cases = [
        (far.class_name_location, (1102, 6, 1102, 9)),
        (field.field_name_location, (1103, 4, 1103, 5)),
        (field.feature_call, (1103, 13, 1103, 1136)),
        (field.kwarg_names, {"pad": (1103, 21, 1103, 24), "last": (1103, 1129, 1103, 1133)}),
        (field.kwargs, {"pad": (1103, 25, 1103, 1127), "last": (1103, 1134, 1103, 1135)}),
    ]
    for got, expected in cases:
        assert got == expected
    assert all(type(n) is int for n in field.kwargs["last"])
