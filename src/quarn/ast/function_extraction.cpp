#include "quarn/ast/function_extraction.h"

#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "quarn/ast/decorators.h"
#include "quarn/ast/statement_walk.h"

namespace quarn::ast {
namespace {

namespace py = rudo::python_ast;
using py::Stmt;

// Every `return` of a body, those of nested definitions included.
std::vector<const py::StmtReturn*> return_statements(std::span<const Stmt> body) {
    std::vector<const py::StmtReturn*> returns;
    each_statement(body, [&returns](const Stmt& stmt) {
        if (const auto* r = stmt.as<py::StmtReturn>()) returns.push_back(r);
    });
    return returns;
}

void dict_keyword_maps(std::span<const py::Keyword> keywords, const FileLocator& locator,
                       RecordArena& arena, FlatMap<LocationMap>& key_names,
                       FlatMap<LocationMap>& values) {
    size_t dicts = 0;
    for (const py::Keyword& keyword : keywords)
        dicts += keyword.arg && keyword.value->is<py::ExprDict>();
    if (dicts == 0) return;
    FlatMapWriter<LocationMap> all_keys(arena, dicts);
    FlatMapWriter<LocationMap> all_values(arena, dicts);
    for (const py::Keyword& keyword : keywords) {
        if (!keyword.arg) continue;
        const auto* dict = keyword.value->as<py::ExprDict>();
        if (!dict) continue;
        FlatMapWriter<TextRange> keys(arena, dict->items.size());
        FlatMapWriter<TextRange> item_values(arena, dict->items.size());
        for (const py::DictItem& item : dict->items) {
            if (!item.key) continue;
            const auto* literal = single_string(*item.key);
            if (!literal) continue;
            const Text text = locator.keep(literal->value.to_str(), literal->range, arena);
            if (auto at = locator.location_of(*item.key)) keys.insert_or_assign(text, *at);
            if (auto at = locator.location_of(*item.value)) item_values.insert_or_assign(text, *at);
        }
        const Text name = locator.keep(keyword.arg->as_str(), keyword.arg->range, arena);
        if (keys.size() > 0) all_keys.insert_or_assign(name, keys.done());
        if (item_values.size() > 0) all_values.insert_or_assign(name, item_values.done());
    }
    key_names = all_keys.done();
    values = all_values.done();
}

}  // namespace

StringSet resolver_decorator_names(const ImportTable& imports) {
    constexpr std::array<std::string_view, 1> quarn_module = {"quarn"};
    constexpr std::array<std::string_view, 3> resolver_symbols = {"online", "offline", "stream"};
    StringSet names =
        collect_import_names_for_symbols_from_map(imports, quarn_module, resolver_symbols);
    names.merge(
        collect_import_names_for_symbols_from_map(imports, FEATURES_MODULE, resolver_symbols));
    return names;
}

std::optional<ResolverAST> resolver_ast(const py::StmtFunctionDef& f, Text module,
                                        const StringSet& resolver_names, const FileLocator& locator,
                                        RecordArena& arena) {
    auto name_location = locator.location(f.name.range);
    if (!name_location) return std::nullopt;
    const std::string_view source = locator.source();

    ResolverAST record{
        .file = locator.lines(),
        .module = module,
        .resolver_name = locator.keep(f.name.as_str(), f.name.range, arena),
        .resolver_name_location = *name_location,
        .decorator_location = std::nullopt,
        .kwarg_names = {},
        .kwargs = {},
        .kwarg_dict_key_names = {},
        .kwarg_dict_values = {},
        .args_in_order = {},
        .args = {},
        .return_annotation = std::nullopt,
        .missing_return_annotation = std::nullopt,
        .return_statements = {},
        .body = std::nullopt,
        .return_arg = std::nullopt,
    };

    ItemsWriter<Text> args_in_order(arena, f.parameters->len());
    RecordMapWriter<FunctionArgAST, &FunctionArgAST::arg_name> args(arena, f.parameters->len());
    for (const py::AnyParameterRef item : f.parameters->iter()) {
        const py::Parameter& parameter = item.parameter();
        // The file's URI is formed once, so this is present whenever the name's location is.
        auto location = locator.location(parameter.range);
        if (!location) return std::nullopt;
        const FunctionArgAST arg{
            .arg_name = locator.keep(parameter.name.as_str(), parameter.name.range, arena),
            .arg_location = *location,
            .annotation =
                parameter.annotation ? locator.location_of(*parameter.annotation) : std::nullopt,
        };
        args_in_order.push_back(arg.arg_name);
        args.insert_or_assign(arg);
    }
    record.args_in_order = args_in_order.done();
    record.args = args.done();

    if (f.returns) {
        record.return_annotation = locator.location_of(*f.returns);
    } else {
        const size_t a = f.parameters->range.end();
        const size_t b =
            f.body.empty() ? size_t{f.range.end()} : size_t{f.body.front().range().start()};
        if (a < b && b <= source.size()) {
            const size_t colon = source.substr(a, b - a).find(':');
            if (colon != std::string_view::npos) {
                const auto c = static_cast<TextSize>(a + colon);
                record.missing_return_annotation = locator.location(TextRange(c, c + 1));
            }
        }
    }

    const auto returns = return_statements(f.body);
    ItemsWriter<TextRange> return_locations(arena, returns.size());
    for (const py::StmtReturn* statement : returns) {
        if (auto at = locator.location(statement->range)) return_locations.push_back(*at);
    }
    record.return_statements = return_locations.done();

    if (!f.body.empty()) {
        record.body = locator.location(
            TextRange(f.body.front().range().start(), f.body.back().range().end()));
        for (const Stmt& statement : f.body) {
            const auto* r = statement.as<py::StmtReturn>();
            if (!r) continue;
            if (r->value) record.return_arg = locator.location_of(*r->value);
            break;
        }
    }

    if (const py::Decorator* decorator = chosen_decorator(f.decorator_list, resolver_names)) {
        record.decorator_location = locator.location_of(*decorator->expression);
        if (const auto* call = decorator->expression->as<py::ExprCall>()) {
            auto keywords = call->arguments.keywords.as_span();
            std::tie(record.kwarg_names, record.kwargs) =
                keyword_location_maps(keywords, locator, arena);
            dict_keyword_maps(keywords, locator, arena, record.kwarg_dict_key_names,
                              record.kwarg_dict_values);
        }
    }
    return record;
}

}  // namespace quarn::ast
