#include "rudo/python_parser/string.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <optional>

#include <unicode/uchar.h>

#include "base/utf8.h"

namespace rudo::python_parser {

using python_ast::BytesLiteral;
using python_ast::BytesLiteralFlags;
using python_ast::InterpolatedStringElementLiteral;
using python_ast::StringLiteral;
using python_ast::StringLiteralFlags;
using Kind = LexicalErrorType::Kind;

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct NameAlias {
    std::string_view name;
    char32_t code_point;
};

// Every alias of the character database, sorted by name (generated at build time).
constexpr NameAlias kNameAliases[] = {
#include "rudo/python_parser/name_aliases.inc"
};
static_assert(std::is_sorted(std::begin(kNameAliases), std::end(kNameAliases),
                             [](const NameAlias& a, const NameAlias& b) {
                                 return a.name < b.name;
                             }),
              "the alias table is searched by bisection");

std::optional<char32_t> char_from_alias(std::string_view upper_name) {
    const auto* end = std::end(kNameAliases);
    const auto* found = std::lower_bound(
        std::begin(kNameAliases), end, upper_name,
        [](const NameAlias& alias, std::string_view name) { return alias.name < name; });
    if (found == end || found->name != upper_name) return std::nullopt;
    return found->code_point;
}

// A character by its Unicode name or any of its name aliases (not ICU's "<control-...>" labels),
// matched without regard to case.
std::optional<char32_t> char_from_name(std::string_view name) {
    // The longest character name is well under this; longer or non-ASCII text names nothing.
    if (name.empty() || name.size() > 128) return std::nullopt;
    char buffer[129];
    for (size_t i = 0; i < name.size(); ++i) {
        auto c = static_cast<unsigned char>(name[i]);
        if (c == 0 || c >= 0x80) return std::nullopt;
        buffer[i] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    buffer[name.size()] = '\0';
    UErrorCode status = U_ZERO_ERROR;
    UChar32 c = u_charFromName(U_UNICODE_CHAR_NAME, buffer, &status);
    if (U_SUCCESS(status) && c >= 0) return static_cast<char32_t>(c);
    return char_from_alias(std::string_view(buffer, name.size()));
}

}  // namespace

std::string_view display(InterpolatedStringKind kind) {
    return kind == InterpolatedStringKind::FString ? "f-string" : "t-string";
}

LexicalError StringParser::error(Kind kind, size_t start, size_t end) const {
    return LexicalError{
        LexicalErrorType::of(kind),
        TextRange(offset_ + static_cast<TextSize>(start), offset_ + static_cast<TextSize>(end))};
}

size_t StringParser::char_len_at(size_t pos) const {
    return quarn::decode_utf8(source_, pos).length;
}

quarn::Result<char32_t, LexicalError> StringParser::parse_unicode_literal(int digits) {
    uint32_t value = 0;
    for (int i = 0; i < digits; ++i) {
        if (cursor_ >= source_.size()) {
            return quarn::Err{error(Kind::UnexpectedUnicode, source_.size(), source_.size())};
        }
        int digit = hex_value(source_[cursor_]);
        if (digit < 0) {
            return quarn::Err{
                error(Kind::UnexpectedUnicode, cursor_, cursor_ + char_len_at(cursor_))};
        }
        value = value * 16 + static_cast<uint32_t>(digit);
        ++cursor_;
    }
    if (value >= 0xD800 && value <= 0xDFFF) return char32_t{0xFFFD};
    if (value > 0x10FFFF) return quarn::Err{error(Kind::UnexpectedUnicode, cursor_, cursor_)};
    return static_cast<char32_t>(value);
}

quarn::Result<StringParser::EscapedChar, LexicalError> StringParser::parse_named_escape() {
    using EK = EscapedChar::Kind;
    size_t after_n = cursor_;
    if (cursor_ >= source_.size() || source_[cursor_] != '{') {
        if (cursor_ < source_.size()) cursor_ += char_len_at(cursor_);
        return quarn::Err{error(Kind::MissingUnicodeLbrace, after_n, after_n)};
    }
    size_t name_start = cursor_ + 1;
    size_t close = source_.find('}', name_start);
    if (close == std::string::npos) {
        return quarn::Err{error(Kind::MissingUnicodeRbrace, source_.size(), source_.size())};
    }
    auto c = char_from_name(std::string_view(source_).substr(name_start, close - name_start));
    if (!c) return quarn::Err{error(Kind::UnexpectedUnicode, name_start, close)};
    cursor_ = close + 1;
    return EscapedChar{EK::Literal, *c};
}

quarn::Result<StringParser::EscapedChar, LexicalError> StringParser::parse_escaped_char() {
    using EK = EscapedChar::Kind;
    if (cursor_ >= source_.size()) {
        return quarn::Err{error(Kind::UnexpectedString, source_.size(), source_.size())};
    }
    const bool bytes = flags_.is_bytes();
    char c = source_[cursor_++];
    switch (c) {
        case '\n':
            return EscapedChar{EK::Nothing};
        case '\r':
            if (cursor_ < source_.size() && source_[cursor_] == '\n') ++cursor_;
            return EscapedChar{EK::Nothing};
        case '\\':
        case '\'':
        case '"':
            return EscapedChar{EK::Literal, static_cast<char32_t>(c)};
        case 'a':
            return EscapedChar{EK::Literal, 0x07};
        case 'b':
            return EscapedChar{EK::Literal, 0x08};
        case 'f':
            return EscapedChar{EK::Literal, 0x0C};
        case 'n':
            return EscapedChar{EK::Literal, 0x0A};
        case 'r':
            return EscapedChar{EK::Literal, 0x0D};
        case 't':
            return EscapedChar{EK::Literal, 0x09};
        case 'v':
            return EscapedChar{EK::Literal, 0x0B};
        case 'x': {
            auto value = parse_unicode_literal(2);
            if (!value) return quarn::Err{std::move(value).error()};
            return EscapedChar{EK::Literal, *value};
        }
        case 'u':
        case 'U': {
            if (bytes) break;
            auto value = parse_unicode_literal(c == 'u' ? 4 : 8);
            if (!value) return quarn::Err{std::move(value).error()};
            return EscapedChar{EK::Literal, *value};
        }
        case 'N':
            if (bytes) break;
            return parse_named_escape();
        default:
            if (c >= '0' && c <= '7') {
                char32_t value = static_cast<char32_t>(c - '0');
                for (int i = 0; i < 2 && cursor_ < source_.size(); ++i) {
                    char d = source_[cursor_];
                    if (d < '0' || d > '7') break;
                    value = value * 8 + static_cast<char32_t>(d - '0');
                    ++cursor_;
                }
                return EscapedChar{EK::Literal, value};
            }
            break;
    }
    // Anything else keeps its backslash; the character itself is copied as ordinary text.
    --cursor_;
    return EscapedChar{EK::Verbatim};
}

quarn::Result<python_ast::NodeText, LexicalError> StringParser::parse_text() {
    const bool bytes = flags_.is_bytes();
    if (bytes) {
        for (size_t i = 0; i < source_.size(); ++i) {
            if (static_cast<unsigned char>(source_[i]) >= 0x80) {
                return quarn::Err{error(Kind::NonAsciiBytes, i, i + char_len_at(i))};
            }
        }
    }
    size_t backslash = flags_.is_raw() || !has_backslash_ ? std::string::npos : source_.find('\\');
    if (backslash == std::string::npos) return python_ast::NodeText(source_);

    // No escape decodes to more bytes than it is written with, so the body's length is room
    // enough.
    python_ast::NodeText value = python_ast::NodeText::with_capacity(source_.size());
    char* const begin = value.buffer();
    char* out = begin;
    while (backslash != std::string::npos) {
        out = copy(out, cursor_, backslash);
        cursor_ = backslash + 1;
        auto escaped = parse_escaped_char();
        if (!escaped) return quarn::Err{std::move(escaped).error()};
        switch (escaped->kind) {
            case EscapedChar::Kind::Literal:
                if (bytes) {
                    *out++ = static_cast<char>(escaped->character & 0xFF);
                } else {
                    out += quarn::encode_utf8(escaped->character, out);
                }
                break;
            case EscapedChar::Kind::Verbatim:
                *out++ = '\\';
                break;
            case EscapedChar::Kind::Nothing:
                break;
        }
        backslash = source_.find('\\', cursor_ + (escaped->kind == EscapedChar::Kind::Verbatim));
    }
    out = copy(out, cursor_, source_.size());
    value.resize(static_cast<size_t>(out - begin));
    return value;
}

char* StringParser::copy(char* out, size_t from, size_t to) const {
    std::memcpy(out, source_.data() + from, to - from);
    return out + (to - from);
}

quarn::Result<StringType, LexicalError> StringParser::parse_string() {
    auto value = parse_text();
    if (!value) return quarn::Err{std::move(value).error()};
    if (flags_.is_bytes()) {
        return StringType(BytesLiteral{.range = range_,
                                       .value = std::move(value).value(),
                                       .flags = BytesLiteralFlags::from(flags_)});
    }
    return StringType(StringLiteral{.range = range_,
                                    .value = std::move(value).value(),
                                    .flags = StringLiteralFlags::from(flags_)});
}

quarn::Result<InterpolatedStringElementLiteral, LexicalError> StringParser::parse_element() {
    static constexpr std::string_view SPECIAL = "{}\\";
    // A raw middle is its own value: braces are already collapsed and backslashes stay.
    size_t special = flags_.is_raw() ? std::string::npos : source_.find_first_of(SPECIAL);
    if (special == std::string::npos) {
        return InterpolatedStringElementLiteral{.range = range_,
                                                .value = python_ast::NodeText(source_)};
    }
    // As for plain strings, the text's length is room enough for its value.
    python_ast::NodeText value = python_ast::NodeText::with_capacity(source_.size());
    char* const begin = value.buffer();
    char* out = begin;
    while (special != std::string::npos) {
        out = copy(out, cursor_, special);
        char c = source_[special];
        cursor_ = special + 1;
        if (c == '{' || c == '}') {
            // What is left of a doubled brace: later error ranges shift by the dropped one.
            *out++ = c;
            ++offset_;
        } else if (cursor_ >= source_.size() || source_[cursor_] == '{' ||
                   source_[cursor_] == '}') {
            // A backslash does not escape a brace; the brace (a collapsed pair) comes next.
            *out++ = '\\';
        } else {
            auto escaped = parse_escaped_char();
            if (!escaped) return quarn::Err{std::move(escaped).error()};
            if (escaped->kind == EscapedChar::Kind::Literal) {
                out += quarn::encode_utf8(escaped->character, out);
            } else if (escaped->kind == EscapedChar::Kind::Verbatim) {
                *out++ = '\\';
                *out++ = source_[cursor_++];
            }
        }
        special = source_.find_first_of(SPECIAL, cursor_);
    }
    out = copy(out, cursor_, source_.size());
    value.resize(static_cast<size_t>(out - begin));
    return InterpolatedStringElementLiteral{.range = range_, .value = std::move(value)};
}

quarn::Result<StringType, LexicalError> parse_string_literal(std::string_view body,
                                                             AnyStringFlags flags,
                                                             TextRange range) {
    auto offset = range.start() + static_cast<TextSize>(flags.prefix().len() + flags.quote_len());
    return StringParser(body, flags, offset, range).parse_string();
}

quarn::Result<python_ast::NodeText, LexicalError> parse_string_text(std::string_view body,
                                                                    AnyStringFlags flags,
                                                                    TextRange range,
                                                                    bool has_backslash) {
    auto offset = range.start() + static_cast<TextSize>(flags.prefix().len() + flags.quote_len());
    return StringParser(body, flags, offset, range, has_backslash).parse_text();
}

quarn::Result<InterpolatedStringElementLiteral, LexicalError>
parse_interpolated_string_literal_element(std::string_view text, AnyStringFlags flags,
                                          TextRange range) {
    return StringParser(text, flags, range.start(), range).parse_element();
}

}  // namespace rudo::python_parser
