// The token source: trivia recording, look-ahead, checkpoints and the re-lexing operations.
#include <sys/mman.h>

#include <gtest/gtest.h>

#include "rudo/python_parser/lex_helpers.h"
#include "rudo/python_parser/token_source.h"

namespace {

using namespace lexer_test;

TokenSource make(std::string_view source) {
    auto ts = TokenSource::from_source(source);
    if (!ts) ADD_FAILURE() << ts.error();
    return std::move(ts).value();
}

// Bumps every significant token, as a parser that consumes everything does.
TokenSourceResult consume_all(TokenSource ts) {
    for (;;) {
        TokenKind kind = ts.current_kind();
        ts.bump(kind);
        if (kind == TokenKind::EndOfFile) break;
    }
    return std::move(ts).finish();
}

const std::string_view SOURCES[] = {
    "x = 1  # c\n",
    "# a\n\nif x:\n    y = [1,\n  # inside\n  2]\n\n  # odd\n    z = f'{a!r:>{w}}' # t\n",
    "def f(a, *, b=1):\n\treturn (a +\n\t\tb)\nclass C: pass\n",
    "s = f'''x{y:{z}\n}''' + t'{q}' + rb'\\x' \\\n  + 'a\nb = 0x_ 01 1._5 $\n",
    "if a:\n  if b:\n    c\n   d\ne = (1,\n",
    "f'{f\"{f'{x}'}\"}' f'{x' f'ab\n",
};

TEST(TokenSource, TriviaBeforeTheFirstSignificantToken) {
    TokenSource ts = make("# a\n# b\nx\n");
    EXPECT_EQ(ranged(ts.tokens()),
              "Comment 0..3, NonLogicalNewline 3..4, Comment 4..7, NonLogicalNewline 7..8");
    EXPECT_EQ(ts.current_kind(), TokenKind::Name);
    EXPECT_EQ(ts.current_range(), TextRange(8, 9));
}

TEST(TokenSource, RecordsEveryTokenButTheFinalEndOfFile) {
    EXPECT_TRUE(consume_all(make("")).tokens.empty());
    EXPECT_EQ(ranged(as_vector(consume_all(make("x = 1  # c\n")).tokens)),
              "Name 0..1, Equal 2..3, Int 4..5, Comment 7..10, Newline 10..11");
    // Whatever the source, the recorded list is the plain lex without its EndOfFile.
    for (std::string_view source : SOURCES) {
        Lexed plain = lex_all(source);
        plain.tokens.pop_back();
        TokenSourceResult result = consume_all(make(source));
        EXPECT_EQ(as_vector(result.tokens), plain.tokens) << source;
        EXPECT_EQ(result.errors, plain.errors) << source;
    }
    // A token a byte, far more than the room made at the start: the list grows several times,
    // the last time by several slices, and keeps every token in order.
    std::string dense;
    for (int i = 0; i < 40000; ++i)
        dense += "f(a,b)#\n";
    Lexed plain = lex_all(dense);
    plain.tokens.pop_back();
    std::vector<Token> recorded = as_vector(consume_all(make(dense)).tokens);
    ASSERT_EQ(recorded.size(), size_t{8} * 40000);
    EXPECT_EQ(ranged(std::vector<Token>(recorded.end() - 2, recorded.end())),
              "Comment 319998..319999, Newline 319999..320000");
    EXPECT_EQ(recorded, plain.tokens);
}

TEST(TokenSource, PeekSkipsTriviaAndChangesNothing) {
    TokenSource ts = make("(x\n# c\n\ny $ z)");
    ts.bump(TokenKind::Lpar);
    ASSERT_EQ(ts.current_kind(), TokenKind::Name);
    EXPECT_EQ(ts.peek(), TokenKind::Name);
    EXPECT_EQ(ts.peek2(), std::make_pair(TokenKind::Name, TokenKind::Unknown));
    EXPECT_EQ(ranged(ts.tokens()), "Lpar 0..1");
    EXPECT_TRUE(ts.errors().empty());
    // The current token keeps its value.
    EXPECT_EQ(value_text(ts.current_value()), "name:x");
    ts.bump(TokenKind::Name);
    EXPECT_EQ(ranged(ts.tokens()),
              "Lpar 0..1, Name 1..2, NonLogicalNewline 2..3, Comment 3..6, "
              "NonLogicalNewline 6..7, NonLogicalNewline 7..8");
    EXPECT_EQ(value_text(ts.take_value()), "name:y");
    EXPECT_EQ(ts.peek(), TokenKind::Unknown);
    EXPECT_TRUE(ts.errors().empty());
    ts.bump(TokenKind::Name);
    EXPECT_EQ(errors(ts.errors()), "Got unexpected token $ @ 10..11");
}

TEST(TokenSource, RewindTruncatesToAPlainLex) {
    for (std::string_view source : SOURCES) {
        TokenSourceResult expected = consume_all(make(source));
        size_t significant = 0;
        for (TokenSource ts = make(source); ts.current_kind() != TokenKind::EndOfFile;
             ts.bump(ts.current_kind())) {
            ++significant;
        }
        // Checkpoint after every prefix, run ahead by a few tokens or to the end, rewind, and
        // finish: the outcome must not show the speculation.
        for (size_t at = 0; at <= significant; ++at) {
            for (size_t ahead : {size_t{1}, size_t{3}, significant + 1}) {
                TokenSource ts = make(source);
                for (size_t i = 0; i < at; ++i)
                    ts.bump(ts.current_kind());
                TokenSourceCheckpoint checkpoint = ts.checkpoint();
                size_t before = ts.tokens().size();
                size_t errors_before = ts.errors().size();
                for (size_t i = 0; i < ahead && ts.current_kind() != TokenKind::EndOfFile; ++i) {
                    ts.bump(ts.current_kind());
                }
                ts.rewind(std::move(checkpoint));
                EXPECT_EQ(ts.tokens().size(), before);
                EXPECT_EQ(ts.errors().size(), errors_before);
                TokenSourceResult result = consume_all(std::move(ts));
                EXPECT_EQ(as_vector(result.tokens), as_vector(expected.tokens))
                    << source << " at " << at << " ahead " << ahead;
                EXPECT_EQ(result.errors, expected.errors) << source << " at " << at;
            }
        }
    }
}

TEST(TokenSource, ReLexLogicalTokenEndsTheAbandonedLine) {
    TokenSource ts = make("x = [1, 2\n# c\ndef f(): pass\n");
    while (ts.current_kind() != TokenKind::Def)
        ts.bump(ts.current_kind());
    EXPECT_EQ(ranged(ts.tokens()),
              "Name 0..1, Equal 2..3, Lsqb 4..5, Int 5..6, Comma 6..7, Int 8..9, "
              "NonLogicalNewline 9..10, Comment 10..13, NonLogicalNewline 13..14");
    ts.re_lex_logical_token();
    EXPECT_EQ(ts.current_kind(), TokenKind::Newline);
    EXPECT_EQ(ts.current_range(), TextRange(9, 10));
    EXPECT_EQ(ranged(ts.tokens()),
              "Name 0..1, Equal 2..3, Lsqb 4..5, Int 5..6, Comma 6..7, Int 8..9");
    TokenSourceResult result = consume_all(std::move(ts));
    EXPECT_EQ(ranged(as_vector(result.tokens)),
              "Name 0..1, Equal 2..3, Lsqb 4..5, Int 5..6, Comma 6..7, Int 8..9, Newline 9..10, "
              "Comment 10..13, NonLogicalNewline 13..14, Def 14..17, Name 18..19, Lpar 19..20, "
              "Rpar 20..21, Colon 21..22, Pass 23..27, Newline 27..28");
    EXPECT_TRUE(result.errors.empty());
}

TEST(TokenSource, ReLexLogicalTokenWithoutALineBreakChangesNoTokens) {
    TokenSource ts = make("x = [1, 2 def\n");
    while (ts.current_kind() != TokenKind::Def)
        ts.bump(ts.current_kind());
    std::string before = ranged(ts.tokens());
    ts.re_lex_logical_token();
    EXPECT_EQ(ranged(ts.tokens()), before);
    EXPECT_EQ(ts.current_kind(), TokenKind::Def);
    // The bracket counts as closed: the line break after `def` ends the logical line.
    TokenSourceResult result = consume_all(std::move(ts));
    EXPECT_EQ(result.tokens[result.tokens.size() - 1].kind, TokenKind::Newline);
    EXPECT_TRUE(result.errors.empty());
}

TEST(TokenSource, ReLexInterpolatedStringEndAndRawConversion) {
    // The parser's view of `f'{x!r'`: the `r'` is the conversion `r` and the `'` closes the
    // f-string, so neither missing-quote error stands.
    TokenSource ts = make("f'{x!r'\n");
    ts.bump(TokenKind::FStringStart);
    ts.bump(TokenKind::Lbrace);
    ts.bump(TokenKind::Name);
    ts.bump(TokenKind::Exclamation);
    ASSERT_EQ(ts.current_kind(), TokenKind::String);
    EXPECT_EQ(ts.current_flags(), 0x140);
    EXPECT_EQ(errors(ts.errors()), "missing closing quote in string literal @ 5..7");
    EXPECT_FALSE(ts.re_lex_string_token_in_interpolation_element(InterpolatedStringKind::FString));
    EXPECT_TRUE(ts.re_lex_raw_string_in_format_spec());
    EXPECT_EQ(ts.current_kind(), TokenKind::Name);
    EXPECT_EQ(ts.current_range(), TextRange(5, 6));
    EXPECT_EQ(value_text(ts.current_value()), "name:r");
    ts.bump(TokenKind::Name);
    ASSERT_EQ(ts.current_kind(), TokenKind::String);
    EXPECT_FALSE(ts.re_lex_raw_string_in_format_spec());
    EXPECT_TRUE(ts.re_lex_string_token_in_interpolation_element(InterpolatedStringKind::FString));
    EXPECT_EQ(ts.current_kind(), TokenKind::FStringEnd);
    EXPECT_EQ(ts.current_flags(), 0);
    TokenSourceResult result = consume_all(std::move(ts));
    EXPECT_EQ(ranged(as_vector(result.tokens)),
              "FStringStart 0..2/0x10, Lbrace 2..3, Name 3..4, Exclamation 4..5, Name 5..6, "
              "FStringEnd 6..7, Newline 7..8");
    EXPECT_TRUE(result.errors.empty());
}

TEST(TokenSource, ReLexInterpolatedStringEndNeedsABareQuote) {
    struct Case {
        std::string_view source;
        size_t bumps;  // significant tokens before the string
    };
    const Case cases[] = {
        {"f'{x 'a'}'\n", 3},  // a terminated string
        {"f'{x' y\n", 3},     // text after the quote
        {"f'{x\"\n", 3},      // the other quote character
        {"f'{x b'\n", 3},     // a prefixed string
    };
    for (const auto& c : cases) {
        TokenSource ts = make(c.source);
        for (size_t i = 0; i < c.bumps; ++i)
            ts.bump(ts.current_kind());
        ASSERT_EQ(ts.current_kind(), TokenKind::String) << c.source;
        EXPECT_FALSE(
            ts.re_lex_string_token_in_interpolation_element(InterpolatedStringKind::FString))
            << c.source;
        EXPECT_EQ(ts.current_kind(), TokenKind::String) << c.source;
    }
}

TEST(TokenSource, FinishWantsTheWholeSource) {
    TokenSource ts = make("x\n");
    EXPECT_THROW(std::move(ts).finish(), quarn::Panic);
}

TEST(TokenSource, RefusesTextsOver4GB) {
    EXPECT_TRUE(source_size_fits(4'294'967'295));
    EXPECT_FALSE(source_size_fits(4'294'967'296));
    // Address space only: the pages are never touched.
    const size_t size = size_t{4'294'967'296};
    void* memory =
        mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory == MAP_FAILED) GTEST_SKIP() << "cannot reserve 4 GB of address space";
    std::string_view huge(static_cast<const char*>(memory), size);
    auto ts = TokenSource::from_source(huge);
    ASSERT_FALSE(ts.ok());
    EXPECT_EQ(ts.error(), "Lexer only supports files with a size up to 4GB");
    auto lexer = Lexer::create(huge);
    ASSERT_FALSE(lexer.ok());
    EXPECT_EQ(lexer.error(), "Lexer only supports files with a size up to 4GB");
    munmap(memory, size);
}

}  // namespace
