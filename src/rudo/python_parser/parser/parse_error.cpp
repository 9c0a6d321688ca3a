#include "rudo/python_parser/parser/parse_error.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <iterator>

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

// A keyword name between double quotes. Quotes, backslashes and control characters are escaped,
// and so are combining characters, which would otherwise fuse with the quote before them.
std::string quoted_name(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) {
            fmt::format_to(std::back_inserter(out), "\\x{{{:x}}}", bytes[start]);
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                continue;
            case '\\':
                out += "\\\\";
                continue;
            case '\t':
                out += "\\t";
                continue;
            case '\r':
                out += "\\r";
                continue;
            case '\n':
                out += "\\n";
                continue;
            case '\0':
                out += "\\0";
                continue;
            default:
                break;
        }
        if (u_iscntrl(c) || u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND)) {
            fmt::format_to(std::back_inserter(out), "\\u{{{:x}}}", static_cast<uint32_t>(c));
        } else {
            out.append(text.data() + start, static_cast<size_t>(i - start));
        }
    }
    out += '"';
    return out;
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
            return fmt::format(format, quoted_name(text.view()));
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
