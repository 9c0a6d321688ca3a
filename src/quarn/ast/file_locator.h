// Where one file's parts are: its text and line index, and its URI formed once.
#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "quarn/ast/ast_types.h"
#include "quarn/ast/location.h"
#include "quarn/ast/record_arena.h"

namespace quarn::ast {

class FileLocator {
  public:
    FileLocator(std::string_view source, std::optional<Uri> uri)
        : context_(source),
          lines_(std::make_shared<const LocationContext>(source, context_.line_index())),
          uri_(std::move(uri)) {}

    // A location in the file; absent exactly when the file has no URI.
    std::optional<TextRange> location(TextRange bytes) const {
        if (!uri_) return std::nullopt;
        return bytes;
    }
    template <typename Node>
    std::optional<TextRange> location_of(const Node& node) const {
        return location(node.range());
    }

    // `text` as a record keeps it: the same bytes where the source has them between `where`'s
    // ends (the records keep the source alive), or else a copy in `arena`.
    std::string_view keep(std::string_view text, TextRange where, RecordArena& arena) const {
        const std::string_view source = context_.source();
        if (where.start() <= where.end() && where.end() <= source.size()) {
            const std::string_view written =
                source.substr(where.start(), where.end() - where.start());
            if (const size_t at = written.find(text); at != std::string_view::npos) {
                return written.substr(at, text.size());
            }
        }
        return arena.text(text);
    }

    bool has_uri() const { return uri_.has_value(); }
    const std::optional<Uri>& uri() const { return uri_; }
    const LocationContext& context() const { return context_; }
    // The lines that turn the records' locations into positions, shared by the file's records.
    const std::shared_ptr<const LocationContext>& kept_lines() const { return lines_; }
    FileLines lines() const { return FileLines{lines_.get()}; }
    std::string_view source() const { return context_.source(); }

  private:
    LocationContext context_;
    std::shared_ptr<const LocationContext> lines_;
    std::optional<Uri> uri_;
};

}  // namespace quarn::ast
