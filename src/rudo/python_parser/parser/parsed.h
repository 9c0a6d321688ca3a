// What a parse takes and gives: its options and the tree with its tokens and errors.
#pragma once

#include <cstdint>
#include <vector>

#include "rudo/python_ast/nodes.h"
#include "rudo/python_ast/token.h"
#include "rudo/python_parser/parser/parse_error.h"

namespace rudo::python_parser {

using python_ast::ModModule;
using python_ast::Tokens;

enum class Mode : uint8_t { Module = 0 };

struct TargetVersion {
    uint8_t major = 3;
    uint8_t minor = 10;
    friend bool operator==(const TargetVersion&, const TargetVersion&) = default;
};

struct ParserOptions {
    Mode mode = Mode::Module;
    TargetVersion target_version{};
};

struct Parsed {
    ModModule syntax;
    Tokens tokens;
    std::vector<ParseError> errors;
};

}  // namespace rudo::python_parser
