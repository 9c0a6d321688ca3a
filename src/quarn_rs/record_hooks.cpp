// Test builds only: records with known values, so that the record classes can be checked
// without going through the project index.
#ifdef QUARN_TEST_HOOKS

#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "base/panic.h"
#include "quarn_rs/classes.h"
#include "quarn_rs/functions.h"
#include "quarn_rs/test_hooks.h"

namespace quarn_rs {

// The samples name only the fields they set; the rest keep their empty values.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

namespace ast = quarn::ast;

// The samples lie in a text of blank lines, wide enough for every position they name.
constexpr uint32_t SAMPLE_LINE = 64;

ast::FileLines sample_lines() {
    static const ast::LocationContext* lines = [] {
        static const std::string text = [] {
            std::string out;
            for (int line = 0; line < 8; ++line)
                out.append(SAMPLE_LINE - 1, ' ').push_back('\n');
            return out;
        }();
        return new ast::LocationContext(text);
    }();
    return ast::FileLines{lines};
}

ast::TextRange at(uint32_t line, uint32_t character, uint32_t end_line, uint32_t end_character) {
    return ast::TextRange(line * SAMPLE_LINE + character, end_line * SAMPLE_LINE + end_character);
}

// The lists and maps of the samples, in one arena; their texts are literals.
ast::RecordArena& sample_arena() {
    static ast::RecordArena* arena = new ast::RecordArena(size_t{4} << 10, size_t{1} << 10);
    return *arena;
}

template <typename T>
ast::Items<T> items(std::initializer_list<T> values) {
    ast::ItemsWriter<T> out(sample_arena(), values.size());
    for (const T& value : values)
        out.push_back(value);
    return out.done();
}

template <typename V>
ast::FlatMap<V> map(std::initializer_list<std::pair<std::string_view, V>> entries) {
    ast::FlatMapWriter<V> out(sample_arena(), entries.size());
    for (const auto& [key, value] : entries)
        out.insert_or_assign(key, value);
    return out.done();
}

template <typename Record, ast::Text Record::*Name>
ast::RecordMap<Record, Name> named(std::initializer_list<Record> records) {
    ast::RecordMapWriter<Record, Name> out(sample_arena(), records.size());
    for (const Record& record : records)
        out.insert_or_assign(record);
    return out.done();
}

ast::FieldCommentRef comment_block(const ast::FieldComment& block) {
    auto* kept = sample_arena().array<ast::FieldComment>(1);
    new (kept) ast::FieldComment(block);
    return ast::FieldCommentRef(kept);
}

template <typename Record>
std::shared_ptr<const Record> shared(const Record& record) {
    return std::make_shared<const Record>(record);
}

// @resolver(inputs={"a": "x"}, output="o")
// def f(a, b: int) -> None:
//     return a
ast::ResolverAST sample_resolver() {
    return ast::ResolverAST{
        .file = sample_lines(),
        .module = "pkg.m",
        .resolver_name = "f",
        .resolver_name_location = at(1, 4, 1, 5),
        .decorator_location = at(0, 0, 0, 40),
        .kwarg_names =
            map<ast::TextRange>({{"inputs", at(0, 10, 0, 16)}, {"output", at(0, 29, 0, 35)}}),
        .kwargs = map<ast::TextRange>({{"inputs", at(0, 17, 0, 27)}, {"output", at(0, 36, 0, 39)}}),
        .kwarg_dict_key_names =
            map<ast::LocationMap>({{"inputs", map<ast::TextRange>({{"a", at(0, 18, 0, 21)}})}}),
        .kwarg_dict_values =
            map<ast::LocationMap>({{"inputs", map<ast::TextRange>({{"a", at(0, 23, 0, 26)}})}}),
        .args_in_order = items<ast::Text>({"a", "b"}),
        .args = named<ast::FunctionArgAST, &ast::FunctionArgAST::arg_name>(
            {ast::FunctionArgAST{"a", at(1, 6, 1, 7), std::nullopt},
             ast::FunctionArgAST{"b", at(1, 9, 1, 15), at(1, 12, 1, 15)}}),
        .return_annotation = at(1, 20, 1, 24),
        .missing_return_annotation = std::nullopt,
        .return_statements = items<ast::TextRange>({at(2, 4, 2, 12)}),
        .body = at(2, 4, 2, 12),
        .return_arg = at(2, 11, 2, 12),
    };
}

// def g(): pass   (no decorator, no parameters, no return annotation)
ast::ResolverAST sample_function() {
    return ast::ResolverAST{
        .file = sample_lines(),
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
    const ast::FeatureFieldAST cart_items{
        .field_name = "items",
        .field_name_location = at(5, 4, 5, 9),
        .comment_block = comment_block({
            .comment = "Items in the cart.\n:owner: team-a\n:tags: x, y",
            .description = "Items in the cart.",
            .owner = "team-a",
            .tags = items<ast::Text>({"x", "y"}),
        }),
        .annotation = at(5, 11, 5, 14),
        .feature_call = at(5, 17, 5, 33),
        .kwarg_names = map<ast::TextRange>({{"default", at(5, 23, 5, 30)}}),
        .kwargs = map<ast::TextRange>({{"default", at(5, 31, 5, 32)}}),
    };
    const ast::FeatureFieldAST total{
        .field_name = "total",
        .field_name_location = at(6, 4, 6, 9),
        .annotation = at(6, 11, 6, 16),
    };
    const auto fields =
        named<ast::FeatureFieldAST, &ast::FeatureFieldAST::field_name>({cart_items, total});
    return ast::FeatureClassAST{
        .file = sample_lines(),
        .module = "pkg.m",
        .namespace_ = "shop",
        .class_name = "Cart",
        .source = "@feature(name=\"shop\")\nclass Cart:\n",
        .class_name_location = at(1, 6, 1, 10),
        .class_definition_location = at(1, 0, 1, 11),
        .decorator_location = at(0, 0, 0, 21),
        .kwarg_names = map<ast::TextRange>({{"name", at(0, 9, 0, 13)}}),
        .kwargs = map<ast::TextRange>({{"name", at(0, 14, 0, 20)}}),
        .fields = fields,
        .annotations = ast::RecordList<ast::FeatureFieldAST>(
            items<const ast::FeatureFieldAST*>({&fields.at("items"), &fields.at("total")})),
    };
}

constexpr Signature kRecordsForTests(CallKind::Function, {}, "_records_for_tests");

// (resolver, plain function, feature class), each a new object.
PyObject* records_for_tests(const Args&) {
    Ref resolver(wrap_record(shared(sample_resolver())));
    Ref function(wrap_record(shared(sample_function())));
    Ref feature_class(wrap_record(shared(sample_feature_class())));
    if (!resolver || !function || !feature_class) return nullptr;
    return PyTuple_Pack(3, resolver.get(), function.get(), feature_class.get());
}

}  // namespace

const FunctionDef records_for_tests_def{&kRecordsForTests,
                                        &fastcall_entry<kRecordsForTests, records_for_tests>};

}  // namespace quarn_rs

#endif
