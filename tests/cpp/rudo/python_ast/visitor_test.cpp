#include <gtest/gtest.h>

#include "rudo/python_ast/build.h"
#include "rudo/python_ast/statement_visitor.h"

namespace rudo::python_ast {
namespace {

using namespace test;

// Statements are told apart by their start offset: statement N starts at N * 10.
Stmt pass_at(TextSize n) {
    return pass(r(n * 10, n * 10 + 4));
}
Expr cond() {
    return name("c", r(0, 1));
}

// A module holding every compound statement kind, each nested block holding numbered passes,
// numbered in the documented visiting order.
rudo::python_ast::List<Stmt> every_compound_statement() {
    rudo::python_ast::List<Stmt> module;
    module.push_back(StmtFunctionDef{.range = r(10, 14),
                                     .name = ident("f", r(0, 1)),
                                     .parameters = Parameters{},
                                     .returns = name("r", r(0, 1)),
                                     .body = body(pass_at(2), pass_at(3))});
    module.push_back(StmtClassDef{.range = r(40, 44),
                                  .name = ident("C", r(0, 1)),
                                  .body = body(StmtFunctionDef{.range = r(50, 54),
                                                               .name = ident("m", r(0, 1)),
                                                               .parameters = Parameters{},
                                                               .body = body(pass_at(6))})});
    module.push_back(StmtFor{.range = r(70, 74),
                             .target = name("x", r(0, 1)),
                             .iter = cond(),
                             .body = body(pass_at(8)),
                             .orelse = body(pass_at(9))});
    module.push_back(StmtWhile{.range = r(100, 104),
                               .test = cond(),
                               .body = body(pass_at(11)),
                               .orelse = body(pass_at(12))});
    module.push_back(
        StmtIf{.range = r(130, 134),
               .test = cond(),
               .body = body(pass_at(14)),
               .elif_else_clauses = {
                   ElifElseClause{.range = r(0, 1), .test = cond(), .body = body(pass_at(15))},
                   ElifElseClause{.range = r(0, 1), .body = body(pass_at(16))}}});
    module.push_back(StmtWith{.range = r(170, 174),
                              .items = {WithItem{.range = r(0, 1), .context_expr = cond()}},
                              .body = body(pass_at(18))});
    module.push_back(StmtMatch{
        .range = r(190, 194),
        .subject = cond(),
        .cases = {
            MatchCase{.range = r(0, 1), .pattern = PatternMatchAs{}, .body = body(pass_at(20))},
            MatchCase{.range = r(0, 1),
                      .pattern = PatternMatchValue{.value = cond()},
                      .guard = cond(),
                      .body = body(pass_at(21), pass_at(22))}}});
    StmtTry try_stmt{.range = r(230, 234),
                     .body = body(pass_at(24)),
                     .orelse = body(pass_at(27)),
                     .finalbody = body(pass_at(28))};
    try_stmt.handlers.push_back(
        ExceptHandlerExceptHandler{.range = r(0, 1), .body = body(pass_at(25))});
    try_stmt.handlers.push_back(ExceptHandlerExceptHandler{
        .range = r(0, 1), .type = cond(), .name = ident("e", r(0, 1)), .body = body(pass_at(26))});
    module.push_back(std::move(try_stmt));
    // Simple statements have no nested lists; a lambda holds no statements.
    module.push_back(
        StmtReturn{.range = r(290, 294), .value = ExprLambda{.range = r(0, 1), .body = cond()}});
    module.push_back(expr_stmt(name("y", r(300, 301))));
    return module;
}

struct Recorder : StatementVisitor<Recorder> {
    std::vector<TextSize> starts;
    void visit_stmt(const Stmt& stmt) {
        starts.push_back(stmt.range().start() / 10);
        walk_stmt(*this, stmt);
    }
};

TEST(StatementVisitor, WalksEveryStatementOnceInPreOrder) {
    rudo::python_ast::List<Stmt> module = every_compound_statement();
    Recorder recorder;
    walk_body(recorder, module);
    std::vector<TextSize> expected;
    for (TextSize i = 1; i <= 30; ++i)
        expected.push_back(i);
    EXPECT_EQ(recorder.starts, expected);
}

// visit_body sees each nested list once, in the documented order.
struct BodyRecorder : StatementVisitor<BodyRecorder> {
    std::vector<std::vector<TextSize>> bodies;
    void visit_body(std::span<const Stmt> body) {
        std::vector<TextSize> starts;
        for (const Stmt& stmt : body)
            starts.push_back(stmt.range().start() / 10);
        bodies.push_back(std::move(starts));
        walk_body(*this, body);
    }
};

TEST(StatementVisitor, VisitsNestedBodiesInOrder) {
    rudo::python_ast::List<Stmt> module = every_compound_statement();
    BodyRecorder recorder;
    recorder.visit_body(module);
    std::vector<std::vector<TextSize>> expected = {
        {1, 4, 7, 10, 13, 17, 19, 23, 29, 30},
        {2, 3},
        {5},
        {6},
        {8},
        {9},
        {11},
        {12},
        {14},
        {15},
        {16},
        {18},
        {20},
        {21, 22},
        {24},
        {25},
        {26},
        {27},
        {28},
    };
    EXPECT_EQ(recorder.bodies, expected);
}

// A collector that only looks at the top level never calls walk_stmt.
struct TopLevel : StatementVisitor<TopLevel> {
    int seen = 0;
    void visit_stmt(const Stmt&) { ++seen; }
};

TEST(StatementVisitor, VisitorDecidesWhetherToDescend) {
    rudo::python_ast::List<Stmt> module = every_compound_statement();
    TopLevel top;
    walk_body(top, module);
    EXPECT_EQ(top.seen, 10);
}

}  // namespace
}  // namespace rudo::python_ast
