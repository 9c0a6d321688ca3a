// Small builders for hand-made trees in tests.
#pragma once

#include "rudo/python_ast/nodes.h"

namespace rudo::python_ast::test {

inline TextRange r(TextSize start, TextSize end) {
    return TextRange(start, end);
}

inline Expr name(std::string_view id, TextRange range, ExprContext ctx = ExprContext::Load) {
    return ExprName{.range = range, .id = Name(id), .ctx = ctx};
}
inline Expr int_literal(uint64_t value, TextRange range) {
    return ExprNumberLiteral{.range = range, .value = Int::small(value)};
}
inline Identifier ident(std::string_view id, TextRange range) {
    return Identifier{.id = Name(id), .range = range};
}
inline Stmt pass(TextRange range) {
    return StmtPass{.range = range};
}
inline Stmt expr_stmt(Expr value) {
    TextRange range = value.range();
    return StmtExpr{.range = range, .value = std::move(value)};
}
template <typename... Ts>
rudo::python_ast::List<Stmt> body(Ts&&... stmts) {
    rudo::python_ast::List<Stmt> out;
    (out.push_back(std::forward<Ts>(stmts)), ...);
    return out;
}

}  // namespace rudo::python_ast::test
