// Line boundaries of a text, found by searching around an offset.
#pragma once

#include <string_view>

#include "rudo/text_size/text_size.h"

namespace rudo::source_file {

struct LineRanges {
    // Start of the line holding `offset`: just after the nearest `\n` or `\r` before it, or 0
    // (3 after a leading byte-order mark) on the first line. Never beyond `offset` itself.
    static text_size::TextSize line_start(std::string_view text, text_size::TextSize offset);
};

}  // namespace rudo::source_file
