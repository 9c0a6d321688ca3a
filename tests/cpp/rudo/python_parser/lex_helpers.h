// Runs the lexer to the end of a text and prints what it produced compactly.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "rudo/python_parser/lexer.h"

namespace lexer_test {

using namespace rudo::python_parser;
using rudo::python_ast::Token;

struct Lexed {
    std::vector<Token> tokens;
    std::vector<TokenValue> values;
    std::vector<LexicalError> errors;
};

inline Lexed lex_all(std::string_view source) {
    Lexed out;
    Lexer lexer(source);
    for (;;) {
        TokenKind kind = lexer.next_token();
        out.tokens.push_back(Token{lexer.current_range(), lexer.current_flags(), kind});
        out.values.push_back(lexer.take_value());
        if (kind == TokenKind::EndOfFile) break;
    }
    out.errors = std::move(lexer).finish();
    return out;
}

// "Name 0..1, Equal 2..3, ..." with "/0x11" after the range when flags are set.
inline std::string ranged(const std::vector<Token>& tokens) {
    std::string out;
    for (const auto& t : tokens) {
        if (!out.empty()) out += ", ";
        out += fmt::format("{} {}", rudo::python_ast::name(t.kind), t.range);
        if (t.flags) out += fmt::format("/{:#x}", t.flags);
    }
    return out;
}

// "Name Equal Int ..."
inline std::string kinds(const std::vector<Token>& tokens) {
    std::string out;
    for (const auto& t : tokens) {
        if (!out.empty()) out += ' ';
        out += rudo::python_ast::name(t.kind);
    }
    return out;
}

// "message @ 3..4; ..."
inline std::string errors(const std::vector<LexicalError>& errors) {
    std::string out;
    for (const auto& e : errors) {
        if (!out.empty()) out += "; ";
        out += fmt::format("{} @ {}", e.error.message(), e.location);
    }
    return out;
}

inline std::string value_text(const TokenValue& value) {
    struct Visitor {
        std::string operator()(std::monostate) const { return "-"; }
        std::string operator()(const Name& n) const { return fmt::format("name:{}", n); }
        std::string operator()(const Int& i) const {
            return fmt::format("{}:{}", i.is_small() ? "int" : "bigint", i);
        }
        std::string operator()(double d) const { return fmt::format("float:{}", d); }
        std::string operator()(const NumberLiteralComplex& c) const {
            return fmt::format("complex:{}j", c.imag);
        }
        std::string operator()(const StringBody& s) const { return fmt::format("str:{}", s.text); }
        std::string operator()(const InterpolatedStringMiddle& m) const {
            return fmt::format("middle:{}", m.text());
        }
    };
    return std::visit(Visitor{}, value);
}

// "Name=name:x Equal Int=int:1 ..." : kinds with the values of the tokens that have one.
inline std::string valued(const Lexed& lexed) {
    std::string out;
    for (size_t i = 0; i < lexed.tokens.size(); ++i) {
        if (!out.empty()) out += ' ';
        out += rudo::python_ast::name(lexed.tokens[i].kind);
        if (!std::holds_alternative<std::monostate>(lexed.values[i])) {
            out += '=' + value_text(lexed.values[i]);
        }
    }
    return out;
}

}  // namespace lexer_test

namespace lexer_test {
inline std::vector<Token> as_vector(const rudo::python_ast::Tokens& tokens) {
    return {tokens.begin(), tokens.end()};
}
}  // namespace lexer_test
