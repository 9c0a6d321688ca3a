// snake_case conversion of class names and "::"-joined namespaced names.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quarn::utils {

// "getXMLParserCode" -> "get_xml_parser_code". Any text is accepted; never fails.
std::string to_snake_case(std::string_view name);

// The namespace's non-empty "::" pieces, each snake-cased, then the name unchanged when present
// and not empty, joined with "::". Never fails.
std::string build_namespaced_name(std::optional<std::string_view> namespace_,
                                  std::optional<std::string_view> name);

// Compiles the patterns that `to_snake_case` otherwise compiles on first use, so that a process
// can have them ready before it forks.
void prepare_patterns();

namespace detail {
// The full lower-case mapping of `text`, handing the Unicode library at most about `max_piece`
// bytes at a time so that texts of any length work; separate so the cutting can be tested.
std::string to_lower_in_pieces(std::string_view text, size_t max_piece);
}  // namespace detail

}  // namespace quarn::utils
