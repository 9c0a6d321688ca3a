// Where one file's parts are: its text and line index, and its URI formed once.
#pragma once

#include <optional>
#include <string_view>
#include <utility>

#include "quarn/ast/location.h"

namespace quarn::ast {

class FileLocator {
  public:
    FileLocator(std::string_view source, std::optional<Uri> uri)
        : context_(source), uri_(std::move(uri)) {}

    // The range of a location in the file; absent exactly when the file has no URI.
    std::optional<Range> location(TextRange bytes) const {
        if (!uri_) return std::nullopt;
        return context_.range(bytes);
    }
    template <typename Node>
    std::optional<Range> location_of(const Node& node) const {
        return location(node.range());
    }

    bool has_uri() const { return uri_.has_value(); }
    const std::optional<Uri>& uri() const { return uri_; }
    const LocationContext& context() const { return context_; }
    std::string_view source() const { return context_.source(); }

  private:
    LocationContext context_;
    std::optional<Uri> uri_;
};

}  // namespace quarn::ast
