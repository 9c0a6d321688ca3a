// A byte cursor over the unread rest of a source text.
//
// End of input is an explicit test (`first()` answers EOF_CHAR there), never a NUL byte: a NUL
// inside the text is an ordinary, if unexpected, character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "rudo/text_size/text_size.h"

namespace rudo::python_parser {

using text_size::TextRange;
using text_size::TextSize;

// Offset from `p` of the first byte in [p, end) equal to one of the four needles (repeat a
// needle to look for fewer), or `end - p` when there is none.
inline size_t find_any_of(const char* p, const char* end, char a, char b, char c, char d) {
    const char* start = p;
#ifdef __SSE2__
    const __m128i va = _mm_set1_epi8(a);
    const __m128i vb = _mm_set1_epi8(b);
    const __m128i vc = _mm_set1_epi8(c);
    const __m128i vd = _mm_set1_epi8(d);
    while (end - p >= 16) {
        __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hit =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, va), _mm_cmpeq_epi8(chunk, vb)),
                         _mm_or_si128(_mm_cmpeq_epi8(chunk, vc), _mm_cmpeq_epi8(chunk, vd)));
        if (int mask = _mm_movemask_epi8(hit)) {
            return static_cast<size_t>(p - start) + static_cast<size_t>(__builtin_ctz(mask));
        }
        p += 16;
    }
#endif
    for (; p < end; ++p) {
        char x = *p;
        if (x == a || x == b || x == c || x == d) break;
    }
    return static_cast<size_t>(p - start);
}

// Offset from `p` of the first byte in [p, end) that is not an ASCII letter, digit or underscore,
// or `end - p` when there is none.
inline size_t ascii_identifier_length(const char* p, const char* end) {
    const char* start = p;
#ifdef __SSE2__
    // A byte lies in [lo, lo + n) when it minus (lo - 128) is below n - 128 as a signed byte:
    // one subtraction and one compare per range.
    const __m128i case_bit = _mm_set1_epi8(0x20);
    const __m128i letter_bias = _mm_set1_epi8(static_cast<char>('a' - 128));
    const __m128i letter_limit = _mm_set1_epi8(static_cast<char>(-128 + 26));
    const __m128i digit_bias = _mm_set1_epi8(static_cast<char>('0' - 128));
    const __m128i digit_limit = _mm_set1_epi8(static_cast<char>(-128 + 10));
    const __m128i underscore = _mm_set1_epi8('_');
    while (end - p >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i lower = _mm_or_si128(chunk, case_bit);
        const __m128i letter = _mm_cmplt_epi8(_mm_sub_epi8(lower, letter_bias), letter_limit);
        const __m128i digit = _mm_cmplt_epi8(_mm_sub_epi8(chunk, digit_bias), digit_limit);
        const __m128i word =
            _mm_or_si128(_mm_or_si128(letter, digit), _mm_cmpeq_epi8(chunk, underscore));
        const int stop = ~_mm_movemask_epi8(word) & 0xFFFF;
        if (stop != 0)
            return static_cast<size_t>(p - start) + static_cast<size_t>(__builtin_ctz(stop));
        p += 16;
    }
#endif
    for (; p < end; ++p) {
        const char x = *p;
        const char lower = static_cast<char>(x | 0x20);
        if (!((lower >= 'a' && lower <= 'z') || (x >= '0' && x <= '9') || x == '_')) break;
    }
    return static_cast<size_t>(p - start);
}

// Offset from `p` of the first byte in [p, end) that is not a space, or `end - p`.
inline size_t space_run_length(const char* p, const char* end) {
    const char* start = p;
#ifdef __SSE2__
    const __m128i space = _mm_set1_epi8(' ');
    while (end - p >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int stop = ~_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, space)) & 0xFFFF;
        if (stop != 0)
            return static_cast<size_t>(p - start) + static_cast<size_t>(__builtin_ctz(stop));
        p += 16;
    }
#endif
    while (p < end && *p == ' ')
        ++p;
    return static_cast<size_t>(p - start);
}

class Cursor {
  public:
    static constexpr int EOF_CHAR = -1;

    Cursor() = default;
    // The source must be at most UINT32_MAX bytes long (checked by the lexer).
    Cursor(std::string_view source, TextSize offset)
        : data_(source.data()),
          size_(static_cast<TextSize>(source.size())),
          pos_(offset),
          token_start_(offset) {}

    bool is_eof() const { return pos_ >= size_; }
    // The next byte (0..255) without consuming it, or EOF_CHAR.
    int first() const { return pos_ < size_ ? static_cast<uint8_t>(data_[pos_]) : EOF_CHAR; }
    int second() const { return peek(1); }
    int third() const { return peek(2); }
    int peek(TextSize n) const {
        return n < size_ - pos_ ? static_cast<uint8_t>(data_[pos_ + n]) : EOF_CHAR;
    }

    // Consumes one byte; nothing at the end.
    void bump() {
        if (pos_ < size_) ++pos_;
    }
    // Consumes a byte known to be there.
    void bump_unchecked() { ++pos_; }
    // Consumes and decodes one character. Bytes that are not valid UTF-8 are taken one at a time
    // as U+FFFD.
    char32_t bump_char();
    // Decodes the next character without consuming it; `length` receives its byte length.
    char32_t peek_char(TextSize& length) const;

    bool eat_char(char c) {
        if (first() == static_cast<uint8_t>(c)) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool eat_char2(char a, char b) {
        if (first() == static_cast<uint8_t>(a) && second() == static_cast<uint8_t>(b)) {
            pos_ += 2;
            return true;
        }
        return false;
    }
    bool eat_char3(char a, char b, char c) {
        if (first() == static_cast<uint8_t>(a) && second() == static_cast<uint8_t>(b) &&
            third() == static_cast<uint8_t>(c)) {
            pos_ += 3;
            return true;
        }
        return false;
    }
    // Consumes the next byte when `pred` accepts it and returns it, else EOF_CHAR.
    template <typename Pred>
    int eat_if(Pred pred) {
        int c = first();
        if (c != EOF_CHAR && pred(c)) {
            ++pos_;
            return c;
        }
        return EOF_CHAR;
    }

    // Consumes bytes while `pred` accepts them.
    template <typename Pred>
    void skip_while(Pred pred) {
        // A local pointer: the loop then keeps its position in a register.
        const char* p = data_ + pos_;
        const char* const end = data_ + size_;
        while (p != end && pred(static_cast<uint8_t>(*p)))
            ++p;
        pos_ = static_cast<TextSize>(p - data_);
    }
    // Consumes spaces, tabs and form feeds.
    void skip_blanks() {
        skip_while([](int b) { return b == ' ' || b == '\t' || b == '\f'; });
    }
    // Consumes spaces and returns how many.
    TextSize skip_spaces() {
        const auto n = static_cast<TextSize>(space_run_length(data_ + pos_, data_ + size_));
        pos_ += n;
        return n;
    }
    // Consumes ASCII letters, digits and underscores.
    void skip_ascii_identifier() {
        pos_ += static_cast<TextSize>(ascii_identifier_length(data_ + pos_, data_ + size_));
    }
    // Moves to the first of the needles at or after the current position (or to the end) and
    // returns whether one was found.
    bool skip_to_any_of(char a, char b, char c, char d) {
        pos_ += static_cast<TextSize>(find_any_of(data_ + pos_, data_ + size_, a, b, c, d));
        return pos_ < size_;
    }

    void skip_bytes(TextSize n) { pos_ = n < size_ - pos_ ? pos_ + n : size_; }
    void skip_to_end() { pos_ = size_; }
    void set_offset(TextSize offset) { pos_ = offset < size_ ? offset : size_; }

    TextSize offset() const { return pos_; }
    std::string_view rest() const { return {data_ + pos_, size_ - pos_}; }
    std::string_view slice(TextSize start, TextSize end) const {
        return {data_ + start, end - start};
    }
    const char* data() const { return data_; }

    void start_token() { token_start_ = pos_; }
    TextSize token_start() const { return token_start_; }
    TextRange token_range() const { return TextRange(token_start_, pos_); }
    std::string_view token_text() const { return slice(token_start_, pos_); }

  private:
    const char* data_ = nullptr;
    TextSize size_ = 0;
    TextSize pos_ = 0;
    TextSize token_start_ = 0;
};

}  // namespace rudo::python_parser
