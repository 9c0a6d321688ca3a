// The ranges of a file's comments, for attaching comments to the code around them.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "rudo/python_ast/token.h"
#include "rudo/text_size/text_size.h"

namespace rudo::python_trivia {

using text_size::TextRange;
using text_size::TextSize;

class CommentRanges {
  public:
    CommentRanges() = default;
    // `ranges` in source order: sorted by start, non-overlapping.
    explicit CommentRanges(std::vector<TextRange> ranges) : ranges_(std::move(ranges)) {}

    static CommentRanges from(const python_ast::Tokens& tokens);

    // The comments that start at or after `range.start()`, up to the first one that ends
    // beyond `range.end()`; in source order, possibly empty.
    std::span<const TextRange> comments_in_range(TextRange range) const;

    // Whether only spaces, tabs and form feeds stand between the start of the line holding
    // `offset` and `offset`: for a comment's start, whether it stands on a line of its own.
    static bool is_own_line(TextSize offset, std::string_view text);

    std::span<const TextRange> ranges() const { return ranges_; }
    auto begin() const { return ranges_.begin(); }
    auto end() const { return ranges_.end(); }
    size_t size() const { return ranges_.size(); }
    bool empty() const { return ranges_.empty(); }

  private:
    std::vector<TextRange> ranges_;
};

}  // namespace rudo::python_trivia
