"""The seven classes as Python sees them: names, flags, signatures and what instances refuse."""

import inspect
import weakref

import pytest

import quarn_rs as q

SERVICE_SIGNATURES = [
    ("StdAstFileSystem", "(files)"),
    ("AstFileParserCache", "(files, project_root, filesystem=None)"),
    ("AstProjectIndex", "(files, project_root, filesystem=None)"),
]
RECORD_CLASSES = ["FeatureFieldAST", "FeatureClassAST", "FunctionArgAST", "ResolverAST"]

METHODS = [
    ("StdAstFileSystem", "read_to_string", "($self, path)"),
    ("StdAstFileSystem", "all_files", "($self)"),
    ("AstFileParserCache", "all_files", "($self)"),
    ("AstFileParserCache", "get_parsed_file", "($self, path)"),
    ("AstProjectIndex", "feature_class_ast", "($self, module, class_name)"),
    ("AstProjectIndex", "feature_class_ast_in_file", "($self, file_path, class_name)"),
    ("AstProjectIndex", "resolver_ast", "($self, module, resolver_name)"),
    ("AstProjectIndex", "resolver_ast_in_file", "($self, file_path, resolver_name)"),
    ("AstProjectIndex", "function_ast", "($self, module, function_name)"),
    ("AstProjectIndex", "function_ast_in_file", "($self, file_path, function_name)"),
    ("AstProjectIndex", "nonblocking_start_index", "($self)"),
]

PROPERTIES = {
    "ResolverAST": [
        "module", "resolver_name", "resolver_name_location", "decorator_location",
        "kwarg_names", "kwargs", "kwarg_dict_key_names", "kwarg_dict_values", "args_in_order",
        "args", "return_annotation", "missing_return_annotation", "return_statements", "body",
        "return_arg",
    ],
    "FunctionArgAST": ["arg_name", "arg_location", "annotation"],
    "FeatureClassAST": [
        "module", "namespace", "class_name", "source", "class_name_location",
        "class_definition_location", "decorator_location", "kwarg_names", "kwargs", "fields",
        "annotations",
    ],
    "FeatureFieldAST": [
        "field_name", "field_name_location", "comment", "description", "owner", "tags",
        "annotation", "feature_call", "kwarg_names", "kwargs",
    ],
}


@pytest.mark.parametrize("name", [n for n, _ in SERVICE_SIGNATURES] + RECORD_CLASSES)
def test_class_names_and_base(name):
    cls = getattr(q, name)
    assert isinstance(cls, type)
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    assert cls.__module__ == "builtins"
    assert cls.__bases__ == (object,)
    # The interpreter's defaults: identity comparison and hashing, no repr of its own.
    assert cls.__repr__ is object.__repr__
    assert cls.__eq__ is object.__eq__
    assert cls.__hash__ is object.__hash__
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})


@pytest.mark.parametrize("name,signature", SERVICE_SIGNATURES)
def test_service_constructor_signature(name, signature):
    cls = getattr(q, name)
    assert cls.__text_signature__ == signature
    assert str(inspect.signature(cls)) == signature


@pytest.mark.parametrize("name", RECORD_CLASSES)
def test_record_classes_cannot_be_made_from_python(name):
    cls = getattr(q, name)
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        cls.__new__(cls)
    assert cls.__text_signature__ is None


@pytest.mark.parametrize("cls_name,method,signature", METHODS)
def test_method_signatures(cls_name, method, signature):
    function = getattr(getattr(q, cls_name), method)
    assert function.__text_signature__ == signature
    assert function.__doc__ is None


def test_classes_define_exactly_their_members():
    for cls_name, properties in PROPERTIES.items():
        cls = getattr(q, cls_name)
        own = [k for k, v in vars(cls).items() if inspect.isdatadescriptor(v)]
        assert own == properties, cls_name
        for prop in properties:
            assert vars(cls)[prop].__doc__ in ("", None)
    for cls_name in ["StdAstFileSystem", "AstFileParserCache", "AstProjectIndex"]:
        cls = getattr(q, cls_name)
        methods = [k for k, v in vars(cls).items() if callable(v) and not k.startswith("__")]
        assert methods == [m for c, m, _ in METHODS if c == cls_name]


def service_instances(tmp_path):
    fs = q.StdAstFileSystem([str(tmp_path / "a.py")])
    return [
        fs,
        q.AstFileParserCache([], str(tmp_path)),
        q.AstProjectIndex([], str(tmp_path)),
    ]


def test_instances_refuse_new_attributes_and_weak_references(tmp_path):
    for obj in service_instances(tmp_path):
        with pytest.raises(AttributeError):
            obj.foo = 1
        with pytest.raises(AttributeError):
            obj.__dict__
        with pytest.raises(TypeError):
            weakref.ref(obj)


def test_instances_compare_by_identity(tmp_path):
    a, b = q.StdAstFileSystem([]), q.StdAstFileSystem([])
    assert a != b and a == a
    assert hash(a) != hash(b) or a is not b


@pytest.mark.parametrize(
    "call,message",
    [
        (lambda: q.StdAstFileSystem(), "StdAstFileSystem.__new__() missing 1 required positional argument: 'files'"),
        (lambda: q.StdAstFileSystem([], []), "StdAstFileSystem.__new__() takes 1 positional arguments but 2 were given"),
        (lambda: q.StdAstFileSystem(paths=[]), "StdAstFileSystem.__new__() got an unexpected keyword argument 'paths'"),
        (lambda: q.AstProjectIndex(), "AstProjectIndex.__new__() missing 2 required positional arguments: 'files' and 'project_root'"),
        (lambda: q.AstProjectIndex(["a.py"], "/p", None, 1), "AstProjectIndex.__new__() takes from 2 to 3 positional arguments but 4 were given"),
        (lambda: q.AstFileParserCache([], project_root="/p", files=[]), "AstFileParserCache.__new__() got multiple values for argument 'files'"),
        (lambda: q.AstFileParserCache(project_root="/p"), "AstFileParserCache.__new__() missing 1 required positional argument: 'files'"),
        (lambda: q.StdAstFileSystem([]).read_to_string(), "StdAstFileSystem.read_to_string() missing 1 required positional argument: 'path'"),
        (lambda: q.StdAstFileSystem([]).read_to_string("a", "b"), "StdAstFileSystem.read_to_string() takes 1 positional arguments but 2 were given"),
        (lambda: q.StdAstFileSystem([]).read_to_string(p="a"), "StdAstFileSystem.read_to_string() got an unexpected keyword argument 'p'"),
        (lambda: q.StdAstFileSystem([]).read_to_string(5), "argument 'path': 'int' object is not an instance of 'str'"),
        (lambda: q.AstFileParserCache([], "/p").get_parsed_file(None), "argument 'path': 'None' is not an instance of 'str'"),
        (lambda: q.AstProjectIndex([], "/p").resolver_ast("m"), "AstProjectIndex.resolver_ast() missing 1 required positional argument: 'resolver_name'"),
        (lambda: q.AstProjectIndex([], "/p").feature_class_ast_in_file(class_name="C"), "AstProjectIndex.feature_class_ast_in_file() missing 1 required positional argument: 'file_path'"),
        (lambda: q.AstProjectIndex([], "/p").function_ast("m", 1), "argument 'function_name': 'int' object is not an instance of 'str'"),
        (lambda: q.AstProjectIndex([], "/p").function_ast_in_file(b"x", 1), "argument 'file_path': 'bytes' object is not an instance of 'str'"),
        (lambda: q.AstProjectIndex([], "/p").resolver_ast_in_file("a", "b", "c"), "AstProjectIndex.resolver_ast_in_file() takes 2 positional arguments but 3 were given"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as raised:
        call()
    assert type(raised.value) is TypeError
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "call",
    [
        lambda: q.StdAstFileSystem([]).all_files(1),
        lambda: q.AstFileParserCache([], "/p").all_files(x=1),
        lambda: q.AstProjectIndex([], "/p").nonblocking_start_index(None),
    ],
)
def test_methods_without_parameters_refuse_arguments(call):
    with pytest.raises(TypeError):
        call()
