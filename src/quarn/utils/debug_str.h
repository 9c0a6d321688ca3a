// The quoted debug form of a text, as messages show their input: "a\"b\\c\n\u{7f}".
#pragma once

#include <string>
#include <string_view>

namespace quarn::utils {

// Appends `text` between double quotes: `"` and `\` get a backslash, tab, carriage return, line
// feed and NUL become \t, \r, \n and \0, any other character that is not printable becomes
// \u{hex} (lower case, no leading zeros), and every other character, non-ASCII included, stays
// as it is. A byte that is not part of valid UTF-8 is written as \x{hex}, so nothing is lost.
void append_debug_str(std::string& out, std::string_view text);

inline std::string debug_str(std::string_view text) {
    std::string out;
    append_debug_str(out, text);
    return out;
}

}  // namespace quarn::utils
