// Layout, operators, comments, names and keywords.
#include <algorithm>

#include <gtest/gtest.h>

#include "base/panic.h"
#include "rudo/python_parser/lex_helpers.h"

namespace {

using namespace lexer_test;

struct LayoutCase {
    const char* what;
    std::string_view source;
    const char* tokens;
    const char* errors;
};

TEST(Lexer, Layout) {
    const LayoutCase cases[] = {
        {"empty source", "", "EndOfFile 0..0", ""},
        {"comment to the end of the line", "x = 1  # c\n",
         "Name 0..1, Equal 2..3, Int 4..5, Comment 7..10, Newline 10..11, EndOfFile 11..11", ""},
        {"no final line break still ends the line", "x", "Name 0..1, Newline 1..1, EndOfFile 1..1",
         ""},
        {"crlf and lone cr are one line break each", "a\r\nb\rc",
         "Name 0..1, Newline 1..3, Name 3..4, Newline 4..5, Name 5..6, Newline 6..6, "
         "EndOfFile 6..6",
         ""},
        {"tab after two spaces at the same column", "if x:\n  a\n\tb\n",
         "If 0..2, Name 3..4, Colon 4..5, Newline 5..6, Indent 6..8, Name 8..9, Newline 9..10, "
         "Unknown 10..11, Name 11..12, Newline 12..13, Dedent 13..13, EndOfFile 13..13",
         "unindent does not match any outer indentation level @ 10..11"},
        {"dedent to a level that was never opened", "a:\n    b:\n        c\n      d\n",
         "Name 0..1, Colon 1..2, Newline 2..3, Indent 3..7, Name 7..8, Colon 8..9, "
         "Newline 9..10, Indent 10..18, Name 18..19, Newline 19..20, Unknown 20..26, "
         "Name 26..27, Newline 27..28, Dedent 28..28, EndOfFile 28..28",
         "unindent does not match any outer indentation level @ 20..26"},
        {"two dedents at the first character of the line", "a:\n    b:\n        c\nd\n",
         "Name 0..1, Colon 1..2, Newline 2..3, Indent 3..7, Name 7..8, Colon 8..9, "
         "Newline 9..10, Indent 10..18, Name 18..19, Newline 19..20, Dedent 20..20, "
         "Dedent 20..20, Name 20..21, Newline 21..22, EndOfFile 22..22",
         ""},
        {"a form feed resets the measured indentation", "a:\n    b\n  \f    c\n",
         "Name 0..1, Colon 1..2, Newline 2..3, Indent 3..7, Name 7..8, Newline 8..9, "
         "Name 16..17, Newline 17..18, Dedent 18..18, EndOfFile 18..18",
         ""},
        {"blank and comment lines inside a block", "a:\n  b\n\n  # c\n  d\n",
         "Name 0..1, Colon 1..2, Newline 2..3, Indent 3..5, Name 5..6, Newline 6..7, "
         "NonLogicalNewline 7..8, Comment 10..13, NonLogicalNewline 13..14, Name 16..17, "
         "Newline 17..18, Dedent 18..18, EndOfFile 18..18",
         ""},
        {"line breaks inside brackets are not logical", "(a,\n b)\n",
         "Lpar 0..1, Name 1..2, Comma 2..3, NonLogicalNewline 3..4, Name 5..6, Rpar 6..7, "
         "Newline 7..8, EndOfFile 8..8",
         ""},
        {"a file ending inside a bracket", "x = (1,",
         "Name 0..1, Equal 2..3, Lpar 4..5, Int 5..6, Comma 6..7, Unknown 7..7, Newline 7..7, "
         "EndOfFile 7..7",
         "unexpected EOF while parsing @ 7..7"},
        {"closing brackets never take the nesting below zero", ")\n(\n",
         "Rpar 0..1, Newline 1..2, Lpar 2..3, NonLogicalNewline 3..4, Unknown 4..4, "
         "Newline 4..4, EndOfFile 4..4",
         "unexpected EOF while parsing @ 4..4"},
        {"line continuation inside a line", "x = 1 + \\\n  2\n",
         "Name 0..1, Equal 2..3, Int 4..5, Plus 6..7, Int 12..13, Newline 13..14, "
         "EndOfFile 14..14",
         ""},
        {"line continuation at the start of a line", "\\\nx\n",
         "Name 2..3, Newline 3..4, EndOfFile 4..4", ""},
        {"backslash followed by a space", "x \\ \n",
         "Name 0..1, Unknown 2..3, Newline 4..5, EndOfFile 5..5",
         "Expected a newline after line continuation character @ 2..3"},
        {"backslash as the last character", "x\\",
         "Name 0..1, Unknown 1..2, Newline 2..2, EndOfFile 2..2",
         "Expected a newline after line continuation character @ 1..2"},
        {"backslash and line break at the end", "x\\\n",
         "Name 0..1, Unknown 1..3, Newline 3..3, EndOfFile 3..3",
         "unexpected EOF while parsing @ 1..3"},
        {"the byte-order mark belongs to no token", "\xEF\xBB\xBFx\n",
         "Name 3..4, Newline 4..5, EndOfFile 5..5", ""},
        {"a continuation after one space reaches back to the space", "x \\\n",
         "Name 0..1, Unknown 1..4, Newline 4..4, EndOfFile 4..4",
         "unexpected EOF while parsing @ 1..4"},
        {"a continuation after two spaces reaches back to the first", "x  \\\n",
         "Name 0..1, Unknown 1..5, Newline 5..5, EndOfFile 5..5",
         "unexpected EOF while parsing @ 1..5"},
        {"a continuation after a tab reaches back to the tab", "x\t\\\n",
         "Name 0..1, Unknown 1..4, Newline 4..4, EndOfFile 4..4",
         "unexpected EOF while parsing @ 1..4"},
        {"two spaces before a continuation inside a line", "x = 1 +  \\\n  2\n",
         "Name 0..1, Equal 2..3, Int 4..5, Plus 6..7, Int 13..14, Newline 14..15, "
         "EndOfFile 15..15",
         ""},
        {"a line of spaces alone", "a\n   \nb\n",
         "Name 0..1, Newline 1..2, NonLogicalNewline 5..6, Name 6..7, Newline 7..8, "
         "EndOfFile 8..8",
         ""},
        {"an indented comment and spaces at the end of the file", "a\n  # c",
         "Name 0..1, Newline 1..2, Comment 4..7, EndOfFile 7..7", ""},
        {"spaces at the end of the file", "a\n  ", "Name 0..1, Newline 1..2, EndOfFile 4..4", ""},
        {"lines indented by one tab each", "if x:\n\ty\n\tz\n",
         "If 0..2, Name 3..4, Colon 4..5, Newline 5..6, Indent 6..7, Name 7..8, Newline 8..9, "
         "Name 10..11, Newline 11..12, Dedent 12..12, EndOfFile 12..12",
         ""},
        {"an f-string first on a line at the current level", "if x:\n  b\n  f'{a}'\n",
         "If 0..2, Name 3..4, Colon 4..5, Newline 5..6, Indent 6..8, Name 8..9, Newline 9..10, "
         "FStringStart 12..14/0x10, Lbrace 14..15, Name 15..16, Rbrace 16..17, "
         "FStringEnd 17..18/0x10, Newline 18..19, Dedent 19..19, EndOfFile 19..19",
         ""},
        {"dedents at the end of the file", "a:\n b:\n  c",
         "Name 0..1, Colon 1..2, Newline 2..3, Indent 3..4, Name 4..5, Colon 5..6, Newline 6..7, "
         "Indent 7..9, Name 9..10, Newline 10..10, Dedent 10..10, Dedent 10..10, "
         "EndOfFile 10..10",
         ""},
    };
    for (const auto& c : cases) {
        Lexed lexed = lex_all(c.source);
        EXPECT_EQ(ranged(lexed.tokens), c.tokens) << c.what;
        EXPECT_EQ(errors(lexed.errors), c.errors) << c.what;
    }
}

TEST(Lexer, Operators) {
    Lexed lexed = lex_all(
        "( ) [ ] : , ; + - * / | & < > = . % { } == != <= >= ~ ^ << >> ** **= += -= *= /= %= "
        "&= |= ^= <<= >>= // //= := @ @= -> ... ! .. a.b");
    EXPECT_EQ(kinds(lexed.tokens),
              "Lpar Rpar Lsqb Rsqb Colon Comma Semi Plus Minus Star Slash Vbar Amper Less Greater "
              "Equal Dot Percent Lbrace Rbrace EqEqual NotEqual LessEqual GreaterEqual Tilde "
              "CircumFlex LeftShift RightShift DoubleStar DoubleStarEqual PlusEqual MinusEqual "
              "StarEqual SlashEqual PercentEqual AmperEqual VbarEqual CircumflexEqual "
              "LeftShiftEqual RightShiftEqual DoubleSlash DoubleSlashEqual ColonEqual At AtEqual "
              "Rarrow Ellipsis Exclamation Dot Dot Name Dot Name Newline EndOfFile");
    EXPECT_TRUE(lexed.errors.empty());

    // Longest match, one character of look-ahead at a time.
    Lexed tight = lex_all("a**=-b->c<<=d>=e....");
    EXPECT_EQ(kinds(tight.tokens),
              "Name DoubleStarEqual Minus Name Rarrow Name LeftShiftEqual Name GreaterEqual Name "
              "Ellipsis Dot Newline EndOfFile");
}

TEST(Lexer, NamesAndKeywords) {
    struct Case {
        std::string_view source;
        const char* expected;
    };
    const Case cases[] = {
        {"print match Match case type _x __0",
         "Name=name:print Match Name=name:Match Case Type Name=name:_x Name=name:__0 Newline "
         "EndOfFile"},
        {"and as assert async await break class continue def del elif else except",
         "And As Assert Async Await Break Class Continue Def Del Elif Else Except Newline "
         "EndOfFile"},
        {"False finally for from global if import in is lambda None nonlocal not or pass",
         "False Finally For From Global If Import In Is Lambda None Nonlocal Not Or Pass Newline "
         "EndOfFile"},
        {"raise return True try while with yield",
         "Raise Return True Try While With Yield Newline EndOfFile"},
        // Near misses stay names: case matters, and only whole words are keywords.
        {"none iff i defs continues a_very_long_identifier_name_over_24",
         "Name=name:none Name=name:iff Name=name:i Name=name:defs Name=name:continues "
         "Name=name:a_very_long_identifier_name_over_24 Newline EndOfFile"},
        // Same first byte, last byte and length as a keyword, so the same slot of its lookup.
        {"aid dff Nbne wxth Tree cbse elze",
         "Name=name:aid Name=name:dff Name=name:Nbne "
         "Name=name:wxth Name=name:Tree Name=name:cbse Name=name:elze Newline EndOfFile"},
        // NFKC: the ligature U+FB01 and the fullwidth x fold to ASCII letters.
        {"\xEF\xAC\x81x \xEF\xBD\x98", "Name=name:fix Name=name:x Newline EndOfFile"},
        {"caf\xC3\xA9 \xCE\xBB", "Name=name:caf\xC3\xA9 Name=name:\xCE\xBB Newline EndOfFile"},
        // A non-ASCII character that ends the word still turns the keyword check off.
        {"if\xE2\x82\xAC", "Name=name:if Unknown Newline EndOfFile"},
        // String prefixes are names unless a quote follows directly.
        {"ub'x' f b r u t rb",
         "Name=name:ub String=str:x Name=name:f Name=name:b Name=name:r "
         "Name=name:u Name=name:t Name=name:rb Newline EndOfFile"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(valued(lex_all(c.source)), c.expected) << c.source;
    }

    Lexed ligature = lex_all("\xEF\xAC\x81x = 1");
    EXPECT_EQ(ligature.tokens[0].range, TextRange(0, 4));
}

// Keywords are looked up by the bytes of the whole word, which near the end of the text are
// fewer than the lookup reads at once: every keyword, and its neighbours one byte longer or
// shorter, must be told apart there as well as inside a line.
TEST(Lexer, KeywordsWhereverTheyEnd) {
    using rudo::python_ast::is_keyword;
    using rudo::python_ast::source_text;
    std::vector<std::string_view> keywords;
    for (size_t k = 0; k < rudo::python_ast::TOKEN_KIND_COUNT; ++k) {
        if (is_keyword(static_cast<TokenKind>(k)))
            keywords.push_back(source_text(static_cast<TokenKind>(k)));
    }
    auto is_keyword_text = [&](std::string_view text) {
        return std::find(keywords.begin(), keywords.end(), text) != keywords.end();
    };
    for (size_t k = 0; k < rudo::python_ast::TOKEN_KIND_COUNT; ++k) {
        const auto kind = static_cast<TokenKind>(k);
        if (!is_keyword(kind)) continue;
        const std::string text(source_text(kind));
        const std::string kind_name(rudo::python_ast::name(kind));
        EXPECT_EQ(kinds(lex_all(text).tokens), kind_name + " Newline EndOfFile") << text;
        EXPECT_EQ(kinds(lex_all(text + " + x\n").tokens),
                  kind_name + " Plus Name Newline EndOfFile")
            << text;
        for (const std::string& near : {text + "s", text.substr(0, text.size() - 1)}) {
            if (is_keyword_text(near)) continue;
            EXPECT_EQ(valued(lex_all(near)), "Name=name:" + near + " Newline EndOfFile") << near;
            EXPECT_EQ(valued(lex_all(near + "\n")), "Name=name:" + near + " Newline EndOfFile")
                << near;
        }
    }
}

// A name's value can be read, taken, taken as a name or saved in a checkpoint; each way gives
// its text, for names stored inline and elsewhere, at the end of the text and inside a line.
TEST(Lexer, NameValueByEveryWayOfReadingIt) {
    const std::string_view names[] = {"x", "name_of_twenty_three_by", "name_of_twenty_four_byte",
                                      "a_name_well_beyond_twenty_four_bytes"};
    enum class Way { CurrentValue, TakeValue, TakeName, Checkpoint };
    for (std::string_view text : names) {
        for (const std::string& source : {std::string(text), std::string(text) + " + 1\n"}) {
            for (Way way : {Way::CurrentValue, Way::TakeValue, Way::TakeName, Way::Checkpoint}) {
                Lexer lexer(source);
                ASSERT_EQ(lexer.next_token(), TokenKind::Name);
                std::string got;
                switch (way) {
                    case Way::CurrentValue:
                        got = value_text(lexer.current_value());
                        EXPECT_EQ(value_text(lexer.current_value()), got);
                        break;
                    case Way::TakeValue:
                        got = value_text(lexer.take_value());
                        EXPECT_EQ(value_text(lexer.current_value()), "-");
                        break;
                    case Way::TakeName:
                        got = "name:" + std::string(lexer.take_name().as_str());
                        EXPECT_EQ(value_text(lexer.current_value()), "-");
                        break;
                    case Way::Checkpoint: {
                        LexerCheckpoint at_name = lexer.checkpoint();
                        lexer.next_token();
                        EXPECT_EQ(value_text(lexer.current_value()), "-");
                        lexer.rewind(std::move(at_name));
                        got = "name:" + std::string(lexer.take_name().as_str());
                        break;
                    }
                }
                EXPECT_EQ(got, "name:" + std::string(text)) << source;
            }
        }
    }
}

// The lexer tells the string decoder whether a body holds a backslash at all.
TEST(Lexer, StringBodiesKnowWhetherTheyHoldABackslash) {
    struct Case {
        std::string_view source;
        bool has_backslash;
    };
    const Case cases[] = {
        {"'ab'", false},    {"'a\\nb'", true},  {"'''a\\'b'''", true}, {"'''a\nb'''", false},
        {"'ab", false},     {"'a\\", true},     {"b'\\x00'", true},    {"r'\\d'", true},
        {"\"a'b\"", false}, {"'a\\\nb'", true}, {"'''a\\\\'''", true},
    };
    for (const auto& c : cases) {
        Lexer lexer(c.source);
        ASSERT_EQ(lexer.next_token(), TokenKind::String) << c.source;
        const auto* body = std::get_if<StringBody>(&lexer.current_value());
        ASSERT_NE(body, nullptr) << c.source;
        EXPECT_EQ(body->has_backslash, c.has_backslash) << c.source;
    }
}

// Names are scanned many bytes at a time: the end must be found wherever it falls in a block,
// for every byte just outside the ranges of letters, digits and the underscore.
TEST(Lexer, NamesEndAtTheFirstByteOutsideThem) {
    struct Case {
        std::string_view after;
        size_t extra;  // bytes of `after` that still belong to the name
    };
    const Case cases[] = {
        {"", 0},         {"/", 0},          {":", 0},    {"@", 0},  {"[", 0}, {"^", 0},
        {"`", 0},        {"{", 0},          {"\x7F", 0}, {" x", 0}, {"(", 0}, {"\xE2\x82\xAC", 0},
        {"\xC3\xA9", 2}, {"\xC3\xA9yz", 4},
    };
    const std::string_view letters = "vZ_9aQz0_Ab";
    for (size_t length = 1; length <= 40; ++length) {
        std::string name;
        for (size_t i = 0; i < length; ++i)
            name += letters[i % letters.size()];
        for (const auto& c : cases) {
            const std::string source = name + std::string(c.after);
            Lexer lexer(source);
            ASSERT_EQ(lexer.next_token(), TokenKind::Name) << source;
            EXPECT_EQ(lexer.current_range(), TextRange(0, static_cast<TextSize>(length + c.extra)))
                << source;
            EXPECT_EQ(value_text(lexer.current_value()),
                      "name:" + source.substr(0, length + c.extra));
        }
    }
}

// Leading spaces are counted many at a time: every width must give the same levels.
TEST(Lexer, IndentationOfEveryWidth) {
    for (TextSize width = 1; width <= 40; ++width) {
        const std::string pad(width, ' ');
        const std::string source = "if x:\n" + pad + "y\n" + pad + "\tz\n";
        const TextSize y = 6 + width;
        const TextSize z = y + 2 + width + 1;
        const std::string expected = fmt::format(
            "If 0..2, Name 3..4, Colon 4..5, Newline 5..6, Indent 6..{}, Name {}..{}, "
            "Newline {}..{}, Indent {}..{}, Name {}..{}, Newline {}..{}, Dedent {}..{}, "
            "Dedent {}..{}, EndOfFile {}..{}",
            y, y, y + 1, y + 1, y + 2, y + 2, z, z, z + 1, z + 1, z + 2, z + 2, z + 2, z + 2, z + 2,
            z + 2, z + 2);
        EXPECT_EQ(ranged(lex_all(source).tokens), expected) << width;
    }
}

// A token without a value reports none, whatever the token before it held.
TEST(Lexer, ValueBelongsToItsTokenOnly) {
    Lexer lexer("x + 1 'a' y");
    EXPECT_EQ(lexer.next_token(), TokenKind::Name);
    EXPECT_EQ(value_text(lexer.current_value()), "name:x");
    LexerCheckpoint at_name = lexer.checkpoint();
    EXPECT_EQ(lexer.next_token(), TokenKind::Plus);
    EXPECT_EQ(value_text(lexer.current_value()), "-");
    EXPECT_EQ(value_text(lexer.take_value()), "-");
    LexerCheckpoint at_plus = lexer.checkpoint();
    EXPECT_EQ(lexer.next_token(), TokenKind::Int);
    EXPECT_EQ(value_text(lexer.current_value()), "int:1");
    EXPECT_EQ(lexer.next_token(), TokenKind::String);
    EXPECT_EQ(value_text(lexer.take_value()), "str:a");
    EXPECT_EQ(value_text(lexer.current_value()), "-");
    EXPECT_EQ(value_text(lexer.take_value()), "-");

    lexer.rewind(at_plus);
    EXPECT_EQ(lexer.current_kind(), TokenKind::Plus);
    EXPECT_EQ(value_text(lexer.current_value()), "-");
    lexer.rewind(at_name);
    EXPECT_EQ(value_text(lexer.current_value()), "name:x");
    EXPECT_EQ(lexer.take_name().as_str(), "x");
    EXPECT_EQ(value_text(lexer.current_value()), "-");
    try {
        lexer.take_name();
        ADD_FAILURE() << "a token without a name gave one";
    } catch (const quarn::Panic& panic) {
        EXPECT_STREQ(panic.what(), "internal error: entered unreachable code");
    }
    EXPECT_EQ(lexer.next_token(), TokenKind::Plus);
    EXPECT_EQ(lexer.next_token(), TokenKind::Int);
    EXPECT_EQ(lexer.next_token(), TokenKind::String);
    EXPECT_EQ(lexer.next_token(), TokenKind::Name);
    EXPECT_EQ(value_text(lexer.take_value()), "name:y");
}

TEST(Lexer, UnexpectedCharacters) {
    struct Case {
        std::string_view source;
        const char* tokens;
        std::string_view errors;
    };
    using namespace std::string_view_literals;
    const Case cases[] = {
        {"$", "Unknown 0..1, Newline 1..1, EndOfFile 1..1", "Got unexpected token $ @ 0..1"},
        {"a ? b", "Name 0..1, Unknown 2..3, Name 4..5, Newline 5..5, EndOfFile 5..5",
         "Got unexpected token ? @ 2..3"},
        {"`", "Unknown 0..1, Newline 1..1, EndOfFile 1..1", "Got unexpected token ` @ 0..1"},
        {"x\xE2\x82\xAC", "Name 0..1, Unknown 1..4, Newline 4..4, EndOfFile 4..4",
         "Got unexpected token \xE2\x82\xAC @ 1..4"},
        // A NUL byte is a character like any other: lexing goes on after it.
        {"x\0y\n"sv, "Name 0..1, Unknown 1..2, Name 2..3, Newline 3..4, EndOfFile 4..4",
         "Got unexpected token \0 @ 1..2"sv},
        {"# a\0b\nx\n"sv,
         "Comment 0..5, NonLogicalNewline 5..6, Name 6..7, Newline 7..8, EndOfFile 8..8", ""},
        {"\0\n"sv, "Unknown 0..1, Newline 1..2, EndOfFile 2..2",
         "Got unexpected token \0 @ 0..1"sv},
        // Bytes that are not UTF-8 are taken one at a time as U+FFFD.
        {"\xFF", "Unknown 0..1, Newline 1..1, EndOfFile 1..1",
         "Got unexpected token \xEF\xBF\xBD @ 0..1"},
        // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8 either.
        {"\xC0\x80", "Unknown 0..1, Unknown 1..2, Newline 2..2, EndOfFile 2..2",
         "Got unexpected token \xEF\xBF\xBD @ 0..1; Got unexpected token \xEF\xBF\xBD @ 1..2"},
        {"\xED\xA0\x80", "Unknown 0..1, Unknown 1..2, Unknown 2..3, Newline 3..3, EndOfFile 3..3",
         "Got unexpected token \xEF\xBF\xBD @ 0..1; Got unexpected token \xEF\xBF\xBD @ 1..2; "
         "Got unexpected token \xEF\xBF\xBD @ 2..3"},
        {"\xF5\x80\x80\x80",
         "Unknown 0..1, Unknown 1..2, Unknown 2..3, Unknown 3..4, Newline 4..4, EndOfFile 4..4",
         "Got unexpected token \xEF\xBF\xBD @ 0..1; Got unexpected token \xEF\xBF\xBD @ 1..2; "
         "Got unexpected token \xEF\xBF\xBD @ 2..3; Got unexpected token \xEF\xBF\xBD @ 3..4"},
    };
    for (const auto& c : cases) {
        Lexed lexed = lex_all(c.source);
        EXPECT_EQ(ranged(lexed.tokens), c.tokens) << c.source;
        EXPECT_EQ(errors(lexed.errors), c.errors) << c.source;
    }
}

TEST(Indentation, CountsSaturateInsteadOfWrapping) {
    constexpr uint32_t MAX = Indentation::MAX;
    EXPECT_EQ(Indentation({3, 1}).add_tab(), Indentation({4, 2}));
    EXPECT_EQ(Indentation({4, 2}).add_tab(), Indentation({6, 3}));
    EXPECT_EQ(Indentation({MAX - 1, 7}).add_tab(), Indentation({MAX, 8}));
    EXPECT_EQ(Indentation({MAX, MAX}).add_tab(), Indentation({MAX, MAX}));
    EXPECT_EQ(Indentation({MAX, MAX}).add_space(), Indentation({MAX, MAX}));
    EXPECT_FALSE(Indentation({2, 1}).compare(Indentation({2, 2})).has_value());
    EXPECT_EQ(Indentation({4, 4}).compare(Indentation({2, 1})), Indentation::Order::Greater);
}

// Levels given up by pops are reused by later pushes; a copy taken before (as a checkpoint takes
// one) must keep its own levels however the original goes in and out afterwards.
TEST(Indentation, CopiesKeepTheirLevelsWhileTheOriginalReusesItsOwn) {
    auto level = [](uint32_t n) { return Indentation{n, n}; };
    auto drain = [](Indentations stack) {
        std::vector<uint32_t> columns;
        while (!stack.empty()) {
            columns.push_back(stack.current().column);
            stack.pop();
        }
        return columns;
    };
    Indentations stack;
    for (uint32_t n : {1u, 2u, 3u})
        stack.push(level(n));
    stack.pop();
    stack.pop();
    stack.push(level(4));
    stack.push(level(5));
    EXPECT_EQ(drain(stack), (std::vector<uint32_t>{5, 4, 1}));

    Indentations copy = stack;
    stack.pop();
    stack.pop();
    stack.push(level(6));
    stack.push(level(7));
    stack.push(level(8));
    EXPECT_EQ(drain(copy), (std::vector<uint32_t>{5, 4, 1}));
    EXPECT_EQ(drain(stack), (std::vector<uint32_t>{8, 7, 6, 1}));

    copy.pop();
    copy.push(level(9));
    stack.pop();
    stack.push(level(10));
    EXPECT_EQ(drain(copy), (std::vector<uint32_t>{9, 4, 1}));
    EXPECT_EQ(drain(stack), (std::vector<uint32_t>{10, 7, 6, 1}));
    copy = stack;
    EXPECT_EQ(copy.size(), 4u);
    EXPECT_EQ(drain(copy), (std::vector<uint32_t>{10, 7, 6, 1}));
}

}  // namespace
