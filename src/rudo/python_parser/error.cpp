#include "rudo/python_parser/error.h"

#include <array>

#include "base/utf8.h"

namespace rudo::python_parser {
namespace {

constexpr std::array<std::string_view, 8> INTERPOLATED_MESSAGES = {
#define INTERPOLATED_STRING_ERROR(kind, message) message,
#include "rudo/python_parser/interpolated_string_error.def"
#undef INTERPOLATED_STRING_ERROR
};

struct LexicalTexts {
    std::string_view name;
    std::string_view message;
};

constexpr std::array<LexicalTexts, 13> LEXICAL_TEXTS = {{
#define LEXICAL_ERROR(kind, message) {#kind, message},
#include "rudo/python_parser/lexical_error.def"
#undef LEXICAL_ERROR
}};

}  // namespace

std::string_view message(InterpolatedStringErrorType kind) {
    return INTERPOLATED_MESSAGES[static_cast<size_t>(kind)];
}

std::string_view kind_name(LexicalErrorType::Kind kind) {
    return LEXICAL_TEXTS[static_cast<size_t>(kind)].name;
}

std::string LexicalErrorType::message() const {
    switch (kind) {
        case Kind::UnexpectedCharacter: {
            std::string out = "Got unexpected token ";
            quarn::append_utf8(out, character);
            return out;
        }
        case Kind::FStringError:
            return fmt::format("f-string: {}", python_parser::message(interpolated));
        case Kind::TStringError:
            return fmt::format("t-string: {}", python_parser::message(interpolated));
        case Kind::Other:
            return text;
        default:
            return std::string(LEXICAL_TEXTS[static_cast<size_t>(kind)].message);
    }
}

}  // namespace rudo::python_parser
