// The one UTF-8 codec of the tree: strict validation and decoding (no overlong forms, no
// surrogates, nothing above U+10FFFF), encoding, and the White_Space check on decoded text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarn {

// One decoded character. An ill-formed sequence has a negative `code_point` and the length of
// its maximal ill-formed prefix (at least 1): skipping that many bytes resumes where a new
// character may start.
struct Utf8Char {
    int32_t code_point;
    uint32_t length;
};

// The character starting at byte `at` of `text` (which must be inside it).
Utf8Char decode_utf8(std::string_view text, size_t at);

bool is_valid_utf8(std::string_view bytes);

// `bytes` with every maximal ill-formed subsequence replaced by one U+FFFD, so that a text that
// is not UTF-8 can still be shown.
std::string utf8_lossy(std::string_view bytes);

// Appends the UTF-8 form of the code point `c` (unchecked: a surrogate gets the three-byte form).
void append_utf8(std::string& out, char32_t c);
// The same form written to `out` (room for 4 bytes), for strings of other allocators; returns
// its length.
size_t encode_utf8(char32_t c, char* out);

// Unicode White_Space.
bool is_white_space(int32_t code_point);

// The byte length of the White_Space character starting at `at`, or 0 when the character there
// is not white space or not well-formed.
size_t white_space_length(std::string_view text, size_t at);

// `text` without its leading and trailing White_Space; an ill-formed sequence counts as a
// character that is not white space.
std::string_view trim_white_space(std::string_view text);

}  // namespace quarn
