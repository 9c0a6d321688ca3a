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

// Whether the named text has a "{}" to fill.
inline constexpr bool PARSE_ERROR_TEXT_TAKES_ARGUMENT[] = {
#define PARSE_ERROR_TEXT(name, text) std::string_view(text).find("{}") != std::string_view::npos,
#include "rudo/python_parser/parser/parse_error_text.def"
#undef PARSE_ERROR_TEXT
};

// The kind of a syntax error with its payload: `text` for Other and DuplicateKeywordArgument,
// `expected`/`found` for ExpectedToken (only `found` for UnexpectedTokenAfterAsync),
// `interpolated` for FStringError/TStringError, `lexical()` for Lexical. Packed into 16 bytes: a
// file of bad characters has an error for every byte.
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
    // Lexical only: the lexical error's kind (top byte) and character (low 24 bits); its
    // interpolated-string kind and text are kept in `interpolated` and `text`.
    uint32_t lexical_bits = 0;
    ErrorText text;

    // A kind without payload.
    static ParseErrorType of(Kind kind) {
        ParseErrorType e;
        e.kind = kind;
        return e;
    }
    static ParseErrorType other(ErrorText text) {
        ParseErrorType e;
        e.text = std::move(text);
        return e;
    }
    // An Other error with a named text, its "{}" (if any) filled with `argument`.
    static ParseErrorType named(ParseErrorText name, std::string_view argument = {}) {
        const auto i = static_cast<size_t>(name);
        if (PARSE_ERROR_TEXT_TAKES_ARGUMENT[i]) return filled(name, argument);
        return other(ErrorText::borrowed(PARSE_ERROR_TEXTS[i]));
    }
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
    static ParseErrorType duplicate_keyword_argument(std::string_view name) {
        ParseErrorType e = of(Kind::DuplicateKeywordArgument);
        e.text = ErrorText(name);
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
        e.lexical_bits = static_cast<uint32_t>(error.kind) << 24 | (error.character & 0xFFFFFF);
        e.interpolated = error.interpolated;
        e.text = std::move(error.text);
        return e;
    }
    // The lexical error of a Lexical error.
    LexicalErrorType lexical() const {
        return LexicalErrorType{static_cast<LexicalErrorType::Kind>(lexical_bits >> 24),
                                interpolated, lexical_bits & 0xFFFFFF, text};
    }

    static ParseErrorType filled(ParseErrorText name, std::string_view argument);

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
static_assert(sizeof(ParseError) <= 24, "an error record for every byte of bad input");

}  // namespace rudo::python_parser

template <>
struct fmt::formatter<rudo::python_parser::ParseError> : fmt::formatter<std::string_view> {
    template <typename FormatContext>
    auto format(const rudo::python_parser::ParseError& error, FormatContext& ctx) const {
        return fmt::formatter<std::string_view>::format(error.display(), ctx);
    }
};
