#include "quarn/ast/decorators.h"

#include <optional>
#include <string>

namespace quarn::ast {
namespace {

namespace py = rudo::python_ast;

// A bare name `@x` or the callee name of `@x(...)`; other decorators have none.
std::optional<std::string_view> decorator_name(const py::Decorator& decorator) {
    const py::Expr& expression = *decorator.expression;
    if (const auto* name = expression.as<py::ExprName>()) return name->id.as_str();
    if (const auto* call = expression.as<py::ExprCall>()) {
        if (const auto* name = call->func->as<py::ExprName>()) return name->id.as_str();
    }
    return std::nullopt;
}

}  // namespace

StringSet collect_import_names_for_symbols_from_map(const ImportTable& imports,
                                                    std::span<const std::string_view> modules,
                                                    std::span<const std::string_view> symbols) {
    StringSet names;
    for (const std::string_view module : modules) {
        const auto found = imports.find(module);
        if (found == imports.end()) continue;
        for (const std::string_view symbol : symbols) {
            const auto locals = found->second.find(symbol);
            if (locals == found->second.end()) continue;
            for (const auto& local : locals->second)
                names.emplace(local);
        }
    }
    return names;
}

const py::Decorator* chosen_decorator(std::span<const py::Decorator> decorators,
                                      const StringSet& names) {
    for (const py::Decorator& decorator : decorators) {
        const auto name = decorator_name(decorator);
        if (name && names.contains(*name)) return &decorator;
    }
    return nullptr;
}

const py::ExprStringLiteral* single_string(const py::Expr& expr) {
    const auto* literal = expr.as<py::ExprStringLiteral>();
    if (!literal || literal->value.is_implicit_concatenated()) return nullptr;
    return literal;
}

std::pair<LocationMap, LocationMap> keyword_location_maps(std::span<const py::Keyword> keywords,
                                                          const FileLocator& locator,
                                                          RecordArena& arena) {
    if (keywords.empty()) return {};
    FlatMapWriter<TextRange> names(arena, keywords.size());
    FlatMapWriter<TextRange> values(arena, keywords.size());
    const std::string_view source = locator.source();
    for (const py::Keyword& keyword : keywords) {
        if (!keyword.arg) continue;
        const size_t p = keyword.range.start();
        const size_t q = keyword.value->range().start();
        if (!(p < q && q <= source.size())) continue;
        const std::string_view name = keyword.arg->as_str();
        // A name the lexer normalised is not found as written, and is left out.
        const size_t found = source.substr(p, q - p).find(name);
        if (found == std::string_view::npos) continue;
        const auto n = static_cast<TextSize>(p + found);
        const Text key = source.substr(p + found, name.size());
        if (auto at = locator.location(TextRange(n, n + static_cast<TextSize>(name.size())))) {
            names.insert_or_assign(key, *at);
        }
        if (auto at = locator.location_of(*keyword.value)) values.insert_or_assign(key, *at);
    }
    return {names.done(), values.done()};
}

}  // namespace quarn::ast
