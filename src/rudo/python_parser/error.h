// The lexer's and the literal decoder's error vocabulary.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

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

// The text an error carries: none, a text of static storage (a named message), or an owned copy
// that every copy of the error shares. One word wide, so error records stay small however many
// there are.
class ErrorText {
  public:
    ErrorText() = default;
    // An owned copy of `text`; the empty text owns nothing.
    explicit ErrorText(std::string_view text);
    ErrorText(const char* text) : ErrorText(std::string_view(text)) {}
    ErrorText(const std::string& text) : ErrorText(std::string_view(text)) {}
    // Refers to `text` without copying it; it must live as long as the program.
    static ErrorText borrowed(const std::string_view& text) {
        ErrorText out;
        out.bits_ = reinterpret_cast<uintptr_t>(&text) | BORROWED;
        return out;
    }

    ErrorText(const ErrorText& other) noexcept : bits_(other.bits_) { retain(); }
    ErrorText(ErrorText&& other) noexcept : bits_(std::exchange(other.bits_, 0)) {}
    ErrorText& operator=(ErrorText other) noexcept {
        std::swap(bits_, other.bits_);
        return *this;
    }
    ~ErrorText() {
        if (bits_ != 0 && !(bits_ & BORROWED)) release_owned();
    }

    std::string_view view() const {
        if (bits_ == 0) return {};
        if (bits_ & BORROWED) return *reinterpret_cast<const std::string_view*>(bits_ & ~BORROWED);
        const Owned* owned = reinterpret_cast<const Owned*>(bits_);
        return {reinterpret_cast<const char*>(owned + 1), owned->size};
    }
    operator std::string_view() const { return view(); }
    bool empty() const { return view().empty(); }

    friend bool operator==(const ErrorText& a, const ErrorText& b) {
        return a.bits_ == b.bits_ || a.view() == b.view();
    }
    friend bool operator==(const ErrorText& a, std::string_view b) { return a.view() == b; }

  private:
    // The owned bytes follow the header.
    struct Owned {
        std::atomic<uint32_t> refs;
        uint32_t size;
    };
    static constexpr uintptr_t BORROWED = 1;

    void retain() const {
        if (bits_ != 0 && !(bits_ & BORROWED)) {
            reinterpret_cast<Owned*>(bits_)->refs.fetch_add(1, std::memory_order_relaxed);
        }
    }
    void release_owned() noexcept;

    uintptr_t bits_ = 0;
};

// The kind of a lexical error; a few kinds carry a payload.
struct LexicalErrorType {
    enum class Kind : uint8_t {
#define LEXICAL_ERROR(kind, message) kind,
#include "rudo/python_parser/lexical_error.def"
#undef LEXICAL_ERROR
    };

    Kind kind = Kind::Other;
    InterpolatedStringErrorType interpolated =
        InterpolatedStringErrorType::ExpectedRbrace;  // F/TStringError
    char32_t character = 0;                           // UnexpectedCharacter
    ErrorText text;                                   // Other

    static LexicalErrorType of(Kind kind) {
        return LexicalErrorType{kind, {}, 0, {}};
    }
    static LexicalErrorType unexpected_character(char32_t c) {
        return LexicalErrorType{Kind::UnexpectedCharacter, {}, c, {}};
    }
    static LexicalErrorType fstring(InterpolatedStringErrorType e) {
        return LexicalErrorType{Kind::FStringError, e, 0, {}};
    }
    static LexicalErrorType tstring(InterpolatedStringErrorType e) {
        return LexicalErrorType{Kind::TStringError, e, 0, {}};
    }
    static LexicalErrorType other(ErrorText text) {
        return LexicalErrorType{Kind::Other, {}, 0, std::move(text)};
    }

    // The English message, e.g. "Got unexpected token $" or "f-string: unterminated string".
    std::string message() const;

    friend bool operator==(const LexicalErrorType&, const LexicalErrorType&) = default;
};

std::string_view kind_name(LexicalErrorType::Kind kind);

namespace lexical_error_detail {
inline constexpr std::string_view MESSAGES[] = {
#define LEXICAL_ERROR(kind, message) message,
#include "rudo/python_parser/lexical_error.def"
#undef LEXICAL_ERROR
};
}  // namespace lexical_error_detail

// The kind's row message, "{}" still unfilled; the parser's interpolated-string rows say the same.
constexpr std::string_view message_of(LexicalErrorType::Kind kind) {
    return lexical_error_detail::MESSAGES[static_cast<size_t>(kind)];
}

struct LexicalError {
    LexicalErrorType error;
    TextRange location;

    friend bool operator==(const LexicalError&, const LexicalError&) = default;
};

}  // namespace rudo::python_parser

// Both display as their messages, so that a parse error's message formats them directly.
template <>
struct fmt::formatter<rudo::python_parser::InterpolatedStringErrorType>
    : fmt::formatter<std::string_view> {
    template <typename FormatContext>
    auto format(rudo::python_parser::InterpolatedStringErrorType error, FormatContext& ctx) const {
        return fmt::formatter<std::string_view>::format(rudo::python_parser::message(error), ctx);
    }
};

template <>
struct fmt::formatter<rudo::python_parser::LexicalErrorType> : fmt::formatter<std::string_view> {
    template <typename FormatContext>
    auto format(const rudo::python_parser::LexicalErrorType& error, FormatContext& ctx) const {
        return fmt::formatter<std::string_view>::format(error.message(), ctx);
    }
};
