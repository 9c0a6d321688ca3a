// The value of an integer literal: a u64 when it fits, otherwise the literal's text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include <fmt/format.h>

#include "base/result.h"
#include "rudo/python_ast/arena.h"
#include "rudo/python_ast/box.h"

namespace rudo::python_ast {

// Why an integer text could not be read; the lexer prints the debug form.
enum class IntErrorKind : uint8_t { Empty, InvalidDigit };

struct ParseIntError {
    IntErrorKind kind;

    // "ParseIntError { kind: Empty }"
    std::string debug() const {
        return kind == IntErrorKind::Empty ? "ParseIntError { kind: Empty }"
                                           : "ParseIntError { kind: InvalidDigit }";
    }
    friend bool operator==(const ParseIntError&, const ParseIntError&) = default;
};

class Int {
  public:
    // Small when the value fits in 64 bits; big keeps the text (decimal digits without
    // underscores, or the whole token text for a prefixed literal), held apart: it is rare.
    using Number = std::variant<uint64_t, Box<NodeString>>;

    Int() : number_(uint64_t{0}) {}
    static Int small(uint64_t value) { return Int(std::in_place_index<0>, value); }
    static Int big(std::string_view text) {
        return Int(std::in_place_index<1>, Box<NodeString>(NodeString(text)));
    }

    // Reads `digits` (no underscores) in `radix` (2..36); a value too large for 64 bits keeps
    // `text` as its big form.
    static quarn::Result<Int, ParseIntError> from_str_radix(std::string_view digits, uint32_t radix,
                                                            std::string_view text);
    // Decimal digits; the big form is the digits themselves.
    static quarn::Result<Int, ParseIntError> from_str(std::string_view digits) {
        return from_str_radix(digits, 10, digits);
    }

    bool is_small() const { return std::holds_alternative<uint64_t>(number_); }
    // The value when it fits in 64 bits.
    const uint64_t* as_u64() const { return std::get_if<uint64_t>(&number_); }
    // The text of a value too large for 64 bits.
    const NodeString* as_big() const {
        const auto* big = std::get_if<1>(&number_);
        return big ? big->get() : nullptr;
    }
    const Number& number() const { return number_; }

    // Display: the small value in decimal or the big text unchanged.
    std::string to_string() const {
        if (const auto* v = as_u64()) return std::to_string(*v);
        return std::string(*as_big());
    }

    friend bool operator==(const Int& a, const Int& b) {
        if (a.is_small() || b.is_small())
            return a.as_u64() && b.as_u64() && *a.as_u64() == *b.as_u64();
        return *a.as_big() == *b.as_big();
    }

  private:
    // In place, so no temporary variant is moved (GCC 12 then warns about an unread string).
    template <size_t I, typename T>
    Int(std::in_place_index_t<I> index, T&& value) : number_(index, std::forward<T>(value)) {}
    Number number_;
};

}  // namespace rudo::python_ast

template <>
struct fmt::formatter<rudo::python_ast::Int> : fmt::formatter<std::string_view> {
    template <typename FormatContext>
    auto format(const rudo::python_ast::Int& value, FormatContext& ctx) const {
        return fmt::formatter<std::string_view>::format(value.to_string(), ctx);
    }
};
