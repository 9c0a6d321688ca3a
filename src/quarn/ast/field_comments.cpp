#include "quarn/ast/field_comments.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "base/utf8.h"
#include "quarn/ast/feature_class_extraction.h"
#include "quarn/ast/source_text.h"

namespace quarn::ast {
namespace {

namespace py = rudo::python_ast;

// The comment's text less its leading `#` characters, trimmed.
std::string comment_text(std::string_view source, TextRange range) {
    std::string_view text = source.substr(range.start(), range.end() - range.start());
    while (!text.empty() && text.front() == '#')
        text.remove_prefix(1);
    return std::string(trim_white_space(text));
}

size_t line_of(const FileLocator& locator, TextSize offset) {
    return locator.context().line(offset);
}

}  // namespace

StringMap<FieldCommentMetadata> field_metadata(const py::StmtClassDef& c,
                                               std::span<const py::Stmt* const> fields,
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
    for (const py::Stmt* field : fields) {
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
        const std::string_view t = trim_white_space(line);
        if (t.starts_with(":owner:")) {
            metadata.owner = std::string(trim_white_space(t.substr(7)));
        } else if (t.starts_with(":tags:")) {
            std::string words(t.substr(6));
            std::replace(words.begin(), words.end(), ',', ' ');
            std::string_view remaining = words;
            while (true) {
                remaining = trim_white_space(remaining);
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

}  // namespace quarn::ast
