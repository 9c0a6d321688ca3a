// Decoding of string literal bodies: escapes, line continuations and raw strings, for plain
// strings, bytes and the literal parts of f-strings and t-strings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include <fmt/format.h>

#include "base/result.h"
#include "rudo/python_ast/nodes.h"
#include "rudo/python_ast/str_prefix.h"
#include "rudo/python_parser/error.h"
#include "rudo/python_parser/interpolated_string.h"

namespace rudo::python_parser {

using python_ast::AnyStringFlags;

// One decoded string token; StringType::Str 0, Bytes 1, FString 2, TString 3. Decoding gives
// only the first two, the string-expression parser adds the others.
using StringType = std::variant<python_ast::StringLiteral, python_ast::BytesLiteral,
                                python_ast::FString, python_ast::TString>;

// "f-string" or "t-string".
std::string_view display(InterpolatedStringKind kind);

// The value of a `String` token: `body` is its text between the quotes as written, `range` the
// whole literal, prefix and quotes included.
quarn::Result<StringType, LexicalError> parse_string_literal(std::string_view body,
                                                             AnyStringFlags flags, TextRange range);

// The decoded text of a `String` token's body, without the node around it; fails as
// parse_string_literal does. A body known to hold no backslash is not searched for escapes.
quarn::Result<python_ast::NodeText, LexicalError> parse_string_text(std::string_view body,
                                                                    AnyStringFlags flags,
                                                                    TextRange range,
                                                                    bool has_backslash = true);

// The value of an f-string or t-string middle (doubled braces already collapsed by the lexer);
// `range` is the middle token's range.
quarn::Result<python_ast::InterpolatedStringElementLiteral, LexicalError>
parse_interpolated_string_literal_element(std::string_view text, AnyStringFlags flags,
                                          TextRange range);

// The decoder over one body.
class StringParser {
  public:
    // The meaning of one escape.
    struct EscapedChar {
        enum class Kind : uint8_t {
            Literal,   // append `character`
            Verbatim,  // append a backslash; the escaped character stays ordinary text
            Nothing,   // a line continuation, removed
        };
        Kind kind;
        char32_t character = 0;
    };

    // `offset` is the file offset of the first byte of `source`.
    StringParser(std::string_view source, AnyStringFlags flags, TextSize offset, TextRange range,
                 bool has_backslash = true)
        : source_(source),
          flags_(flags),
          offset_(offset),
          range_(range),
          has_backslash_(has_backslash) {}

    quarn::Result<StringType, LexicalError> parse_string();
    // The decoded text of a plain or bytes body, without the node around it.
    quarn::Result<python_ast::NodeText, LexicalError> parse_text();
    quarn::Result<python_ast::InterpolatedStringElementLiteral, LexicalError> parse_element();

    // One escape; the cursor is just after its backslash.
    quarn::Result<EscapedChar, LexicalError> parse_escaped_char();
    // Exactly `digits` hexadecimal digits at the cursor.
    quarn::Result<char32_t, LexicalError> parse_unicode_literal(int digits);

  private:
    quarn::Result<EscapedChar, LexicalError> parse_named_escape();
    LexicalError error(LexicalErrorType::Kind kind, size_t start, size_t end) const;
    // Copies source_[from, to) to `out`; returns the end of the copy.
    char* copy(char* out, size_t from, size_t to) const;
    size_t char_len_at(size_t pos) const;

    // Borrowed from the source text; a value with escapes is written into one block of the
    // tree's memory, of the body's length.
    std::string_view source_;
    size_t cursor_ = 0;
    AnyStringFlags flags_;
    TextSize offset_;
    TextRange range_;
    bool has_backslash_ = true;
};

}  // namespace rudo::python_parser

template <>
struct fmt::formatter<rudo::python_parser::InterpolatedStringKind>
    : fmt::formatter<std::string_view> {
    template <typename FormatContext>
    auto format(rudo::python_parser::InterpolatedStringKind kind, FormatContext& ctx) const {
        return fmt::formatter<std::string_view>::format(rudo::python_parser::display(kind), ctx);
    }
};
