// Byte offset to one-based line and character column, for one source text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "rudo/text_size/text_size.h"

namespace rudo::source_file {

using text_size::TextRange;
using text_size::TextSize;

enum class LineIndexKind : uint8_t {
    // No byte of the text is 0x80 or above: columns are byte differences.
    Ascii = 0,
    Utf8 = 1,
};

struct SourcePosition {
    size_t line;    // one-based
    size_t column;  // one-based, in Unicode scalar values

    friend constexpr bool operator==(const SourcePosition&, const SourcePosition&) = default;
};

// The line starts of one text; read-only, and copies share the one table.
class LineIndex {
  public:
    static LineIndex from_source_text(std::string_view text);

    // `text` must be the text the index was built from. A leading byte-order mark is not counted
    // in the columns of the first line.
    SourcePosition line_column(TextSize offset, std::string_view text) const;

    // Ascending; the first entry is 0 and one entry follows each `\n`, lone `\r` or `\r\n`.
    std::span<const TextSize> line_starts() const { return inner_->line_starts; }
    LineIndexKind kind() const { return inner_->kind; }
    size_t line_count() const { return inner_->line_starts.size(); }

  private:
    struct Inner {
        std::vector<TextSize> line_starts;
        LineIndexKind kind;
    };
    explicit LineIndex(std::shared_ptr<const Inner> inner) : inner_(std::move(inner)) {}

    std::shared_ptr<const Inner> inner_;
};

}  // namespace rudo::source_file
