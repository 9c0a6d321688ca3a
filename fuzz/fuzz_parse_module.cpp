// Any bytes through parse_module: no crash or sanitizer report, and a result that holds together:
// tokens ordered inside the text, every node range inside its parent's, errors inside the text and
// the checked result agreeing with the unchecked one. Each input is parsed once.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "rudo/python_ast/dump.h"
#include "rudo/python_parser/parser/parse.h"
#include "stack_runner.h"

namespace {

using namespace rudo::python_ast;
using rudo::python_ast::dump_detail::HasRange;
using rudo::python_ast::dump_detail::IsBox;
using rudo::python_ast::dump_detail::IsList;
using rudo::python_ast::dump_detail::IsOptional;
using rudo::python_ast::dump_detail::IsVariant;
using rudo::python_ast::dump_detail::Kinds;
using rudo::python_ast::dump_detail::Record;

[[noreturn]] void fail(const char* what, TextRange range, TextRange parent) {
    std::fprintf(stderr, "%s: %u..%u in %u..%u\n", what, range.start(), range.end(), parent.start(),
                 parent.end());
    std::abort();
}

// Walks the tree with an explicit worklist: a flat chain such as a+a+...+a is as deep as it is
// long.
class RangeChecker {
  public:
    // Nesting is only asked of a tree without errors: placeholders for missing input sit at the
    // end of the previous token, which may lie outside the node that holds them.
    RangeChecker(TextRange text, bool nested) : text_(text), nested_(nested) {}

    template <typename T>
    void run(const T& root) {
        push(root, text_);
        while (!work_.empty()) {
            Item item = work_.back();
            work_.pop_back();
            item.visit(*this, item.node, item.parent);
        }
    }

  private:
    struct Item {
        void (*visit)(RangeChecker&, const void*, TextRange);
        const void* node;
        TextRange parent;
    };

    template <typename T>
    static void visit(RangeChecker& checker, const void* node, TextRange parent) {
        checker.value(*static_cast<const T*>(node), parent);
    }
    template <typename T>
    void push(const T& node, TextRange parent) {
        work_.push_back(Item{&visit<T>, &node, parent});
    }

    void check(TextRange range, TextRange parent) {
        if (range.start() > range.end()) fail("inverted range", range, parent);
        if (range.end() > text_.end()) fail("range past the text", range, parent);
        if (nested_ && (range.start() < parent.start() || range.end() > parent.end()))
            fail("range outside its parent", range, parent);
    }

    template <typename T>
    void value(const T& v, TextRange parent) {
        if constexpr (IsBox<T>::value || IsOptional<T>::value) {
            if (v) push(*v, parent);
        } else if constexpr (IsList<T>::value) {
            for (const auto& element : v)
                push(element, parent);
        } else if constexpr (Kinds<T>) {
            std::visit([&](const auto& node) { value(node, parent); }, v.as_variant());
        } else if constexpr (IsVariant<T>::value) {
            std::visit([&](const auto& node) { value(node, parent); }, v);
        } else if constexpr (std::is_same_v<T, StringLiteralValue> ||
                             std::is_same_v<T, BytesLiteralValue> ||
                             std::is_same_v<T, FStringValue> || std::is_same_v<T, TStringValue>) {
            for (const auto& part : v.parts())
                push(part, parent);
        } else if constexpr (std::is_same_v<T, FStringPart>) {
            std::visit([&](const auto& part) { push(part, parent); }, v);
        } else if constexpr (std::is_same_v<T, Identifier>) {
            check(v.range, parent);
        } else if constexpr (Record<T>) {
            TextRange own = parent;
            if constexpr (HasRange<T>) {
                check(v.range, parent);
                own = v.range;
            }
            for_each_field(v, [&](std::string_view, const auto& field) { value(field, own); });
        }
    }

    TextRange text_;
    bool nested_;
    std::vector<Item> work_;
};

void check_parse(std::string_view source) {
    const TextRange text(0, static_cast<TextSize>(source.size()));
    rudo::python_parser::Parsed parsed = rudo::python_parser::parse_module_unchecked(source);

    if (parsed.syntax.range != text) fail("module range", parsed.syntax.range, text);
    TextSize previous_end = 0;
    for (const Token& token : parsed.tokens) {
        if (token.range.start() < previous_end || token.range.end() > source.size())
            fail("token out of order", token.range, text);
        previous_end = token.range.end();
    }
    for (const auto& error : parsed.errors)
        if (error.location.start() > error.location.end() || error.location.end() > source.size())
            fail("error range", error.location, text);
    RangeChecker(text, parsed.errors.empty()).run(parsed.syntax);

    // The checked result is derived from this same parse, as parse_module derives it.
    const bool clean = parsed.errors.empty();
    std::optional<rudo::python_parser::ParseError> first;
    if (!clean) first = parsed.errors.front();
    const size_t tokens = parsed.tokens.size();
    auto result = rudo::python_parser::checked(std::move(parsed));
    if (result.ok() != clean) fail("checked parse disagrees", text, text);
    if (!clean && !(result.error() == *first))
        fail("checked parse reports another first error", result.error().location, text);
    if (clean && result->tokens.size() != tokens) fail("checked parse lost tokens", text, text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    // The tree is also destroyed there: freeing a deep tree recurses as deep as building it.
    auto body = [source] { check_parse(source); };
    quarn_fuzz::StackRunner::instance().run(body);
    return 0;
}
