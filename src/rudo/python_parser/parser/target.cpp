// Contexts of stored and deleted expressions, and the checks on what may be stored or deleted.
// Targets nest as deep as the expressions they come from, so the walks keep their own stacks.
#include <vector>

#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

using python_ast::ExprList;
using python_ast::ExprStarred;
using python_ast::ExprSubscript;
using python_ast::ExprTuple;
using python_ast::ExprUnaryOp;

void set_expr_ctx(Expr& root, ExprContext ctx) {
    // Most targets are a single name, attribute or subscript: no walk needed.
    if (auto* name = root.as<ExprName>()) {
        name->ctx = ctx;
        return;
    }
    if (auto* attribute = root.as<ExprAttribute>()) {
        attribute->ctx = ctx;
        return;
    }
    if (auto* subscript = root.as<ExprSubscript>()) {
        subscript->ctx = ctx;
        return;
    }
    std::vector<Expr*> pending{&root};
    while (!pending.empty()) {
        Expr* expr = pending.back();
        pending.pop_back();
        if (auto* name = expr->as<ExprName>()) {
            name->ctx = ctx;
        } else if (auto* attribute = expr->as<ExprAttribute>()) {
            attribute->ctx = ctx;
        } else if (auto* subscript = expr->as<ExprSubscript>()) {
            subscript->ctx = ctx;
        } else if (auto* starred = expr->as<ExprStarred>()) {
            starred->ctx = ctx;
            pending.push_back(starred->value.get());
        } else if (auto* list = expr->as<ExprList>()) {
            list->ctx = ctx;
            for (auto it = list->elts.rbegin(); it != list->elts.rend(); ++it)
                pending.push_back(&*it);
        } else if (auto* tuple = expr->as<ExprTuple>()) {
            tuple->ctx = ctx;
            for (auto it = tuple->elts.rbegin(); it != tuple->elts.rend(); ++it)
                pending.push_back(&*it);
        } else if (auto* unary = expr->as<ExprUnaryOp>()) {
            pending.push_back(unary->operand.get());
        }
    }
}

namespace {

// Records `error` at every part of `root` that cannot be a target, in source order. Starred
// parts are valid targets only for assignments.
template <typename Record>
void validate_target(const Expr& root, bool starred_allowed, Record&& record) {
    if (root.is<ExprName>() || root.is<ExprAttribute>() || root.is<ExprSubscript>()) return;
    std::vector<const Expr*> pending{&root};
    while (!pending.empty()) {
        const Expr* expr = pending.back();
        pending.pop_back();
        if (expr->is<ExprName>() || expr->is<ExprAttribute>() || expr->is<ExprSubscript>()) {
            continue;
        }
        if (const auto* starred = expr->as<ExprStarred>(); starred && starred_allowed) {
            pending.push_back(starred->value.get());
        } else if (const auto* list = expr->as<ExprList>()) {
            for (auto it = list->elts.rbegin(); it != list->elts.rend(); ++it)
                pending.push_back(&*it);
        } else if (const auto* tuple = expr->as<ExprTuple>()) {
            for (auto it = tuple->elts.rbegin(); it != tuple->elts.rend(); ++it)
                pending.push_back(&*it);
        } else {
            record(*expr);
        }
    }
}

}  // namespace

void Parser::validate_assignment_target(const Expr& expr) {
    validate_target(expr, true, [&](const Expr& invalid) {
        report<ParseErrorId::InvalidAssignmentTarget>(invalid);
    });
}

void Parser::validate_delete_target(const Expr& expr) {
    validate_target(expr, false, [&](const Expr& invalid) {
        report<ParseErrorId::InvalidDeleteTarget>(invalid);
    });
}

}  // namespace rudo::python_parser
