// `with` statements and their items.
#include <algorithm>

#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

using namespace python_ast;

namespace {

// A context expression that only a parenthesized item list may hold when it is written
// without parentheses of its own: a yield, a named expression or a starred expression.
bool is_misplaced_in_item_list(const Parser::ParsedWithItem& item) {
    if (item.in_parentheses) return false;
    const Expr& expr = *item.item.context_expr;
    return expr.is<ExprYield>() || expr.is<ExprYieldFrom>() || expr.is<ExprNamedExpr>() ||
           expr.is<ExprStarred>();
}

}  // namespace

StmtWith Parser::parse_with_statement(TextSize start) {
    bump(TokenKind::With);

    auto gathered = list<WithItem>();
    python_ast::List<WithItem> items;
    if (!at_expr()) {
        report<ParseErrorId::ExpectedExpressionAfterWith>(current_token_range());
    } else if (at(TokenKind::Lpar)) {
        items = parse_parenthesized_with_items();
    } else {
        parse_comma_separated_list(with_items_kind(WithItemsKind::Unparenthesized), [&] {
            gathered.push_back(std::move(parse_with_item(WithItemMode::Plain).item));
        });
        items = gathered.take();
    }

    expect(TokenKind::Colon);
    python_ast::List<Stmt> body = parse_body(Clause::With);
    return StmtWith{.range = node_range(start),
                    .is_async = false,
                    .items = std::move(items),
                    .body = std::move(body)};
}

// `with (` opens either a list of items or the first context expression. The list reading is
// tried first; when the result or the token after `)` rules it out, the parenthesis is read
// again as part of an expression. Only the parenthesized region is ever read twice.
python_ast::List<WithItem> Parser::parse_parenthesized_with_items() {
    ParserCheckpoint checkpoint = this->checkpoint();
    bump(TokenKind::Lpar);

    std::vector<ParsedWithItem> parsed;
    bool has_target = false;
    parse_comma_separated_list(with_items_kind(WithItemsKind::Parenthesized), [&] {
        ParsedWithItem item = parse_with_item(WithItemMode::List);
        has_target = has_target || static_cast<bool>(item.item.optional_vars);
        parsed.push_back(std::move(item));
    });

    bool accept = false;
    if (has_target) {
        for (const ParsedWithItem& item : parsed) {
            if (item.in_parentheses) continue;
            const Expr& expr = *item.item.context_expr;
            if (expr.is<ExprYield>() || expr.is<ExprYieldFrom>()) {
                report<ParseErrorId::MisplacedYieldExpression>(expr.range());
            } else if (expr.is<ExprNamedExpr>()) {
                report<ParseErrorId::UnparenthesizedNamedExpression>(expr.range());
            } else if (expr.is<ExprStarred>()) {
                report<ParseErrorId::MisplacedStarredExpression>(expr.range());
            }
        }
        accept = true;
    } else if (at(TokenKind::Rpar) && !parsed.empty()) {
        TokenKind after = peek();
        accept = (after == TokenKind::Colon || after == TokenKind::Newline) &&
                 std::none_of(parsed.begin(), parsed.end(), is_misplaced_in_item_list);
    }

    auto items = list<WithItem>();
    if (accept) {
        for (ParsedWithItem& item : parsed)
            items.push_back(std::move(item.item));
        expect(TokenKind::Rpar);
        return items.take();
    }

    parsed.clear();
    rewind(std::move(checkpoint));
    parse_comma_separated_list(with_items_kind(WithItemsKind::ParenthesizedExpression), [&] {
        items.push_back(std::move(parse_with_item(WithItemMode::Plain).item));
    });
    return items.take();
}

Parser::ParsedWithItem Parser::parse_with_item(WithItemMode mode) {
    TextSize start = current_token_range().start();
    ExprWithParens context =
        mode == WithItemMode::List
            ? parse_named_expression_or_higher(ExprPosition{ExprPosition::STARRED_ALLOWED |
                                                            ExprPosition::STARRED_AS_BITWISE_OR |
                                                            ExprPosition::YIELD_ALLOWED})
            : parse_conditional_expression_or_higher_impl(ExprPosition{});

    OptionalBox<Expr> target;
    if (at(TokenKind::As)) {
        bump(TokenKind::As);
        Expr vars =
            parse_conditional_expression_or_higher_impl(ExprPosition{ExprPosition::STARRED_ALLOWED})
                .expr;
        validate_assignment_target(vars);
        set_expr_ctx(vars, ExprContext::Store);
        target = std::move(vars);
    }
    return ParsedWithItem{
        .item = WithItem{.range = node_range(start),
                         .context_expr = std::move(context.expr),
                         .optional_vars = std::move(target)},
        .in_parentheses = context.in_parentheses,
    };
}

}  // namespace rudo::python_parser
