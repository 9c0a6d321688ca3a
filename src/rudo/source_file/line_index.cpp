#include "rudo/source_file/line_index.h"

#include <string.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include <fmt/format.h>

#include "base/panic.h"
#include "base/pause_point.h"

namespace rudo::source_file {
namespace {

constexpr std::string_view BOM = "\xEF\xBB\xBF";

bool has_non_ascii(std::string_view text) {
    const char* p = text.data();
    size_t n = text.size();
    // Blocks of 64 bytes folded into one word, so the compiler can vectorise the fold.
    while (n >= 64) {
        uint64_t acc = 0;
        for (int i = 0; i < 8; ++i) {
            uint64_t word;
            std::memcpy(&word, p + 8 * i, 8);
            acc |= word;
        }
        if (acc & 0x8080808080808080ull) return true;
        p += 64;
        n -= 64;
    }
    unsigned char acc = 0;
    for (size_t i = 0; i < n; ++i)
        acc |= static_cast<unsigned char>(p[i]);
    return acc & 0x80;
}

// Characters in a UTF-8 span: every byte that is not a continuation byte starts one.
size_t count_chars(const char* p, size_t n) {
    size_t count = 0;
    for (size_t i = 0; i < n; ++i)
        count += (static_cast<unsigned char>(p[i]) & 0xC0) != 0x80;
    return count;
}

}  // namespace

LineIndex LineIndex::from_source_text(std::string_view text) {
    if (text.size() > std::numeric_limits<TextSize>::max()) {
        quarn::assertion_failed("u32::try_from(bytes.len()).is_ok()");
    }
    auto inner = std::make_shared<Inner>();
    std::vector<TextSize>& starts = inner->line_starts;
    starts.reserve(text.size() / 88 + 1);
    starts.push_back(0);
    if (text.empty()) {
        inner->kind = LineIndexKind::Ascii;
        return LineIndex(std::move(inner));
    }

    const char* const begin = text.data();
    const char* const end = begin + text.size();
    auto find = [end](const char* from, char byte) -> const char* {
        return static_cast<const char*>(memchr(from, byte, end - from));
    };
    // Two cursors, one per byte: a text without `\r` pays for a single failed search for it.
    const char* next_cr = find(begin, '\r');
    const char* cursor = begin;
    while (true) {
        const char* lf = find(cursor, '\n');
        const char* limit = lf ? lf : end;
        while (next_cr && next_cr < limit) {
            // A `\r` directly before the `\n` ends no line of its own.
            if (next_cr + 1 != lf) starts.push_back(static_cast<TextSize>(next_cr - begin + 1));
            next_cr = find(next_cr + 1, '\r');
        }
        if (!lf) break;
        starts.push_back(static_cast<TextSize>(lf - begin + 1));
        cursor = lf + 1;
        // The index of a big file may be held still between two lines.
        quarn::pause_point();
    }
    inner->kind = has_non_ascii(text) ? LineIndexKind::Utf8 : LineIndexKind::Ascii;
    return LineIndex(std::move(inner));
}

SourcePosition LineIndex::line_column(TextSize offset, std::string_view text) const {
    if (offset > text.size()) {
        quarn::panic(
            fmt::format("offset {} is beyond the end of a text of {} bytes", offset, text.size()));
    }
    const std::vector<TextSize>& starts = inner_->line_starts;
    const size_t line = std::upper_bound(starts.begin(), starts.end(), offset) - starts.begin();
    const TextSize line_start = starts[line - 1];
    size_t column = inner_->kind == LineIndexKind::Ascii
                        ? offset - line_start
                        : count_chars(text.data() + line_start, offset - line_start);
    column += 1;
    if (line == 1 && text.starts_with(BOM) && column > 1) column -= 1;
    return SourcePosition{line, column};
}

}  // namespace rudo::source_file
