#include "rudo/python_parser/parser/parse_error.h"

#include <cstdint>

#include "base/quote.h"

namespace rudo::python_parser {
namespace {

struct ErrorTexts {
    std::string_view name;
    std::string_view message;
};

constexpr ErrorTexts ERROR_TEXTS[] = {
#define PARSE_ERROR(kind, message) {#kind, message},
#include "rudo/python_parser/parser/parse_error.def"
#undef PARSE_ERROR
};

const ErrorTexts& texts(ParseErrorType::Kind kind) {
    return ERROR_TEXTS[static_cast<size_t>(kind)];
}

}  // namespace

ParseErrorType ParseErrorType::named(ParseErrorText name, std::string_view argument) {
    const std::string_view pattern = python_parser::text(name);
    if (pattern.find("{}") == std::string_view::npos) return other(std::string(pattern));
    return other(fmt::format(fmt::runtime(pattern), argument));
}

std::string_view kind_name(ParseErrorType::Kind kind) {
    return texts(kind).name;
}

std::string ParseErrorType::message() const {
    const auto format = fmt::runtime(texts(kind).message);
    switch (kind) {
        case Kind::Other:
            return text;
        case Kind::DuplicateKeywordArgument:
            return fmt::format(format, quarn::debug_str(text, quarn::DebugEscapes::ControlsAndMarks));
        case Kind::ExpectedToken:
            return fmt::format(format, expected, found);
        case Kind::UnexpectedTokenAfterAsync:
            return fmt::format(format, found);
        case Kind::FStringError:
        case Kind::TStringError:
            return fmt::format(format, python_parser::message(interpolated));
        case Kind::Lexical:
            return lexical.message();
        default:
            return std::string(texts(kind).message);
    }
}

std::string ParseError::display() const {
    return fmt::format("{} at byte range {}", error.message(), location);
}

}  // namespace rudo::python_parser
