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

ParseErrorType ParseErrorType::filled(ParseErrorText name, std::string_view argument) {
    return other(ErrorText(fmt::format(fmt::runtime(python_parser::text(name)), argument)));
}

std::string_view kind_name(ParseErrorType::Kind kind) {
    return texts(kind).name;
}

std::string ParseErrorType::message() const {
    const auto format = fmt::runtime(texts(kind).message);
    switch (kind) {
        case Kind::Other:
            return std::string(text.view());
        case Kind::DuplicateKeywordArgument:
            return fmt::format(
                format, quarn::debug_str(text.view(), quarn::DebugEscapes::ControlsAndMarks));
        case Kind::ExpectedToken:
            return fmt::format(format, expected, found);
        case Kind::UnexpectedTokenAfterAsync:
            return fmt::format(format, found);
        case Kind::FStringError:
        case Kind::TStringError:
            return fmt::format(format, python_parser::message(interpolated));
        case Kind::Lexical:
            return lexical().message();
        default:
            return std::string(texts(kind).message);
    }
}

std::string ParseError::display() const {
    return fmt::format("{} at byte range {}", error.message(), location);
}

}  // namespace rudo::python_parser
