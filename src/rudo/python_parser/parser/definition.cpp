// Function and class definitions, parameter lists and type-parameter lists.
#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

using namespace python_ast;

namespace {
constexpr ExprPosition STARRED_OPERAND{ExprPosition::STARRED_ALLOWED |
                                       ExprPosition::STARRED_AS_BITWISE_OR};
}  // namespace

// What one parameter list has seen so far; decides where each parameter goes and which
// ordering errors it earns.
struct Parser::ParameterListState {
    bool default_seen = false;
    bool slash_seen = false;
    bool bare_star_seen = false;
    bool keyword_only_after_bare_star = false;
    bool bare_star_pending = false;
    TextRange bare_star_range{};
};

StmtFunctionDef Parser::parse_function_definition(python_ast::List<Decorator> decorator_list,
                                                  TextSize start) {
    bump(TokenKind::Def);
    Identifier name = parse_identifier();
    OptionalBox<TypeParams> type_params;
    if (std::optional<TypeParams> parsed = try_parse_type_params())
        type_params = std::move(*parsed);
    Parameters parameters = parse_parameters(FunctionKind::FunctionDef);

    OptionalBox<Expr> returns;
    if (at(TokenKind::Rarrow)) {
        bump(TokenKind::Rarrow);
        if (at_expr()) {
            Expr annotation = parse_expression_list(ExprPosition{}).expr;
            if (const auto* tuple = annotation.as<ExprTuple>(); tuple && !tuple->parenthesized) {
                report<ParseErrorId::UnparenthesizedReturnTypes>(tuple->range);
            }
            returns = std::move(annotation);
        } else {
            report<ParseErrorId::ExpectedExpression>(current_token_range());
        }
    }

    expect(TokenKind::Colon);
    python_ast::List<Stmt> body = parse_body(Clause::FunctionDef);
    return StmtFunctionDef{.range = node_range(start),
                           .is_async = false,
                           .decorator_list = std::move(decorator_list),
                           .name = std::move(name),
                           .type_params = std::move(type_params),
                           .parameters = std::move(parameters),
                           .returns = std::move(returns),
                           .body = std::move(body)};
}

StmtClassDef Parser::parse_class_definition(python_ast::List<Decorator> decorator_list,
                                            TextSize start) {
    bump(TokenKind::Class);
    Identifier name = parse_identifier();
    OptionalBox<TypeParams> type_params;
    if (std::optional<TypeParams> parsed = try_parse_type_params())
        type_params = std::move(*parsed);
    OptionalBox<Arguments> arguments;
    if (at(TokenKind::Lpar)) arguments = parse_arguments();
    expect(TokenKind::Colon);
    python_ast::List<Stmt> body = parse_body(Clause::Class);
    return StmtClassDef{.range = node_range(start),
                        .decorator_list = std::move(decorator_list),
                        .name = std::move(name),
                        .type_params = std::move(type_params),
                        .arguments = std::move(arguments),
                        .body = std::move(body)};
}

Parameters Parser::parse_parameters(FunctionKind kind) {
    TextSize start = current_token_range().start();
    if (kind == FunctionKind::FunctionDef) expect(TokenKind::Lpar);

    Parameters parameters;
    ParameterListState state;
    parse_comma_separated_list(parameters_kind(kind),
                               [&] { parse_parameter_list_element(kind, parameters, state); });

    if (state.bare_star_pending) {
        report<ParseErrorId::ExpectedKeywordParameterAfterStar>(state.bare_star_range);
    }
    if (kind == FunctionKind::FunctionDef) expect(TokenKind::Rpar);
    parameters.range = node_range(start);
    return parameters;
}

void Parser::parse_parameter_list_element(FunctionKind kind, Parameters& parameters,
                                          ParameterListState& state) {
    TextRange first = current_token_range();
    if (parameters.kwarg) report<ParseErrorId::ParameterAfterVarKeyword>(first);

    switch (current_token_kind()) {
        case TokenKind::Slash: {
            bump(TokenKind::Slash);
            bool nothing_yet = parameters.posonlyargs.empty() && parameters.args.empty() &&
                               parameters.kwonlyargs.empty() && !parameters.vararg &&
                               !parameters.kwarg;
            if (nothing_yet) {
                report<ParseErrorId::SlashAsFirstParameter>(first);
            }
            if (state.slash_seen) {
                report<ParseErrorId::RepeatedSlash>(first);
            }
            if (state.bare_star_seen || parameters.vararg) {
                report<ParseErrorId::SlashAfterStar>(first);
            }
            // Only the first `/` turns what came before it positional-only.
            if (!state.slash_seen) std::swap(parameters.posonlyargs, parameters.args);
            state.slash_seen = true;
            state.bare_star_pending = false;
            return;
        }
        case TokenKind::Star: {
            TokenKind next = peek();
            if (next == TokenKind::Name || is_soft_keyword(next)) {
                TextSize star = first.start();
                bump(TokenKind::Star);
                Parameter parameter =
                    parse_parameter(star, kind, /*allow_starred_annotation=*/true);
                TextRange whole = node_range(star);
                if (at(TokenKind::Equal)) {
                    report<ParseErrorId::VarParameterWithDefault>(current_token_range());
                }
                if (state.bare_star_seen || parameters.vararg) {
                    report<ParseErrorId::RepeatedStarParameter>(whole);
                }
                // A duplicate `*args` is dropped; the first one stays.
                if (!parameters.vararg) parameters.vararg = std::move(parameter);
                state.bare_star_pending = false;
                return;
            }
            bump(TokenKind::Star);
            if (state.bare_star_seen) {
                report<ParseErrorId::RepeatedStarSeparator>(first);
            }
            if (parameters.vararg) {
                report<ParseErrorId::StarSeparatorAfterStarParameter>(first);
            }
            state.bare_star_seen = true;
            state.bare_star_pending = true;
            state.bare_star_range = first;
            return;
        }
        case TokenKind::DoubleStar: {
            TextSize stars = first.start();
            bump(TokenKind::DoubleStar);
            Parameter parameter = parse_parameter(stars, kind, /*allow_starred_annotation=*/false);
            TextRange whole = node_range(stars);
            if (parameters.kwarg) {
                report<ParseErrorId::RepeatedDoubleStarParameter>(whole);
            }
            if (at(TokenKind::Equal)) {
                report<ParseErrorId::VarParameterWithDefault>(current_token_range());
            }
            if (state.bare_star_seen && !state.keyword_only_after_bare_star) {
                report<ParseErrorId::ExpectedKeywordParameterAfterStar>(whole);
            }
            parameters.kwarg = std::move(parameter);
            state.bare_star_pending = false;
            return;
        }
        default:
            break;
    }

    // A name or soft keyword: the list only calls in for those besides the cases above.
    TextSize start = first.start();
    Parameter parameter = parse_parameter(start, kind, /*allow_starred_annotation=*/false);
    OptionalBox<Expr> default_value;
    if (at(TokenKind::Equal)) {
        bump(TokenKind::Equal);
        if (at_expr()) {
            default_value = parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
        } else {
            report<ParseErrorId::ExpectedExpression>(current_token_range());
        }
    }
    bool has_default = static_cast<bool>(default_value);
    ParameterWithDefault with_default{.range = node_range(start),
                                      .parameter = std::move(parameter),
                                      .default_ = std::move(default_value)};
    if (state.bare_star_seen) {
        parameters.kwonlyargs.push_back(std::move(with_default));
        state.keyword_only_after_bare_star = true;
    } else if (parameters.vararg) {
        parameters.kwonlyargs.push_back(std::move(with_default));
    } else {
        if (!has_default && state.default_seen) {
            report<ParseErrorId::NonDefaultParameterAfterDefault>(with_default.range);
        }
        parameters.args.push_back(std::move(with_default));
    }
    if (has_default) state.default_seen = true;
    state.bare_star_pending = false;
}

Parameter Parser::parse_parameter(TextSize start, FunctionKind kind,
                                  bool allow_starred_annotation) {
    Identifier name = parse_identifier();
    OptionalBox<Expr> annotation;
    // A lambda's `:` ends its parameters; only a definition annotates them.
    if (kind == FunctionKind::FunctionDef && at(TokenKind::Colon)) {
        bump(TokenKind::Colon);
        if (at_expr()) {
            ExprPosition flags = allow_starred_annotation ? STARRED_OPERAND : ExprPosition{};
            annotation = parse_conditional_expression_or_higher_impl(flags).expr;
        } else {
            report<ParseErrorId::ExpectedExpression>(current_token_range());
        }
    }
    return Parameter{
        .range = node_range(start), .name = std::move(name), .annotation = std::move(annotation)};
}

std::optional<TypeParams> Parser::try_parse_type_params() {
    if (!at(TokenKind::Lsqb)) return std::nullopt;
    TextSize start = current_token_range().start();
    bump(TokenKind::Lsqb);

    auto type_params = list<TypeParam>();
    parse_comma_separated_list(RecoveryContextKind::TypeParams,
                               [&] { type_params.push_back(parse_type_param()); });

    if (type_params.empty()) report<ParseErrorId::EmptyTypeParams>(current_token_range());
    expect(TokenKind::Rsqb);
    return TypeParams{.range = node_range(start), .type_params = type_params.take()};
}

TypeParam Parser::parse_type_param() {
    TextSize start = current_token_range().start();

    // The default of a type parameter, or nothing with an error when no expression starts.
    auto parse_default = [&](ExprPosition flags) -> OptionalBox<Expr> {
        if (!at(TokenKind::Equal)) return {};
        bump(TokenKind::Equal);
        if (!at_expr()) {
            report<ParseErrorId::ExpectedExpression>(current_token_range());
            return {};
        }
        return parse_conditional_expression_or_higher_impl(flags).expr;
    };

    if (at(TokenKind::Star)) {
        bump(TokenKind::Star);
        Identifier name = parse_identifier();
        // `*Ts = *tuple[int, ...]` unpacks its default.
        OptionalBox<Expr> default_value = parse_default(STARRED_OPERAND);
        return TypeParamTypeVarTuple{.range = node_range(start),
                                     .name = std::move(name),
                                     .default_ = std::move(default_value)};
    }
    if (at(TokenKind::DoubleStar)) {
        bump(TokenKind::DoubleStar);
        Identifier name = parse_identifier();
        OptionalBox<Expr> default_value = parse_default(ExprPosition{});
        return TypeParamParamSpec{.range = node_range(start),
                                  .name = std::move(name),
                                  .default_ = std::move(default_value)};
    }

    Identifier name = parse_identifier();
    OptionalBox<Expr> bound;
    if (at(TokenKind::Colon)) {
        bump(TokenKind::Colon);
        if (at_expr()) {
            bound = parse_conditional_expression_or_higher_impl(ExprPosition{}).expr;
        } else {
            report<ParseErrorId::ExpectedExpression>(current_token_range());
        }
    }
    OptionalBox<Expr> default_value = parse_default(ExprPosition{});
    return TypeParamTypeVar{.range = node_range(start),
                            .name = std::move(name),
                            .bound = std::move(bound),
                            .default_ = std::move(default_value)};
}

}  // namespace rudo::python_parser
