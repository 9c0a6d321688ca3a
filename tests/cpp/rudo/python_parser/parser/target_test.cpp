// Contexts of stored and deleted expressions, and the validation of targets.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "rudo/python_ast/dump.h"
#include "rudo/python_parser/parser/parser.h"

namespace {

using namespace rudo::python_parser;
namespace ast = rudo::python_ast;

// Hand-built expressions with the ranges they would have in the source named in each test.
Expr name(std::string_view id, TextSize start) {
    return Expr(ast::ExprName{.range = TextRange::at(start, static_cast<TextSize>(id.size())),
                              .id = ast::Name(id),
                              .ctx = ExprContext::Load});
}
Expr call(std::string_view func, TextSize start) {
    const auto len = static_cast<TextSize>(func.size());
    return Expr(ast::ExprCall{
        .range = TextRange(start, start + len + 2),
        .func = name(func, start),
        .arguments = ast::Arguments{.range = TextRange(start + len, start + len + 2)}});
}
Expr attribute(Expr value, std::string_view attr, TextSize end) {
    const TextSize start = value.range().start();
    return Expr(ast::ExprAttribute{
        .range = TextRange(start, end),
        .value = std::move(value),
        .attr = Identifier{.id = ast::Name(attr),
                           .range = TextRange(end - static_cast<TextSize>(attr.size()), end)},
        .ctx = ExprContext::Load});
}
Expr subscript(Expr value, Expr slice, TextSize end) {
    const TextSize start = value.range().start();
    return Expr(ast::ExprSubscript{.range = TextRange(start, end),
                                   .value = std::move(value),
                                   .slice = std::move(slice),
                                   .ctx = ExprContext::Load});
}
Expr starred(Expr value) {
    const TextRange range(value.range().start() - 1, value.range().end());
    return Expr(
        ast::ExprStarred{.range = range, .value = std::move(value), .ctx = ExprContext::Load});
}
Expr tuple(rudo::python_ast::List<Expr> elts, TextRange range, bool parenthesized) {
    return Expr(ast::ExprTuple{.range = range,
                               .elts = std::move(elts),
                               .ctx = ExprContext::Load,
                               .parenthesized = parenthesized});
}
Expr list(rudo::python_ast::List<Expr> elts, TextRange range) {
    return Expr(ast::ExprList{.range = range, .elts = std::move(elts), .ctx = ExprContext::Load});
}
template <typename... Es>
rudo::python_ast::List<Expr> exprs(Es... es) {
    rudo::python_ast::List<Expr> out;
    (out.push_back(std::move(es)), ...);
    return out;
}

std::vector<std::string> displays(const Parser& p) {
    std::vector<std::string> out;
    for (const auto& e : p.errors())
        out.push_back(e.display());
    return out;
}

Parser make_parser() {
    static constexpr std::string_view source = "";
    return Parser(TokenSource::from_source(source).value(), source, ParserOptions{});
}

TEST(SetExprCtx, MarksEveryStoredPartAndNothingInside) {
    // a, (b, c)
    Expr target =
        tuple(exprs(name("a", 0), tuple(exprs(name("b", 4), name("c", 7)), TextRange(4, 8), true)),
              TextRange(0, 9), false);
    set_expr_ctx(target, ExprContext::Store);
    EXPECT_EQ(ast::dump(target),
              "ExprTuple[0..9](elts=[ExprName[0..1](id=\"a\", ctx=Store), "
              "ExprTuple[4..8](elts=[ExprName[4..5](id=\"b\", ctx=Store), "
              "ExprName[7..8](id=\"c\", ctx=Store)], ctx=Store, parenthesized=true)], ctx=Store, "
              "parenthesized=false)");

    // x[i]: the subscript is stored, its value and slice are still loaded.
    Expr item = subscript(name("x", 0), name("i", 2), 4);
    set_expr_ctx(item, ExprContext::Del);
    EXPECT_EQ(ast::dump(item),
              "ExprSubscript[0..4](value=ExprName[0..1](id=\"x\", ctx=Load), "
              "slice=ExprName[2..3](id=\"i\", ctx=Load), ctx=Del)");

    // -a: the operand is marked although the unary node has no context of its own; *b.c marks
    // the starred node and the attribute, not the attribute's value.
    Expr negated = Expr(
        ast::ExprUnaryOp{.range = TextRange(0, 2), .op = UnaryOp::USub, .operand = name("a", 1)});
    set_expr_ctx(negated, ExprContext::Store);
    EXPECT_EQ(ast::dump(negated),
              "ExprUnaryOp[0..2](op=USub, operand=ExprName[1..2](id=\"a\", ctx=Store))");
    Expr star = starred(attribute(name("b", 1), "c", 4));
    set_expr_ctx(star, ExprContext::Store);
    EXPECT_EQ(
        ast::dump(star),
        "ExprStarred[0..4](value=ExprAttribute[1..4](value=ExprName[1..2](id=\"b\", ctx=Load), "
        "attr=\"c\"[3..4], ctx=Store), ctx=Store)");

    // An invalid (missing) name becomes a store too.
    Expr missing = Expr(
        ast::ExprName{.range = TextRange(0, 0), .id = ast::Name(""), .ctx = ExprContext::Invalid});
    set_expr_ctx(missing, ExprContext::Store);
    EXPECT_EQ(ast::dump(missing), "ExprName[0..0](id=\"\", ctx=Store)");
}

TEST(ValidateTargets, ReportsEachInvalidPartInOrder) {
    struct Case {
        std::string_view source;  // what the expression stands for
        Expr target;
        bool del;
        std::vector<std::string> errors;
    };
    std::vector<Case> cases;
    cases.push_back(
        {"[a, *b.c]",
         list(exprs(name("a", 1), starred(attribute(name("b", 5), "c", 8))), TextRange(0, 9)),
         false,
         {}});
    cases.push_back({"(a, f())",
                     tuple(exprs(name("a", 1), call("f", 4)), TextRange(0, 8), true),
                     false,
                     {"Invalid assignment target at byte range 4..7"}});
    cases.push_back({"-a",
                     Expr(ast::ExprUnaryOp{
                         .range = TextRange(0, 2), .op = UnaryOp::USub, .operand = name("a", 1)}),
                     false,
                     {"Invalid assignment target at byte range 0..2"}});
    cases.push_back({"f(), *g()",
                     tuple(exprs(call("f", 0), starred(call("g", 6))), TextRange(0, 9), false),
                     false,
                     {"Invalid assignment target at byte range 0..3",
                      "Invalid assignment target at byte range 6..9"}});
    cases.push_back({"a, b[0], c.d",
                     tuple(exprs(name("a", 0), subscript(name("b", 3), name("0", 5), 7),
                                 attribute(name("c", 9), "d", 12)),
                           TextRange(0, 12), false),
                     true,
                     {}});
    cases.push_back(
        {"*a", starred(name("a", 1)), true, {"Invalid delete target at byte range 0..2"}});
    cases.push_back({"(a, f())",
                     tuple(exprs(name("a", 1), call("f", 4)), TextRange(0, 8), true),
                     true,
                     {"Invalid delete target at byte range 4..7"}});
    for (const auto& c : cases) {
        Parser p = make_parser();
        if (c.del) {
            p.validate_delete_target(c.target);
        } else {
            p.validate_assignment_target(c.target);
        }
        EXPECT_EQ(displays(p), c.errors) << c.source;
    }
}

TEST(ValidateTargets, DeepTargetsNeedNoDeepStack) {
    // ((((...(f())...)))) as a million nested one-element lists.
    Expr target = call("f", 0);
    for (int i = 0; i < 1'000'000; ++i)
        target = list(exprs(std::move(target)), TextRange(0, 3));
    set_expr_ctx(target, ExprContext::Store);
    Parser p = make_parser();
    p.validate_assignment_target(target);
    EXPECT_EQ(displays(p),
              (std::vector<std::string>{"Invalid assignment target at byte range 0..3"}));
}

}  // namespace
