// UTF-8 checks for file contents and path texts.
#pragma once

#include <string>
#include <string_view>

namespace quarn::ast {

bool is_valid_utf8(std::string_view bytes);

// `bytes` with every maximal ill-formed subsequence replaced by one U+FFFD, so that a path that
// is not UTF-8 can still be shown as text.
std::string utf8_lossy(std::string_view bytes);

}  // namespace quarn::ast
