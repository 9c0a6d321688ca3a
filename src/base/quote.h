// The quoted forms of texts: the debug form messages show their input in, and JSON strings.
#pragma once

#include <string>
#include <string_view>

namespace quarn {

// Which characters the debug form writes as \u{hex}, besides those with a named escape.
enum class DebugEscapes : unsigned char {
    // Every character that is not printable: controls, format characters, private-use and
    // unassigned code points, separators other than U+0020, and combining marks.
    NotPrintable,
    // Only controls, format characters, line and paragraph separators, and combining marks: the
    // form that names take in syntax errors.
    ControlsAndMarks,
};

// Appends `text` between double quotes: `"` and `\` get a backslash, tab, carriage return, line
// feed and NUL become \t, \r, \n and \0, the characters that `escapes` selects become \u{hex}
// (lower case, no leading zeros), and every other character, non-ASCII included, stays as it
// is. A byte that is not part of valid UTF-8 is written as \x{hex}, so nothing is lost.
void append_debug_str(std::string& out, std::string_view text,
                      DebugEscapes escapes = DebugEscapes::NotPrintable);

inline std::string debug_str(std::string_view text,
                             DebugEscapes escapes = DebugEscapes::NotPrintable) {
    std::string out;
    append_debug_str(out, text, escapes);
    return out;
}

// Appends `text` as a JSON string literal: quotes, backslashes and control characters (DEL
// included) escaped, every other byte kept, so UTF-8 stays as it is.
void append_json_string(std::string& out, std::string_view text);

}  // namespace quarn
