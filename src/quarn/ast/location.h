// Source locations as the Language Server Protocol shapes them: a `file://` URI and a range of
// zero-based lines and character columns.
#pragma once

#include <atomic>
#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "rudo/source_file/line_index.h"
#include "rudo/text_size/text_size.h"

namespace quarn::ast {

using rudo::source_file::LineIndex;
using rudo::text_size::TextRange;
using rudo::text_size::TextSize;

struct Position {
    uint32_t line = 0;       // zero-based
    uint32_t character = 0;  // zero-based, in Unicode scalar values: U+1F600 counts one

    friend bool operator==(const Position&, const Position&) = default;
};

// `end` is the position just after the last character, so an empty part has start == end.
struct Range {
    Position start;
    Position end;

    friend bool operator==(const Range&, const Range&) = default;
};

// A `file://` URI that passed the RFC 3986 check; its text is never decoded or normalised.
// Every location of a file carries the same URI, so copies share one immutable text behind a
// single pointer.
class Uri {
  public:
    // Accepts "file://" followed by an absolute path of RFC 3986 path characters and
    // percent-escapes, then an optional query and fragment.
    static std::optional<Uri> parse(std::string text);

    Uri(const Uri& other) noexcept : text_(other.text_) {
        if (text_) text_->acquire();
    }
    Uri(Uri&& other) noexcept : text_(std::exchange(other.text_, nullptr)) {}
    Uri& operator=(const Uri& other) noexcept {
        Uri copy(other);
        std::swap(text_, copy.text_);
        return *this;
    }
    Uri& operator=(Uri&& other) noexcept {
        std::swap(text_, other.text_);
        return *this;
    }
    ~Uri() {
        if (text_) text_->release();
    }

    // The empty text for a moved-from Uri.
    const std::string& as_str() const;

    friend bool operator==(const Uri& a, const Uri& b) {
        return a.text_ == b.text_ || a.as_str() == b.as_str();
    }

  private:
    struct Text {
        explicit Text(std::string text) : text(std::move(text)) {}
        void acquire() { refs.fetch_add(1, std::memory_order_relaxed); }
        void release() {
            if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
        }
        std::atomic<size_t> refs{1};
        const std::string text;
    };

    explicit Uri(std::string text) : text_(new Text(std::move(text))) {}
    // Null only in a moved-from Uri.
    Text* text_;
};

// Always a real place: an absent location is an empty std::optional<Location>.
struct Location {
    Uri uri;
    Range range;

    friend bool operator==(const Location&, const Location&) = default;
};

// The URI of the file `path` names: an absolute path as it stands (no normalisation, no check
// that it exists), a relative one resolved against the working directory with symbolic links
// followed. Backslashes become slashes and every other byte a path segment does not allow is
// percent-encoded (a space is "%20", `%` is "%25", `#` is "%23", "é" is "%C3%A9"). Absent when a
// relative path does not resolve or the path holds a NUL byte.
std::optional<Uri> file_uri_for_path(std::string_view path);

// `range` in the file `path` names; absent exactly when `file_uri_for_path` is.
std::optional<Location> file_location_for_range(std::string_view path, const Range& range);

// Positions within one file's text.
class LocationContext {
  public:
    // `source` must outlive the context.
    explicit LocationContext(std::string_view source)
        : source_(source), line_index_(LineIndex::from_source_text(source)) {}
    LocationContext(std::string_view source, LineIndex line_index)
        : source_(source), line_index_(std::move(line_index)) {}

    // `offset` lies on a character boundary of the source, at most at its end. A leading
    // byte-order mark does not count on the first line.
    Position position(TextSize offset) const;
    // The zero-based line of `offset`.
    uint32_t line(TextSize offset) const;
    Range range(TextRange range) const {
        return Range{position(range.start()), position(range.end())};
    }
    // The same without the remembered line, so any number of threads may ask at once.
    Range range_at(TextRange range) const;
    // The same, the lines searched from `line` on, which is then left at the end's line: a
    // reader of nearby ranges passes the same `line` each time.
    Range range_near(TextRange range, size_t& line) const;

    std::string_view source() const { return source_; }
    const LineIndex& line_index() const { return line_index_; }

  private:
    // The index of the line that holds `offset`, searched from line `hint`.
    size_t search_line(TextSize offset, size_t hint) const;
    // The index of the line that holds `offset`, remembered for the next call.
    size_t line_of(TextSize offset) const;
    // `offset` on its line `line`.
    Position position_at(TextSize offset, size_t line) const;

    std::string_view source_;
    LineIndex line_index_;
    // The line of the last offset asked for: the extraction asks mostly forward and nearby, so
    // the next line is usually found in a few steps instead of a search of the whole index.
    // A context belongs to one thread.
    mutable size_t last_line_ = 0;
};

// The line and character range of a syntax-tree node's own byte range.
template <typename Node>
requires requires(const Node& node) {
    { node.range() } -> std::convertible_to<TextRange>;
}
Range expr_to_range(const Node& expr, const LocationContext& context) {
    return context.range(expr.range());
}

}  // namespace quarn::ast
