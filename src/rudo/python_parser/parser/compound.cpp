// Compound statements and blocks.
//
// Stub: every statement is parsed as a simple statement ended by a newline or `;`.
#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

Stmt Parser::parse_statement() {
    Stmt statement = parse_simple_statement();
    if (!eat(TokenKind::Semi) && !eat(TokenKind::Newline) && !at(TokenKind::EndOfFile)) {
        expect(TokenKind::Newline);
    }
    return statement;
}

std::vector<Stmt> Parser::parse_body(Clause) {
    unsupported("An indented block");
    return {};
}

}  // namespace rudo::python_parser
