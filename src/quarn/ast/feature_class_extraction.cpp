#include "quarn/ast/feature_class_extraction.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "base/pause_point.h"
#include "quarn/ast/decorators.h"
#include "quarn/ast/field_comments.h"
#include "quarn/ast/source_text.h"
#include "quarn/utils/namespace.h"
#include "rudo/source_file/line_ranges.h"

namespace quarn::ast {
namespace {

namespace py = rudo::python_ast;
using py::Stmt;
using rudo::source_file::LineRanges;

// The start of the line holding `offset`, at the very beginning of the text on the first line: a
// class's header line and source keep a file's byte-order mark, which the line index steps over.
size_t whole_line_start(std::string_view source, size_t offset) {
    const size_t start = LineRanges::line_start(source, static_cast<TextSize>(offset));
    return start <= 3 && source.starts_with("\xEF\xBB\xBF") ? 0 : start;
}

std::optional<FeatureClassAST> feature_class_ast(const py::StmtClassDef& c,
                                                 const ParsedFileCache& parsed, Text module,
                                                 const StringSet& feature_names,
                                                 const FileLocator& locator, RecordArena& arena) {
    const std::string_view source = locator.source();
    auto class_name_location = locator.location(c.name.range);
    if (!class_name_location) return std::nullopt;
    const size_t s = c.name.range.start();
    if (s >= source.size()) return std::nullopt;
    // The whole line of the name; a CRLF's `\r` stays inside, as the line index counts it.
    const size_t line_begin = whole_line_start(source, s);
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
        .file = locator.lines(),
        .module = module,
        .namespace_ = {},
        .class_name = locator.keep(c.name.as_str(), c.name.range, arena),
        .source = {},
        .class_name_location = *class_name_location,
        .class_definition_location = *class_definition_location,
        .decorator_location = *decorator_location,
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
    // The metadata of each commented name, written into the arena once.
    const auto metadata_of_names = field_metadata(c, fields, parsed, locator);
    std::unordered_map<std::string_view, FeatureFieldAST> commented;
    for (const auto& [name, metadata] : metadata_of_names) {
        FieldComment* const block = arena.array<FieldComment>(1);
        new (block) FieldComment{};
        if (metadata.comment) block->comment = arena.text(*metadata.comment);
        if (metadata.description) block->description = arena.text(*metadata.description);
        if (metadata.owner) block->owner = arena.text(*metadata.owner);
        ItemsWriter<Text> tags(arena, metadata.tags.size());
        for (const std::string& tag : metadata.tags)
            tags.push_back(arena.text(tag));
        block->tags = tags.done();
        commented[name].comment_block = FieldCommentRef(block);
    }
    auto new_field = [&](std::string_view name, const py::Expr& target, TextRange location) {
        const auto found = commented.find(name);
        FeatureFieldAST field = found == commented.end() ? FeatureFieldAST{} : found->second;
        field.field_name = locator.keep(name, target.range(), arena);
        field.field_name_location = location;
        return field;
    };
    auto keywords_of = [&](const py::Expr& value, FeatureFieldAST& field) {
        if (const auto* call = value.as<py::ExprCall>()) {
            std::tie(field.kwarg_names, field.kwargs) =
                keyword_location_maps(call->arguments.keywords.as_span(), locator, arena);
        }
    };
    // One slot per field name, in the order of the name's first statement: the order `fields`
    // keeps. Annotated statements fill their slots first, then assignments fill the empty ones
    // or give a slot its value; each record is built once, where it stays.
    std::unordered_map<std::string_view, size_t> slot_of;
    slot_of.reserve(fields.size());
    for (const Stmt* statement : fields)
        slot_of.try_emplace(*feature_field_name(*statement), slot_of.size());
    std::vector<std::optional<FeatureFieldAST>> slots(slot_of.size());
    // Per annotated statement: the slot it filled, or the record of its own when its name's
    // record is another (a second annotation of the name) or was changed by an assignment.
    struct Annotation {
        size_t slot;
        std::optional<FeatureFieldAST> own;
    };
    std::vector<Annotation> annotations;
    std::vector<std::optional<size_t>> annotation_of_slot(slots.size());
    for (const Stmt* statement : fields) {
        const auto* annotated = statement->as<py::StmtAnnAssign>();
        if (!annotated) continue;
        const std::string_view name = *feature_field_name(*statement);
        auto name_location = locator.location_of(*annotated->target);
        if (!name_location) return std::nullopt;
        FeatureFieldAST field = new_field(name, *annotated->target, *name_location);
        field.annotation = locator.location_of(*annotated->annotation);
        if (annotated->value && annotated->value->is<py::ExprCall>()) {
            field.feature_call = locator.location_of(*annotated->value);
            keywords_of(*annotated->value, field);
        }
        const size_t slot = slot_of.find(name)->second;
        if (!slots[slot]) {
            slots[slot] = std::move(field);
            annotation_of_slot[slot] = annotations.size();
            annotations.push_back({slot, std::nullopt});
        } else {
            annotations.push_back({slot, std::move(field)});
        }
    }
    for (const Stmt* statement : fields) {
        const auto* assigned = statement->as<py::StmtAssign>();
        if (!assigned) continue;
        const std::string_view name = *feature_field_name(*statement);
        auto name_location = locator.location_of(assigned->targets.front());
        if (!name_location) return std::nullopt;
        const size_t slot = slot_of.find(name)->second;
        if (std::optional<FeatureFieldAST>& existing = slots[slot]) {
            // The annotation keeps the record as it was before the assignment.
            if (const auto k = std::exchange(annotation_of_slot[slot], std::nullopt)) {
                annotations[*k].own = *existing;
            }
            existing->feature_call = locator.location_of(*assigned->value);
            existing->kwarg_names = {};
            existing->kwargs = {};
            keywords_of(*assigned->value, *existing);
        } else {
            FeatureFieldAST field = new_field(name, assigned->targets.front(), *name_location);
            field.feature_call = locator.location_of(*assigned->value);
            keywords_of(*assigned->value, field);
            existing = std::move(field);
        }
    }

    // The names of the slots are unique: the records are written as they stand.
    FeatureFieldAST* const entries = arena.array<FeatureFieldAST>(slots.size());
    for (size_t k = 0; k < slots.size(); ++k)
        new (&entries[k]) FeatureFieldAST(*slots[k]);
    record.fields = decltype(record.fields)(Items<FeatureFieldAST>(entries, slots.size()));
    ItemsWriter<const FeatureFieldAST*> listed(arena, annotations.size());
    for (const Annotation& annotation : annotations) {
        if (annotation.own) {
            FeatureFieldAST* const own = arena.array<FeatureFieldAST>(1);
            new (own) FeatureFieldAST(*annotation.own);
            listed.push_back(own);
        } else {
            listed.push_back(&entries[annotation.slot]);
        }
    }
    record.annotations = RecordList<FeatureFieldAST>(listed.done());

    bool named = false;
    if (const auto* call = decorator->expression->as<py::ExprCall>()) {
        auto keywords = call->arguments.keywords.as_span();
        std::tie(record.kwarg_names, record.kwargs) =
            keyword_location_maps(keywords, locator, arena);
        for (const py::Keyword& keyword : keywords) {
            if (!keyword.arg || keyword.arg->as_str() != "name") continue;
            if (const auto* literal = single_string(*keyword.value)) {
                record.namespace_ = locator.keep(literal->value.to_str(), literal->range, arena);
                named = true;
                break;
            }
        }
    }
    if (!named) record.namespace_ = arena.text(quarn::utils::to_snake_case(record.class_name));

    const size_t first_line = c.decorator_list.empty()
                                  ? size_t{c.range.start()}
                                  : size_t{c.decorator_list.front().range.start()};
    const size_t begin = whole_line_start(source, std::min(first_line, source.size()));
    const auto [end_break, end_length] =
        next_line_break(source, std::min<size_t>(c.range.end(), source.size()));
    record.source = dedent(source.substr(begin, end_break + end_length - begin), arena);
    return record;
}

}  // namespace

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

Items<FeatureClassAST> collect_feature_class_asts(const ParsedFileCache& parsed,
                                                  std::span<const py::StmtClassDef* const> classes,
                                                  Text module, const FileLocator& locator,
                                                  RecordArena& arena) {
    constexpr std::array<std::string_view, 1> symbols = {"features"};
    const StringSet feature_names =
        collect_import_names_for_symbols_from_map(parsed.imports, FEATURES_MODULE, symbols);
    if (feature_names.empty()) return {};
    std::vector<FeatureClassAST> out;
    for (const py::StmtClassDef* c : classes) {
        quarn::pause_point();
        if (auto record = feature_class_ast(*c, parsed, module, feature_names, locator, arena)) {
            out.push_back(*record);
        }
    }
    FeatureClassAST* const kept = arena.array<FeatureClassAST>(out.size());
    std::uninitialized_copy(out.begin(), out.end(), kept);
    return Items<FeatureClassAST>(kept, out.size());
}

}  // namespace quarn::ast
