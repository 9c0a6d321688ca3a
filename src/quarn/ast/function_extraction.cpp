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
                       OrderedMap<LocationMap>& key_names, OrderedMap<LocationMap>& values) {
    for (const py::Keyword& keyword : keywords) {
        if (!keyword.arg) continue;
        const auto* dict = keyword.value->as<py::ExprDict>();
        if (!dict) continue;
        LocationMap keys;
        LocationMap item_values;
        for (const py::DictItem& item : dict->items) {
            if (!item.key) continue;
            const auto* literal = single_string(*item.key);
            if (!literal) continue;
            const std::string text(literal->value.to_str());
            if (auto at = locator.location_of(*item.key)) keys.insert_or_assign(text, *at);
            if (auto at = locator.location_of(*item.value)) item_values.insert_or_assign(text, *at);
        }
        const std::string name(keyword.arg->as_str());
        if (!keys.empty()) key_names.insert_or_assign(name, std::move(keys));
        if (!item_values.empty()) values.insert_or_assign(name, std::move(item_values));
    }
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

std::optional<ResolverAST> resolver_ast(const py::StmtFunctionDef& f, std::string_view module,
                                        const StringSet& resolver_names,
                                        const FileLocator& locator) {
    auto name_location = locator.location(f.name.range);
    if (!name_location) return std::nullopt;
    const std::string_view source = locator.source();

    ResolverAST record{
        .module = std::string(module),
        .resolver_name = std::string(f.name.as_str()),
        .resolver_name_location = std::move(*name_location),
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

    record.args_in_order.reserve(f.parameters->len());
    record.args.reserve(f.parameters->len());
    for (const py::AnyParameterRef item : f.parameters->iter()) {
        const py::Parameter& parameter = item.parameter();
        // The file's URI is formed once, so this is present whenever the name's location is.
        auto location = locator.location(parameter.range);
        if (!location) return std::nullopt;
        FunctionArgAST arg{
            .arg_name = std::string(parameter.name.as_str()),
            .arg_location = std::move(*location),
            .annotation =
                parameter.annotation ? locator.location_of(*parameter.annotation) : std::nullopt,
        };
        record.args_in_order.push_back(arg.arg_name);
        std::string key = arg.arg_name;
        record.args.insert_or_assign(std::move(key), std::move(arg));
    }

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
    record.return_statements.reserve(returns.size());
    for (const py::StmtReturn* statement : returns) {
        if (auto at = locator.location(statement->range)) record.return_statements.push_back(*at);
    }

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
            std::tie(record.kwarg_names, record.kwargs) = keyword_location_maps(keywords, locator);
            dict_keyword_maps(keywords, locator, record.kwarg_dict_key_names,
                              record.kwarg_dict_values);
        }
    }
    return record;
}

}  // namespace quarn::ast
