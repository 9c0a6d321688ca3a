#include "rudo/python_trivia/comment_ranges.h"

#include <algorithm>

#include "rudo/source_file/line_ranges.h"

namespace rudo::python_trivia {

CommentRanges CommentRanges::from(const python_ast::Tokens& tokens) {
    std::vector<TextRange> ranges;
    for (const python_ast::Token& token : tokens) {
        if (token.kind == python_ast::TokenKind::Comment) ranges.push_back(token.range);
    }
    return CommentRanges(std::move(ranges));
}

std::span<const TextRange> CommentRanges::comments_in_range(TextRange range) const {
    auto first = std::partition_point(ranges_.begin(), ranges_.end(), [&](TextRange comment) {
        return comment.start() < range.start();
    });
    auto last = first;
    while (last != ranges_.end() && last->end() <= range.end())
        ++last;
    return {first, last};
}

bool CommentRanges::is_own_line(TextSize offset, std::string_view text) {
    const TextSize start = source_file::LineRanges::line_start(text, offset);
    return std::all_of(text.begin() + start, text.begin() + offset,
                       [](char c) { return c == ' ' || c == '\t' || c == '\f'; });
}

}  // namespace rudo::python_trivia
