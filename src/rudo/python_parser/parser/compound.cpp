// The statement level: dispatch of one statement, compound statements and their blocks.
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

using namespace python_ast;

namespace {

constexpr ExprPosition FOR_TARGET{ExprPosition::NO_IN_OPERATOR | ExprPosition::STARRED_ALLOWED};
constexpr ExprPosition FOR_ITER{ExprPosition::STARRED_ALLOWED |
                                ExprPosition::STARRED_AS_BITWISE_OR};

}  // namespace

bool Parser::made_progress(uint32_t& last_token_index) const {
    if (current_token_index() == last_token_index) return false;
    last_token_index = current_token_index();
    return true;
}

// The statement functions keep their frames small and push cold paths into functions of their
// own: every block nesting level stacks a few of these frames.
Stmt Parser::parse_statement() {
    switch (current_token_kind()) {
        case TokenKind::Async:
            return parse_async_statement();
        case TokenKind::At:
            return parse_decorated_definition();
        case TokenKind::If:
            return parse_if_statement();
        case TokenKind::While:
            return parse_while_statement();
        case TokenKind::Try:
            return parse_try_statement();
        case TokenKind::For:
            return parse_for_statement_as_stmt();
        case TokenKind::Class:
        case TokenKind::Def:
        case TokenKind::With:
            return parse_keyword_compound_statement(current_token_range().start());
        case TokenKind::Match:
            return parse_match_or_simple_statement();
        default:
            return parse_statement_level_simple_statement();
    }
}

// The statements whose parsers return their own node type; kept apart so that those nodes take
// no room in the frame of every statement.
[[gnu::noinline]] Stmt Parser::parse_keyword_compound_statement(TextSize start) {
    switch (current_token_kind()) {
        case TokenKind::Class:
            return parse_class_definition({}, start);
        case TokenKind::Def:
            return parse_function_definition({}, start);
        default:
            return parse_with_statement(start);
    }
}

[[gnu::noinline]] Stmt Parser::parse_for_statement_as_stmt() {
    return parse_for_statement(current_token_range().start());
}

// `async` before anything but `def`, `with` or `for` is reported and dropped.
[[gnu::noinline]] Stmt Parser::parse_async_statement() {
    while (at(TokenKind::Async)) {
        TextSize start = current_token_range().start();
        bump(TokenKind::Async);
        switch (current_token_kind()) {
            case TokenKind::With: {
                StmtWith with = parse_with_statement(start);
                with.is_async = true;
                return with;
            }
            case TokenKind::For: {
                StmtFor for_ = parse_for_statement(start);
                for_.is_async = true;
                return for_;
            }
            case TokenKind::Def: {
                StmtFunctionDef def = parse_function_definition({}, start);
                def.is_async = true;
                return def;
            }
            default:
                report<ParseErrorId::UnexpectedTokenAfterAsync>(current_token_range(),
                                                                current_token_kind());
        }
    }
    return parse_statement();
}

[[gnu::noinline]] Stmt Parser::parse_statement_level_simple_statement() {
    Stmt stmt = parse_simple_statement();
    finish_simple_statement();
    return stmt;
}

void Parser::finish_simple_statement() {
    TokenKind kind = current_token_kind();
    if (kind == TokenKind::Newline) {
        bump(TokenKind::Newline);
        return;
    }
    if (kind == TokenKind::Semi) {
        bump(TokenKind::Semi);
        if (at(TokenKind::Newline)) {
            bump(TokenKind::Newline);
        } else if (at_any(COMPOUND_STATEMENT_START) &&
                   (!at(TokenKind::Match) || starts_match_statement())) {
            // `a; match = 1` and `a; match(x)` go on with a simple statement: only a `match`
            // that starts a match statement is the compound one.
            report<ParseErrorId::SimpleAndCompoundStatementOnSameLine>(current_token_range());
        }
        return;
    }
    if (SIMPLE_STATEMENT_START.contains(kind)) {
        report<ParseErrorId::SimpleStatementsOnSameLine>(current_token_range());
    } else if (COMPOUND_STATEMENT_START.contains(kind)) {
        report<ParseErrorId::SimpleAndCompoundStatementOnSameLine>(current_token_range());
    }
}

python_ast::List<Stmt> Parser::parse_body(Clause clause) {
    NestingGuard guard = enter_nesting();
    if (!guard) return {};

    if (!at(TokenKind::Newline)) return parse_same_line_body();
    TextRange newline = current_token_range();
    bump(TokenKind::Newline);
    if (!at(TokenKind::Indent)) {
        report_missing_block(clause, newline);
        return {};
    }
    bump(TokenKind::Indent);
    python_ast::List<Stmt> body = parse_list_into_vec(RecoveryContextKind::BlockStatements);
    expect(TokenKind::Dedent);
    return body;
}

[[gnu::noinline]] void Parser::report_missing_block(Clause clause, TextRange newline) {
    // A dedent or the end of the file has no text of its own: point at the line break.
    TextRange range = current_token_range().is_empty() ? newline : current_token_range();
    report<ParseErrorId::ExpectedIndentedBlock>(range, display(clause));
}

// Simple statements written on the line of the clause's colon.
[[gnu::noinline]] python_ast::List<Stmt> Parser::parse_same_line_body() {
    if (!at_any(SIMPLE_STATEMENT_START)) {
        report<ParseErrorId::ExpectedSimpleStatement>(current_token_range());
        return {};
    }

    auto body = list<Stmt>();
    uint32_t progress = current_token_index();
    while (true) {
        body.push_back(parse_simple_statement());
        if (at(TokenKind::Semi)) {
            bump(TokenKind::Semi);
        } else if (at_any(SIMPLE_STATEMENT_START)) {
            report<ParseErrorId::SimpleStatementsOnSameLine>(current_token_range());
        }
        if (!at_any(SIMPLE_STATEMENT_START) || !made_progress(progress)) break;
    }
    if (at(TokenKind::Newline)) {
        bump(TokenKind::Newline);
    } else if (at_any(COMPOUND_STATEMENT_START)) {
        report<ParseErrorId::SimpleAndCompoundStatementOnSameLine>(current_token_range());
    } else {
        report<ParseErrorId::ExpectedToken>(current_token_range(), TokenKind::Newline,
                                            current_token_kind());
    }
    return body.take();
}

[[gnu::noinline]] Stmt Parser::parse_decorated_definition() {
    TextSize start = current_token_range().start();
    python_ast::List<Decorator> decorators = parse_decorators();
    switch (current_token_kind()) {
        case TokenKind::Async:
            if (peek() == TokenKind::Def) {
                bump(TokenKind::Async);
                StmtFunctionDef def = parse_function_definition(std::move(decorators), start);
                def.is_async = true;
                return def;
            }
            break;
        case TokenKind::Class:
            return parse_class_definition(std::move(decorators), start);
        case TokenKind::Def:
            return parse_function_definition(std::move(decorators), start);
        default:
            break;
    }
    return parse_undecorated_remainder(std::move(decorators), start);
}

[[gnu::noinline]] python_ast::List<Decorator> Parser::parse_decorators() {
    auto decorators = list<Decorator>();
    do {
        TextSize start = current_token_range().start();
        bump(TokenKind::At);
        Expr expression = [&]() -> Expr {
            if (at(TokenKind::Def) || at(TokenKind::Class)) {
                Identifier missing = parse_missing_identifier();
                return ExprName{
                    .range = missing.range, .id = missing.id, .ctx = ExprContext::Invalid};
            }
            return parse_named_expression_or_higher(ExprPosition{}).expr;
        }();
        decorators.push_back(
            Decorator{.range = node_range(start), .expression = std::move(expression)});
        expect(TokenKind::Newline);
    } while (at(TokenKind::At));
    return decorators.take();
}

// Decorators followed by something that is no definition: a nameless function keeps them, and
// the current token starts the next statement.
[[gnu::noinline]] Stmt Parser::parse_undecorated_remainder(python_ast::List<Decorator> decorators,
                                                           TextSize start) {
    report<ParseErrorId::ExpectedDefinitionAfterDecorator>(current_token_range());
    TextRange empty = TextRange::empty(prev_token_end());
    return StmtFunctionDef{.range = node_range(start),
                           .is_async = false,
                           .decorator_list = std::move(decorators),
                           .name = Identifier{.range = empty},
                           .parameters = Parameters{.range = empty}};
}

Stmt Parser::parse_if_statement() {
    TextSize start = current_token_range().start();
    bump(TokenKind::If);
    StmtIf node;
    node.test = parse_clause_test();
    expect(TokenKind::Colon);
    node.body = parse_body(Clause::If);
    parse_elif_else_clauses(node.elif_else_clauses);
    node.range = node_range(start);
    return node;
}

// The test of an `if`, `elif` or `while`.
[[gnu::noinline]] Box<Expr> Parser::parse_clause_test() {
    return parse_named_expression_or_higher(ExprPosition{}).expr;
}

[[gnu::noinline]] void Parser::parse_elif_else_clauses(python_ast::List<ElifElseClause>& clauses) {
    // Lists nested in the clause bodies end at the next `elif` or `else`.
    RecoveryContext saved = recovery_context();
    set_recovery_context(saved | recovery_flag(RecoveryContextKind::Elif));
    auto gathered = list<ElifElseClause>();
    while (at(TokenKind::Elif))
        gathered.push_back(parse_elif_or_else_clause(ElifOrElse::Elif));
    set_recovery_context(saved);
    if (at(TokenKind::Else)) gathered.push_back(parse_elif_or_else_clause(ElifOrElse::Else));
    clauses = gathered.take();
}

ElifElseClause Parser::parse_elif_or_else_clause(ElifOrElse which) {
    TextSize start = current_token_range().start();
    OptionalBox<Expr> test;
    if (which == ElifOrElse::Elif) {
        bump(TokenKind::Elif);
        test = parse_clause_test();
    } else {
        bump(TokenKind::Else);
    }
    expect(TokenKind::Colon);
    python_ast::List<Stmt> body =
        parse_body(which == ElifOrElse::Elif ? Clause::Elif : Clause::Else);
    return ElifElseClause{
        .range = node_range(start), .test = std::move(test), .body = std::move(body)};
}

python_ast::List<Stmt> Parser::parse_else_block() {
    if (!at(TokenKind::Else)) return {};
    bump(TokenKind::Else);
    expect(TokenKind::Colon);
    return parse_body(Clause::Else);
}

Stmt Parser::parse_while_statement() {
    TextSize start = current_token_range().start();
    bump(TokenKind::While);
    StmtWhile node;
    node.test = parse_clause_test();
    expect(TokenKind::Colon);
    node.body = parse_body(Clause::While);
    node.orelse = parse_else_block();
    node.range = node_range(start);
    return node;
}

StmtFor Parser::parse_for_statement(TextSize start) {
    bump(TokenKind::For);
    StmtFor node;
    node.target = parse_for_target();
    expect(TokenKind::In);
    node.iter = parse_expression_list(FOR_ITER).expr;
    expect(TokenKind::Colon);
    node.body = parse_body(Clause::For);
    node.orelse = parse_else_block();
    node.range = node_range(start);
    return node;
}

[[gnu::noinline]] Expr Parser::parse_for_target() {
    Expr target = parse_expression_list(FOR_TARGET).expr;
    set_expr_ctx(target, ExprContext::Store);
    validate_assignment_target(target);
    return target;
}

Stmt Parser::parse_try_statement() {
    TextSize start = current_token_range().start();
    bump(TokenKind::Try);
    expect(TokenKind::Colon);
    StmtTry node;
    node.body = parse_body(Clause::Try);
    node.is_star = parse_except_handlers(node.handlers);
    node.orelse = parse_else_block();
    bool has_finally = at(TokenKind::Finally);
    if (has_finally) {
        bump(TokenKind::Finally);
        expect(TokenKind::Colon);
        node.finalbody = parse_body(Clause::Finally);
        if (at(TokenKind::Else)) report<ParseErrorId::ElseAfterFinally>(current_token_range());
    }
    if (!has_finally && node.handlers.empty())
        report<ParseErrorId::ExpectedExceptOrFinally>(current_token_range());
    node.range = node_range(start);
    return node;
}

// The handlers of one `try`; whether they are `except*` handlers, as the first one decides.
[[gnu::noinline]] bool Parser::parse_except_handlers(python_ast::List<ExceptHandler>& handlers) {
    bool is_star = false;
    std::vector<TextRange> mixed;  // handlers of the other kind than the first one
    // Lists nested in the handler bodies end at the next `except`, `else` or `finally`.
    RecoveryContext saved = recovery_context();
    set_recovery_context(saved | recovery_flag(RecoveryContextKind::Except));
    auto gathered = list<ExceptHandler>();
    while (at(TokenKind::Except)) {
        bool star = false;
        gathered.push_back(parse_except_handler(star));
        if (gathered.size() == 1) {
            is_star = star;
        } else if (star != is_star) {
            mixed.push_back(python_ast::range(gathered.back()));
        }
    }
    handlers = gathered.take();
    set_recovery_context(saved);
    for (TextRange handler : mixed)
        report<ParseErrorId::MixedExceptAndExceptStar>(handler);
    return is_star;
}

ExceptHandler Parser::parse_except_handler(bool& star) {
    TextSize start = current_token_range().start();
    bump(TokenKind::Except);
    star = at(TokenKind::Star);
    if (star) bump(TokenKind::Star);
    ExceptHandlerExceptHandler node;
    parse_except_clause_head(star, node);
    expect(TokenKind::Colon);
    node.body = parse_body(Clause::Except);
    node.range = node_range(start);
    return node;
}

// The exception types and the name of a handler, up to its colon.
[[gnu::noinline]] void Parser::parse_except_clause_head(bool star,
                                                        ExceptHandlerExceptHandler& node) {
    if (at_expr()) {
        Expr types = parse_expression_list(ExprPosition{}).expr;
        if (at(TokenKind::As)) {
            const auto* tuple = types.as<ExprTuple>();
            if (tuple && !tuple->parenthesized)
                report<ParseErrorId::UnparenthesizedExceptionTypesWithAs>(types.range());
        }
        node.type = std::move(types);
    } else if (star || at(TokenKind::As)) {
        report<ParseErrorId::ExpectedOneOrMoreExceptionTypes>(current_token_range());
    }

    if (at(TokenKind::As)) {
        bump(TokenKind::As);
        if (at(TokenKind::Name) || at_soft_keyword()) {
            node.name = parse_identifier();
        } else {
            report<ParseErrorId::ExpectedNameAfterAs>(current_token_range());
        }
    }
}

// What the two tokens after `match` make of it, before anything is parsed.
Parser::MatchDecision Parser::match_decision() {
    auto [first, second] = peek2();
    switch (first) {
        case TokenKind::Name:
        case TokenKind::Int:
        case TokenKind::Float:
        case TokenKind::Complex:
        case TokenKind::String:
        case TokenKind::FStringStart:
        case TokenKind::TStringStart:
        case TokenKind::Lbrace:
        case TokenKind::Tilde:
        case TokenKind::Ellipsis:
        case TokenKind::Await:
        case TokenKind::Lambda:
        case TokenKind::Yield:
        case TokenKind::False:
        case TokenKind::None:
        case TokenKind::True:
        case TokenKind::Case:
        case TokenKind::Match:
        case TokenKind::Type:
            return MatchDecision::MatchStatement;
        case TokenKind::Not:
            return second == TokenKind::In ? MatchDecision::SimpleStatement
                                           : MatchDecision::MatchStatement;
        case TokenKind::Lpar:
        case TokenKind::Lsqb:
        case TokenKind::Plus:
        case TokenKind::Minus:
        case TokenKind::Star:
            return MatchDecision::Speculate;
        default:
            return MatchDecision::SimpleStatement;
    }
}

// Whether the `match` at the current token starts a match statement; nothing is consumed.
[[gnu::noinline]] bool Parser::starts_match_statement() {
    switch (match_decision()) {
        case MatchDecision::MatchStatement:
            return true;
        case MatchDecision::SimpleStatement:
            return false;
        case MatchDecision::Speculate:
            break;
    }
    ParserCheckpoint checkpoint = this->checkpoint();
    StmtMatch head;
    if (!try_parse_match_head(head)) return false;
    rewind(std::move(checkpoint));
    return true;
}

[[gnu::noinline]] Stmt Parser::parse_match_or_simple_statement() {
    TextSize start = current_token_range().start();
    switch (match_decision()) {
        case MatchDecision::MatchStatement: {
            bump(TokenKind::Match);
            StmtMatch node;
            node.subject = parse_match_subject_expression();
            expect(TokenKind::Colon);
            node.cases = parse_match_body();
            node.range = node_range(start);
            return node;
        }
        case MatchDecision::SimpleStatement:
            return parse_statement_level_simple_statement();
        case MatchDecision::Speculate:
            break;
    }
    StmtMatch node;
    if (!try_parse_match_head(node)) return parse_statement_level_simple_statement();
    node.cases = parse_match_body();
    node.range = node_range(start);
    return node;
}

// `match` followed by `(`, `[`, `+`, `-` or `*`: a match statement only when its subject is
// followed by the `:` and line break of a block (or by an indented `case`). Only the subject is
// parsed before the decision, never a block, so nothing large is ever parsed twice; a failed
// attempt leaves tokens, errors and lexer state as they were.
[[gnu::noinline]] bool Parser::try_parse_match_head(StmtMatch& node) {
    ParserCheckpoint checkpoint = this->checkpoint();
    bump(TokenKind::Match);
    Expr subject = parse_match_subject_expression();
    bool is_match = false;
    if (at(TokenKind::Newline)) {
        auto [next, after] = peek2();
        if (next == TokenKind::Indent && after == TokenKind::Case) {
            report<ParseErrorId::ExpectedToken>(current_token_range(), TokenKind::Colon,
                                                TokenKind::Newline);
            is_match = true;
        }
    } else if (at(TokenKind::Colon) && peek() == TokenKind::Newline) {
        bump(TokenKind::Colon);
        is_match = true;
    }
    if (!is_match) {
        rewind(std::move(checkpoint));
        return false;
    }
    node.subject = std::move(subject);
    return true;
}

}  // namespace rudo::python_parser
