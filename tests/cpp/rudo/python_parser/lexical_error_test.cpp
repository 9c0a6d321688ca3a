#include <gtest/gtest.h>

#include "rudo/python_parser/error.h"

namespace {

TEST(LexicalErrorType, Messages) {
    using rudo::python_parser::InterpolatedStringErrorType;
    using rudo::python_parser::LexicalErrorType;
    using K = LexicalErrorType::Kind;
    struct Case {
        LexicalErrorType error;
        const char* message;
    };
    const Case cases[] = {
        {LexicalErrorType::of(K::UnexpectedString), "Got unexpected string"},
        {LexicalErrorType::of(K::MissingUnicodeLbrace), "Missing `{` in Unicode escape sequence"},
        {LexicalErrorType::unexpected_character(U'$'), "Got unexpected token $"},
        {LexicalErrorType::unexpected_character(U'€'), "Got unexpected token €"},
        {LexicalErrorType::fstring(InterpolatedStringErrorType::UnterminatedString),
         "f-string: unterminated string"},
        {LexicalErrorType::tstring(InterpolatedStringErrorType::SingleRbrace),
         "t-string: single `}` is not allowed"},
        {LexicalErrorType::of(K::UnexpectedEof), "unexpected EOF while parsing"},
        {LexicalErrorType::other("Invalid decimal literal"), "Invalid decimal literal"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.error.message(), c.message);
}

}  // namespace
