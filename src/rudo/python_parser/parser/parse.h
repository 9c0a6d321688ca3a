// The parser's one public entry: a module's source text to its syntax tree, tokens and errors.
#pragma once

#include <string_view>

#include "base/result.h"
#include "rudo/python_parser/parser/parsed.h"

namespace rudo::python_parser {

// Parses a whole module; the first merged syntax error when there is any.
quarn::Result<Parsed, ParseError> parse_module(std::string_view source);

// The same parse, keeping the tree, the tokens and every merged error whatever they are. A text
// too large for 32-bit offsets gives an empty module and one error.
Parsed parse_module_unchecked(std::string_view source);

// What `parse_module` makes of an unchecked parse: the parse itself, or its first merged error.
quarn::Result<Parsed, ParseError> checked(Parsed parsed);

// Loads the Unicode data that a parse otherwise loads on its first identifier outside ASCII (the
// NFKC normaliser), so that a process can have it ready before it forks.
void prepare_unicode_data();

}  // namespace rudo::python_parser
