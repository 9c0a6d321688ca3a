// String prefixes and the string bits of the token flags, shared by the lexer, the literal
// decoder and the syntax tree.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include <fmt/format.h>

#include "base/panic.h"
#include "rudo/python_ast/token.h"

namespace rudo::python_ast {

// A prefix as a kind and a variant; Display gives the canonical spelling (`bR` shows as "Rb").
struct AnyStringPrefix {
    enum class Kind : uint8_t { Bytes = 0, Format = 1, Template = 2, Regular = 3 };

    Kind kind = Kind::Regular;
    uint8_t variant = 2;  // 0 raw `r`, 1 raw `R`, 2 plain, 3 `u` (regular strings only)

    // The flag bits of this prefix.
    TokenFlags flag_bits() const { return entry().bits; }
    std::string_view as_str() const { return entry().text; }
    // Length of the prefix in the source.
    size_t len() const { return entry().text.size(); }

    friend constexpr bool operator==(AnyStringPrefix, AnyStringPrefix) = default;

  private:
    struct Entry {
        TokenFlags bits;
        std::string_view text;
    };
    const Entry& entry() const {
        using namespace token_flags;
        static constexpr Entry TABLE[4][4] = {
            {{B_PREFIX | R_PREFIX_LOWER, "rb"}, {B_PREFIX | R_PREFIX_UPPER, "Rb"}, {B_PREFIX, "b"}},
            {{F_PREFIX | R_PREFIX_LOWER, "rf"}, {F_PREFIX | R_PREFIX_UPPER, "Rf"}, {F_PREFIX, "f"}},
            {{T_PREFIX | R_PREFIX_LOWER, "rt"}, {T_PREFIX | R_PREFIX_UPPER, "Rt"}, {T_PREFIX, "t"}},
            {{R_PREFIX_LOWER, "r"}, {R_PREFIX_UPPER, "R"}, {0, ""}, {U_PREFIX, "u"}},
        };
        auto k = static_cast<size_t>(kind);
        if (k > 3 || variant > 3 || (variant == 3 && kind != Kind::Regular)) {
            quarn::unreachable("invalid string prefix");
        }
        return TABLE[k][variant];
    }
};

// The nine string bits of TokenFlags as a value of their own.
class AnyStringFlags {
  public:
    static constexpr TokenFlags DOUBLE_QUOTES = token_flags::DOUBLE_QUOTES;
    static constexpr TokenFlags TRIPLE_QUOTED = token_flags::TRIPLE_QUOTED;
    static constexpr TokenFlags U_PREFIX = token_flags::U_PREFIX;
    static constexpr TokenFlags B_PREFIX = token_flags::B_PREFIX;
    static constexpr TokenFlags F_PREFIX = token_flags::F_PREFIX;
    static constexpr TokenFlags T_PREFIX = token_flags::T_PREFIX;
    static constexpr TokenFlags R_PREFIX_LOWER = token_flags::R_PREFIX_LOWER;
    static constexpr TokenFlags R_PREFIX_UPPER = token_flags::R_PREFIX_UPPER;
    static constexpr TokenFlags UNTERMINATED = token_flags::UNTERMINATED;
    static constexpr TokenFlags MASK = 0x1FF;

    constexpr AnyStringFlags() = default;
    // Keeps the string bits of a token's flags.
    constexpr explicit AnyStringFlags(TokenFlags bits) : bits_(bits & MASK) {}
    // From a prefix, the quote style and triple-quotedness.
    static AnyStringFlags create(AnyStringPrefix prefix, bool double_quotes, bool triple_quoted) {
        TokenFlags bits = prefix.flag_bits();
        if (double_quotes) bits |= DOUBLE_QUOTES;
        if (triple_quoted) bits |= TRIPLE_QUOTED;
        return AnyStringFlags(bits);
    }

    constexpr TokenFlags bits() const { return bits_; }
    constexpr bool contains(TokenFlags bit) const { return (bits_ & bit) == bit; }
    constexpr AnyStringFlags with(TokenFlags bit) const { return AnyStringFlags(bits_ | bit); }

    // F_PREFIX gives format, else T_PREFIX template, else B_PREFIX bytes, else regular; the
    // variant is raw `r`, raw `R`, `u` (regular only) or plain, in that order of precedence.
    AnyStringPrefix prefix() const {
        using Kind = AnyStringPrefix::Kind;
        Kind kind = (bits_ & F_PREFIX)   ? Kind::Format
                    : (bits_ & T_PREFIX) ? Kind::Template
                    : (bits_ & B_PREFIX) ? Kind::Bytes
                                         : Kind::Regular;
        uint8_t variant = (bits_ & R_PREFIX_LOWER)                        ? 0
                          : (bits_ & R_PREFIX_UPPER)                      ? 1
                          : (kind == Kind::Regular && (bits_ & U_PREFIX)) ? 3
                                                                          : 2;
        return AnyStringPrefix{kind, variant};
    }

    constexpr bool is_raw() const { return bits_ & (R_PREFIX_LOWER | R_PREFIX_UPPER); }
    constexpr bool is_triple_quoted() const { return bits_ & TRIPLE_QUOTED; }
    constexpr bool is_bytes() const { return bits_ & B_PREFIX; }
    constexpr bool is_f_string() const { return bits_ & F_PREFIX; }
    constexpr size_t quote_len() const { return is_triple_quoted() ? 3 : 1; }

    friend constexpr bool operator==(AnyStringFlags, AnyStringFlags) = default;

  private:
    TokenFlags bits_ = 0;
};

}  // namespace rudo::python_ast

template <>
struct fmt::formatter<rudo::python_ast::AnyStringPrefix> : fmt::formatter<std::string_view> {
    template <typename FormatContext>
    auto format(rudo::python_ast::AnyStringPrefix prefix, FormatContext& ctx) const {
        return fmt::formatter<std::string_view>::format(prefix.as_str(), ctx);
    }
};
