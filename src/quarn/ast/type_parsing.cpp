#include "quarn/ast/type_parsing.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "base/pause_point.h"
#include "base/utf8.h"
#include "quarn/utils/namespace.h"
#include "rudo/python_ast/statement_visitor.h"

namespace quarn::ast {
namespace {

namespace py = rudo::python_ast;
using py::Stmt;

// ---------------------------------------------------------------------------------------------
// Text helpers.

// The length of the white space character starting at `at`, or 0: ASCII is answered here, since
// nearly every byte of a source is ASCII, the rest by the codec.
size_t space_length(std::string_view text, size_t at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) return byte == ' ' || (byte >= 0x09 && byte <= 0x0D) ? 1 : 0;
    return white_space_length(text, at);
}

// The length of the white space that ends `text`.
size_t trailing_white_space(std::string_view text) {
    size_t end = text.size();
    while (end > 0) {
        // Step back over one character and see whether it is white space.
        size_t start = end - 1;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
            --start;
        const size_t length = space_length(text, start);
        if (length == 0 || start + length != end) break;
        end = start;
    }
    return text.size() - end;
}

std::string_view trim(std::string_view text) {
    size_t start = 0;
    while (start < text.size()) {
        const size_t length = space_length(text, start);
        if (length == 0) break;
        start += length;
    }
    text.remove_prefix(start);
    text.remove_suffix(trailing_white_space(text));
    return text;
}

bool is_blank(std::string_view text) {
    return trim(text).empty();
}

bool is_line_break(char c) {
    return c == '\n' || c == '\r';
}

// The start of the line holding `offset`: just after the line break before it, `\n`, `\r\n` or a
// lone `\r` alike.
size_t line_start(std::string_view source, size_t offset) {
    while (offset > 0 && !is_line_break(source[offset - 1]))
        --offset;
    return offset;
}

// The first line break at or after `offset`: its start and its length (0 at the end of the text).
std::pair<size_t, size_t> next_line_break(std::string_view source, size_t offset) {
    for (size_t i = offset; i < source.size(); ++i) {
        if (source[i] == '\n') return {i, 1};
        if (source[i] == '\r') {
            return {i, i + 1 < source.size() && source[i + 1] == '\n' ? 2u : 1u};
        }
    }
    return {source.size(), 0};
}

// ---------------------------------------------------------------------------------------------
// Statement walks.

// Takes the statement lists nested in one statement, in walk order, without entering them.
struct NestedBodies : py::StatementVisitor<NestedBodies> {
    std::vector<std::span<const Stmt>> bodies;

    void visit_body(std::span<const Stmt> body) {
        if (!body.empty()) bodies.push_back(body);
    }
};

// Calls `visit` on every statement of `body` and of the lists nested in it, in the statement
// walk's pre-order. The walk keeps its own stack: a file may nest blocks far deeper than a small
// thread stack could follow by recursion.
template <typename Visit>
void each_statement(std::span<const Stmt> body, Visit visit) {
    std::vector<std::span<const Stmt>> pending;
    if (!body.empty()) pending.push_back(body);
    NestedBodies nested;
    while (!pending.empty()) {
        std::span<const Stmt>& rest = pending.back();
        const Stmt& stmt = rest.front();
        rest = rest.subspan(1);
        if (rest.empty()) pending.pop_back();
        visit(stmt);
        nested.bodies.clear();
        py::walk_stmt(nested, stmt);
        // The first nested list comes out first.
        pending.insert(pending.end(), nested.bodies.rbegin(), nested.bodies.rend());
    }
}

// Every class and every function definition of the file, at any depth, each in pre-order.
struct DefinitionCollector {
    std::vector<const py::StmtClassDef*> classes;
    std::vector<const py::StmtFunctionDef*> functions;

    void collect(std::span<const Stmt> suite) {
        each_statement(suite, [this](const Stmt& stmt) {
            if (const auto* c = stmt.as<py::StmtClassDef>()) classes.push_back(c);
            if (const auto* f = stmt.as<py::StmtFunctionDef>()) functions.push_back(f);
        });
    }
};

// Every `return` of a body, those of nested definitions included.
std::vector<const py::StmtReturn*> return_statements(std::span<const Stmt> body) {
    std::vector<const py::StmtReturn*> returns;
    each_statement(body, [&returns](const Stmt& stmt) {
        if (const auto* r = stmt.as<py::StmtReturn>()) returns.push_back(r);
    });
    return returns;
}

// ---------------------------------------------------------------------------------------------
// Decorators and call keywords.

// A bare name `@x` or the callee name of `@x(...)`; other decorators have none.
std::optional<std::string_view> decorator_name(const py::Decorator& decorator) {
    const py::Expr& expression = *decorator.expression;
    if (const auto* name = expression.as<py::ExprName>()) return name->id.as_str();
    if (const auto* call = expression.as<py::ExprCall>()) {
        if (const auto* name = call->func->as<py::ExprName>()) return name->id.as_str();
    }
    return std::nullopt;
}

const py::Decorator* chosen_decorator(std::span<const py::Decorator> decorators,
                                      const StringSet& names) {
    for (const py::Decorator& decorator : decorators) {
        const auto name = decorator_name(decorator);
        if (name && names.contains(*name)) return &decorator;
    }
    return nullptr;
}

// The decoded text of a string literal written as one part.
const py::ExprStringLiteral* single_string(const py::Expr& expr) {
    const auto* literal = expr.as<py::ExprStringLiteral>();
    if (!literal || literal->value.is_implicit_concatenated()) return nullptr;
    return literal;
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

// ---------------------------------------------------------------------------------------------
// Functions.

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

// ---------------------------------------------------------------------------------------------
// Feature classes.

constexpr std::array<std::string_view, 1> FEATURES_MODULE = {"quarn.features"};

// The comment's text less its leading `#` characters, trimmed.
std::string comment_text(std::string_view source, TextRange range) {
    std::string_view text = source.substr(range.start(), range.end() - range.start());
    while (!text.empty() && text.front() == '#')
        text.remove_prefix(1);
    return std::string(trim(text));
}

size_t line_of(const FileLocator& locator, TextSize offset) {
    return locator.context().line_index().line_column(offset, locator.source()).line;
}

// Field name -> metadata of the comment block directly above one of its statements; the last
// block of a name wins.
StringMap<FieldCommentMetadata> field_metadata(const py::StmtClassDef& c,
                                               const std::vector<const Stmt*>& fields,
                                               const ParsedFileCache& parsed,
                                               const FileLocator& locator) {
    StringMap<FieldCommentMetadata> metadata;
    const std::string_view source = locator.source();
    const auto comments = parsed.comment_ranges.comments_in_range(c.range);
    size_t cursor = 0;
    std::optional<size_t> held;
    auto next_own_line = [&]() -> std::optional<size_t> {
        if (held) return std::exchange(held, std::nullopt);
        while (cursor < comments.size()) {
            const size_t at = cursor++;
            if (rudo::python_trivia::CommentRanges::is_own_line(comments[at].start(), source)) {
                return at;
            }
        }
        return std::nullopt;
    };
    for (const Stmt* field : fields) {
        const size_t field_line = line_of(locator, field->range().start());
        std::vector<std::string> block;
        bool active = false;
        size_t last_line = 0;
        while (const auto at = next_own_line()) {
            const size_t line = line_of(locator, comments[*at].start());
            if (line >= field_line) {
                held = *at;
                break;
            }
            if (!(active && line == last_line + 1)) block.clear();
            block.push_back(comment_text(source, comments[*at]));
            active = true;
            last_line = line;
        }
        if (active && last_line + 1 == field_line) {
            metadata.insert_or_assign(std::string(*feature_field_name(*field)),
                                      field_comment_metadata(block));
        }
    }
    return metadata;
}

std::optional<FeatureClassAST> feature_class_ast(const py::StmtClassDef& c,
                                                 const ParsedFileCache& parsed,
                                                 std::string_view module,
                                                 const StringSet& feature_names,
                                                 const FileLocator& locator) {
    const std::string_view source = locator.source();
    auto class_name_location = locator.location(c.name.range);
    if (!class_name_location) return std::nullopt;
    const size_t s = c.name.range.start();
    if (s >= source.size()) return std::nullopt;
    // The whole line of the name; a CRLF's `\r` stays inside, as the line index counts it.
    const size_t line_begin = line_start(source, s);
    auto [break_at, break_length] = next_line_break(source, s);
    const size_t line_end = break_length == 2 ? break_at + 1 : break_at;
    auto class_definition_location = locator.location(
        TextRange(static_cast<TextSize>(line_begin), static_cast<TextSize>(line_end)));
    if (!class_definition_location) return std::nullopt;

    const py::Decorator* decorator = chosen_decorator(c.decorator_list, feature_names);
    if (!decorator) return std::nullopt;
    auto decorator_location = locator.location_of(*decorator->expression);
    if (!decorator_location) return std::nullopt;

    FeatureClassAST record{
        .module = std::string(module),
        .namespace_ = {},
        .class_name = std::string(c.name.as_str()),
        .source = {},
        .class_name_location = std::move(*class_name_location),
        .class_definition_location = std::move(*class_definition_location),
        .decorator_location = std::move(*decorator_location),
        .kwarg_names = {},
        .kwargs = {},
        .fields = {},
        .annotations = {},
    };

    // Fields: the direct `name = value` and `name: annotation [= value]` statements of the body.
    std::vector<const Stmt*> fields;
    for (const Stmt& statement : c.body) {
        if (feature_field_name(statement)) fields.push_back(&statement);
    }
    const auto metadata = field_metadata(c, fields, parsed, locator);
    const FieldCommentMetadata no_metadata;
    auto metadata_of = [&](std::string_view name) -> const FieldCommentMetadata& {
        const auto found = metadata.find(name);
        return found == metadata.end() ? no_metadata : found->second;
    };
    auto keywords_of = [&](const py::Expr& value, FeatureFieldAST& field) {
        if (const auto* call = value.as<py::ExprCall>()) {
            std::tie(field.kwarg_names, field.kwargs) =
                keyword_location_maps(call->arguments.keywords.as_span(), locator);
        }
    };
    std::vector<FeatureFieldAST> annotated_fields;
    for (const Stmt* statement : fields) {
        const auto* annotated = statement->as<py::StmtAnnAssign>();
        if (!annotated) continue;
        const std::string_view name = *feature_field_name(*statement);
        auto name_location = locator.location_of(*annotated->target);
        if (!name_location) return std::nullopt;
        FeatureFieldAST field =
            new_feature_field_ast(std::string(name), std::move(*name_location), metadata_of(name));
        field.annotation = locator.location_of(*annotated->annotation);
        if (annotated->value && annotated->value->is<py::ExprCall>()) {
            field.feature_call = locator.location_of(*annotated->value);
            keywords_of(*annotated->value, field);
        }
        annotated_fields.push_back(std::move(field));
    }
    record.fields.reserve(fields.size());
    for (const FeatureFieldAST& field : annotated_fields) {
        record.fields.try_emplace(field.field_name, field);
    }
    for (const Stmt* statement : fields) {
        const auto* assigned = statement->as<py::StmtAssign>();
        if (!assigned) continue;
        const std::string_view name = *feature_field_name(*statement);
        auto name_location = locator.location_of(assigned->targets.front());
        if (!name_location) return std::nullopt;
        FeatureFieldAST field =
            new_feature_field_ast(std::string(name), std::move(*name_location), metadata_of(name));
        field.feature_call = locator.location_of(*assigned->value);
        keywords_of(*assigned->value, field);
        if (FeatureFieldAST* existing = record.fields.find_value(name)) {
            existing->feature_call = std::move(field.feature_call);
            existing->kwarg_names = std::move(field.kwarg_names);
            existing->kwargs = std::move(field.kwargs);
        } else {
            record.fields.try_emplace(name, std::move(field));
        }
    }

    // Fields in declaration order: the place of a name is that of its first statement.
    StringMap<size_t> first_statement;
    for (size_t k = 0; k < fields.size(); ++k)
        first_statement.try_emplace(std::string(*feature_field_name(*fields[k])), k);
    record.fields.order_by(
        [&](std::string_view name) { return first_statement.find(name)->second; });
    // `fields` is final: an annotated record that agrees with its name's record is that record.
    for (FeatureFieldAST& field : annotated_fields) {
        const FeatureFieldAST& merged = record.fields.at(field.field_name);
        if (merged == field) {
            record.annotations.push_back_shared(merged);
        } else {
            record.annotations.push_back_own(std::move(field));
        }
    }

    bool named = false;
    if (const auto* call = decorator->expression->as<py::ExprCall>()) {
        auto keywords = call->arguments.keywords.as_span();
        std::tie(record.kwarg_names, record.kwargs) = keyword_location_maps(keywords, locator);
        for (const py::Keyword& keyword : keywords) {
            if (!keyword.arg || keyword.arg->as_str() != "name") continue;
            if (const auto* literal = single_string(*keyword.value)) {
                record.namespace_ = std::string(literal->value.to_str());
                named = true;
                break;
            }
        }
    }
    if (!named) record.namespace_ = quarn::utils::to_snake_case(record.class_name);

    const size_t first_line = c.decorator_list.empty()
                                  ? size_t{c.range.start()}
                                  : size_t{c.decorator_list.front().range.start()};
    const size_t begin = line_start(source, std::min(first_line, source.size()));
    const auto [end_break, end_length] =
        next_line_break(source, std::min<size_t>(c.range.end(), source.size()));
    record.source = dedent(source.substr(begin, end_break + end_length - begin));
    return record;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

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
            names.insert(locals->second.begin(), locals->second.end());
        }
    }
    return names;
}

std::pair<LocationMap, LocationMap> keyword_location_maps(std::span<const py::Keyword> keywords,
                                                          const FileLocator& locator) {
    std::pair<LocationMap, LocationMap> maps;
    maps.first.reserve(keywords.size());
    maps.second.reserve(keywords.size());
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
        const std::string key(name);
        if (auto at = locator.location(TextRange(n, n + static_cast<TextSize>(name.size())))) {
            maps.first.insert_or_assign(key, std::move(*at));
        }
        if (auto at = locator.location_of(*keyword.value)) {
            maps.second.insert_or_assign(key, std::move(*at));
        }
    }
    return maps;
}

FieldCommentMetadata field_comment_metadata(std::span<const std::string> lines) {
    FieldCommentMetadata metadata;
    std::string comment;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) comment += '\n';
        comment += lines[i];
    }
    std::string description;
    bool first_description = true;
    std::string_view rest = comment;
    // The lines of the joined text; a trailing line feed starts no further line.
    while (!rest.empty()) {
        const size_t newline = rest.find('\n');
        const std::string_view line = rest.substr(0, newline);
        rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
        const std::string_view t = trim(line);
        if (t.starts_with(":owner:")) {
            metadata.owner = std::string(trim(t.substr(7)));
        } else if (t.starts_with(":tags:")) {
            std::string words(t.substr(6));
            std::replace(words.begin(), words.end(), ',', ' ');
            std::string_view remaining = words;
            while (true) {
                remaining = trim(remaining);
                if (remaining.empty()) break;
                size_t end = 0;
                while (end < remaining.size() && space_length(remaining, end) == 0) {
                    ++end;
                }
                metadata.tags.emplace_back(remaining.substr(0, end));
                remaining.remove_prefix(end);
            }
        } else {
            if (!first_description) description += '\n';
            description += line;
            first_description = false;
        }
    }
    metadata.comment = std::move(comment);
    if (!is_blank(description)) metadata.description = std::move(description);
    return metadata;
}

std::optional<std::string_view> feature_field_name(const Stmt& statement) {
    if (const auto* assign = statement.as<py::StmtAssign>()) {
        if (assign->targets.size() != 1) return std::nullopt;
        if (const auto* name = assign->targets.front().as<py::ExprName>()) return name->id.as_str();
        return std::nullopt;
    }
    if (const auto* annotated = statement.as<py::StmtAnnAssign>()) {
        if (const auto* name = annotated->target->as<py::ExprName>()) return name->id.as_str();
    }
    return std::nullopt;
}

FeatureFieldAST new_feature_field_ast(std::string name, Location location,
                                      const FieldCommentMetadata& metadata) {
    return FeatureFieldAST{
        .field_name = std::move(name),
        .field_name_location = std::move(location),
        .comment = metadata.comment,
        .description = metadata.description,
        .owner = metadata.owner,
        .tags = metadata.tags,
        .annotation = std::nullopt,
        .feature_call = std::nullopt,
        .kwarg_names = {},
        .kwargs = {},
    };
}

std::vector<FeatureClassAST> collect_feature_class_asts(
    const ParsedFileCache& parsed, std::span<const py::StmtClassDef* const> classes,
    std::string_view module, const FileLocator& locator) {
    constexpr std::array<std::string_view, 1> symbols = {"features"};
    const StringSet feature_names =
        collect_import_names_for_symbols_from_map(parsed.imports, FEATURES_MODULE, symbols);
    std::vector<FeatureClassAST> out;
    if (feature_names.empty()) return out;
    for (const py::StmtClassDef* c : classes) {
        quarn::pause_point();
        if (auto record = feature_class_ast(*c, parsed, module, feature_names, locator)) {
            out.push_back(std::move(*record));
        }
    }
    return out;
}

std::string dedent(std::string_view text) {
    struct Line {
        std::string_view content;
        std::string_view terminator;
    };
    std::vector<Line> lines;
    for (size_t at = 0; at < text.size();) {
        const auto [end, length] = next_line_break(text, at);
        lines.push_back({text.substr(at, end - at), text.substr(end, length)});
        at = end + length;
    }
    auto indentation = [](std::string_view content) {
        return content.substr(0, std::min(content.find_first_not_of(" \t"), content.size()));
    };
    std::optional<std::string_view> prefix;
    for (const Line& line : lines) {
        if (is_blank(line.content)) continue;
        const std::string_view indent = indentation(line.content);
        if (!prefix) {
            prefix = indent;
            continue;
        }
        size_t common = 0;
        while (common < prefix->size() && common < indent.size() &&
               (*prefix)[common] == indent[common]) {
            ++common;
        }
        prefix = prefix->substr(0, common);
    }
    const size_t cut = prefix ? prefix->size() : 0;
    std::string out;
    out.reserve(text.size());
    for (const Line& line : lines) {
        if (!is_blank(line.content)) out += line.content.substr(cut);
        out += line.terminator;
    }
    return out;
}

ParsedAstFile parse_ast_file_with_feature_module(const ParsedFileCache& parsed,
                                                 std::string_view module) {
    return parse_ast_file_with_feature_module(parsed, parsed.suite, module);
}

ParsedAstFile parse_ast_file_with_feature_module(const ParsedFileCache& parsed,
                                                 std::span<const Stmt> suite,
                                                 std::string_view module) {
    ParsedAstFile out;
    // One URI for the whole file: every record is located against the same text.
    const FileLocator locator(parsed.source, file_uri_for_path(parsed.path));
    if (!locator.has_uri()) return out;

    DefinitionCollector definitions;
    definitions.collect(suite);

    constexpr std::array<std::string_view, 1> quarn_module = {"quarn"};
    constexpr std::array<std::string_view, 3> resolver_symbols = {"online", "offline", "stream"};
    StringSet resolver_names =
        collect_import_names_for_symbols_from_map(parsed.imports, quarn_module, resolver_symbols);
    resolver_names.merge(collect_import_names_for_symbols_from_map(parsed.imports, FEATURES_MODULE,
                                                                   resolver_symbols));

    out.functions.reserve(definitions.functions.size());
    for (const py::StmtFunctionDef* f : definitions.functions) {
        // A file of many definitions may be held still between two of them.
        quarn::pause_point();
        if (auto record = resolver_ast(*f, module, resolver_names, locator)) {
            out.functions.push_back(std::move(*record));
        }
    }
    // The resolvers refer to their function records: `functions` is complete and never grows.
    for (const ResolverAST& record : out.functions) {
        if (record.decorator_location) out.resolvers.push_back(record);
    }
    out.feature_classes = collect_feature_class_asts(parsed, definitions.classes, module, locator);
    return out;
}

}  // namespace quarn::ast
