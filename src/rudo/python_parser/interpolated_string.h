// The open f-strings and t-strings of the lexer, innermost last.
#pragma once

#include <cstdint>

#include "rudo/python_ast/token.h"
#include "rudo/python_parser/persistent_stack.h"

namespace rudo::python_parser {

using python_ast::TokenFlags;

enum class InterpolatedStringKind : uint8_t { FString, TString };

struct InterpolatedStringContext {
    // Bracket nesting when the string started.
    uint32_t nesting = 0;
    // Format specs open inside the string's current interpolation.
    uint32_t format_spec_depth = 0;
    TokenFlags flags = 0;

    InterpolatedStringKind kind() const {
        return (flags & python_ast::token_flags::T_PREFIX) ? InterpolatedStringKind::TString
                                                           : InterpolatedStringKind::FString;
    }
    bool is_triple_quoted() const { return flags & python_ast::token_flags::TRIPLE_QUOTED; }
    bool is_raw() const {
        return flags &
               (python_ast::token_flags::R_PREFIX_LOWER | python_ast::token_flags::R_PREFIX_UPPER);
    }
    char quote() const { return (flags & python_ast::token_flags::DOUBLE_QUOTES) ? '"' : '\''; }

    // Brackets opened since the string started, 0 when the nesting fell below the start.
    uint32_t open_brackets(uint32_t current_nesting) const {
        return current_nesting > nesting ? current_nesting - nesting : 0;
    }
    // In the literal part (or a format spec) rather than in an interpolation's expression.
    bool in_literal_part(uint32_t current_nesting) const {
        return open_brackets(current_nesting) <= format_spec_depth;
    }
};

using InterpolatedStrings = PersistentStack<InterpolatedStringContext>;

}  // namespace rudo::python_parser
