// The statement visitor: walks nested statement lists, never entering expressions.
//
// A visitor derives from StatementVisitor<Self> and hides visit_stmt (and rarely visit_body);
// the walks call the derived operations directly, so nothing is dispatched at run time:
//
//   struct Returns : StatementVisitor<Returns> {
//       std::vector<const StmtReturn*> found;
//       void visit_stmt(const Stmt& stmt) {
//           if (auto* r = stmt.as<StmtReturn>()) found.push_back(r);
//           walk_stmt(*this, stmt);
//       }
//   };
#pragma once

#include <span>

#include "base/pause_point.h"
#include "rudo/python_ast/nodes.h"

namespace rudo::python_ast {

// Calls visitor.visit_stmt for each statement of the list, in order.
template <typename Visitor>
void walk_body(Visitor& visitor, std::span<const Stmt> body) {
    for (const Stmt& stmt : body) {
        // Walks of long files may be held still between two statements.
        quarn::pause_point();
        visitor.visit_stmt(stmt);
    }
}

// Calls visitor.visit_body on each statement list nested in `stmt`, in source order: bodies
// before `orelse`, the clauses of `if`, `match` and `try` in order, `finalbody` last.
template <typename Visitor>
void walk_stmt(Visitor& visitor, const Stmt& stmt) {
    std::visit(
        [&](const auto& node) {
            using Node = std::decay_t<decltype(node)>;
            if constexpr (std::is_same_v<Node, StmtFunctionDef> ||
                          std::is_same_v<Node, StmtClassDef> || std::is_same_v<Node, StmtWith>) {
                visitor.visit_body(node.body);
            } else if constexpr (std::is_same_v<Node, StmtFor> || std::is_same_v<Node, StmtWhile>) {
                visitor.visit_body(node.body);
                visitor.visit_body(node.orelse);
            } else if constexpr (std::is_same_v<Node, StmtIf>) {
                visitor.visit_body(node.body);
                for (const ElifElseClause& clause : node.elif_else_clauses) {
                    visitor.visit_body(clause.body);
                }
            } else if constexpr (std::is_same_v<Node, StmtMatch>) {
                for (const MatchCase& match_case : node.cases)
                    visitor.visit_body(match_case.body);
            } else if constexpr (std::is_same_v<Node, StmtTry>) {
                visitor.visit_body(node.body);
                for (const ExceptHandler& handler : node.handlers) {
                    visitor.visit_body(std::get<ExceptHandlerExceptHandler>(handler).body);
                }
                visitor.visit_body(node.orelse);
                visitor.visit_body(node.finalbody);
            }
        },
        stmt.as_variant());
}

// The two operations of a statement visitor; their defaults are the walks.
template <typename Self>
class StatementVisitor {
  public:
    void visit_stmt(const Stmt& stmt) { walk_stmt(self(), stmt); }
    void visit_body(std::span<const Stmt> body) { walk_body(self(), body); }

  protected:
    StatementVisitor() = default;

  private:
    Self& self() { return static_cast<Self&>(*this); }
};

}  // namespace rudo::python_ast
