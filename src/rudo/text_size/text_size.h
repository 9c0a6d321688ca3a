// Byte offsets and byte ranges into one UTF-8 source text.
#pragma once

#include <cstdint>
#include <string>

#include <fmt/format.h>

#include "base/panic.h"

namespace rudo::text_size {

// Source texts are limited to what fits in 32 bits; the lexer refuses longer ones.
using TextSize = uint32_t;

class TextRange {
  public:
    constexpr TextRange() = default;
    constexpr TextRange(TextSize start, TextSize end) : start_(start), end_(end) {
        if (start > end) quarn::assertion_failed("start.raw <= end.raw");
    }
    static constexpr TextRange at(TextSize start, TextSize length) {
        return TextRange(start, start + length);
    }
    static constexpr TextRange empty(TextSize offset) { return TextRange(offset, offset); }

    constexpr TextSize start() const { return start_; }
    constexpr TextSize end() const { return end_; }
    constexpr TextSize len() const { return end_ - start_; }
    constexpr bool is_empty() const { return start_ == end_; }

    friend constexpr bool operator==(TextRange, TextRange) = default;

  private:
    TextSize start_ = 0;
    TextSize end_ = 0;
};

// Debug form: "4..9".
inline std::string debug(TextRange range) {
    return fmt::format("{}..{}", range.start(), range.end());
}

}  // namespace rudo::text_size

template <>
struct fmt::formatter<rudo::text_size::TextRange> : fmt::formatter<std::string_view> {
    template <typename FormatContext>
    auto format(rudo::text_size::TextRange range, FormatContext& ctx) const {
        return fmt::format_to(ctx.out(), "{}..{}", range.start(), range.end());
    }
};
