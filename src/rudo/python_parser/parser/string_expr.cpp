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

// The body of the current `String` token: a view of the source, which outlives the token.
StringBody current_string_body(Parser& parser) {
    const auto* body = std::get_if<StringBody>(&parser.token_source().current_value());
    return body ? *body : StringBody{};
}

// A decoded literal of one `String` token. One that fails to decode leaves an empty placeholder
// marked invalid, so the tree keeps its shape and the error is reported once.
template <typename Literal>
Literal string_part(Parser& parser, quarn::Result<NodeText, LexicalError> decoded,
                    AnyStringFlags flags, TextRange range) {
    using Flags = decltype(Literal::flags);
    if (decoded.ok()) {
        return Literal{
            .range = range, .value = std::move(decoded).value(), .flags = Flags::from(flags)};
    }
    LexicalError error = std::move(decoded).error();
    parser.report<ParseErrorId::Lexical>(error.location, std::move(error.error));
    return Literal{.range = range, .value = {}, .flags = Flags::from(flags).with(Flags::INVALID)};
}

// The current `String` token, consumed and decoded.
StringType parse_string_token(Parser& parser) {
    const AnyStringFlags flags(parser.current_token_flags());
    const TextRange range = parser.current_token_range();
    const StringBody body = current_string_body(parser);
    parser.bump(TokenKind::String);
    auto decoded = parse_string_text(body.text, flags, range, body.has_backslash);
    if (flags.is_bytes())
        return string_part<BytesLiteral>(parser, std::move(decoded), flags, range);
    return string_part<StringLiteral>(parser, std::move(decoded), flags, range);
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

// The run of adjacent string tokens from the current one on; `parts` holds those already
// decoded, the run started at `start`.
Expr parse_string_run(Parser& parser, TextSize start, std::vector<StringType> parts) {
    // On the heap: a scratch list, gone once its parts have moved into the tree; a lone
    // f-string or t-string needs none.
    std::optional<StringType> first;
    // A long run of adjacent literals is one flat loop, never a recursion; every pass consumes
    // at least the token that starts its part.
    while (is_string_start(parser.current_token_kind())) {
        StringType part;
        if (parser.at(TokenKind::FStringStart)) {
            Parser::InterpolatedString parsed =
                parser.parse_interpolated_string(InterpolatedStringKind::FString);
            part = FString{.range = parsed.range,
                           .elements = std::move(parsed.elements),
                           .flags = FStringFlags::from(parsed.flags)};
        } else if (parser.at(TokenKind::TStringStart)) {
            Parser::InterpolatedString parsed =
                parser.parse_interpolated_string(InterpolatedStringKind::TString);
            part = TString{.range = parsed.range,
                           .elements = std::move(parsed.elements),
                           .flags = TStringFlags::from(parsed.flags)};
        } else {
            part = parse_string_token(parser);
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
    const TextRange range = parser.node_range(start);
    if (first) return single_string(std::move(*first), range);
    return concatenate_strings(parser, std::move(parts), range);
}

}  // namespace

Expr Parser::parse_strings() {
    const TextSize start = current_token_range().start();
    if (at(TokenKind::String)) {
        const AnyStringFlags flags(current_token_flags());
        const TextRange range = current_token_range();
        const StringBody body = current_string_body(*this);
        bump(TokenKind::String);
        // A lone literal, the common case, becomes its expression at once; one without escapes
        // costs one copy of its body.
        if (!is_string_start(current_token_kind())) [[likely]] {
            if (!flags.is_bytes() && (flags.is_raw() || !body.has_backslash)) {
                return ExprStringLiteral{.range = node_range(start),
                                         .value = StringLiteralValue::single(StringLiteral{
                                             .range = range,
                                             .value = NodeText(body.text),
                                             .flags = StringLiteralFlags::from(flags)})};
            }
            auto decoded = parse_string_text(body.text, flags, range, body.has_backslash);
            if (flags.is_bytes()) {
                return ExprBytesLiteral{
                    .range = node_range(start),
                    .value = BytesLiteralValue::single(
                        string_part<BytesLiteral>(*this, std::move(decoded), flags, range))};
            }
            return ExprStringLiteral{.range = node_range(start),
                                     .value = StringLiteralValue::single(string_part<StringLiteral>(
                                         *this, std::move(decoded), flags, range))};
        }
        auto decoded = parse_string_text(body.text, flags, range, body.has_backslash);
        std::vector<StringType> parts;
        if (flags.is_bytes()) {
            parts.emplace_back(string_part<BytesLiteral>(*this, std::move(decoded), flags, range));
        } else {
            parts.emplace_back(string_part<StringLiteral>(*this, std::move(decoded), flags, range));
        }
        return parse_string_run(*this, start, std::move(parts));
    }
    return parse_string_run(*this, start, {});
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
            .leading = NodeText(src_text(TextRange(lbrace.end(), expr_range.start()))),
            .trailing =
                NodeText(src_text(TextRange(expr_range.end(), current_token_range().start())))};
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
