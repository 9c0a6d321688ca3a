// Syntax errors: the one registry of what the parser records (parse_error.def), the kinds with
// their payloads and messages, shared by the parser and its entry.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include <fmt/format.h>

#include "rudo/python_ast/token.h"
#include "rudo/python_parser/error.h"

namespace rudo::python_parser {

using python_ast::TokenKind;

// Every row of parse_error.def: the kinds first, in value order, then the texts of kind Other.
enum class ParseErrorId : uint8_t {
#define PARSE_ERROR_KIND(name, message, ...) name,
#define PARSE_ERROR_TEXT(name, message, ...) name,
#include "rudo/python_parser/parser/parse_error.def"
#undef PARSE_ERROR_KIND
#undef PARSE_ERROR_TEXT
};

inline constexpr size_t PARSE_ERROR_ID_COUNT = 0
#define PARSE_ERROR_KIND(name, message, ...) +1
#define PARSE_ERROR_TEXT(name, message, ...) +1
#include "rudo/python_parser/parser/parse_error.def"
#undef PARSE_ERROR_KIND
#undef PARSE_ERROR_TEXT
    ;

namespace parse_error_detail {

inline constexpr std::string_view KIND_MESSAGES[] = {
#define PARSE_ERROR_KIND(name, message, ...) message,
#define PARSE_ERROR_TEXT(name, message, ...)
#include "rudo/python_parser/parser/parse_error.def"
#undef PARSE_ERROR_KIND
#undef PARSE_ERROR_TEXT
};

// A text row may say what a kind says: the message is then written once.
#define MESSAGE_OF(kind) KIND_MESSAGES[static_cast<size_t>(ParseErrorId::kind)]
// Static storage: texts of kind Other refer to these without a copy.
inline constexpr std::string_view MESSAGES[] = {
#define PARSE_ERROR_KIND(name, message, ...) message,
#define PARSE_ERROR_TEXT(name, message, ...) message,
#include "rudo/python_parser/parser/parse_error.def"
#undef PARSE_ERROR_KIND
#undef PARSE_ERROR_TEXT
};
#undef MESSAGE_OF

inline constexpr std::string_view NAMES[] = {
#define PARSE_ERROR_KIND(name, message, ...) #name,
#define PARSE_ERROR_TEXT(name, message, ...) #name,
#include "rudo/python_parser/parser/parse_error.def"
#undef PARSE_ERROR_KIND
#undef PARSE_ERROR_TEXT
};

template <typename... T>
struct TypeList {};

// The argument types of each row.
template <ParseErrorId id>
struct Arguments;
#define PARSE_ERROR_KIND(name, message, ...) \
    template <>                              \
    struct Arguments<ParseErrorId::name> {   \
        using type = TypeList<__VA_ARGS__>;  \
    };
#define PARSE_ERROR_TEXT PARSE_ERROR_KIND
#include "rudo/python_parser/parser/parse_error.def"
#undef PARSE_ERROR_KIND
#undef PARSE_ERROR_TEXT

static_assert(std::size(MESSAGES) == PARSE_ERROR_ID_COUNT);

}  // namespace parse_error_detail

constexpr std::string_view message_of(ParseErrorId id) {
    return parse_error_detail::MESSAGES[static_cast<size_t>(id)];
}
// The row's name: "ExpectedToken", "ExpectedStatement".
constexpr std::string_view name_of(ParseErrorId id) {
    return parse_error_detail::NAMES[static_cast<size_t>(id)];
}

// The row's message filled with its arguments, the format checked against the row's argument
// types when compiled.
template <ParseErrorId id, typename... A>
std::string format_message(const A&... args) {
    static_assert(std::is_same_v<parse_error_detail::TypeList<A...>,
                                 typename parse_error_detail::Arguments<id>::type>,
                  "the arguments of a parse error are the types its row names");
    return fmt::format(fmt::format_string<const A&...>(message_of(id)), args...);
}

// The kind of a syntax error with its payload: `text` for Other and DuplicateKeywordArgument,
// `expected`/`found` for ExpectedToken (only `found` for UnexpectedTokenAfterAsync),
// `interpolated` for FStringError/TStringError, `lexical()` for Lexical. Packed into 16 bytes: a
// file of bad characters has an error for every byte. Built by `parse_error<id>`.
struct ParseErrorType {
    enum class Kind : uint8_t {
#define PARSE_ERROR_KIND(name, message, ...) name,
#define PARSE_ERROR_TEXT(name, message, ...)
#include "rudo/python_parser/parser/parse_error.def"
#undef PARSE_ERROR_KIND
#undef PARSE_ERROR_TEXT
    };

    Kind kind = Kind::Other;
    TokenKind expected = TokenKind::EndOfFile;
    TokenKind found = TokenKind::EndOfFile;
    InterpolatedStringErrorType interpolated = InterpolatedStringErrorType::ExpectedRbrace;
    // Lexical only: the lexical error's kind (top byte) and character (low 24 bits); its
    // interpolated-string kind and text are kept in `interpolated` and `text`.
    uint32_t lexical_bits = 0;
    ErrorText text;

    static ParseErrorType from_lexical(LexicalErrorType error) {
        ParseErrorType e;
        e.kind = Kind::Lexical;
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

    // The English message, e.g. "Expected `)`, found newline".
    std::string message() const;

    friend bool operator==(const ParseErrorType&, const ParseErrorType&) = default;
};

static_assert(static_cast<size_t>(ParseErrorType::Kind::Lexical) ==
                  static_cast<size_t>(ParseErrorId::Lexical),
              "the kinds lead the registry in value order");

constexpr bool is_kind(ParseErrorId id) {
    return id <= ParseErrorId::Lexical;
}

namespace parse_error_detail {

template <ParseErrorId id, typename List = typename Arguments<id>::type>
struct Make;

template <ParseErrorId id, typename... Args>
struct Make<id, TypeList<Args...>> {
    static ParseErrorType make(Args... args) {
        using K = ParseErrorType::Kind;
        ParseErrorType e;
        if constexpr (!is_kind(id)) {
            if constexpr (sizeof...(Args) == 0) {
                e.text = ErrorText::borrowed(MESSAGES[static_cast<size_t>(id)]);
            } else {
                e.text = ErrorText(format_message<id>(args...));
            }
        } else if constexpr (id == ParseErrorId::Lexical) {
            e = ParseErrorType::from_lexical(std::move(args)...);
        } else {
            e.kind = static_cast<K>(id);
            if constexpr (id == ParseErrorId::Other ||
                          id == ParseErrorId::DuplicateKeywordArgument) {
                e.text = ErrorText(args...);
            } else if constexpr (id == ParseErrorId::ExpectedToken) {
                std::tie(e.expected, e.found) = std::tuple(args...);
            } else if constexpr (id == ParseErrorId::UnexpectedTokenAfterAsync) {
                e.found = (args, ...);
            } else if constexpr (id == ParseErrorId::FStringError ||
                                 id == ParseErrorId::TStringError) {
                e.interpolated = (args, ...);
            } else {
                static_assert(sizeof...(Args) == 0, "a payload this type does not hold");
            }
        }
        return e;
    }
};

}  // namespace parse_error_detail

// The error of a row with its arguments: `parse_error<ParseErrorId::ExpectedToken>(Rpar, Name)`.
template <ParseErrorId id, typename... A>
ParseErrorType parse_error(A&&... args) {
    return parse_error_detail::Make<id>::make(std::forward<A>(args)...);
}

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
