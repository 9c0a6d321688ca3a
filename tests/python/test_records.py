"""The record classes' properties, over records with known values made by the test hook:

    @resolver(inputs={"a": "x"}, output="o")       # resolver f, module pkg.m
    def f(a, b: int) -> None:
        return a

    def g(): pass                                  # plain function g

    @feature(name="shop")                          # feature class Cart
    class Cart:
        # Items in the cart.
        # :owner: team-a
        # :tags: x, y
        items: int = field(default=0)
        total: float
"""

import pytest

import quarn_rs as q


@pytest.fixture
def records(hooks):
    return hooks._records_for_tests()


@pytest.fixture
def resolver(records):
    return records[0]


@pytest.fixture
def function(records):
    return records[1]


@pytest.fixture
def feature_class(records):
    return records[2]


def test_record_objects_have_their_classes(records):
    resolver, function, feature_class = records
    assert type(resolver) is q.ResolverAST and type(function) is q.ResolverAST
    assert type(feature_class) is q.FeatureClassAST
    assert type(resolver.args["a"]) is q.FunctionArgAST
    assert type(feature_class.fields["items"]) is q.FeatureFieldAST
    assert [type(f) for f in feature_class.annotations] == [q.FeatureFieldAST] * 2


RESOLVER_VALUES = [
    ("module", "pkg.m"),
    ("resolver_name", "f"),
    ("resolver_name_location", (1, 4, 1, 5)),
    ("decorator_location", (0, 0, 0, 40)),
    ("kwarg_names", {"inputs": (0, 10, 0, 16), "output": (0, 29, 0, 35)}),
    ("kwargs", {"inputs": (0, 17, 0, 27), "output": (0, 36, 0, 39)}),
    ("kwarg_dict_key_names", {"inputs": {"a": (0, 18, 0, 21)}}),
    ("kwarg_dict_values", {"inputs": {"a": (0, 23, 0, 26)}}),
    ("args_in_order", ["a", "b"]),
    ("return_annotation", (1, 20, 1, 24)),
    ("missing_return_annotation", None),
    ("return_statements", [(2, 4, 2, 12)]),
    ("body", (2, 4, 2, 12)),
    ("return_arg", (2, 11, 2, 12)),
]

FUNCTION_VALUES = [
    ("resolver_name", "g"),
    ("decorator_location", None),
    ("kwarg_names", {}),
    ("kwargs", {}),
    ("kwarg_dict_key_names", {}),
    ("kwarg_dict_values", {}),
    ("args_in_order", []),
    ("args", {}),
    ("return_annotation", None),
    ("missing_return_annotation", (0, 7, 0, 8)),
    ("return_statements", []),
    ("return_arg", None),
]

FEATURE_CLASS_VALUES = [
    ("module", "pkg.m"),
    ("namespace", "shop"),
    ("class_name", "Cart"),
    ("source", '@feature(name="shop")\nclass Cart:\n'),
    ("class_name_location", (1, 6, 1, 10)),
    ("class_definition_location", (1, 0, 1, 11)),
    ("decorator_location", (0, 0, 0, 21)),
    ("kwarg_names", {"name": (0, 9, 0, 13)}),
    ("kwargs", {"name": (0, 14, 0, 20)}),
]

ITEMS_VALUES = [
    ("field_name", "items"),
    ("field_name_location", (5, 4, 5, 9)),
    ("comment", "Items in the cart.\n:owner: team-a\n:tags: x, y"),
    ("description", "Items in the cart."),
    ("owner", "team-a"),
    ("tags", ["x", "y"]),
    ("annotation", (5, 11, 5, 14)),
    ("feature_call", (5, 17, 5, 33)),
    ("kwarg_names", {"default": (5, 23, 5, 30)}),
    ("kwargs", {"default": (5, 31, 5, 32)}),
]

TOTAL_VALUES = [
    ("field_name", "total"),
    ("comment", None),
    ("description", None),
    ("owner", None),
    ("tags", []),
    ("annotation", (6, 11, 6, 16)),
    ("feature_call", None),
    ("kwargs", {}),
]


def _check(obj, values):
    for name, expected in values:
        got = getattr(obj, name)
        assert got == expected, name
        # Exact Python types: tuples of ints, plain lists and dicts.
        assert type(got) is type(expected), name


def test_resolver_properties(resolver, function):
    _check(resolver, RESOLVER_VALUES)
    _check(function, FUNCTION_VALUES)


def test_function_args(resolver):
    args = resolver.args
    assert sorted(args) == ["a", "b"]
    assert args["a"].arg_name == "a"
    assert args["a"].arg_location == (1, 6, 1, 7)
    assert args["a"].annotation is None
    assert args["b"].arg_location == (1, 9, 1, 15)
    assert args["b"].annotation == (1, 12, 1, 15)


def test_feature_class_and_field_properties(feature_class):
    _check(feature_class, FEATURE_CLASS_VALUES)
    fields = feature_class.fields
    assert sorted(fields) == ["items", "total"]
    _check(fields["items"], ITEMS_VALUES)
    _check(fields["total"], TOTAL_VALUES)
    # Annotations keep source order; each is its own object.
    annotations = feature_class.annotations
    assert [f.field_name for f in annotations] == ["items", "total"]
    _check(annotations[0], ITEMS_VALUES)
    assert annotations[0] is not fields["items"]


def test_every_read_makes_new_values(resolver, feature_class):
    assert resolver.args is not resolver.args
    assert resolver.args["a"] is not resolver.args["a"]
    assert resolver.args["a"] != resolver.args["a"]  # identity comparison
    assert resolver.kwargs is not resolver.kwargs
    assert resolver.kwargs == resolver.kwargs
    assert feature_class.annotations[0] is not feature_class.annotations[0]

    changed = resolver.kwarg_dict_values
    changed["inputs"]["a"] = None
    changed["new"] = {}
    order = resolver.args_in_order
    order.append("c")
    statements = resolver.return_statements
    statements.clear()
    tags = feature_class.fields["items"].tags
    tags.append("z")
    _check(resolver, RESOLVER_VALUES)
    assert feature_class.fields["items"].tags == ["x", "y"]


def test_nested_records_outlive_their_parent(hooks):
    resolver, _, feature_class = hooks._records_for_tests()
    arg = resolver.args["b"]
    field = feature_class.annotations[0]
    del resolver, feature_class
    assert arg.annotation == (1, 12, 1, 15)
    assert field.owner == "team-a"


def test_values_read_again_stay_the_same_and_are_released_with_their_record(hooks):
    import sys

    resolver, _, feature_class = hooks._records_for_tests()
    field = feature_class.fields["items"]
    # Reads of every kind of value twice: the second gives what the first gave.
    for obj, name, expected in [
        (resolver, "module", "pkg.m"),
        (resolver, "decorator_location", (0, 0, 0, 40)),
        (resolver, "missing_return_annotation", None),
        (field, "owner", "team-a"),
        (field, "description", "Items in the cart."),
        (feature_class, "namespace", "shop"),
    ]:
        assert getattr(obj, name) == expected
        assert getattr(obj, name) == expected
    # A value read from a record is held by the caller alone once the record is gone.
    location = resolver.body
    held = sys.getrefcount(location)
    del resolver
    assert sys.getrefcount(location) < held
    assert location == (2, 4, 2, 12)


@pytest.mark.parametrize("name", ["module", "args", "body"])
def test_properties_are_read_only(resolver, name):
    with pytest.raises(AttributeError):
        setattr(resolver, name, 1)
    with pytest.raises(AttributeError):
        delattr(resolver, name)
    with pytest.raises(AttributeError):
        resolver.other = 1


def test_record_instances_refuse_weak_references(resolver, feature_class):
    import weakref

    for obj in (resolver, feature_class, resolver.args["a"], feature_class.fields["items"]):
        with pytest.raises(TypeError):
            weakref.ref(obj)
        with pytest.raises(AttributeError):
            obj.__dict__
