#include "rudo/source_file/line_ranges.h"

#include <string.h>

#include <algorithm>

#include <fmt/format.h>

#include "base/panic.h"

namespace rudo::source_file {

using text_size::TextSize;

namespace {
constexpr std::string_view BOM = "\xEF\xBB\xBF";
}

TextSize LineRanges::line_start(std::string_view text, TextSize offset) {
    if (offset > text.size()) {
        quarn::panic(
            fmt::format("offset {} is beyond the end of a text of {} bytes", offset, text.size()));
    }
    if (offset == 0) return 0;
    const char* data = text.data();
    // The last `\n` first, then a `\r` only after it: whichever is nearer ends the previous line.
    const void* lf = memrchr(data, '\n', offset);
    const size_t after_lf = lf ? static_cast<const char*>(lf) - data + 1 : 0;
    const void* cr = memrchr(data + after_lf, '\r', offset - after_lf);
    if (cr) return static_cast<TextSize>(static_cast<const char*>(cr) - data + 1);
    if (lf) return static_cast<TextSize>(after_lf);
    // An offset inside or before the mark keeps the span [start, offset) from being inverted.
    if (text.starts_with(BOM)) return std::min<TextSize>(3, offset);
    return 0;
}

}  // namespace rudo::source_file
