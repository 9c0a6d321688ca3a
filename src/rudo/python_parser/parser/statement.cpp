// Statements that fit on one logical line: expression statements, assignments, imports and
// the keyword statements.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

using namespace python_ast;

namespace {

// Every side of `=` and the value of an annotated or augmented assignment.
constexpr ExprPosition STATEMENT_EXPRESSION{ExprPosition::STARRED_ALLOWED |
                                            ExprPosition::STARRED_AS_BITWISE_OR |
                                            ExprPosition::YIELD_ALLOWED};
// `return *a, b` is fine; `return yield` is not.
constexpr ExprPosition RETURN_VALUE{ExprPosition::STARRED_ALLOWED |
                                    ExprPosition::STARRED_AS_BITWISE_OR};

struct AugmentedOperator {
    TokenKind token;
    Operator op;
};

constexpr AugmentedOperator AUGMENTED_ASSIGNMENT_OPERATORS[] = {
    {TokenKind::PlusEqual, Operator::Add},
    {TokenKind::MinusEqual, Operator::Sub},
    {TokenKind::StarEqual, Operator::Mult},
    {TokenKind::AtEqual, Operator::MatMult},
    {TokenKind::SlashEqual, Operator::Div},
    {TokenKind::PercentEqual, Operator::Mod},
    {TokenKind::DoubleStarEqual, Operator::Pow},
    {TokenKind::LeftShiftEqual, Operator::LShift},
    {TokenKind::RightShiftEqual, Operator::RShift},
    {TokenKind::VbarEqual, Operator::BitOr},
    {TokenKind::CircumflexEqual, Operator::BitXor},
    {TokenKind::AmperEqual, Operator::BitAnd},
    {TokenKind::DoubleSlashEqual, Operator::FloorDiv},
};

std::optional<Operator> augmented_operator(TokenKind kind) {
    for (const AugmentedOperator& entry : AUGMENTED_ASSIGNMENT_OPERATORS)
        if (entry.token == kind) return entry.op;
    return std::nullopt;
}

bool is_name_or_soft_keyword(TokenKind kind) {
    return kind == TokenKind::Name || is_soft_keyword(kind);
}

bool is_unparenthesized_tuple(const Expr& expr) {
    const auto* tuple = expr.as<ExprTuple>();
    return tuple && !tuple->parenthesized;
}

}  // namespace

Stmt Parser::parse_simple_statement() {
    switch (current_token_kind()) {
        case TokenKind::Pass:
            return parse_keyword_statement<StmtPass>(TokenKind::Pass);
        case TokenKind::Break:
            return parse_keyword_statement<StmtBreak>(TokenKind::Break);
        case TokenKind::Continue:
            return parse_keyword_statement<StmtContinue>(TokenKind::Continue);
        case TokenKind::Return:
            return parse_return_statement();
        case TokenKind::Raise:
            return parse_raise_statement();
        case TokenKind::Assert:
            return parse_assert_statement();
        case TokenKind::Del:
            return parse_delete_statement();
        case TokenKind::Global:
            return parse_global_statement();
        case TokenKind::Nonlocal:
            return parse_nonlocal_statement();
        case TokenKind::Import:
            return parse_import_statement();
        case TokenKind::From:
            return parse_from_import_statement();
        case TokenKind::Type:
            if (at_type_alias_start()) return parse_type_alias_statement();
            return parse_expression_or_assignment_statement();
        default:
            return parse_expression_or_assignment_statement();
    }
}

template <typename Node>
Stmt Parser::parse_keyword_statement(TokenKind keyword) {
    TextSize start = current_token_range().start();
    bump(keyword);
    return Node{.range = node_range(start)};
}

Stmt Parser::parse_return_statement() {
    TextSize start = current_token_range().start();
    bump(TokenKind::Return);
    OptionalBox<Expr> value;
    if (at_expr()) {
        value = parse_expression_list(RETURN_VALUE).expr;
    }
    return StmtReturn{.range = node_range(start), .value = std::move(value)};
}

Expr Parser::parse_raise_operand() {
    Expr expr = parse_expression_list(ExprPosition{}).expr;
    if (is_unparenthesized_tuple(expr))
        report<ParseErrorId::UnparenthesizedTupleExpression>(expr.range());
    return expr;
}

Stmt Parser::parse_raise_statement() {
    TextSize start = current_token_range().start();
    bump(TokenKind::Raise);
    OptionalBox<Expr> exc;
    OptionalBox<Expr> cause;
    // A bare `raise` ends at its line's end or at a `;` (`raise; x = 1` is two statements).
    if (!at(TokenKind::Newline) && !at(TokenKind::Semi)) {
        if (at(TokenKind::From)) {
            report<ParseErrorId::RaiseCauseWithoutException>(current_token_range());
        } else {
            exc = parse_raise_operand();
        }
        if (at(TokenKind::From)) {
            bump(TokenKind::From);
            cause = parse_raise_operand();
        }
    }
    return StmtRaise{.range = node_range(start), .exc = std::move(exc), .cause = std::move(cause)};
}

Stmt Parser::parse_assert_statement() {
    TextSize start = current_token_range().start();
    bump(TokenKind::Assert);
    Expr test = parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
    OptionalBox<Expr> msg;
    if (at(TokenKind::Comma)) {
        bump(TokenKind::Comma);
        if (at_expr()) {
            msg = parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
        } else {
            report<ParseErrorId::ExpectedExpression>(current_token_range());
        }
    }
    return StmtAssert{.range = node_range(start), .test = std::move(test), .msg = std::move(msg)};
}

Stmt Parser::parse_delete_statement() {
    TextSize start = current_token_range().start();
    bump(TokenKind::Del);
    auto targets = list<Expr>();
    parse_comma_separated_list(RecoveryContextKind::DeleteTargets, [&] {
        Expr target =
            parse_conditional_expression_or_higher_impl(ExprPosition{ExprPosition::STARRED_ALLOWED})
                .expr;
        set_expr_ctx(target, ExprContext::Del);
        validate_delete_target(target);
        targets.push_back(std::move(target));
    });
    if (targets.empty()) report<ParseErrorId::EmptyDeleteTargets>(current_token_range());
    return StmtDelete{.range = node_range(start), .targets = targets.take()};
}

python_ast::List<Identifier> Parser::parse_identifier_list() {
    auto names = list<Identifier>();
    parse_comma_separated_list(RecoveryContextKind::Identifiers,
                               [&] { names.push_back(parse_identifier()); });
    return names.take();
}

Stmt Parser::parse_global_statement() {
    TextSize start = current_token_range().start();
    bump(TokenKind::Global);
    python_ast::List<Identifier> names = parse_identifier_list();
    if (names.empty()) report<ParseErrorId::EmptyGlobalNames>(current_token_range());
    return StmtGlobal{.range = node_range(start), .names = std::move(names)};
}

Stmt Parser::parse_nonlocal_statement() {
    TextSize start = current_token_range().start();
    bump(TokenKind::Nonlocal);
    python_ast::List<Identifier> names = parse_identifier_list();
    if (names.empty()) report<ParseErrorId::EmptyNonlocalNames>(current_token_range());
    return StmtNonlocal{.range = node_range(start), .names = std::move(names)};
}

Stmt Parser::parse_import_statement() {
    TextSize start = current_token_range().start();
    bump(TokenKind::Import);
    auto names = list<Alias>();
    // The list itself reports a trailing comma: this list kind does not allow one.
    parse_comma_separated_list(RecoveryContextKind::ImportNames,
                               [&] { names.push_back(parse_alias(AliasStyle::Dotted)); });
    if (names.empty()) report<ParseErrorId::EmptyImportNames>(current_token_range());
    return StmtImport{.range = node_range(start), .names = names.take()};
}

Stmt Parser::parse_from_import_statement() {
    TextSize start = current_token_range().start();
    bump(TokenKind::From);

    uint32_t level = 0;
    while (at(TokenKind::Dot) || at(TokenKind::Ellipsis)) {
        level += at(TokenKind::Dot) ? 1 : 3;
        bump_any();
    }

    std::optional<Identifier> module;
    if (is_name_or_soft_keyword(current_token_kind())) {
        module = parse_dotted_name();
    } else if (level == 0) {
        report<ParseErrorId::ExpectedModuleName>(current_token_range());
    }

    expect(TokenKind::Import);

    TextSize names_start = current_token_range().start();
    bool parenthesized = at(TokenKind::Lpar);
    if (parenthesized) bump(TokenKind::Lpar);

    auto names = list<Alias>();
    bool has_star = false;
    parse_comma_separated_list(import_from_as_names_kind(parenthesized), [&] {
        names.push_back(parse_alias(AliasStyle::SingleName));
        if (names.back().name.as_str() == "*") has_star = true;
    });

    if (names.empty()) report<ParseErrorId::EmptyImportNames>(current_token_range());
    if (has_star && names.size() >= 2) {
        report<ParseErrorId::StarImportNotAlone>(TextRange(names_start, prev_token_end()));
    }
    if (parenthesized) expect(TokenKind::Rpar);

    return StmtImportFrom{.range = node_range(start),
                          .module = std::move(module),
                          .names = names.take(),
                          .level = level};
}

Alias Parser::parse_alias(AliasStyle style) {
    TextSize start = current_token_range().start();
    if (at(TokenKind::Star)) {
        TextRange range = current_token_range();
        bump(TokenKind::Star);
        return Alias{.range = range, .name = Identifier{.id = Name("*"), .range = range}};
    }
    Identifier name = style == AliasStyle::Dotted ? parse_dotted_name() : parse_identifier();
    std::optional<Identifier> asname;
    if (at(TokenKind::As)) {
        bump(TokenKind::As);
        if (is_name_or_soft_keyword(current_token_kind())) {
            asname = parse_identifier();
        } else {
            report<ParseErrorId::ExpectedSymbolAfterAs>(current_token_range());
        }
    }
    return Alias{.range = node_range(start), .name = std::move(name), .asname = std::move(asname)};
}

Identifier Parser::parse_dotted_name() {
    TextSize start = current_token_range().start();
    Identifier first = parse_identifier();
    if (!at(TokenKind::Dot)) return first;
    std::string text(first.as_str());
    while (at(TokenKind::Dot)) {
        bump(TokenKind::Dot);
        text += '.';
        text += parse_identifier().as_str();
    }
    return Identifier{.id = Name(text), .range = node_range(start)};
}

bool Parser::at_type_alias_start() {
    auto [next, after] = peek2();
    return is_name_or_soft_keyword(next) && (after == TokenKind::Equal || after == TokenKind::Lsqb);
}

Stmt Parser::parse_type_alias_statement() {
    TextSize start = current_token_range().start();
    bump(TokenKind::Type);
    Identifier identifier = parse_identifier();
    Expr name = ExprName{.range = identifier.range, .id = identifier.id, .ctx = ExprContext::Load};
    set_expr_ctx(name, ExprContext::Store);
    OptionalBox<TypeParams> type_params;
    if (std::optional<TypeParams> params = try_parse_type_params())
        type_params = std::move(*params);
    expect(TokenKind::Equal);
    Expr value = parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
    return StmtTypeAlias{.range = node_range(start),
                         .name = std::move(name),
                         .type_params = std::move(type_params),
                         .value = std::move(value)};
}

Stmt Parser::parse_expression_or_assignment_statement() {
    TextSize start = current_token_range().start();
    ExprWithParens first = parse_expression_list(STATEMENT_EXPRESSION);

    if (at(TokenKind::Colon)) return parse_annotated_assignment(start, std::move(first));
    if (at(TokenKind::Equal)) return parse_assignment(start, std::move(first.expr));
    if (std::optional<Operator> op = augmented_operator(current_token_kind()))
        return parse_augmented_assignment(start, std::move(first.expr), *op);
    return StmtExpr{.range = node_range(start), .value = std::move(first.expr)};
}

Stmt Parser::parse_annotated_assignment(TextSize start, ExprWithParens target) {
    bump(TokenKind::Colon);
    Expr& expr = target.expr;
    if (expr.is<ExprList>()) {
        report<ParseErrorId::AnnotatedList>(expr.range());
    } else if (expr.is<ExprTuple>()) {
        report<ParseErrorId::AnnotatedTuple>(expr.range());
    } else if (!expr.is<ExprName>() && !expr.is<ExprAttribute>() && !expr.is<ExprSubscript>()) {
        report<ParseErrorId::InvalidAnnotatedAssignmentTarget>(expr.range());
    }
    set_expr_ctx(expr, ExprContext::Store);

    Expr annotation = parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;

    OptionalBox<Expr> value;
    if (at(TokenKind::Equal)) {
        bump(TokenKind::Equal);
        if (at_expr()) {
            value = parse_expression_list(STATEMENT_EXPRESSION).expr;
        } else {
            report<ParseErrorId::ExpectedExpression>(current_token_range());
        }
    }
    bool simple = expr.is<ExprName>() && !target.in_parentheses;
    return StmtAnnAssign{.range = node_range(start),
                         .target = std::move(expr),
                         .annotation = std::move(annotation),
                         .value = std::move(value),
                         .simple = simple};
}

Stmt Parser::parse_assignment(TextSize start, Expr&& first) {
    bump(TokenKind::Equal);
    auto gathered = list<Expr>();
    gathered.push_back(std::move(first));
    Expr value = parse_expression_list(STATEMENT_EXPRESSION).expr;
    if (at(TokenKind::Equal)) {
        parse_list(RecoveryContextKind::AssignmentTargets, [&] {
            bump(TokenKind::Equal);
            Expr next = parse_expression_list(STATEMENT_EXPRESSION).expr;
            gathered.push_back(std::move(value));
            value = std::move(next);
        });
    }
    python_ast::List<Expr> targets = gathered.take();
    // Targets are checked once the whole chain is read.
    for (Expr& target : targets) {
        set_expr_ctx(target, ExprContext::Store);
        validate_assignment_target(target);
    }
    return StmtAssign{
        .range = node_range(start), .targets = std::move(targets), .value = std::move(value)};
}

Stmt Parser::parse_augmented_assignment(TextSize start, Expr&& target, Operator op) {
    bump_any();
    if (!target.is<ExprName>() && !target.is<ExprAttribute>() && !target.is<ExprSubscript>()) {
        report<ParseErrorId::InvalidAugmentedAssignmentTarget>(target.range());
    }
    set_expr_ctx(target, ExprContext::Store);
    Expr value = parse_expression_list(STATEMENT_EXPRESSION).expr;
    return StmtAugAssign{.range = node_range(start),
                         .target = std::move(target),
                         .op = op,
                         .value = std::move(value)};
}

}  // namespace rudo::python_parser
