// Small text helpers of the extraction: white space as Unicode counts it, line breaks of all
// three kinds, and the dedent of a class's source.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "quarn/ast/record_arena.h"

namespace quarn::ast {

// The length of the white space character starting at `at`, or 0.
size_t space_length(std::string_view text, size_t at);

// Whether `text` is white space only.
bool is_blank(std::string_view text);

// The first line break at or after `offset`: its start and its length (0 at the end of the text).
std::pair<size_t, size_t> next_line_break(std::string_view source, size_t offset);

// `text` less the indentation its non-blank lines share; blank lines keep only their line break,
// and line breaks (`\n`, `\r\n`, a lone `\r`) stay as they were.
std::string dedent(std::string_view text);
// The same, as `text` itself when nothing changes, or else written into `arena`.
std::string_view dedent(std::string_view text, RecordArena& arena);

}  // namespace quarn::ast
