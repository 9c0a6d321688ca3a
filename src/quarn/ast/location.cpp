#include "quarn/ast/location.h"

#include <stdlib.h>

#include <algorithm>
#include <memory>
#include <span>

#include <fmt/format.h>

#include "base/panic.h"
#include "base/utf8.h"

namespace quarn::ast {
namespace {

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// RFC 3986 pchar less the percent-escape: unreserved, sub-delims, ':' and '@'.
bool is_plain_pchar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    // Unreserved marks, sub-delims, then ':' and '@'.
    constexpr std::string_view marks =
        "-._~"
        "!$&'()*+,;="
        ":@";
    return marks.find(c) != std::string_view::npos;
}

// path-abempty [ "?" query ] [ "#" fragment ], as it follows an empty authority.
bool is_valid_path_query_fragment(std::string_view text) {
    enum class Part { Path, Query, Fragment } part = Part::Path;
    if (!text.empty() && text[0] != '/') return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (is_plain_pchar(c) || c == '/') continue;
        if (c == '%') {
            if (i + 2 >= text.size()) return false;
            if (!is_hex(text[i + 1]) || !is_hex(text[i + 2])) return false;
            i += 2;
            continue;
        }
        if (c == '?' && part != Part::Path) continue;
        if (c == '?') {
            part = Part::Query;
            continue;
        }
        if (c == '#' && part != Part::Fragment) {
            part = Part::Fragment;
            continue;
        }
        return false;
    }
    return true;
}

constexpr std::string_view FILE_SCHEME = "file://";

}  // namespace

const std::string& Uri::as_str() const {
    static const std::string empty;
    return text_ ? text_->text : empty;
}

std::optional<Uri> Uri::parse(std::string text) {
    if (!std::string_view(text).starts_with(FILE_SCHEME)) return std::nullopt;
    if (!is_valid_path_query_fragment(std::string_view(text).substr(FILE_SCHEME.size()))) {
        return std::nullopt;
    }
    return Uri(std::move(text));
}

std::optional<Uri> file_uri_for_path(std::string_view path) {
    // The system would resolve the shorter path before the NUL: another file.
    if (path.find('\0') != std::string_view::npos) return std::nullopt;
    std::string resolved;
    if (!path.empty() && path[0] == '/') {
        resolved = utf8_lossy(path);
    } else {
        const std::string c_path(path);
        const std::unique_ptr<char, decltype(&::free)> real(::realpath(c_path.c_str(), nullptr),
                                                            &::free);
        // A path that cannot be resolved (gone, or not searchable) names no file: no location.
        if (!real) return std::nullopt;
        resolved = utf8_lossy(real.get());
    }
    constexpr char HEX[] = "0123456789ABCDEF";
    std::string text(FILE_SCHEME);
    text.reserve(FILE_SCHEME.size() + resolved.size() + 16);
    if (resolved.empty() || (resolved[0] != '/' && resolved[0] != '\\')) text += '/';
    for (const char c : resolved) {
        if (c == '\\' || c == '/') {
            text += '/';
        } else if (is_plain_pchar(c)) {
            text += c;
        } else {
            // Everything a path segment does not allow as it stands, `%` included, so that every
            // file has a URI and the URI names that file.
            const auto byte = static_cast<unsigned char>(c);
            text += '%';
            text += HEX[byte >> 4];
            text += HEX[byte & 0xF];
        }
    }
    return Uri::parse(std::move(text));
}

std::optional<Location> file_location_for_range(std::string_view path, const Range& range) {
    auto uri = file_uri_for_path(path);
    if (!uri) return std::nullopt;
    return Location{std::move(*uri), range};
}

size_t LocationContext::search_line(TextSize offset, size_t hint) const {
    if (offset > source_.size()) {
        quarn::panic(fmt::format("offset {} is beyond the end of a text of {} bytes", offset,
                                 source_.size()));
    }
    const std::span<const TextSize> starts = line_index_.line_starts();
    size_t line = hint;
    auto search = [&](size_t from, size_t to) {
        return static_cast<size_t>(
                   std::upper_bound(starts.begin() + from, starts.begin() + to, offset) -
                   starts.begin()) -
               1;
    };
    if (offset < starts[line]) {
        line = search(0, line);
    } else {
        for (int steps = 0; line + 1 < starts.size() && starts[line + 1] <= offset; ++steps) {
            if (steps == 8) {
                line = search(line + 1, starts.size());
                break;
            }
            ++line;
        }
    }
    return line;
}

Range LocationContext::range_at(TextRange range) const {
    // The start's line by a search of the whole table; the end lies on it or a little after.
    const std::span<const TextSize> starts = line_index_.line_starts();
    const auto after = std::upper_bound(starts.begin(), starts.end(), range.start());
    // Checks the offset against the text as well.
    const size_t first_line =
        search_line(range.start(), static_cast<size_t>(after - starts.begin()) - 1);
    return Range{position_at(range.start(), first_line),
                 position_at(range.end(), search_line(range.end(), first_line))};
}

Range LocationContext::range_near(TextRange range, size_t& line) const {
    const std::span<const TextSize> starts = line_index_.line_starts();
    // Most ranges a reader asks for in turn lie on the line of the last one, and within it.
    auto on = [&starts](size_t at, TextSize offset) {
        return at < starts.size() && starts[at] <= offset &&
               (at + 1 == starts.size() || offset < starts[at + 1]);
    };
    if (line_index_.kind() == rudo::source_file::LineIndexKind::Ascii && line != 0 &&
        range.end() <= source_.size() && on(line, range.start()) && on(line, range.end())) {
        const auto l = static_cast<uint32_t>(line);
        return Range{{l, range.start() - starts[line]}, {l, range.end() - starts[line]}};
    }
    const size_t first_line = search_line(range.start(), std::min(line, starts.size() - 1));
    line = search_line(range.end(), first_line);
    return Range{position_at(range.start(), first_line), position_at(range.end(), line)};
}

size_t LocationContext::line_of(TextSize offset) const {
    last_line_ = search_line(offset, last_line_);
    return last_line_;
}

uint32_t LocationContext::line(TextSize offset) const {
    return static_cast<uint32_t>(line_of(offset));
}

Position LocationContext::position(TextSize offset) const {
    return position_at(offset, line_of(offset));
}

Position LocationContext::position_at(TextSize offset, size_t line) const {
    const TextSize start = line_index_.line_starts()[line];
    size_t column = offset - start;
    if (line_index_.kind() == rudo::source_file::LineIndexKind::Utf8) {
        // Every byte that is not a continuation byte starts a character.
        column = 0;
        for (size_t i = start; i < offset; ++i)
            column += (static_cast<unsigned char>(source_[i]) & 0xC0) != 0x80;
    }
    if (line == 0 && column > 0 && source_.starts_with("\xEF\xBB\xBF")) --column;
    return Position{static_cast<uint32_t>(line), static_cast<uint32_t>(column)};
}

}  // namespace quarn::ast
