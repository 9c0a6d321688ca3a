#include <gtest/gtest.h>

#include "rudo/python_ast/name.h"
#include "rudo/python_ast/token.h"

namespace {

using rudo::python_ast::TokenKind;
using rudo::text_size::TextRange;

TEST(TokenKind, DisplayAndNames) {
    struct Case {
        TokenKind kind;
        int value;
        const char* name;
        const char* display;
    };
    const Case cases[] = {
        {TokenKind::Name, 0, "Name", "name"},
        {TokenKind::IpyEscapeCommand, 11, "IpyEscapeCommand", "IPython escape command"},
        {TokenKind::NonLogicalNewline, 14, "NonLogicalNewline", "NonLogicalNewline"},
        {TokenKind::EndOfFile, 17, "EndOfFile", "end of file"},
        {TokenKind::Question, 18, "Question", "`?`"},
        {TokenKind::CircumFlex, 45, "CircumFlex", "`^`"},
        {TokenKind::DoubleStarEqual, 49, "DoubleStarEqual", "`**=`"},
        {TokenKind::CircumflexEqual, 57, "CircumflexEqual", "`^=`"},
        {TokenKind::Rarrow, 65, "Rarrow", "`->`"},
        {TokenKind::Ellipsis, 66, "Ellipsis", "`...`"},
        {TokenKind::And, 67, "And", "`and`"},
        {TokenKind::Def, 75, "Def", "`def`"},
        {TokenKind::Yield, 101, "Yield", "`yield`"},
        {TokenKind::Case, 102, "Case", "`case`"},
        {TokenKind::Type, 104, "Type", "`type`"},
        {TokenKind::Unknown, 105, "Unknown", "Unknown"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(static_cast<int>(c.kind), c.value) << c.name;
        EXPECT_EQ(rudo::python_ast::name(c.kind), c.name);
        EXPECT_EQ(rudo::python_ast::display(c.kind), c.display);
        EXPECT_EQ(fmt::format("{}", c.kind), c.display);
    }
}

TEST(TokenKind, ClassesAreRanges) {
    using namespace rudo::python_ast;
    EXPECT_TRUE(is_operator(TokenKind::Question));
    EXPECT_TRUE(is_operator(TokenKind::Ellipsis));
    EXPECT_FALSE(is_operator(TokenKind::And));
    EXPECT_TRUE(is_non_soft_keyword(TokenKind::Yield));
    EXPECT_FALSE(is_non_soft_keyword(TokenKind::Case));
    EXPECT_TRUE(is_soft_keyword(TokenKind::Match));
    EXPECT_FALSE(is_keyword(TokenKind::Unknown));
}

TEST(TextRange, DebugFormAndInvariant) {
    EXPECT_EQ(rudo::text_size::debug(TextRange(4, 9)), "4..9");
    EXPECT_EQ(fmt::format("{}", TextRange(7, 7)), "7..7");
    EXPECT_EQ(TextRange::at(3, 5), TextRange(3, 8));
    EXPECT_EQ(TextRange(3, 8).len(), 5u);
    try {
        TextRange bad(9, 4);
        FAIL() << "a range that ends before it starts must not be built";
    } catch (const quarn::Panic& p) {
        EXPECT_STREQ(p.what(), "assertion failed: start.raw <= end.raw");
    }
}

TEST(Name, InlineUpTo24Bytes) {
    rudo::python_ast::Name short_name("abcdefghijklmnopqrstuvwx");  // 24 bytes
    rudo::python_ast::Name long_name("abcdefghijklmnopqrstuvwxy");  // 25 bytes
    EXPECT_TRUE(short_name.is_inline());
    EXPECT_FALSE(long_name.is_inline());
    rudo::python_ast::Name copy = long_name;
    rudo::python_ast::Name moved = std::move(copy);
    EXPECT_EQ(moved, long_name);
    EXPECT_EQ(moved.as_str(), "abcdefghijklmnopqrstuvwxy");
}

}  // namespace
