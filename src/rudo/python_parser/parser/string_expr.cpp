// String expressions: implicit concatenation of adjacent literals, f-strings and t-strings with
// their interpolations, conversions, debug text and nested format specs.
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "rudo/python_parser/parser/parser.h"
#include "rudo/python_parser/string.h"

namespace rudo::python_parser {

using namespace python_ast;

namespace {

// The alternatives of StringType, by index.
constexpr size_t STR = 0, BYTES = 1, F_STRING = 2, T_STRING = 3;

bool is_string_start(TokenKind kind) {
    return kind == TokenKind::String || kind == TokenKind::FStringStart ||
           kind == TokenKind::TStringStart;
}

TextRange part_range(const StringType& part) {
    return std::visit([](const auto& node) { return node.range; }, part);
}

void report_interpolated(Parser& parser, InterpolatedStringKind kind,
                         InterpolatedStringErrorType error, TextRange range) {
    if (kind == InterpolatedStringKind::FString) {
        parser.report<ParseErrorId::FStringError>(range, error);
    } else {
        parser.report<ParseErrorId::TStringError>(range, error);
    }
}

// One `String` token decoded. A literal that fails to decode leaves an empty placeholder marked
// invalid, so the tree keeps its shape and the error is reported once.
StringType parse_string_token(Parser& parser) {
    const AnyStringFlags flags(parser.current_token_flags());
    const TextRange range = parser.current_token_range();
    TokenValue value = parser.bump_value(TokenKind::String);
    std::string_view body;
    if (const auto* string_body = std::get_if<StringBody>(&value)) body = string_body->text;
    auto decoded = parse_string_literal(body, flags, range);
    if (decoded.ok()) return std::move(decoded).value();

    LexicalError error = std::move(decoded).error();
    parser.report<ParseErrorId::Lexical>(error.location, std::move(error.error));
    if (flags.is_bytes()) {
        return BytesLiteral{
            .range = range,
            .value = {},
            .flags = BytesLiteralFlags::from(flags).with(BytesLiteralFlags::INVALID)};
    }
    return StringLiteral{
        .range = range,
        .value = {},
        .flags = StringLiteralFlags::from(flags).with(StringLiteralFlags::INVALID)};
}

Expr single_string(StringType part, TextRange range) {
    return std::visit(
        [&](auto&& node) -> Expr {
            using T = std::decay_t<decltype(node)>;
            if constexpr (std::is_same_v<T, StringLiteral>) {
                return ExprStringLiteral{.range = range,
                                         .value = StringLiteralValue::single(std::move(node))};
            } else if constexpr (std::is_same_v<T, BytesLiteral>) {
                return ExprBytesLiteral{.range = range,
                                        .value = BytesLiteralValue::single(std::move(node))};
            } else if constexpr (std::is_same_v<T, FString>) {
                return ExprFString{.range = range,
                                   .value = FStringValue::single(FStringPart(std::move(node)))};
            } else {
                return ExprTString{.range = range, .value = TStringValue::single(std::move(node))};
            }
        },
        std::move(part));
}

// Two or more adjacent parts. Bytes mix with nothing else and t-strings only with t-strings; a
// part that does not fit becomes an empty invalid literal over its range, so the expression
// stays one node.
Expr concatenate_strings(Parser& parser, std::vector<StringType> parts, TextRange range) {
    size_t bytes = 0;
    size_t t_strings = 0;
    bool has_f_string = false;
    for (const StringType& part : parts) {
        bytes += part.index() == BYTES;
        t_strings += part.index() == T_STRING;
        has_f_string |= part.index() == F_STRING;
    }

    if (bytes > 0) {
        if (bytes == parts.size()) {
            python_ast::List<BytesLiteral> literals;
            literals.reserve(parts.size());
            for (StringType& part : parts)
                literals.push_back(std::get<BYTES>(std::move(part)));
            return ExprBytesLiteral{.range = range,
                                    .value = BytesLiteralValue::concatenated(std::move(literals))};
        }
        parser.report<ParseErrorId::MixedBytesLiterals>(range);
    }
    if (t_strings > 0) {
        if (t_strings == parts.size()) {
            python_ast::List<TString> strings;
            strings.reserve(parts.size());
            for (StringType& part : parts)
                strings.push_back(std::get<T_STRING>(std::move(part)));
            return ExprTString{.range = range,
                               .value = TStringValue::concatenated(std::move(strings))};
        }
        parser.report<ParseErrorId::MixedTStringLiterals>(range);
        has_f_string = true;
    }

    if (has_f_string) {
        python_ast::List<FStringPart> f_parts;
        f_parts.reserve(parts.size());
        for (StringType& part : parts) {
            if (part.index() == STR) {
                f_parts.emplace_back(Box<StringLiteral>(std::get<STR>(std::move(part))));
            } else if (part.index() == F_STRING) {
                f_parts.emplace_back(std::get<F_STRING>(std::move(part)));
            } else {
                f_parts.emplace_back(Box<StringLiteral>(invalid_string_literal(part_range(part))));
            }
        }
        return ExprFString{.range = range, .value = FStringValue::concatenated(std::move(f_parts))};
    }

    python_ast::List<StringLiteral> literals;
    literals.reserve(parts.size());
    for (StringType& part : parts) {
        if (part.index() == STR) {
            literals.push_back(std::get<STR>(std::move(part)));
        } else {
            literals.push_back(invalid_string_literal(part_range(part)));
        }
    }
    return ExprStringLiteral{.range = range,
                             .value = StringLiteralValue::concatenated(std::move(literals))};
}

}  // namespace

Expr Parser::parse_strings() {
    const TextSize start = current_token_range().start();
    // On the heap: a scratch list, gone once its parts have moved into the tree; a lone literal
    // (the common case) needs none.
    std::optional<StringType> first;
    std::vector<StringType> parts;
    // A long run of adjacent literals is one flat loop, never a recursion; every pass consumes
    // at least the token that starts its part.
    while (is_string_start(current_token_kind())) {
        StringType part;
        if (at(TokenKind::FStringStart)) {
            InterpolatedString parsed = parse_interpolated_string(InterpolatedStringKind::FString);
            part = FString{.range = parsed.range,
                           .elements = std::move(parsed.elements),
                           .flags = FStringFlags::from(parsed.flags)};
        } else if (at(TokenKind::TStringStart)) {
            InterpolatedString parsed = parse_interpolated_string(InterpolatedStringKind::TString);
            part = TString{.range = parsed.range,
                           .elements = std::move(parsed.elements),
                           .flags = TStringFlags::from(parsed.flags)};
        } else {
            part = parse_string_token(*this);
        }
        if (!first && parts.empty()) {
            first.emplace(std::move(part));
            continue;
        }
        if (first) {
            parts.push_back(std::move(*first));
            first.reset();
        }
        parts.push_back(std::move(part));
    }
    const TextRange range = node_range(start);
    if (first) return single_string(std::move(*first), range);
    return concatenate_strings(*this, std::move(parts), range);
}

Parser::InterpolatedString Parser::parse_interpolated_string(InterpolatedStringKind kind) {
    AnyStringFlags flags(current_token_flags());
    const TextSize start = current_token_range().start();
    const bool is_f_string = kind == InterpolatedStringKind::FString;
    NestingGuard nesting = enter_nesting();
    if (!nesting) return InterpolatedString{{}, flags, node_range(start)};
    bump(is_f_string ? TokenKind::FStringStart : TokenKind::TStringStart);

    InterpolatedStringElements elements =
        parse_interpolated_string_elements(kind, flags, /*in_format_spec=*/false);

    if (!expect(is_f_string ? TokenKind::FStringEnd : TokenKind::TStringEnd)) {
        flags = flags.with(AnyStringFlags::UNTERMINATED);
    }
    return InterpolatedString{std::move(elements), flags, node_range(start)};
}

InterpolatedStringElements Parser::parse_interpolated_string_elements(InterpolatedStringKind kind,
                                                                      AnyStringFlags flags,
                                                                      bool in_format_spec) {
    auto elements = list<InterpolatedStringElement>();
    parse_list(interpolated_string_elements_kind(kind, in_format_spec),
               [&] { elements.push_back(parse_interpolated_string_element(kind, flags)); });
    return elements.take();
}

InterpolatedStringElement Parser::parse_interpolated_string_element(InterpolatedStringKind kind,
                                                                    AnyStringFlags flags) {
    const TokenKind middle = kind == InterpolatedStringKind::FString ? TokenKind::FStringMiddle
                                                                     : TokenKind::TStringMiddle;
    if (!at(middle)) return parse_interpolation_element(kind, flags);

    const TextRange range = current_token_range();
    TokenValue value = bump_value(middle);
    std::string_view text;
    if (const auto* literal = std::get_if<InterpolatedStringMiddle>(&value)) {
        text = literal->text();
    }
    auto decoded = parse_interpolated_string_literal_element(text, flags, range);
    if (decoded.ok()) return std::move(decoded).value();
    LexicalError error = std::move(decoded).error();
    report<ParseErrorId::Lexical>(error.location, std::move(error.error));
    return InterpolatedStringElementLiteral{.range = range, .value = {}};
}

InterpolatedStringElementInterpolation Parser::parse_interpolation_element(
    InterpolatedStringKind kind, AnyStringFlags flags) {
    const TextRange lbrace = current_token_range();
    const TextSize start = lbrace.start();
    // Format specs nest interpolations without passing through an expression.
    NestingGuard nesting = enter_nesting();
    if (!nesting) {
        return InterpolatedStringElementInterpolation{
            .range = node_range(start), .expression = missing_expr(node_range(start))};
    }
    bump(TokenKind::Lbrace);

    // A closing quote right after `{` ends the string rather than opening a new one.
    token_source().re_lex_string_token_in_interpolation_element(kind);
    ExprWithParens value = parse_expression_list(ExprPosition(ExprPosition::STARRED_ALLOWED |
                                                              ExprPosition::STARRED_AS_BITWISE_OR |
                                                              ExprPosition::YIELD_ALLOWED));
    const TextRange expr_range = value.expr.range();
    if (value.expr.is<ExprLambda>() && !value.in_parentheses) {
        report_interpolated(*this, kind, InterpolatedStringErrorType::UnparenthesizedLambda,
                            expr_range);
    }

    OptionalBox<DebugText> debug_text;
    if (at(TokenKind::Equal)) {
        bump(TokenKind::Equal);
        debug_text = DebugText{
            .leading = python_ast::NodeString(src_text(TextRange(lbrace.end(), expr_range.start()))),
            .trailing = python_ast::NodeString(
                src_text(TextRange(expr_range.end(), current_token_range().start())))};
    }

    int8_t conversion = -1;
    if (at(TokenKind::Exclamation)) {
        const TextSize bang_end = current_token_range().end();
        bump(TokenKind::Exclamation);
        token_source().re_lex_raw_string_in_format_spec();
        if (at(TokenKind::Name)) {
            const TextRange name_range = current_token_range();
            if (name_range.start() != bang_end) {
                report_interpolated(*this, kind,
                                    InterpolatedStringErrorType::MisplacedConversionType,
                                    TextRange(bang_end, name_range.start()));
            }
            TokenValue name = bump_value(TokenKind::Name);
            std::string_view text;
            if (const auto* identifier = std::get_if<Name>(&name)) text = identifier->as_str();
            if (text == "a" || text == "r" || text == "s") {
                conversion = static_cast<int8_t>(text[0]);
            } else {
                report_interpolated(*this, kind,
                                    InterpolatedStringErrorType::InvalidConversionCharacter,
                                    name_range);
            }
        } else {
            report_interpolated(*this, kind,
                                InterpolatedStringErrorType::InvalidConversionCharacter,
                                current_token_range());
            // Whatever stands there is taken as the conversion, a `}` too; the end of the file
            // cannot be consumed.
            if (!at(TokenKind::EndOfFile)) bump_any();
        }
    }

    OptionalBox<InterpolatedStringFormatSpec> format_spec;
    if (at(TokenKind::Colon)) {
        bump(TokenKind::Colon);
        const TextSize spec_start = current_token_range().start();
        InterpolatedStringElements elements =
            parse_interpolated_string_elements(kind, flags, /*in_format_spec=*/true);
        format_spec = InterpolatedStringFormatSpec{.range = node_range(spec_start),
                                                   .elements = std::move(elements)};
    }

    token_source().re_lex_string_token_in_interpolation_element(kind);
    if (at(TokenKind::Rbrace)) {
        bump(TokenKind::Rbrace);
    } else {
        report_interpolated(*this, kind, InterpolatedStringErrorType::ExpectedRbrace,
                            current_token_range());
    }

    return InterpolatedStringElementInterpolation{.range = node_range(start),
                                                  .expression = std::move(value.expr),
                                                  .debug_text = std::move(debug_text),
                                                  .conversion = conversion,
                                                  .format_spec = std::move(format_spec)};
}

}  // namespace rudo::python_parser
