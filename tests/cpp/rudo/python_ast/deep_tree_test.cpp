// Trees far deeper than any recursion could survive: the parser builds chains like these from
// long operator chains and deeply nested brackets.
#include <gtest/gtest.h>

#include <functional>

#include "rudo/python_ast/build.h"
#include "rudo/python_ast/dump.h"
#include "rudo/python_ast/nodes.h"

namespace rudo::python_ast {
namespace {

using namespace test;

constexpr int DEPTH = 100'000;

Expr leaf_like(const Expr&) {
    return name("z", r(0, 1));
}
Pattern leaf_like(const Pattern&) {
    return PatternMatchSingleton{.range = r(0, 4)};
}
Stmt leaf_like(const Stmt&) {
    return pass(r(0, 4));
}

// Builds a chain of DEPTH nodes by wrapping `leaf` repeatedly, then checks that a copy has the
// same depth and the same leaf, and that the dump walks all of it; destruction of both trees
// happens at scope exit.
template <typename T>
void check_chain(T leaf, const std::function<T(T)>& wrap,
                 const std::function<const T*(const T&)>& child, std::string_view kind) {
    T tree = std::move(leaf);
    for (int i = 0; i < DEPTH; ++i)
        tree = wrap(std::move(tree));
    T copy = tree;
    int depth = 0;
    const T* node = &copy;
    const T* original = &tree;
    while (const T* next = child(*node)) {
        ASSERT_NE(next, child(*original)) << "the copy shares a child";
        ASSERT_EQ(node->range(), original->range());
        node = next;
        original = child(*original);
        ++depth;
    }
    EXPECT_EQ(depth, DEPTH);
    EXPECT_EQ(node->range(), original->range());
    EXPECT_EQ(node->kind_name(), original->kind_name());

    std::string text = dump(copy);
    size_t count = 0;
    for (size_t at = text.find(kind); at != std::string::npos; at = text.find(kind, at + 1))
        ++count;
    EXPECT_EQ(count, static_cast<size_t>(DEPTH));

    // Assignment over a deep tree frees the old one iteratively too.
    copy = leaf_like(copy);
}

TEST(DeepTree, UnaryChain) {
    check_chain<Expr>(
        name("x", r(DEPTH, DEPTH + 1)),
        [](Expr e) -> Expr {
            TextSize end = e.range().end();
            return ExprUnaryOp{.range = r(e.range().start() - 1, end),
                               .op = UnaryOp::USub,
                               .operand = std::move(e)};
        },
        [](const Expr& e) -> const Expr* {
            auto* u = e.as<ExprUnaryOp>();
            return u ? u->operand.get() : nullptr;
        },
        "ExprUnaryOp");
}

TEST(DeepTree, LeftNestedBinaryChain) {
    check_chain<Expr>(
        name("a", r(0, 1)),
        [](Expr e) -> Expr {
            TextSize end = e.range().end();
            return ExprBinOp{.range = r(0, end + 2),
                             .left = std::move(e),
                             .op = Operator::Add,
                             .right = int_literal(1, r(end + 1, end + 2))};
        },
        [](const Expr& e) -> const Expr* {
            auto* b = e.as<ExprBinOp>();
            return b ? b->left.get() : nullptr;
        },
        "ExprBinOp");
}

TEST(DeepTree, NestedListsHoldChildrenInVectors) {
    check_chain<Expr>(
        name("x", r(0, 1)),
        [](Expr e) -> Expr {
            ExprList list{.range = r(0, e.range().end() + 1)};
            list.elts.push_back(std::move(e));
            list.elts.push_back(int_literal(0, r(0, 1)));
            return list;
        },
        [](const Expr& e) -> const Expr* {
            auto* l = e.as<ExprList>();
            return l ? &l->elts[0] : nullptr;
        },
        "ExprList");
}

TEST(DeepTree, NestedCallArgumentsInSequences) {
    check_chain<Expr>(
        name("x", r(0, 1)),
        [](Expr e) -> Expr {
            rudo::python_ast::List<Expr> args;
            args.push_back(std::move(e));
            return ExprCall{.range = r(0, 2),
                            .func = name("f", r(0, 1)),
                            .arguments = Arguments{.range = r(1, 2), .args = std::move(args)}};
        },
        [](const Expr& e) -> const Expr* {
            auto* c = e.as<ExprCall>();
            return c ? &c->arguments.args[0] : nullptr;
        },
        "ExprCall");
}

TEST(DeepTree, LambdaDefaultsThroughParameters) {
    check_chain<Expr>(
        name("x", r(0, 1)),
        [](Expr e) -> Expr {
            Parameters parameters{.range = r(0, 1)};
            parameters.args.push_back(ParameterWithDefault{
                .range = r(0, 1),
                .parameter = Parameter{.range = r(0, 1), .name = ident("p", r(0, 1))},
                .default_ = std::move(e)});
            return ExprLambda{
                .range = r(0, 3), .parameters = std::move(parameters), .body = name("p", r(2, 3))};
        },
        [](const Expr& e) -> const Expr* {
            auto* l = e.as<ExprLambda>();
            return l ? l->parameters->args[0].default_.get() : nullptr;
        },
        "ExprLambda");
}

TEST(DeepTree, NestedFStringInterpolations) {
    check_chain<Expr>(
        name("x", r(0, 1)),
        [](Expr e) -> Expr {
            FString f_string{.range = r(0, 4)};
            f_string.elements.push_back(InterpolatedStringElementInterpolation{
                .range = r(1, 3), .expression = std::move(e)});
            return ExprFString{.range = r(0, 4),
                               .value = FStringValue::single(std::move(f_string))};
        },
        [](const Expr& e) -> const Expr* {
            auto* f = e.as<ExprFString>();
            if (!f) return nullptr;
            const auto& element = f->value.parts()[0].as_f_string()->elements[0];
            return std::get<InterpolatedStringElementInterpolation>(element).expression.get();
        },
        "ExprFString");
}

TEST(DeepTree, NestedPatterns) {
    check_chain<Pattern>(
        PatternMatchSingleton{.range = r(0, 4), .value = Singleton::None},
        [](Pattern p) -> Pattern {
            rudo::python_ast::List<Pattern> patterns;
            patterns.push_back(std::move(p));
            return PatternMatchSequence{.range = r(0, 6), .patterns = std::move(patterns)};
        },
        [](const Pattern& p) -> const Pattern* {
            auto* s = p.as<PatternMatchSequence>();
            return s ? &s->patterns[0] : nullptr;
        },
        "PatternMatchSequence");
    check_chain<Pattern>(
        PatternMatchStar{.range = r(0, 2)},
        [](Pattern p) -> Pattern {
            return PatternMatchAs{
                .range = r(0, 6), .pattern = std::move(p), .name = ident("n", r(5, 6))};
        },
        [](const Pattern& p) -> const Pattern* {
            auto* a = p.as<PatternMatchAs>();
            return a ? a->pattern.get() : nullptr;
        },
        "PatternMatchAs");
}

TEST(DeepTree, NestedStatementBlocks) {
    check_chain<Stmt>(
        pass(r(0, 4)),
        [](Stmt s) -> Stmt {
            return StmtIf{
                .range = r(0, 10), .test = name("c", r(3, 4)), .body = body(std::move(s))};
        },
        [](const Stmt& s) -> const Stmt* {
            auto* i = s.as<StmtIf>();
            return i ? &i->body[0] : nullptr;
        },
        "StmtIf");
    check_chain<Stmt>(
        pass(r(0, 4)),
        [](Stmt s) -> Stmt {
            StmtTry t{.range = r(0, 20), .body = body(pass(r(5, 9)))};
            t.handlers.push_back(
                ExceptHandlerExceptHandler{.range = r(10, 20), .body = body(std::move(s))});
            return t;
        },
        [](const Stmt& s) -> const Stmt* {
            auto* t = s.as<StmtTry>();
            return t ? &std::get<0>(t->handlers[0]).body[0] : nullptr;
        },
        "StmtTry");
}

}  // namespace
}  // namespace rudo::python_ast
