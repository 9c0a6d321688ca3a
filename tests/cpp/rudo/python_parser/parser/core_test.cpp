// The parser's core: error texts, the recording rule, the merge of lexer and parser errors, node
// ranges, speculation, the recovery table, the list loops and the depth guard.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/panic.h"
#include "rudo/python_ast/dump.h"
#include "rudo/python_parser/lexer.h"
#include "rudo/python_parser/parser/parse.h"
#include "rudo/python_parser/parser/parse_case.h"
#include "rudo/python_parser/parser/parser.h"
#include "rudo/python_parser/string.h"

namespace {

using namespace rudo::python_parser;
using rudo::python_ast::TokenKind;
using Kind = ParseErrorType::Kind;
using Id = ParseErrorId;

// A parser over `source` positioned at its first significant token.
Parser make_parser(std::string_view source) {
    return Parser(TokenSource::from_source(source).value(), source, ParserOptions{});
}

std::vector<std::string> displays(const std::vector<ParseError>& errors) {
    std::vector<std::string> out;
    for (const auto& e : errors)
        out.push_back(e.display());
    return out;
}

// The text of the current token, consumed: the element parser of the list tests.
std::string take_token(Parser& p) {
    const TextRange range = p.current_token_range();
    p.bump_any();
    return std::string(p.src_text(range));
}

TEST(ParseErrorDisplay, MessagesOfEveryPayloadShape) {
    struct Case {
        ParseErrorType error;
        std::string_view message;
    };
    const Case cases[] = {
        {parse_error<Id::Other>("Expected a statement"), "Expected a statement"},
        {parse_error<Id::ExpectedIndexOrSlice>(), "Expected index or slice expression"},
        {parse_error<Id::VarParameterWithDefault>(),
         "Parameter with `*` or `**` cannot have default value"},
        {parse_error<Id::UnexpectedIpythonEscapeCommand>(),
         "IPython escape commands are only allowed in `Mode::Ipython`"},
        {parse_error<Id::ExpectedToken>(TokenKind::Rpar, TokenKind::Newline),
         "Expected `)`, found newline"},
        {parse_error<Id::ExpectedToken>(TokenKind::Comma, TokenKind::Name),
         "Expected `,`, found name"},
        {parse_error<Id::UnexpectedTokenAfterAsync>(TokenKind::EndOfFile),
         "Expected `def`, `with` or `for` to follow `async`, found end of file"},
        {parse_error<Id::DuplicateKeywordArgument>("x"), "Duplicate keyword argument \"x\""},
        // A combining mark would fuse with the quote; it is escaped instead.
        {parse_error<Id::DuplicateKeywordArgument>("a\xcc\x81"),
         "Duplicate keyword argument \"a\\u{301}\""},
        {parse_error<Id::FStringError>(InterpolatedStringErrorType::SingleRbrace),
         "f-string: single `}` is not allowed"},
        {parse_error<Id::TStringError>(InterpolatedStringErrorType::UnterminatedString),
         "t-string: unterminated string"},
        {parse_error<Id::Lexical>(LexicalErrorType::of(LexicalErrorType::Kind::UnexpectedEof)),
         "unexpected EOF while parsing"},
        {parse_error<Id::Lexical>(LexicalErrorType::unexpected_character(U'$')),
         "Got unexpected token $"},
        // Named texts, plain and with their one argument.
        {parse_error<Id::ExpectedStatement>(), "Expected a statement"},
        {parse_error<Id::MissingClosingBrace>(), "missing closing brace `}`"},
        {parse_error<Id::ExpectedIndentedBlock>("`try` statement"),
         "Expected an indented block after `try` statement"},
        {parse_error<Id::MisplacedUnaryExpression>("-"),
         "Unary '-' expression cannot be used here"},
        {parse_error<Id::MisplacedBitwiseOrOperand>("Lambda"),
         "Lambda expression cannot be used here"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.error.message(), c.message);

    const ParseError error{parse_error<Id::ExpectedExpression>(), TextRange(5, 5)};
    EXPECT_EQ(error.display(), "Expected an expression at byte range 5..5");
    EXPECT_EQ(kind_name(Kind::Lexical), "Lexical");
    EXPECT_EQ(static_cast<int>(Kind::Lexical), 40);
    EXPECT_EQ(static_cast<int>(Kind::ExpectedToken), 33);
}

// Each text is named once: two names for one text would let the two drift apart.
TEST(ParseErrorDisplay, NamedTextsAreDistinct) {
    std::set<std::string_view> seen;
    for (size_t i = static_cast<size_t>(Id::Lexical) + 1; i < PARSE_ERROR_ID_COUNT; ++i) {
        const std::string_view text = message_of(static_cast<Id>(i));
        EXPECT_FALSE(text.empty());
        EXPECT_TRUE(seen.insert(text).second) << text;
    }
}

TEST(RecordingRule, DropsOnlyAnErrorStartingWhereTheLastOneStarts) {
    Parser p = make_parser("a");
    p.add_error(parse_error<Id::Other>("first"), TextRange(3, 4));
    p.add_error(parse_error<Id::ExpectedExpression>(), TextRange(3, 9));  // same start
    p.add_error(parse_error<Id::Other>("later"), TextRange(8, 9));
    p.add_error(parse_error<Id::Other>("earlier"), TextRange(5, 6));     // kept after 8
    p.add_error(parse_error<Id::Other>("again at 3"), TextRange(3, 3));  // only the last counts
    EXPECT_EQ(
        displays(p.errors()),
        (std::vector<std::string>{"first at byte range 3..4", "later at byte range 8..9",
                                  "earlier at byte range 5..6", "again at 3 at byte range 3..3"}));
}

// Runs hold consecutive equal errors whose ranges step evenly; whatever the pattern, every error
// comes back in recording order with its own range.
TEST(ErrorRuns, GivesBackEveryErrorThroughPushesAndTruncations) {
    const auto error = [](std::string_view text, TextSize start, TextSize end) {
        return ParseError{parse_error<Id::Other>(text), TextRange(start, end)};
    };
    struct Step {
        std::optional<ParseError> push;  // else truncate to `keep`
        size_t keep = 0;
    };
    struct Case {
        std::vector<Step> steps;
        std::vector<ParseError> expected;
    };
    const auto push = [](ParseError e) { return Step{std::move(e), 0}; };
    const auto truncate = [](size_t keep) { return Step{std::nullopt, keep}; };
    const Case cases[] = {
        // One step, then another, then a length change and an error that goes back.
        {{push(error("a", 0, 1)), push(error("a", 1, 2)), push(error("a", 2, 3)),
          push(error("a", 5, 6)), push(error("a", 8, 9)), push(error("a", 9, 11)),
          push(error("a", 4, 5)), push(error("b", 5, 6))},
         {error("a", 0, 1), error("a", 1, 2), error("a", 2, 3), error("a", 5, 6), error("a", 8, 9),
          error("a", 9, 11), error("a", 4, 5), error("b", 5, 6)}},
        // Empty ranges at one offset never join; at rising offsets they do.
        {{push(error("e", 3, 3)), push(error("e", 3, 3)), push(error("e", 4, 4)),
          push(error("e", 5, 5))},
         {error("e", 3, 3), error("e", 3, 3), error("e", 4, 4), error("e", 5, 5)}},
        // Cut inside a run, then go on with another step.
        {{push(error("a", 0, 1)), push(error("a", 2, 3)), push(error("a", 4, 5)),
          push(error("a", 6, 7)), truncate(1), push(error("a", 1, 2)), push(error("a", 2, 3))},
         {error("a", 0, 1), error("a", 1, 2), error("a", 2, 3)}},
        // Cut across runs, to nothing, and start again.
        {{push(error("a", 0, 1)), push(error("b", 1, 2)), push(error("b", 2, 3)), truncate(2),
          truncate(0), push(error("c", 7, 8))},
         {error("c", 7, 8)}},
    };
    for (const auto& c : cases) {
        ErrorRuns<ParseError> runs;
        for (const Step& step : c.steps) {
            if (step.push) {
                runs.push_back(*step.push);
                EXPECT_EQ(runs.back(), *step.push);
                EXPECT_EQ(runs.back_start(), step.push->location.start());
            } else {
                runs.truncate(step.keep);
            }
        }
        EXPECT_EQ(runs.size(), c.expected.size());
        EXPECT_EQ(runs.to_vector(), c.expected);
    }
}

TEST(ErrorRuns, ErrorTextsCompareByTheirText) {
    static constexpr std::string_view named = "Expected a statement";
    const ErrorText owned("Expected a statement");
    const ErrorText copy = owned;  // shares the owned bytes
    EXPECT_EQ(copy.view().data(), owned.view().data());
    EXPECT_EQ(owned, ErrorText::borrowed(named));
    EXPECT_EQ(ErrorText::borrowed(named).view().data(), named.data());
    EXPECT_FALSE(owned == ErrorText("Expected a pattern"));
    EXPECT_EQ(ErrorText(""), ErrorText());
    EXPECT_TRUE(ErrorText().empty());
    EXPECT_EQ(parse_error<Id::ExpectedStatement>().text, named);
}

TEST(MergeErrors, WalksBothListsHeadToHead) {
    const auto parser_error = [](TextSize start) {
        return ParseError{parse_error<Id::Other>("p"), TextRange(start, start + 1)};
    };
    const auto lexer_error = [](TextSize start) {
        return LexicalError{LexicalErrorType::other("l"), TextRange(start, start + 1)};
    };
    struct Case {
        std::vector<ParseError> parser;
        std::vector<LexicalError> lexer;
        std::string_view expected;  // kind and start of each merged error
    };
    const Case cases[] = {
        {{parser_error(3)}, {lexer_error(9)}, "p3 l9"},
        {{parser_error(9)}, {lexer_error(3)}, "l3 p9"},
        {{parser_error(5)}, {lexer_error(5)}, "l5"},
        // Unsorted parser errors keep their order; only heads are compared.
        {{parser_error(8), parser_error(5)}, {}, "p8 p5"},
        {{parser_error(8), parser_error(2)}, {lexer_error(4)}, "l4 p8 p2"},
        {{parser_error(1), parser_error(4), parser_error(7)},
         {lexer_error(4), lexer_error(5)},
         "p1 l4 l5 p7"},
        {{}, {lexer_error(2), lexer_error(1)}, "l2 l1"},
    };
    for (const auto& c : cases) {
        ErrorRuns<ParseError> parser_runs;
        for (const ParseError& error : c.parser)
            parser_runs.push_back(error);
        ErrorRuns<LexicalError> lexer_runs;
        for (const LexicalError& error : c.lexer)
            lexer_runs.push_back(error);
        std::string got;
        for (const auto& e : merge_errors(parser_runs, lexer_runs)) {
            if (!got.empty()) got += ' ';
            got += e.error.kind == Kind::Lexical ? 'l' : 'p';
            got += std::to_string(e.location.start());
        }
        EXPECT_EQ(got, c.expected);
    }
}

TEST(ParseModule, EmptyTextIsAnEmptyModule) {
    auto parsed = parse_module("");
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(rudo::python_ast::dump(parsed->syntax), "ModModule[0..0]");
    EXPECT_TRUE(parsed->tokens.empty());
}

TEST(ParseModule, ExpressionStatementsEndToEnd) {
    auto parsed = parse_module("a\nb  # note\n");
    ASSERT_TRUE(parsed.ok()) << parsed.error().display();
    EXPECT_EQ(rudo::python_ast::dump(parsed->syntax),
              "ModModule[0..12](body=[StmtExpr[0..1](value=ExprName[0..1](id=\"a\", ctx=Load)), "
              "StmtExpr[2..3](value=ExprName[2..3](id=\"b\", ctx=Load))])");
    // Trivia is recorded, the final end of file is not.
    std::vector<TokenKind> kinds;
    for (const auto& t : parsed->tokens)
        kinds.push_back(t.kind);
    EXPECT_EQ(kinds, (std::vector<TokenKind>{TokenKind::Name, TokenKind::Newline, TokenKind::Name,
                                             TokenKind::Comment, TokenKind::Newline}));
}

TEST(ParseModule, FirstMergedErrorIsReported) {
    test::expect_first_errors({
        // The lexer's error displaces the parser's at the same offset.
        {"a $", "Got unexpected token $ at byte range 2..3"},
        {"  a\n", "Unexpected indentation at byte range 0..2"},
        {")\n", "Expected a statement at byte range 0..1"},
    });
}

TEST(ParseModule, IndentedFirstLineStillParsesTheStatement) {
    Parsed parsed = parse_module_unchecked("  a\n");
    EXPECT_EQ(rudo::python_ast::dump(parsed.syntax.body),
              "[StmtExpr[2..3](value=ExprName[2..3](id=\"a\", ctx=Load))]");
}

TEST(NodeRange, EndsAtTheLastConsumedTokenThatIsNotANewline) {
    Parser p = make_parser("a\n  b c");
    EXPECT_EQ(p.node_range(0), TextRange(0, 0));  // nothing consumed at all
    p.bump(TokenKind::Name);
    EXPECT_EQ(p.node_range(0), TextRange(0, 1));
    p.bump(TokenKind::Newline);
    // The newline leaves the end alone; a start past it gives an empty range at that end.
    EXPECT_EQ(p.prev_token_end(), 1u);
    EXPECT_EQ(p.node_range(2), TextRange(1, 1));
    p.bump(TokenKind::Indent);
    p.bump(TokenKind::Name);
    EXPECT_EQ(p.node_range(4), TextRange(4, 5));
    EXPECT_EQ(p.node_range(6), TextRange(5, 5));
}

TEST(Expect, RecordsAndConsumesNothingOnAMismatch) {
    Parser p = make_parser("a)");
    EXPECT_TRUE(p.expect(TokenKind::Name));
    EXPECT_FALSE(p.expect(TokenKind::Comma));
    EXPECT_FALSE(p.expect(TokenKind::Colon));  // same start: dropped
    EXPECT_TRUE(p.at(TokenKind::Rpar));
    EXPECT_EQ(displays(p.errors()),
              (std::vector<std::string>{"Expected `,`, found `)` at byte range 1..2"}));
    EXPECT_THROW(p.bump(TokenKind::Name), quarn::Panic);
}

TEST(Speculation, RewindRestoresTokensErrorsAndPosition) {
    Parser p = make_parser("a (b\n  # c\n) d\n");
    p.bump(TokenKind::Name);
    p.add_error(parse_error<Id::Other>("kept"), TextRange(0, 1));
    const size_t tokens_before = p.token_source().tokens().size();
    const ParserCheckpoint checkpoint = p.checkpoint();
    while (!p.at(TokenKind::Newline))
        p.bump_any();
    p.add_error(parse_error<Id::Other>("dropped"), TextRange(5, 6));
    p.rewind(checkpoint);
    EXPECT_EQ(p.token_source().tokens().size(), tokens_before);
    EXPECT_EQ(displays(p.errors()), (std::vector<std::string>{"kept at byte range 0..1"}));
    EXPECT_TRUE(p.at(TokenKind::Lpar));
    EXPECT_EQ(p.current_token_range(), TextRange(2, 3));
    EXPECT_EQ(p.prev_token_end(), 1u);
    EXPECT_EQ(p.current_token_index(), 1u);
}

TEST(Speculation, ParsingOnAfterARewindEqualsAPlainParse) {
    // The speculative stretch holds a lexical error, trivia and an unclosed bracket.
    const std::string_view source = "a (b $\n  # c\n) [d\nclass e\n";
    const auto consume_all = [](Parser& p) {
        while (!p.at(TokenKind::EndOfFile)) {
            if (p.at(TokenKind::Class)) p.token_source().re_lex_logical_token();
            p.bump_any();
        }
    };
    Parser plain = make_parser(source);
    plain.bump(TokenKind::Name);
    consume_all(plain);

    Parser speculative = make_parser(source);
    speculative.bump(TokenKind::Name);
    const ParserCheckpoint checkpoint = speculative.checkpoint();
    speculative.add_error(parse_error<Id::Other>("speculative"), TextRange(2, 3));
    consume_all(speculative);
    speculative.rewind(checkpoint);
    EXPECT_TRUE(speculative.errors().empty());
    EXPECT_TRUE(speculative.token_source().errors().empty());
    consume_all(speculative);

    EXPECT_EQ(speculative.token_source().tokens(), plain.token_source().tokens());
    EXPECT_EQ(speculative.token_source().errors(), plain.token_source().errors());
    EXPECT_EQ(speculative.token_source().errors().size(), 1u);
    EXPECT_EQ(speculative.current_token_index(), plain.current_token_index());
    EXPECT_EQ(speculative.prev_token_end(), plain.prev_token_end());
}

TEST(RecoveryTable, ElementsTerminatorsAndErrors) {
    using R = RecoveryContextKind;
    using T = TokenKind;
    struct Case {
        R kind;
        T token;
        bool element;
        ListTerminatorKind terminator;
    };
    const Case cases[] = {
        {R::ModuleStatements, T::At, true, ListTerminatorKind::None},
        {R::ModuleStatements, T::EndOfFile, false, ListTerminatorKind::Regular},
        {R::BlockStatements, T::Dedent, false, ListTerminatorKind::Regular},
        {R::TypeParams, T::Def, true, ListTerminatorKind::None},
        {R::TypeParams, T::Colon, false, ListTerminatorKind::ErrorRecovery},
        {R::TupleElementsUnparenthesized, T::In, false, ListTerminatorKind::Regular},
        {R::Slices, T::Colon, true, ListTerminatorKind::None},
        {R::MatchPatternClassArguments, T::Plus, false, ListTerminatorKind::None},
        {R::SequenceMatchPattern, T::Plus, true, ListTerminatorKind::None},
        {R::MatchPatternMapping, T::Plus, false, ListTerminatorKind::None},
        {R::FunctionParameters, T::Rarrow, false, ListTerminatorKind::ErrorRecovery},
        {R::LambdaParameters, T::Colon, false, ListTerminatorKind::Regular},
        {R::WithItemsParenthesized, T::Colon, false, ListTerminatorKind::ErrorRecovery},
        {R::FStringElements, T::Newline, false, ListTerminatorKind::ErrorRecovery},
        {R::TStringElementsInFormatSpec, T::TStringMiddle, true, ListTerminatorKind::None},
        {R::Arguments, T::DoubleStar, true, ListTerminatorKind::None},
        {R::Elif, T::Else, false, ListTerminatorKind::Regular},
        {R::Except, T::Finally, false, ListTerminatorKind::Regular},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_list_element(c.kind, c.token), c.element) << flag_name(c.kind);
        EXPECT_EQ(list_terminator_kind(c.kind, c.token), c.terminator) << flag_name(c.kind);
    }

    struct ErrorCase {
        R kind;
        T token;
        std::string_view message;
    };
    const ErrorCase errors[] = {
        {R::ModuleStatements, T::Indent, "Unexpected indentation"},
        {R::BlockStatements, T::Rpar, "Expected a statement"},
        {R::AssignmentTargets, T::Def, "The keyword is not allowed as a variable declaration name"},
        {R::AssignmentTargets, T::Match,
         "The keyword is not allowed as a variable declaration name"},
        {R::AssignmentTargets, T::Int, "Expected an assignment target"},
        {R::ImportFromAsNamesParenthesized, T::Int, "Expected an import name or a ')'"},
        {R::MatchPatternMapping, T::Plus,
         "Expected a mapping pattern or the end of the mapping pattern"},
        {R::FStringElementsInFormatSpec, T::Int, "Expected an f-string element or a '}'"},
        {R::TStringElements, T::Int, "Expected an element of or the end of the t-string"},
    };
    for (const auto& e : errors)
        EXPECT_EQ(create_error(e.kind, e.token).message(), e.message);

    std::vector<std::string_view> no_trailing_comma;
    for (unsigned i = 0; i < RECOVERY_CONTEXT_KIND_COUNT; ++i) {
        const auto kind = static_cast<R>(i);
        if (!allows_trailing_comma(kind)) no_trailing_comma.push_back(flag_name(kind));
    }
    EXPECT_EQ(no_trailing_comma,
              (std::vector<std::string_view>{"IMPORT_FROM_AS_NAMES_UNPARENTHESIZED", "IMPORT_NAMES",
                                             "IDENTIFIERS", "WITH_ITEMS_PARENTHESIZED_EXPRESSION",
                                             "WITH_ITEMS_UNPARENTHESIZED"}));
    EXPECT_EQ(flag_names(recovery_flag(R::Arguments) | recovery_flag(R::ListElements)),
              "LIST_ELEMENTS | ARGUMENTS");
    EXPECT_EQ(recovery_flag(R::TStringElementsInFormatSpec), 0x80000000u);
}

TEST(CommaSeparatedList, RecoversFromMissingAndStrayTokens) {
    using R = RecoveryContextKind;
    struct Case {
        R kind;
        std::string_view source;
        std::vector<std::string> elements;
        std::vector<std::string> errors;
    };
    const Case cases[] = {
        {R::ListElements, "1, 2,]", {"1", "2"}, {}},
        {R::Identifiers, "a, b,\n", {"a", "b"}, {"Trailing comma not allowed at byte range 4..5"}},
        {R::Identifiers, "a b\n", {"a", "b"}, {"Expected `,`, found name at byte range 2..3"}},
        {R::Identifiers, ", a\n", {"a"}, {"Expected an identifier at byte range 0..1"}},
        {R::ListElements,
         "1, , 2]",
         {"1", "2"},
         {"Expected an expression or a ']' at byte range 3..4"}},
        {R::Identifiers, "a ) b\n", {"a", "b"}, {"Expected `,`, found `)` at byte range 2..3"}},
        {R::Identifiers,
         "a ) ) b\n",
         {"a", "b"},
         {"Expected `,`, found `)` at byte range 2..3",
          "Expected `,`, found `)` at byte range 4..5"}},
        {R::Identifiers, "\n", {}, {}},
    };
    for (const auto& c : cases) {
        Parser p = make_parser(c.source);
        auto elements =
            p.parse_comma_separated_list_into_vec(c.kind, [&] { return take_token(p); });
        EXPECT_EQ(std::vector<std::string>(elements.begin(), elements.end()), c.elements)
            << c.source;
        EXPECT_EQ(displays(p.errors()), c.errors) << c.source;
        EXPECT_EQ(p.recovery_context(), 0u);
    }
}

TEST(CommaSeparatedList, EnclosingListClaimsItsTerminator) {
    // `a, [b)`: the `)` ends the inner list because the enclosing argument list ends at it.
    Parser p = make_parser("a, [b)");
    std::vector<std::string> seen;
    p.parse_comma_separated_list(RecoveryContextKind::Arguments, [&] {
        if (!p.at(TokenKind::Lsqb)) {
            seen.push_back(take_token(p));
            return;
        }
        p.bump(TokenKind::Lsqb);
        EXPECT_EQ(p.recovery_context(), recovery_flag(RecoveryContextKind::Arguments));
        p.parse_comma_separated_list(RecoveryContextKind::ListElements,
                                     [&] { seen.push_back(take_token(p)); });
        p.expect(TokenKind::Rsqb);
    });
    EXPECT_TRUE(p.at(TokenKind::Rpar));
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(displays(p.errors()),
              (std::vector<std::string>{"Expected `]`, found `)` at byte range 5..6"}));
}

TEST(PlainList, SkipsWhatNoListClaims) {
    Parser p = make_parser("a ) b , c\n");
    std::vector<std::string> seen;
    p.parse_list(RecoveryContextKind::Identifiers, [&] { seen.push_back(take_token(p)); });
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(displays(p.errors()),
              (std::vector<std::string>{"Expected an identifier at byte range 2..3",
                                        "Expected an identifier at byte range 6..7"}));
    EXPECT_TRUE(p.at(TokenKind::Newline));
}

TEST(ProgressGuard, AnElementParserThatConsumesNothingStopsTheParse) {
    Parser p = make_parser("ab c");
    try {
        p.parse_list(RecoveryContextKind::Identifiers, [] {});
        FAIL() << "the loop kept going";
    } catch (const quarn::Panic& panic) {
        EXPECT_STREQ(panic.what(), "The parser is no longer progressing. Stuck at 'ab' Name:0..2");
    }
    EXPECT_EQ(p.recovery_context(), 0u);
}

TEST(NestingGuard, PastTheLimitRecordsOnceAndSkipsToTheEnd) {
    Parser p = make_parser("a b\nc\n");
    std::vector<NestingGuard> guards;
    guards.reserve(MAX_NESTING_DEPTH + 1);
    for (uint32_t i = 0; i < MAX_NESTING_DEPTH; ++i) {
        guards.push_back(p.enter_nesting());
        ASSERT_TRUE(guards.back());
    }
    guards.push_back(p.enter_nesting());
    EXPECT_FALSE(guards.back());
    EXPECT_TRUE(p.at(TokenKind::EndOfFile));
    EXPECT_EQ(displays(p.errors()),
              (std::vector<std::string>{"Expression nested too deeply at byte range 0..1"}));
    guards.clear();
    EXPECT_EQ(p.nesting_depth(), 0u);
}

TEST(InterpolatedStringKind, OneDefinitionServesTheLexerAndTheDecoder) {
    // Both headers in one translation unit, and the kind the lexer takes is the decoder's.
    Lexer lexer("f'{x}'");
    lexer.next_token();
    EXPECT_FALSE(
        lexer.re_lex_string_token_in_interpolation_element(InterpolatedStringKind::FString));
    EXPECT_EQ(display(InterpolatedStringKind::TString), "t-string");
}

}  // namespace

namespace {

// `[` opens a nested comma-separated list; anything else is taken as one element.
void parse_nested_lists(Parser& p, std::vector<std::string>& seen) {
    if (!p.at(TokenKind::Lsqb)) {
        seen.push_back(take_token(p));
        return;
    }
    p.bump(TokenKind::Lsqb);
    p.parse_comma_separated_list(RecoveryContextKind::ListElements,
                                 [&] { parse_nested_lists(p, seen); });
    p.expect(TokenKind::Rsqb);
}

TEST(AbandonedBrackets, TheLineBreakBecomesLogicalOnceNoBracketRemains) {
    const std::string_view source = "[[[a\n# c\n# d\nclass";
    Parser p = make_parser(source);
    std::vector<std::string> seen;
    p.parse_list(RecoveryContextKind::ModuleStatements, [&] { parse_nested_lists(p, seen); });
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "class"}));
    // The innermost list reports the `class` that ends it, the outermost the line break that
    // became the end of the statement there (the last error is the file's final line end).
    EXPECT_EQ(displays(p.errors()),
              (std::vector<std::string>{"Expected `]`, found `class` at byte range 13..18",
                                        "Expected `]`, found newline at byte range 4..5",
                                        "Expected a statement at byte range 18..18"}));
    std::vector<std::string> tokens;
    for (const auto& t : p.token_source().tokens()) {
        tokens.push_back(fmt::format("{} {}", rudo::python_ast::name(t.kind), t.range));
    }
    tokens.resize(10);
    EXPECT_EQ(tokens, (std::vector<std::string>{"Lsqb 0..1", "Lsqb 1..2", "Lsqb 2..3", "Name 3..4",
                                                "Newline 4..5", "Comment 5..8",
                                                "NonLogicalNewline 8..9", "Comment 9..12",
                                                "NonLogicalNewline 12..13", "Class 13..18"}));
}

TEST(AbandonedBrackets, ManyLevelsBeforeLongTriviaStillParse) {
    // Each abandoned level meets the same `class`; the comment lines are lexed again only when
    // the last bracket is abandoned.
    std::string source(150, '[');
    source += "a\n";
    for (int i = 0; i < 100'000; ++i)
        source += "# comment\n";
    source += "class";
    Parser p = make_parser(source);
    std::vector<std::string> seen;
    p.parse_list(RecoveryContextKind::ModuleStatements, [&] { parse_nested_lists(p, seen); });
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "class"}));
    ASSERT_EQ(p.errors().size(), 3u);
    EXPECT_EQ(p.errors()[1].display(), "Expected `]`, found newline at byte range 151..152");
}

}  // namespace
