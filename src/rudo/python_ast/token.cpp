#include "rudo/python_ast/token.h"

#include <array>

namespace rudo::python_ast {
namespace {

struct KindTexts {
    std::string_view name;
    std::string_view display;
    std::string_view source;
};

constexpr std::array<KindTexts, TOKEN_KIND_COUNT> KIND_TEXTS = {{
#define TOKEN_KIND(name, display, source) {#name, display, source},
#include "rudo/python_ast/token_kind.def"
#undef TOKEN_KIND
}};

}  // namespace

std::string_view display(TokenKind kind) { return KIND_TEXTS[static_cast<size_t>(kind)].display; }
std::string_view name(TokenKind kind) { return KIND_TEXTS[static_cast<size_t>(kind)].name; }
std::string_view source_text(TokenKind kind) {
    return KIND_TEXTS[static_cast<size_t>(kind)].source;
}

}  // namespace rudo::python_ast
