// Token kinds, token flags and the token list of one parse.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "rudo/text_size/text_size.h"

namespace rudo::python_ast {

using text_size::TextRange;
using text_size::TextSize;

enum class TokenKind : uint8_t {
#define TOKEN_KIND(name, display, source) name,
#include "rudo/python_ast/token_kind.def"
#undef TOKEN_KIND
};

inline constexpr size_t TOKEN_KIND_COUNT = static_cast<size_t>(TokenKind::Unknown) + 1;

// The text error messages print: "`->`", "end of file", "NonLogicalNewline".
std::string_view display(TokenKind kind);
// The enumerator name: "Rarrow", "EndOfFile".
std::string_view name(TokenKind kind);
// The source text of an operator or keyword; empty for every other kind.
std::string_view source_text(TokenKind kind);

constexpr bool is_operator(TokenKind kind) {
    return kind >= TokenKind::Question && kind <= TokenKind::Ellipsis;
}
constexpr bool is_keyword(TokenKind kind) {
    return kind >= TokenKind::And && kind <= TokenKind::Type;
}
constexpr bool is_soft_keyword(TokenKind kind) {
    return kind >= TokenKind::Case && kind <= TokenKind::Type;
}
constexpr bool is_non_soft_keyword(TokenKind kind) {
    return kind >= TokenKind::And && kind <= TokenKind::Yield;
}
constexpr bool is_trivia(TokenKind kind) {
    return kind == TokenKind::Comment || kind == TokenKind::NonLogicalNewline;
}

// Per-token flag word; string-like tokens carry the quote and prefix bits.
using TokenFlags = uint16_t;
namespace token_flags {
inline constexpr TokenFlags DOUBLE_QUOTES = 0x001;
inline constexpr TokenFlags TRIPLE_QUOTED = 0x002;
inline constexpr TokenFlags U_PREFIX = 0x004;
inline constexpr TokenFlags B_PREFIX = 0x008;
inline constexpr TokenFlags F_PREFIX = 0x010;
inline constexpr TokenFlags T_PREFIX = 0x020;
inline constexpr TokenFlags R_PREFIX_LOWER = 0x040;
inline constexpr TokenFlags R_PREFIX_UPPER = 0x080;
inline constexpr TokenFlags UNTERMINATED = 0x100;
}  // namespace token_flags

struct Token {
    TextRange range;
    TokenFlags flags = 0;
    TokenKind kind = TokenKind::EndOfFile;

    friend constexpr bool operator==(const Token&, const Token&) = default;
};

// Every token of one source text in source order, trivia included, final EndOfFile excluded.
class Tokens {
public:
    Tokens() = default;
    explicit Tokens(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

    auto begin() const { return tokens_.begin(); }
    auto end() const { return tokens_.end(); }
    size_t size() const { return tokens_.size(); }
    bool empty() const { return tokens_.empty(); }
    const Token& operator[](size_t i) const { return tokens_[i]; }
    std::span<const Token> as_span() const { return tokens_; }

private:
    std::vector<Token> tokens_;
};

}  // namespace rudo::python_ast

template <>
struct fmt::formatter<rudo::python_ast::TokenKind> : fmt::formatter<std::string_view> {
    template <typename FormatContext>
    auto format(rudo::python_ast::TokenKind kind, FormatContext& ctx) const {
        return fmt::formatter<std::string_view>::format(rudo::python_ast::display(kind), ctx);
    }
};
