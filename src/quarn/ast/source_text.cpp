#include "quarn/ast/source_text.h"

#include <string.h>

#include <cstring>
#include <optional>

#include "base/utf8.h"

namespace quarn::ast {
namespace {

// Calls `line(content, terminator)` for each line of `text`.
template <typename Line>
void each_line(std::string_view text, Line line) {
    for (size_t at = 0; at < text.size();) {
        const auto [end, length] = next_line_break(text, at);
        line(text.substr(at, end - at), text.substr(end, length));
        at = end + length;
    }
}

}  // namespace

// ASCII is answered here, since nearly every byte of a source is ASCII, the rest by the codec.
size_t space_length(std::string_view text, size_t at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) return byte == ' ' || (byte >= 0x09 && byte <= 0x0D) ? 1 : 0;
    return white_space_length(text, at);
}

// The next `\n` by memchr, then a `\r` only before it: both searches run over whole words.
std::pair<size_t, size_t> next_line_break(std::string_view source, size_t offset) {
    if (offset >= source.size()) return {source.size(), 0};
    const char* const begin = source.data();
    const char* const from = begin + offset;
    const auto* lf = static_cast<const char*>(memchr(from, '\n', source.size() - offset));
    const char* const limit = lf ? lf : begin + source.size();
    if (const auto* cr = static_cast<const char*>(memchr(from, '\r', limit - from))) {
        const size_t at = cr - begin;
        return {at, cr + 1 == lf ? 2u : 1u};
    }
    if (lf) return {static_cast<size_t>(lf - begin), 1};
    return {source.size(), 0};
}

bool is_blank(std::string_view text) {
    // ASCII answers at once; a line with other bytes before its first visible one asks the codec.
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) return trim_white_space(text.substr(i)).empty();
        if (!(byte == ' ' || (byte >= 0x09 && byte <= 0x0D))) return false;
    }
    return true;
}

namespace {

// The indentation the non-blank lines of `text` share.
size_t shared_indent(std::string_view text) {
    std::optional<std::string_view> prefix;
    each_line(text, [&prefix](std::string_view content, std::string_view) {
        if (is_blank(content)) return;
        const std::string_view indent =
            content.substr(0, std::min(content.find_first_not_of(" \t"), content.size()));
        if (!prefix) {
            prefix = indent;
            return;
        }
        size_t common = 0;
        while (common < prefix->size() && common < indent.size() &&
               (*prefix)[common] == indent[common]) {
            ++common;
        }
        prefix = prefix->substr(0, common);
    });
    return prefix ? prefix->size() : 0;
}

// Hands `put` the pieces of the dedented text in order.
template <typename Put>
void each_dedented_piece(std::string_view text, size_t cut, Put put) {
    each_line(text, [&put, cut](std::string_view content, std::string_view terminator) {
        if (!is_blank(content)) put(content.substr(cut));
        put(terminator);
    });
}

}  // namespace

std::string dedent(std::string_view text) {
    const size_t cut = shared_indent(text);
    std::string out;
    out.reserve(text.size());
    each_dedented_piece(text, cut, [&out](std::string_view piece) { out += piece; });
    return out;
}

// One walk for the length, one to write: the text is made once, where it stays.
std::string_view dedent(std::string_view text, RecordArena& arena) {
    const size_t cut = shared_indent(text);
    size_t length = 0;
    each_dedented_piece(text, cut, [&length](std::string_view piece) { length += piece.size(); });
    // Nothing cut and no blank line emptied: the text is its own dedent.
    if (cut == 0 && length == text.size()) return text;
    if (length == 0) return {};
    char* const out = arena.array<char>(length);
    size_t at = 0;
    each_dedented_piece(text, cut, [out, &at](std::string_view piece) {
        std::memcpy(out + at, piece.data(), piece.size());
        at += piece.size();
    });
    return {out, length};
}

}  // namespace quarn::ast
