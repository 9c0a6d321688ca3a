#include "rudo/python_trivia/comment_ranges.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using rudo::python_ast::Token;
using rudo::python_ast::TokenKind;
using rudo::python_ast::Tokens;
using rudo::python_trivia::CommentRanges;
using rudo::text_size::TextRange;
using rudo::text_size::TextSize;

std::vector<TextRange> to_vector(std::span<const TextRange> ranges) {
    return {ranges.begin(), ranges.end()};
}

TEST(CommentRanges, FromKeepsCommentTokensInOrder) {
    // x = 1  # a\n# b\n\n#c
    Tokens tokens({
        Token{TextRange(0, 1), 0, TokenKind::Name},
        Token{TextRange(2, 3), 0, TokenKind::Equal},
        Token{TextRange(4, 5), 0, TokenKind::Int},
        Token{TextRange(7, 10), 0, TokenKind::Comment},
        Token{TextRange(10, 11), 0, TokenKind::Newline},
        Token{TextRange(11, 14), 0, TokenKind::Comment},
        Token{TextRange(14, 15), 0, TokenKind::NonLogicalNewline},
        Token{TextRange(15, 16), 0, TokenKind::NonLogicalNewline},
        Token{TextRange(16, 18), 0, TokenKind::Comment},
    });
    auto comments = CommentRanges::from(tokens);
    EXPECT_EQ(to_vector(comments.ranges()), (std::vector<TextRange>{{7, 10}, {11, 14}, {16, 18}}));
    EXPECT_TRUE(CommentRanges::from(Tokens()).empty());
}

TEST(CommentRanges, CommentsInRange) {
    const CommentRanges comments({{0, 5}, {10, 15}, {20, 25}});
    struct Case {
        TextRange range;
        std::vector<TextRange> expected;
    };
    const Case cases[] = {
        {{8, 22}, {{10, 15}}},
        {{8, 30}, {{10, 15}, {20, 25}}},
        // The comment at 10 starts before the range.
        {{11, 30}, {{20, 25}}},
        {{0, 25}, {{0, 5}, {10, 15}, {20, 25}}},
        {{10, 15}, {{10, 15}}},
        // The run stops at the first comment ending beyond the range.
        {{0, 12}, {{0, 5}}},
        {{5, 10}, {}},
        {{0, 4}, {}},
        {{26, 40}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(to_vector(comments.comments_in_range(c.range)), c.expected)
            << c.range.start() << ".." << c.range.end();
    }
    EXPECT_TRUE(CommentRanges().comments_in_range({0, 100}).empty());
}

TEST(CommentRanges, IsOwnLine) {
    struct Case {
        std::string text;
        TextSize offset;
        bool expected;
    };
    const Case cases[] = {
        {"# c", 0, true},
        {"  # c", 2, true},
        {"\f# c", 1, true},
        {"\t # c", 2, true},
        {"x = 1  # c", 7, false},
        {"x = 1\n  # c", 8, true},
        {"x = 1\r  # c", 8, true},
        {"x = 1\r\n# c", 7, true},
        // Other white space is not indentation.
        {"\v# c", 1, false},
        {"\xC2\xA0# c", 2, false},
        // A leading byte-order mark is not part of the line.
        {"\xEF\xBB\xBF# c", 3, true},
        {"\xEF\xBB\xBF  # c", 5, true},
        {"\xEF\xBB\xBFx # c", 5, false},
        {"\xEF\xBB\xBF# c", 0, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CommentRanges::is_own_line(c.offset, c.text), c.expected)
            << testing::PrintToString(c.text) << " @ " << c.offset;
    }
}

}  // namespace
