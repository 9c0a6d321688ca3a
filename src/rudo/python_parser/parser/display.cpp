// Bracketed atoms: list, set and dict displays, their comprehensions, tuples, generator
// expressions and parenthesized expressions, and the comprehension clauses they share.
#include <optional>
#include <utility>
#include <vector>

#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

using namespace python_ast;

namespace {

constexpr ExprPosition ELEMENT_POSITION =
    ExprPosition(ExprPosition::STARRED_ALLOWED | ExprPosition::STARRED_AS_BITWISE_OR);

// After a display's first element a comma is asked for unless one of these follows.
bool is_sequence_end(TokenKind kind) {
    switch (kind) {
        case TokenKind::Newline:
        case TokenKind::Dedent:
        case TokenKind::EndOfFile:
        case TokenKind::Exclamation:
        case TokenKind::Rpar:
        case TokenKind::Rsqb:
        case TokenKind::Rbrace:
        case TokenKind::Colon:
        case TokenKind::Semi:
        case TokenKind::Equal:
        case TokenKind::As:
        case TokenKind::Async:
        case TokenKind::Else:
        case TokenKind::For:
        case TokenKind::From:
        case TokenKind::If:
        case TokenKind::In:
            return true;
        default:
            return false;
    }
}

bool is_comprehension_start(TokenKind kind) {
    return kind == TokenKind::For || kind == TokenKind::Async;
}

bool is_unparenthesized_starred(const ExprWithParens& parsed) {
    return parsed.expr.is<ExprStarred>() && !parsed.in_parentheses;
}

}  // namespace

// Consumes the opening bracket; a bracket left open at the end of its line is reported here.
template <ParseErrorId missing_closer>
void Parser::open_bracket(TokenKind open) {
    bump(open);
    if (at(TokenKind::Newline) || at(TokenKind::EndOfFile)) {
        report<missing_closer>(current_token_range());
    }
}

ExprWithParens Parser::parse_list_like_expression() {
    const TextSize start = current_token_range().start();
    NestingGuard nesting = enter_nesting();
    if (!nesting) return {missing_expr(node_range(start))};
    open_bracket<ParseErrorId::MissingClosingBracket>(TokenKind::Lsqb);
    if (current_token_kind() == TokenKind::Rsqb) {
        bump(TokenKind::Rsqb);
        return {ExprList{.range = node_range(start), .elts = {}, .ctx = ExprContext::Load}};
    }

    ExprWithParens first = parse_named_expression_or_higher(ELEMENT_POSITION);
    if (is_comprehension_start(current_token_kind())) {
        if (is_unparenthesized_starred(first)) {
            report<ParseErrorId::IterableUnpackingInComprehension>(first.expr.range());
        }
        python_ast::List<Comprehension> generators = parse_generators();
        expect(TokenKind::Rsqb);
        return {ExprListComp{.range = node_range(start),
                             .elt = std::move(first.expr),
                             .generators = std::move(generators)}};
    }

    if (!is_sequence_end(current_token_kind())) expect(TokenKind::Comma);
    auto elts = list<Expr>();
    elts.push_back(std::move(first.expr));
    parse_comma_separated_list(RecoveryContextKind::ListElements, [&] {
        elts.push_back(parse_named_expression_or_higher(ELEMENT_POSITION).expr);
    });
    expect(TokenKind::Rsqb);
    return {ExprList{.range = node_range(start), .elts = elts.take(), .ctx = ExprContext::Load}};
}

ExprWithParens Parser::parse_set_or_dict_like_expression() {
    const TextSize start = current_token_range().start();
    NestingGuard nesting = enter_nesting();
    if (!nesting) return {missing_expr(node_range(start))};
    open_bracket<ParseErrorId::MissingClosingBrace>(TokenKind::Lbrace);
    if (current_token_kind() == TokenKind::Rbrace) {
        bump(TokenKind::Rbrace);
        return {ExprDict{.range = node_range(start), .items = {}}};
    }

    if (current_token_kind() == TokenKind::DoubleStar) {
        bump(TokenKind::DoubleStar);
        ExprWithParens value = parse_expression_with_bitwise_or_precedence();
        return {parse_dictionary_expression(std::nullopt, std::move(value.expr), start)};
    }

    ExprWithParens first = parse_named_expression_or_higher(ELEMENT_POSITION);
    if (current_token_kind() == TokenKind::Colon) {
        if (!first.in_parentheses) {
            if (first.expr.is<ExprNamedExpr>()) {
                report<ParseErrorId::UnparenthesizedNamedExpression>(first.expr.range());
            } else if (first.expr.is<ExprStarred>()) {
                report<ParseErrorId::MisplacedStarredExpression>(first.expr.range());
            }
        }
        bump(TokenKind::Colon);
        ExprWithParens value = parse_conditional_expression_or_higher_impl(ExprPosition(0));
        if (is_comprehension_start(current_token_kind())) {
            python_ast::List<Comprehension> generators = parse_generators();
            expect(TokenKind::Rbrace);
            return {ExprDictComp{.range = node_range(start),
                                 .key = std::move(first.expr),
                                 .value = std::move(value.expr),
                                 .generators = std::move(generators)}};
        }
        return {parse_dictionary_expression(std::move(first.expr), std::move(value.expr), start)};
    }

    if (is_comprehension_start(current_token_kind())) {
        if (is_unparenthesized_starred(first)) {
            report<ParseErrorId::IterableUnpackingInComprehension>(first.expr.range());
        }
        python_ast::List<Comprehension> generators = parse_generators();
        expect(TokenKind::Rbrace);
        return {ExprSetComp{.range = node_range(start),
                            .elt = std::move(first.expr),
                            .generators = std::move(generators)}};
    }

    if (!is_sequence_end(current_token_kind())) expect(TokenKind::Comma);
    auto elts = list<Expr>();
    elts.push_back(std::move(first.expr));
    parse_comma_separated_list(RecoveryContextKind::SetElements, [&] {
        elts.push_back(parse_named_expression_or_higher(ELEMENT_POSITION).expr);
    });
    expect(TokenKind::Rbrace);
    return {ExprSet{.range = node_range(start), .elts = elts.take()}};
}

ExprDict Parser::parse_dictionary_expression(std::optional<Expr> key, Expr value, TextSize start) {
    if (!is_sequence_end(current_token_kind())) expect(TokenKind::Comma);
    auto items = list<DictItem>();
    {
        DictItem first;
        if (key) first.key = std::move(*key);
        first.value = std::move(value);
        items.push_back(std::move(first));
    }
    parse_comma_separated_list(RecoveryContextKind::DictElements, [&] {
        DictItem item;
        if (current_token_kind() == TokenKind::DoubleStar) {
            bump(TokenKind::DoubleStar);
            item.value = parse_expression_with_bitwise_or_precedence().expr;
        } else {
            item.key = parse_conditional_expression_or_higher_impl(ExprPosition(0)).expr;
            expect(TokenKind::Colon);
            item.value = parse_conditional_expression_or_higher_impl(ExprPosition(0)).expr;
        }
        items.push_back(std::move(item));
    });
    expect(TokenKind::Rbrace);
    return ExprDict{.range = node_range(start), .items = items.take()};
}

ExprWithParens Parser::parse_parenthesized_expression() {
    const TextSize start = current_token_range().start();
    NestingGuard nesting = enter_nesting();
    if (!nesting) return {missing_expr(node_range(start))};
    open_bracket<ParseErrorId::MissingClosingParenthesis>(TokenKind::Lpar);
    if (current_token_kind() == TokenKind::Rpar) {
        bump(TokenKind::Rpar);
        return {ExprTuple{.range = node_range(start),
                          .elts = {},
                          .ctx = ExprContext::Load,
                          .parenthesized = true}};
    }

    ExprWithParens first = parse_named_expression_or_higher(
        ExprPosition(ExprPosition::STARRED_ALLOWED | ExprPosition::STARRED_AS_BITWISE_OR |
                     ExprPosition::YIELD_ALLOWED));

    if (current_token_kind() == TokenKind::Comma) {
        expect(TokenKind::Comma);
        auto elts = list<Expr>();
        elts.push_back(std::move(first.expr));
        parse_comma_separated_list(tuple_elements_kind(/*parenthesized=*/true), [&] {
            elts.push_back(parse_named_expression_or_higher(ELEMENT_POSITION).expr);
        });
        expect(TokenKind::Rpar);
        return {ExprTuple{.range = node_range(start),
                          .elts = elts.take(),
                          .ctx = ExprContext::Load,
                          .parenthesized = true}};
    }

    if (is_comprehension_start(current_token_kind())) {
        if (is_unparenthesized_starred(first)) {
            report<ParseErrorId::IterableUnpackingInComprehension>(first.expr.range());
        }
        return {parse_generator_expression(std::move(first.expr), start, /*parenthesized=*/true)};
    }

    if (first.expr.is<ExprStarred>()) {
        report<ParseErrorId::MisplacedStarredExpression>(first.expr.range());
    }
    expect(TokenKind::Rpar);
    return {std::move(first.expr), /*in_parentheses=*/true};
}

Expr Parser::parse_generator_expression(Expr element, TextSize start, bool parenthesized) {
    python_ast::List<Comprehension> generators = parse_generators();
    if (parenthesized) expect(TokenKind::Rpar);
    return ExprGeneratorExp{.range = node_range(start),
                            .elt = std::move(element),
                            .generators = std::move(generators),
                            .parenthesized = parenthesized};
}

// An iterable or a condition of a clause: every operator, but no conditional or lambda, so
// that `if` starts the next condition.
Expr Parser::parse_comprehension_operand() {
    const TextSize start = current_token_range().start();
    ExprWithParens lhs = parse_lhs_expression(LEVEL_LOWEST, ExprPosition(0));
    return parse_binary_expression_or_higher_recursive(std::move(lhs), LEVEL_LOWEST,
                                                       ExprPosition(0), start)
        .expr;
}

python_ast::List<Comprehension> Parser::parse_generators() {
    auto generators = list<Comprehension>();
    // Every pass consumes its `for` or `async`, and every condition its `if`.
    while (is_comprehension_start(current_token_kind())) {
        const TextSize start = current_token_range().start();
        bool is_async = false;
        if (current_token_kind() == TokenKind::Async) {
            bump(TokenKind::Async);
            expect(TokenKind::For);
            is_async = true;
        } else {
            bump(TokenKind::For);
        }

        Expr target = parse_expression_list(ExprPosition(ExprPosition::NO_IN_OPERATOR |
                                                         ExprPosition::STARRED_ALLOWED))
                          .expr;
        set_expr_ctx(target, ExprContext::Store);
        validate_assignment_target(target);
        expect(TokenKind::In);

        Expr iter = parse_comprehension_operand();
        auto ifs = list<Expr>();
        while (current_token_kind() == TokenKind::If) {
            bump(TokenKind::If);
            ifs.push_back(parse_comprehension_operand());
        }
        generators.push_back(Comprehension{.range = node_range(start),
                                           .target = std::move(target),
                                           .iter = std::move(iter),
                                           .ifs = ifs.take(),
                                           .is_async = is_async});
    }
    return generators.take();
}

}  // namespace rudo::python_parser
