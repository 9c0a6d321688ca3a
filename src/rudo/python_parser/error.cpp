#include "rudo/python_parser/error.h"

#include <array>
#include <cstring>
#include <new>

#include "base/panic.h"
#include "base/utf8.h"

namespace rudo::python_parser {
namespace {

constexpr std::array<std::string_view, 8> INTERPOLATED_MESSAGES = {
#define INTERPOLATED_STRING_ERROR(kind, message) message,
#include "rudo/python_parser/interpolated_string_error.def"
#undef INTERPOLATED_STRING_ERROR
};

constexpr std::array<std::string_view, 13> LEXICAL_NAMES = {
#define LEXICAL_ERROR(kind, message) #kind,
#include "rudo/python_parser/lexical_error.def"
#undef LEXICAL_ERROR
};

}  // namespace

ErrorText::ErrorText(std::string_view text) {
    if (text.empty()) return;
    if (text.size() > UINT32_MAX) quarn::panic("an error text longer than 4 GiB");
    void* block = ::operator new(sizeof(Owned) + text.size());
    Owned* owned = new (block) Owned{{1}, static_cast<uint32_t>(text.size())};
    std::memcpy(reinterpret_cast<char*>(owned + 1), text.data(), text.size());
    bits_ = reinterpret_cast<uintptr_t>(owned);
}

void ErrorText::release_owned() noexcept {
    Owned* owned = reinterpret_cast<Owned*>(bits_);
    if (owned->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        owned->~Owned();
        ::operator delete(owned);
    }
}

std::string_view message(InterpolatedStringErrorType kind) {
    return INTERPOLATED_MESSAGES[static_cast<size_t>(kind)];
}

std::string_view kind_name(LexicalErrorType::Kind kind) {
    return LEXICAL_NAMES[static_cast<size_t>(kind)];
}

std::string LexicalErrorType::message() const {
    switch (kind) {
        case Kind::UnexpectedCharacter: {
            std::string out = "Got unexpected token ";
            quarn::append_utf8(out, character);
            return out;
        }
        case Kind::FStringError:
            return fmt::format(fmt::format_string<std::string_view>(message_of(Kind::FStringError)),
                               python_parser::message(interpolated));
        case Kind::TStringError:
            return fmt::format(fmt::format_string<std::string_view>(message_of(Kind::TStringError)),
                               python_parser::message(interpolated));
        case Kind::Other:
            return std::string(text.view());
        default:
            return std::string(message_of(kind));
    }
}

}  // namespace rudo::python_parser
