// Walks over a file's statements in the statement visitor's pre-order.
#pragma once

#include <span>
#include <vector>

#include "base/pause_point.h"
#include "rudo/python_ast/nodes.h"
#include "rudo/python_ast/statement_visitor.h"

namespace quarn::ast {

namespace detail {

// Takes the statement lists nested in one statement, in walk order, without entering them.
struct NestedBodies : rudo::python_ast::StatementVisitor<NestedBodies> {
    std::vector<std::span<const rudo::python_ast::Stmt>> bodies;

    void visit_body(std::span<const rudo::python_ast::Stmt> body) {
        if (!body.empty()) bodies.push_back(body);
    }
};

}  // namespace detail

// Calls `visit` on every statement of `body` and of the lists nested in it, in the statement
// walk's pre-order. The walk keeps its own stack: a file may nest blocks far deeper than a small
// thread stack could follow by recursion.
template <typename Visit>
void each_statement(std::span<const rudo::python_ast::Stmt> body, Visit visit) {
    using rudo::python_ast::Stmt;
    std::vector<std::span<const Stmt>> pending;
    if (!body.empty()) pending.push_back(body);
    detail::NestedBodies nested;
    while (!pending.empty()) {
        std::span<const Stmt>& rest = pending.back();
        const Stmt& stmt = rest.front();
        rest = rest.subspan(1);
        if (rest.empty()) pending.pop_back();
        // A file of many statements may be held still between two of them.
        quarn::pause_point();
        visit(stmt);
        nested.bodies.clear();
        rudo::python_ast::walk_stmt(nested, stmt);
        // The first nested list comes out first.
        pending.insert(pending.end(), nested.bodies.rbegin(), nested.bodies.rend());
    }
}

// Every class and every function definition of the file, at any depth, each in pre-order.
struct DefinitionCollector {
    std::vector<const rudo::python_ast::StmtClassDef*> classes;
    std::vector<const rudo::python_ast::StmtFunctionDef*> functions;

    void collect(std::span<const rudo::python_ast::Stmt> suite) {
        each_statement(suite, [this](const rudo::python_ast::Stmt& stmt) {
            if (const auto* c = stmt.as<rudo::python_ast::StmtClassDef>()) classes.push_back(c);
            if (const auto* f = stmt.as<rudo::python_ast::StmtFunctionDef>()) {
                functions.push_back(f);
            }
        });
    }
};

}  // namespace quarn::ast
