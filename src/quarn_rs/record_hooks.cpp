// Test builds only: records with known values, so that the record classes can be checked
// without going through the project index.
#ifdef QUARN_TEST_HOOKS

#include "base/panic.h"
#include "quarn_rs/classes.h"
#include "quarn_rs/functions.h"
#include "quarn_rs/test_hooks.h"

namespace quarn_rs {

// The samples name only the fields they set; the rest keep their empty values.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

namespace ast = quarn::ast;

ast::Location at(uint32_t line, uint32_t character, uint32_t end_line, uint32_t end_character) {
    static const ast::Uri uri = [] {
        auto parsed = ast::Uri::parse("file:///project/m.py");
        if (!parsed) quarn::panic("test URI refused");
        return *parsed;
    }();
    return ast::Location{uri, ast::Range{{line, character}, {end_line, end_character}}};
}

// @resolver(inputs={"a": "x"}, output="o")
// def f(a, b: int) -> None:
//     return a
ast::ResolverAST sample_resolver() {
    return ast::ResolverAST{
        .module = "pkg.m",
        .resolver_name = "f",
        .resolver_name_location = at(1, 4, 1, 5),
        .decorator_location = at(0, 0, 0, 40),
        .kwarg_names = {{"inputs", at(0, 10, 0, 16)}, {"output", at(0, 29, 0, 35)}},
        .kwargs = {{"inputs", at(0, 17, 0, 27)}, {"output", at(0, 36, 0, 39)}},
        .kwarg_dict_key_names = {{"inputs", {{"a", at(0, 18, 0, 21)}}}},
        .kwarg_dict_values = {{"inputs", {{"a", at(0, 23, 0, 26)}}}},
        .args_in_order = {"a", "b"},
        .args = {{"a", ast::FunctionArgAST{"a", at(1, 6, 1, 7), std::nullopt}},
                 {"b", ast::FunctionArgAST{"b", at(1, 9, 1, 15), at(1, 12, 1, 15)}}},
        .return_annotation = at(1, 20, 1, 24),
        .missing_return_annotation = std::nullopt,
        .return_statements = {at(2, 4, 2, 12)},
        .body = at(2, 4, 2, 12),
        .return_arg = at(2, 11, 2, 12),
    };
}

// def g(): pass   (no decorator, no parameters, no return annotation)
ast::ResolverAST sample_function() {
    return ast::ResolverAST{
        .module = "pkg.m",
        .resolver_name = "g",
        .resolver_name_location = at(0, 4, 0, 5),
        .missing_return_annotation = at(0, 7, 0, 8),
        .body = at(0, 9, 0, 13),
    };
}

// @feature(name="shop")
// class Cart:
//     # Items in the cart.
//     # :owner: team-a
//     # :tags: x, y
//     items: int = field(default=0)
//     total: float
ast::FeatureClassAST sample_feature_class() {
    const ast::FeatureFieldAST items{
        .field_name = "items",
        .field_name_location = at(5, 4, 5, 9),
        .comment = "Items in the cart.\n:owner: team-a\n:tags: x, y",
        .description = "Items in the cart.",
        .owner = "team-a",
        .tags = {"x", "y"},
        .annotation = at(5, 11, 5, 14),
        .feature_call = at(5, 17, 5, 33),
        .kwarg_names = {{"default", at(5, 23, 5, 30)}},
        .kwargs = {{"default", at(5, 31, 5, 32)}},
    };
    const ast::FeatureFieldAST total{
        .field_name = "total",
        .field_name_location = at(6, 4, 6, 9),
        .annotation = at(6, 11, 6, 16),
    };
    return ast::FeatureClassAST{
        .module = "pkg.m",
        .namespace_ = "shop",
        .class_name = "Cart",
        .source = "@feature(name=\"shop\")\nclass Cart:\n",
        .class_name_location = at(1, 6, 1, 10),
        .class_definition_location = at(1, 0, 1, 11),
        .decorator_location = at(0, 0, 0, 21),
        .kwarg_names = {{"name", at(0, 9, 0, 13)}},
        .kwargs = {{"name", at(0, 14, 0, 20)}},
        .fields = {{"items", items}, {"total", total}},
        .annotations = {items, total},
    };
}

constexpr Signature kRecordsForTests(CallKind::Function, {}, "_records_for_tests");

// (resolver, plain function, feature class), each a new object.
PyObject* records_for_tests(const Args&) {
    Ref resolver(wrap_record(std::make_shared<const ast::ResolverAST>(sample_resolver())));
    Ref function(wrap_record(std::make_shared<const ast::ResolverAST>(sample_function())));
    Ref feature_class(
        wrap_record(std::make_shared<const ast::FeatureClassAST>(sample_feature_class())));
    if (!resolver || !function || !feature_class) return nullptr;
    return PyTuple_Pack(3, resolver.get(), function.get(), feature_class.get());
}

}  // namespace

const FunctionDef records_for_tests_def{&kRecordsForTests,
                                        &fastcall_entry<kRecordsForTests, records_for_tests>};

}  // namespace quarn_rs

#endif
