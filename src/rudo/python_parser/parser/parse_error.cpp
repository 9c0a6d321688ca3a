#include "rudo/python_parser/parser/parse_error.h"

#include "base/quote.h"

namespace rudo::python_parser {

std::string_view kind_name(ParseErrorType::Kind kind) {
    return name_of(static_cast<ParseErrorId>(kind));
}

std::string ParseErrorType::message() const {
    using Id = ParseErrorId;
    switch (kind) {
        case Kind::Other:
            return std::string(text.view());
        case Kind::DuplicateKeywordArgument:
            return format_message<Id::DuplicateKeywordArgument>(std::string_view(
                quarn::debug_str(text.view(), quarn::DebugEscapes::ControlsAndMarks)));
        case Kind::ExpectedToken:
            return format_message<Id::ExpectedToken>(expected, found);
        case Kind::UnexpectedTokenAfterAsync:
            return format_message<Id::UnexpectedTokenAfterAsync>(found);
        case Kind::FStringError:
            return format_message<Id::FStringError>(interpolated);
        case Kind::TStringError:
            return format_message<Id::TStringError>(interpolated);
        case Kind::Lexical:
            return lexical().message();
        default:
            return std::string(message_of(static_cast<Id>(kind)));
    }
}

std::string ParseError::display() const {
    return fmt::format("{} at byte range {}", error.message(), location);
}

}  // namespace rudo::python_parser
