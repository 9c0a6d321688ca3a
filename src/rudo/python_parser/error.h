// The lexer's and the literal decoder's error vocabulary.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "rudo/text_size/text_size.h"

namespace rudo::python_parser {

using text_size::TextRange;
using text_size::TextSize;

enum class InterpolatedStringErrorType : uint8_t {
#define INTERPOLATED_STRING_ERROR(kind, message) kind,
#include "rudo/python_parser/interpolated_string_error.def"
#undef INTERPOLATED_STRING_ERROR
};

std::string_view message(InterpolatedStringErrorType kind);

// The kind of a lexical error; a few kinds carry a payload.
struct LexicalErrorType {
    enum class Kind : uint8_t {
#define LEXICAL_ERROR(kind, message) kind,
#include "rudo/python_parser/lexical_error.def"
#undef LEXICAL_ERROR
    };

    Kind kind = Kind::Other;
    char32_t character = 0;  // UnexpectedCharacter
    InterpolatedStringErrorType interpolated = InterpolatedStringErrorType::ExpectedRbrace;  // F/TStringError
    std::string text;  // Other

    static LexicalErrorType of(Kind kind) { return LexicalErrorType{kind, 0, {}, {}}; }
    static LexicalErrorType unexpected_character(char32_t c) {
        return LexicalErrorType{Kind::UnexpectedCharacter, c, {}, {}};
    }
    static LexicalErrorType fstring(InterpolatedStringErrorType e) {
        return LexicalErrorType{Kind::FStringError, 0, e, {}};
    }
    static LexicalErrorType tstring(InterpolatedStringErrorType e) {
        return LexicalErrorType{Kind::TStringError, 0, e, {}};
    }
    static LexicalErrorType other(std::string text) {
        return LexicalErrorType{Kind::Other, 0, {}, std::move(text)};
    }

    // The English message, e.g. "Got unexpected token $" or "f-string: unterminated string".
    std::string message() const;

    friend bool operator==(const LexicalErrorType&, const LexicalErrorType&) = default;
};

std::string_view kind_name(LexicalErrorType::Kind kind);

struct LexicalError {
    LexicalErrorType error;
    TextRange location;

    friend bool operator==(const LexicalError&, const LexicalError&) = default;
};

}  // namespace rudo::python_parser
