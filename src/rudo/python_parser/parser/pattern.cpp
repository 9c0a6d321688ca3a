// `match` subjects, `case` blocks and the pattern grammar.
#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

using namespace python_ast;

namespace {
constexpr auto STAR_ALLOWED = Parser::AllowStarPattern::Yes;
constexpr auto STAR_NOT_ALLOWED = Parser::AllowStarPattern::No;
}  // namespace

namespace {

bool is_star(const Pattern& pattern) {
    return pattern.is<PatternMatchStar>();
}

// A capture pattern `x`: a name and no sub-pattern.
const Identifier* capture_name(const Pattern& pattern) {
    const auto* as = pattern.as<PatternMatchAs>();
    if (!as || as->pattern || !as->name) return nullptr;
    return &*as->name;
}

bool is_wildcard(const Pattern& pattern) {
    const auto* as = pattern.as<PatternMatchAs>();
    return as && !as->pattern && !as->name;
}

Expr name_expr(Name id, TextRange range, ExprContext ctx) {
    return ExprName{.range = range, .id = std::move(id), .ctx = ctx};
}

// The real part of a complex literal: a number that is not complex, under any signs.
bool is_real_number(const Pattern& pattern) {
    const auto* value = pattern.as<PatternMatchValue>();
    if (!value) return false;
    const Expr* expr = value->value.get();
    while (const auto* unary = expr->as<ExprUnaryOp>()) {
        if (unary->op != UnaryOp::UAdd && unary->op != UnaryOp::USub) return false;
        expr = unary->operand.get();
    }
    const auto* number = expr->as<ExprNumberLiteral>();
    return number && !number->value.as_complex();
}

bool is_imaginary_number(const Pattern& pattern) {
    const auto* value = pattern.as<PatternMatchValue>();
    if (!value) return false;
    const auto* number = value->value->as<ExprNumberLiteral>();
    return number && number->value.as_complex();
}

}  // namespace

Expr Parser::parse_match_subject_expression() {
    TextSize start = current_token_range().start();
    constexpr ExprPosition flags{ExprPosition::STARRED_ALLOWED |
                                 ExprPosition::STARRED_AS_BITWISE_OR};
    ExprWithParens first = parse_named_expression_or_higher(flags);
    if (!at(TokenKind::Comma)) {
        if (first.expr.is<ExprStarred>() && !first.in_parentheses) {
            report<ParseErrorId::MisplacedStarredExpression>(first.expr.range());
        }
        return std::move(first.expr);
    }

    bump(TokenKind::Comma);
    auto elts = list<Expr>();
    elts.push_back(std::move(first.expr));
    parse_comma_separated_list(tuple_elements_kind(/*parenthesized=*/false), [&] {
        elts.push_back(parse_named_expression_or_higher(flags).expr);
    });
    return ExprTuple{.range = node_range(start),
                     .elts = elts.take(),
                     .ctx = ExprContext::Load,
                     .parenthesized = false};
}

python_ast::List<MatchCase> Parser::parse_match_body() {
    expect(TokenKind::Newline);
    if (at(TokenKind::Indent)) {
        bump(TokenKind::Indent);
    } else {
        report<ParseErrorId::ExpectedMatchBlock>(current_token_range());
    }

    auto cases = list<MatchCase>();
    if (!at(TokenKind::Case)) {
        report<ParseErrorId::ExpectedCaseBlock>(current_token_range());
    } else {
        // Every pass consumes its `case`.
        while (at(TokenKind::Case))
            cases.push_back(parse_match_case());
    }
    expect(TokenKind::Dedent);
    return cases.take();
}

MatchCase Parser::parse_match_case() {
    TextSize start = current_token_range().start();
    bump(TokenKind::Case);

    TextSize pattern_start = current_token_range().start();
    Pattern pattern = parse_match_pattern(STAR_ALLOWED);
    if (at(TokenKind::Comma)) {
        pattern = parse_sequence_match_pattern(std::move(pattern), pattern_start,
                                               SequenceMatchPatternParentheses::None);
    } else if (is_star(pattern)) {
        report<ParseErrorId::MisplacedStarPattern>(pattern.range());
    }

    OptionalBox<Expr> guard;
    if (at(TokenKind::If)) {
        bump(TokenKind::If);
        if (at_expr()) {
            guard = parse_named_expression_or_higher(ExprPosition{}).expr;
        } else {
            report<ParseErrorId::ExpectedExpression>(current_token_range());
        }
    }

    expect(TokenKind::Colon);
    python_ast::List<Stmt> body = parse_body(Clause::Case);
    return MatchCase{.range = node_range(start),
                     .pattern = std::move(pattern),
                     .guard = std::move(guard),
                     .body = std::move(body)};
}

// The recursive path through the pattern grammar (this function, parse_match_pattern_lhs,
// parse_single_match_pattern and the bracket, mapping and class helpers) keeps its frames
// small: everything else is done by helpers kept out of line. Each pattern level takes two
// nesting levels, so that the limit is reached long before the stack runs out, sanitizers
// included.
Pattern Parser::parse_match_pattern(AllowStarPattern allow_star) {
    NestingGuard nesting = enter_nesting();
    if (!nesting) return missing_pattern();
    TextSize start = current_token_range().start();
    Pattern pattern = parse_match_pattern_lhs(allow_star);
    if (at(TokenKind::Vbar)) pattern = parse_match_or_pattern(std::move(pattern), start);
    if (at(TokenKind::As)) pattern = parse_match_as_pattern(std::move(pattern), start);
    return pattern;
}

[[gnu::noinline]] Pattern Parser::parse_match_or_pattern(Pattern first, TextSize start) {
    if (is_star(first)) report<ParseErrorId::MisplacedStarPattern>(first.range());
    auto alternatives = list<Pattern>();
    alternatives.push_back(std::move(first));
    while (at(TokenKind::Vbar)) {
        bump(TokenKind::Vbar);
        alternatives.push_back(parse_match_pattern_lhs(STAR_NOT_ALLOWED));
    }
    return PatternMatchOr{.range = node_range(start), .patterns = alternatives.take()};
}

[[gnu::noinline]] Pattern Parser::parse_match_as_pattern(Pattern pattern, TextSize start) {
    bump(TokenKind::As);
    if (is_star(pattern)) report<ParseErrorId::MisplacedStarPattern>(pattern.range());
    Identifier name = parse_identifier();
    return PatternMatchAs{
        .range = node_range(start), .pattern = std::move(pattern), .name = std::move(name)};
}

// One pattern without alternatives or `as`: a single pattern, possibly the class of a class
// pattern, followed by any chain of complex-literal terms. A chain `a + b - c` nests to the
// right, `a + (b - c)`, each inner sum reported as a bad imaginary part; it is collected in a
// loop and folded afterwards, so a long chain never deepens the stack.
Pattern Parser::parse_match_pattern_lhs(AllowStarPattern allow_star) {
    NestingGuard nesting = enter_nesting();
    if (!nesting) return missing_pattern();
    TextSize start = current_token_range().start();
    Pattern pattern = parse_single_match_pattern(allow_star);
    if (at(TokenKind::Lpar)) pattern = parse_match_pattern_class(std::move(pattern), start);
    if (at(TokenKind::Plus) || at(TokenKind::Minus)) {
        pattern = parse_complex_literal_chain(std::move(pattern), start);
    }
    return pattern;
}

[[gnu::noinline]] Pattern Parser::parse_complex_literal_chain(Pattern first, TextSize start) {
    struct Term {
        TextSize start;
        Operator op;  // joins this term to the one before it
        Pattern pattern;
    };
    std::vector<Term> terms;
    terms.push_back(Term{start, Operator::Add, std::move(first)});
    while (at(TokenKind::Plus) || at(TokenKind::Minus)) {
        Operator op = at(TokenKind::Plus) ? Operator::Add : Operator::Sub;
        bump_any();
        const Pattern& real = terms.back().pattern;
        if (!is_real_number(real)) report<ParseErrorId::ExpectedRealNumber>(real.range());
        TextSize term_start = current_token_range().start();
        Pattern imaginary = parse_match_pattern_term(STAR_NOT_ALLOWED, term_start);
        terms.push_back(Term{term_start, op, std::move(imaginary)});
    }

    // Fold from the right: the last term must be imaginary, and so must every inner sum,
    // which never is.
    TextSize end = prev_token_end();
    Pattern right = std::move(terms.back().pattern);
    if (!is_imaginary_number(right)) {
        report<ParseErrorId::ExpectedImaginaryNumber>(right.range());
    }
    for (size_t i = terms.size() - 1; i-- > 0;) {
        Term& left = terms[i];
        Operator op = terms[i + 1].op;
        TextRange range = left.start <= end ? TextRange(left.start, end) : TextRange(end, end);
        Expr left_expr = complex_operand(std::move(left.pattern));
        Expr right_expr = complex_operand(std::move(right));
        Expr sum = ExprBinOp{
            .range = range, .left = std::move(left_expr), .op = op, .right = std::move(right_expr)};
        right = PatternMatchValue{.range = range, .value = std::move(sum)};
        if (i > 0) report<ParseErrorId::ExpectedImaginaryNumber>(right.range());
    }
    return right;
}

// A number token as a literal pattern's expression.
Expr Parser::parse_pattern_number() {
    TextRange range = current_token_range();
    TokenValue value = bump_value(current_token_kind());
    NumberLiteralValue number;
    if (auto* integer = std::get_if<Int>(&value)) {
        number = std::move(*integer);
    } else if (const auto* real = std::get_if<double>(&value)) {
        number = *real;
    } else if (const auto* complex = std::get_if<NumberLiteralComplex>(&value)) {
        number = *complex;
    }
    return ExprNumberLiteral{.range = range, .value = std::move(number)};
}

// A value pattern's expression, or the expression a stray pattern stands for.
Expr Parser::complex_operand(Pattern pattern) {
    if (auto* value = pattern.as<PatternMatchValue>()) return std::move(*value->value);
    return pattern_to_expr(std::move(pattern));
}

[[gnu::noinline]] Pattern Parser::parse_match_pattern_term(AllowStarPattern allow_star,
                                                           TextSize start) {
    Pattern pattern = parse_single_match_pattern(allow_star);
    if (at(TokenKind::Lpar)) pattern = parse_match_pattern_class(std::move(pattern), start);
    return pattern;
}

// A thin dispatcher: the forms that do not nest are built out of line.
Pattern Parser::parse_single_match_pattern(AllowStarPattern allow_star) {
    switch (current_token_kind()) {
        case TokenKind::Lpar:
        case TokenKind::Lsqb:
            return parse_bracketed_match_pattern();
        case TokenKind::Lbrace:
            return parse_match_pattern_mapping();
        default:
            return parse_flat_match_pattern(allow_star);
    }
}

// `(p)` only groups, `(p,)`, `()` and every `[...]` are sequences.
Pattern Parser::parse_bracketed_match_pattern() {
    TextSize start = current_token_range().start();
    bool parenthesized = at(TokenKind::Lpar);
    TokenKind closing = parenthesized ? TokenKind::Rpar : TokenKind::Rsqb;
    bump_any();
    if (at(TokenKind::Colon) || at(TokenKind::Newline)) {
        if (parenthesized) {
            report<ParseErrorId::MissingRpar>(current_token_range());
        } else {
            report<ParseErrorId::MissingRsqb>(current_token_range());
        }
    }
    if (at(closing)) {
        bump(closing);
        return PatternMatchSequence{.range = node_range(start), .patterns = {}};
    }
    Pattern inner = parse_match_pattern(STAR_ALLOWED);
    if (parenthesized && !at(TokenKind::Comma)) {
        // The parentheses belong to no node: the pattern keeps its own range.
        expect(TokenKind::Rpar);
        return inner;
    }
    return parse_sequence_match_pattern(std::move(inner), start,
                                        parenthesized ? SequenceMatchPatternParentheses::Tuple
                                                      : SequenceMatchPatternParentheses::List);
}

// Every single pattern that cannot contain another one.
[[gnu::noinline]] Pattern Parser::parse_flat_match_pattern(AllowStarPattern allow_star) {
    TextSize start = current_token_range().start();
    TokenKind kind = current_token_kind();
    switch (kind) {
        case TokenKind::Star: {
            bump(TokenKind::Star);
            Identifier name = parse_identifier();
            std::optional<Identifier> star_name;
            if (name.as_str() != "_") star_name = std::move(name);
            Pattern star =
                PatternMatchStar{.range = node_range(start), .name = std::move(star_name)};
            if (allow_star == STAR_NOT_ALLOWED) {
                report<ParseErrorId::MisplacedStarPattern>(star.range());
            }
            return star;
        }
        case TokenKind::Int:
        case TokenKind::Float:
        case TokenKind::Complex: {
            Expr number = parse_pattern_number();
            TextRange range = number.range();
            return PatternMatchValue{.range = range, .value = std::move(number)};
        }
        case TokenKind::String:
        case TokenKind::FStringStart:
        case TokenKind::TStringStart: {
            Expr string = parse_strings();
            TextRange range = string.range();
            return PatternMatchValue{.range = range, .value = std::move(string)};
        }
        case TokenKind::None:
        case TokenKind::True:
        case TokenKind::False: {
            bump(kind);
            Singleton value = kind == TokenKind::None   ? Singleton::None
                              : kind == TokenKind::True ? Singleton::True
                                                        : Singleton::False;
            return PatternMatchSingleton{.range = node_range(start), .value = value};
        }
        case TokenKind::Minus:
        case TokenKind::Plus: {
            TokenKind next = peek();
            if (next != TokenKind::Int && next != TokenKind::Float && next != TokenKind::Complex) {
                break;
            }
            bool plus = kind == TokenKind::Plus;
            Expr signed_number =
                parse_unary_expression(plus ? UnaryOp::UAdd : UnaryOp::USub, ExprPosition{}).expr;
            TextRange range = signed_number.range();
            if (plus) {
                report<ParseErrorId::UnaryPlusLiteralPattern>(range);
            }
            return PatternMatchValue{.range = range, .value = std::move(signed_number)};
        }
        default:
            break;
    }

    if (kind == TokenKind::Name || is_keyword(kind)) {
        if (peek() == TokenKind::Dot) {
            Expr value = parse_name();
            while (at(TokenKind::Dot))
                value = parse_attribute_expression(std::move(value), start);
            TextRange range = value.range();
            return PatternMatchValue{.range = range, .value = std::move(value)};
        }
        Identifier name = parse_identifier();
        TextRange range = name.range;
        if (name.as_str() == "_") return PatternMatchAs{.range = range, .pattern = {}, .name = {}};
        return PatternMatchAs{.range = range, .pattern = {}, .name = std::move(name)};
    }

    report<ParseErrorId::ExpectedPattern>(current_token_range());
    return missing_pattern();
}

Pattern Parser::missing_pattern() const {
    TextRange empty(prev_token_end(), prev_token_end());
    return PatternMatchValue{.range = empty, .value = missing_expr(empty)};
}

Pattern Parser::parse_match_pattern_class(Pattern cls_pattern, TextSize start) {
    Expr cls = class_pattern_expr(std::move(cls_pattern));
    TextSize arguments_start = current_token_range().start();
    bump(TokenKind::Lpar);
    PatternArguments arguments;
    bool keyword_seen = false;
    parse_comma_separated_list(RecoveryContextKind::MatchPatternClassArguments,
                               [&] { parse_class_pattern_argument(arguments, keyword_seen); });
    expect(TokenKind::Rpar);
    arguments.range = node_range(arguments_start);
    return PatternMatchClass{
        .range = node_range(start), .cls = std::move(cls), .arguments = std::move(arguments)};
}

// The class of a class pattern: a dotted name or a plain name; anything else is reported and
// kept as the expression it stands for.
[[gnu::noinline]] Expr Parser::class_pattern_expr(Pattern pattern) {
    if (auto* value = pattern.as<PatternMatchValue>(); value && value->value->is<ExprAttribute>()) {
        return std::move(*value->value);
    }
    if (const Identifier* name = capture_name(pattern)) {
        return name_expr(name->id, name->range,
                         name->is_valid() ? ExprContext::Load : ExprContext::Invalid);
    }
    report<ParseErrorId::InvalidValueForClassPattern>(pattern.range());
    return pattern_to_expr(std::move(pattern));
}

void Parser::parse_class_pattern_argument(PatternArguments& arguments, bool& keyword_seen) {
    TextSize start = current_token_range().start();
    Pattern pattern = parse_match_pattern(STAR_NOT_ALLOWED);
    if (at(TokenKind::Equal)) {
        keyword_seen = true;
        arguments.keywords.push_back(parse_keyword_pattern(std::move(pattern), start));
        return;
    }
    if (keyword_seen) {
        report<ParseErrorId::PositionalPatternAfterKeywordPattern>(pattern.range());
    }
    arguments.patterns.push_back(std::move(pattern));
}

// `name=pattern` in class arguments, the pattern before the `=` already parsed.
[[gnu::noinline]] PatternKeyword Parser::parse_keyword_pattern(Pattern name_pattern,
                                                               TextSize start) {
    bump(TokenKind::Equal);
    Identifier attr;
    if (const Identifier* name = capture_name(name_pattern)) {
        attr = *name;
    } else if (is_wildcard(name_pattern)) {
        // `_` is an ordinary attribute name here: `C(_=1)` is valid.
        attr = Identifier{.id = Name("_"), .range = name_pattern.range()};
    } else {
        report<ParseErrorId::ExpectedKeywordPatternName>(name_pattern.range());
        attr = Identifier{.id = Name(), .range = TextRange(prev_token_end(), prev_token_end())};
    }
    Pattern value = parse_match_pattern(STAR_NOT_ALLOWED);
    return PatternKeyword{
        .range = node_range(start), .attr = std::move(attr), .pattern = std::move(value)};
}

Pattern Parser::parse_match_pattern_mapping() {
    TextSize start = current_token_range().start();
    bump(TokenKind::Lbrace);
    PatternMatchMapping mapping;
    parse_comma_separated_list(RecoveryContextKind::MatchPatternMapping,
                               [&] { parse_mapping_pattern_item(mapping); });
    expect(TokenKind::Rbrace);
    mapping.range = node_range(start);
    return mapping;
}

void Parser::parse_mapping_pattern_item(PatternMatchMapping& mapping) {
    if (at(TokenKind::DoubleStar)) {
        parse_mapping_pattern_rest(mapping);
        return;
    }
    mapping.keys.push_back(mapping_pattern_key(parse_match_pattern_lhs(STAR_NOT_ALLOWED)));
    expect(TokenKind::Colon);
    mapping.patterns.push_back(parse_match_pattern(STAR_NOT_ALLOWED));
    if (mapping.rest) {
        TextRange range(mapping.keys.back().range().start(), mapping.patterns.back().range().end());
        report<ParseErrorId::PatternAfterDoubleStarPattern>(range);
    }
}

[[gnu::noinline]] void Parser::parse_mapping_pattern_rest(PatternMatchMapping& mapping) {
    TextSize stars = current_token_range().start();
    bump(TokenKind::DoubleStar);
    Identifier name = parse_identifier();
    if (mapping.rest) {
        report<ParseErrorId::RepeatedDoubleStarPattern>(node_range(stars));
    }
    mapping.rest = std::move(name);
}

// A mapping key: a value pattern's expression, or `None`, `True`, `False` as literals.
[[gnu::noinline]] Expr Parser::mapping_pattern_key(Pattern key) {
    if (auto* value = key.as<PatternMatchValue>()) return std::move(*value->value);
    if (const auto* singleton = key.as<PatternMatchSingleton>()) {
        if (singleton->value == Singleton::None) return ExprNoneLiteral{.range = singleton->range};
        return ExprBooleanLiteral{.range = singleton->range,
                                  .value = singleton->value == Singleton::True};
    }
    report<ParseErrorId::InvalidMappingPatternKey>(key.range());
    return pattern_to_expr(std::move(key));
}

Pattern Parser::parse_sequence_match_pattern(Pattern first, TextSize start,
                                             SequenceMatchPatternParentheses kind) {
    TokenKind closing = kind == SequenceMatchPatternParentheses::List    ? TokenKind::Rsqb
                        : kind == SequenceMatchPatternParentheses::Tuple ? TokenKind::Rpar
                                                                         : TokenKind::EndOfFile;
    // A comma (or the end of a bracketed sequence) must follow the first element; `[a b]`
    // reports the missing comma instead of reading `b` as the next element silently.
    if (kind == SequenceMatchPatternParentheses::None || !at(closing)) expect(TokenKind::Comma);

    auto patterns = list<Pattern>();
    patterns.push_back(std::move(first));
    parse_comma_separated_list(sequence_match_pattern_kind(kind),
                               [&] { patterns.push_back(parse_match_pattern(STAR_ALLOWED)); });
    if (kind != SequenceMatchPatternParentheses::None) expect(closing);
    return PatternMatchSequence{.range = node_range(start), .patterns = patterns.take()};
}

// Only for recovery: the expression a pattern written in an expression's place stands for.
// The pattern's depth was bounded when it was parsed, so the recursion is too.
Expr Parser::pattern_to_expr(Pattern pattern) {
    return std::visit(
        [&](auto& node) -> Expr {
            using T = std::decay_t<decltype(node)>;
            if constexpr (std::is_same_v<T, PatternMatchValue>) {
                return std::move(*node.value);
            } else if constexpr (std::is_same_v<T, PatternMatchSingleton>) {
                if (node.value == Singleton::None) return ExprNoneLiteral{.range = node.range};
                return ExprBooleanLiteral{.range = node.range,
                                          .value = node.value == Singleton::True};
            } else if constexpr (std::is_same_v<T, PatternMatchSequence>) {
                python_ast::List<Expr> elts;
                elts.reserve(node.patterns.size());
                for (Pattern& element : node.patterns)
                    elts.push_back(pattern_to_expr(std::move(element)));
                return ExprList{
                    .range = node.range, .elts = std::move(elts), .ctx = ExprContext::Store};
            } else if constexpr (std::is_same_v<T, PatternMatchMapping>) {
                python_ast::List<DictItem> items;
                size_t pairs = std::min(node.keys.size(), node.patterns.size());
                items.reserve(pairs + 1);
                for (size_t i = 0; i < pairs; ++i) {
                    items.push_back(
                        DictItem{.key = std::move(node.keys[i]),
                                 .value = pattern_to_expr(std::move(node.patterns[i]))});
                }
                if (node.rest) {
                    items.push_back(DictItem{
                        .value = name_expr(node.rest->id, node.rest->range, ExprContext::Store)});
                }
                return ExprDict{.range = node.range, .items = std::move(items)};
            } else if constexpr (std::is_same_v<T, PatternMatchClass>) {
                python_ast::List<Expr> args;
                args.reserve(node.arguments.patterns.size());
                for (Pattern& argument : node.arguments.patterns) {
                    args.push_back(pattern_to_expr(std::move(argument)));
                }
                python_ast::List<Keyword> keywords;
                keywords.reserve(node.arguments.keywords.size());
                for (PatternKeyword& keyword : node.arguments.keywords) {
                    keywords.push_back(
                        Keyword{.range = keyword.range,
                                .arg = std::move(keyword.attr),
                                .value = pattern_to_expr(std::move(*keyword.pattern))});
                }
                return ExprCall{
                    .range = node.range,
                    .func = std::move(*node.cls),
                    .arguments = Arguments{.range = node.arguments.range,
                                           .args = Seq<Expr>(std::move(args)),
                                           .keywords = Seq<Keyword>(std::move(keywords))}};
            } else if constexpr (std::is_same_v<T, PatternMatchStar>) {
                Expr name =
                    node.name
                        ? name_expr(node.name->id, node.name->range, ExprContext::Store)
                        : name_expr(Name("_"),
                                    TextRange(node.range.end() - TextSize(1), node.range.end()),
                                    ExprContext::Store);
                return ExprStarred{
                    .range = node.range, .value = std::move(name), .ctx = ExprContext::Store};
            } else if constexpr (std::is_same_v<T, PatternMatchAs>) {
                if (!node.pattern) {
                    if (node.name)
                        return name_expr(node.name->id, node.name->range, ExprContext::Store);
                    return name_expr(Name("_"), node.range, ExprContext::Store);
                }
                if (!node.name) return pattern_to_expr(std::move(*node.pattern));
                return name_expr(Name(), node.range, ExprContext::Invalid);
            } else {
                static_assert(std::is_same_v<T, PatternMatchOr>);
                // Left-nested: `a | b | c` is `(a | b) | c`.
                TextSize start = node.range.start();
                Expr chain = pattern_to_expr(std::move(node.patterns.front()));
                for (size_t i = 1; i < node.patterns.size(); ++i) {
                    Expr right = pattern_to_expr(std::move(node.patterns[i]));
                    TextRange range(start, right.range().end());
                    chain = ExprBinOp{.range = range,
                                      .left = std::move(chain),
                                      .op = Operator::BitOr,
                                      .right = std::move(right)};
                }
                return chain;
            }
        },
        pattern.as_variant());
}

}  // namespace rudo::python_parser
