// Inputs that must lex in linear time and without exhausting the stack: huge comments and
// strings, a million open brackets, deeply nested f-strings, with a look-ahead at every token.
#include <gtest/gtest.h>

#include "rudo/python_parser/lex_helpers.h"
#include "rudo/python_parser/token_source.h"

namespace {

using namespace lexer_test;

constexpr size_t TEN_MB = 10 * 1024 * 1024;

// Consumes the whole source through the token source, peeking before every bump as a parser
// does; returns the recorded tokens and errors.
TokenSourceResult consume_peeking(std::string_view source) {
    auto ts = TokenSource::from_source(source);
    for (;;) {
        TokenKind kind = ts->current_kind();
        (void)ts->peek();
        ts->bump(kind);
        if (kind == TokenKind::EndOfFile) break;
    }
    return std::move(ts).value().finish();
}

TEST(Robustness, AMillionOpenBrackets) {
    const size_t n = 1'000'000;
    std::string source(n, '(');
    TokenSourceResult result = consume_peeking(source);
    ASSERT_EQ(result.tokens.size(), n + 2);
    EXPECT_EQ(result.tokens[n - 1].kind, TokenKind::Lpar);
    EXPECT_EQ(result.tokens[n].kind, TokenKind::Unknown);
    EXPECT_EQ(result.tokens[n + 1].kind, TokenKind::Newline);
    EXPECT_EQ(errors(result.errors), fmt::format("unexpected EOF while parsing @ {0}..{0}", n));
}

TEST(Robustness, HugeCommentAndStrings) {
    const std::string body(TEN_MB, 'a');
    struct Case {
        std::string source;
        const char* tokens;  // kinds
        TextRange first;
    };
    const TextSize big = static_cast<TextSize>(TEN_MB);
    const Case cases[] = {
        {"#" + body + "\nx\n", "Comment NonLogicalNewline Name Newline", TextRange(0, big + 1)},
        {"'" + body + "'\n", "String Newline", TextRange(0, big + 2)},
        {"'''" + body + "'''\n", "String Newline", TextRange(0, big + 6)},
        {"'" + body, "String Newline", TextRange(0, big + 1)},
        {"f'" + body + "'\n", "FStringStart FStringMiddle FStringEnd Newline", TextRange(0, 2)},
    };
    for (const auto& c : cases) {
        TokenSourceResult result = consume_peeking(c.source);
        EXPECT_EQ(kinds(as_vector(result.tokens)), c.tokens);
        EXPECT_EQ(result.tokens[0].range, c.first);
    }
}

TEST(Robustness, DeeplyNestedInterpolatedStrings) {
    const size_t depth = 100'000;
    std::string source;
    for (size_t i = 0; i < depth; ++i)
        source += "f'{";
    source += 'x';
    for (size_t i = 0; i < depth; ++i)
        source += "}'";
    source += '\n';
    TokenSourceResult result = consume_peeking(source);
    ASSERT_EQ(result.tokens.size(), 4 * depth + 2);
    EXPECT_EQ(result.tokens[2 * depth].kind, TokenKind::Name);
    EXPECT_EQ(result.tokens[4 * depth].kind, TokenKind::FStringEnd);
    EXPECT_TRUE(result.errors.empty());
}

TEST(Robustness, UnterminatedNestedStringsAtTheEnd) {
    // Every open context is closed with its own error by the end-of-input sequence.
    const size_t depth = 100'000;
    std::string source;
    for (size_t i = 0; i < depth; ++i)
        source += "f'{";
    TokenSourceResult result = consume_peeking(source);
    EXPECT_EQ(result.errors.size(), depth);
    EXPECT_EQ(result.tokens[result.tokens.size() - 1].kind, TokenKind::Newline);
}

TEST(Robustness, DeepIndentation) {
    const size_t depth = 2'000;
    std::string source;
    for (size_t i = 0; i < depth; ++i)
        source += std::string(i, ' ') + "if x:\n";
    source += std::string(depth, ' ') + "pass\n";
    TokenSourceResult result = consume_peeking(source);
    size_t indents = 0;
    size_t dedents = 0;
    for (const auto& t : result.tokens) {
        indents += t.kind == TokenKind::Indent;
        dedents += t.kind == TokenKind::Dedent;
    }
    EXPECT_EQ(indents, depth);
    EXPECT_EQ(dedents, depth);
    EXPECT_TRUE(result.errors.empty());
}

}  // namespace
