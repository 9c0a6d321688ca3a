// Syntax errors: their kinds with payloads and messages, shared by the parser and its entry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "rudo/python_ast/token.h"
#include "rudo/python_parser/error.h"

namespace rudo::python_parser {

using python_ast::TokenKind;

// The texts of `ParseErrorType::Other` errors, by name.
enum class ParseErrorText : uint8_t {
#define PARSE_ERROR_TEXT(name, text) name,
#include "rudo/python_parser/parser/parse_error_text.def"
#undef PARSE_ERROR_TEXT
};

inline constexpr std::string_view PARSE_ERROR_TEXTS[] = {
#define PARSE_ERROR_TEXT(name, text) text,
#include "rudo/python_parser/parser/parse_error_text.def"
#undef PARSE_ERROR_TEXT
};

constexpr std::string_view text(ParseErrorText name) {
    return PARSE_ERROR_TEXTS[static_cast<size_t>(name)];
}

// The kind of a syntax error with its payload: `text` for Other and DuplicateKeywordArgument,
// `expected`/`found` for ExpectedToken (only `found` for UnexpectedTokenAfterAsync),
// `interpolated` for FStringError/TStringError, `lexical` for Lexical.
struct ParseErrorType {
    enum class Kind : uint8_t {
#define PARSE_ERROR(kind, message) kind,
#include "rudo/python_parser/parser/parse_error.def"
#undef PARSE_ERROR
    };

    Kind kind = Kind::Other;
    TokenKind expected = TokenKind::EndOfFile;
    TokenKind found = TokenKind::EndOfFile;
    InterpolatedStringErrorType interpolated = InterpolatedStringErrorType::ExpectedRbrace;
    std::string text;
    LexicalErrorType lexical;

    // A kind without payload.
    static ParseErrorType of(Kind kind) {
        ParseErrorType e;
        e.kind = kind;
        return e;
    }
    static ParseErrorType other(std::string text) {
        ParseErrorType e;
        e.text = std::move(text);
        return e;
    }
    // An Other error with a named text, its "{}" (if any) filled with `argument`.
    static ParseErrorType named(ParseErrorText name, std::string_view argument = {});
    static ParseErrorType expected_token(TokenKind expected, TokenKind found) {
        ParseErrorType e = of(Kind::ExpectedToken);
        e.expected = expected;
        e.found = found;
        return e;
    }
    static ParseErrorType unexpected_token_after_async(TokenKind found) {
        ParseErrorType e = of(Kind::UnexpectedTokenAfterAsync);
        e.found = found;
        return e;
    }
    static ParseErrorType duplicate_keyword_argument(std::string name) {
        ParseErrorType e = of(Kind::DuplicateKeywordArgument);
        e.text = std::move(name);
        return e;
    }
    static ParseErrorType fstring(InterpolatedStringErrorType error) {
        ParseErrorType e = of(Kind::FStringError);
        e.interpolated = error;
        return e;
    }
    static ParseErrorType tstring(InterpolatedStringErrorType error) {
        ParseErrorType e = of(Kind::TStringError);
        e.interpolated = error;
        return e;
    }
    static ParseErrorType from_lexical(LexicalErrorType error) {
        ParseErrorType e = of(Kind::Lexical);
        e.lexical = std::move(error);
        return e;
    }

    // The English message, e.g. "Expected `)`, found newline".
    std::string message() const;

    friend bool operator==(const ParseErrorType&, const ParseErrorType&) = default;
};

// The enumerator name of a kind: "ExpectedToken".
std::string_view kind_name(ParseErrorType::Kind kind);

struct ParseError {
    ParseErrorType error;
    TextRange location;

    static ParseError from_lexical(LexicalError error) {
        return ParseError{ParseErrorType::from_lexical(std::move(error.error)), error.location};
    }

    // "{message} at byte range {start}..{end}".
    std::string display() const;

    friend bool operator==(const ParseError&, const ParseError&) = default;
};

}  // namespace rudo::python_parser

template <>
struct fmt::formatter<rudo::python_parser::ParseError> : fmt::formatter<std::string_view> {
    template <typename FormatContext>
    auto format(const rudo::python_parser::ParseError& error, FormatContext& ctx) const {
        return fmt::formatter<std::string_view>::format(error.display(), ctx);
    }
};
