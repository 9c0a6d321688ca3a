#include "rudo/python_ast/nodes.h"

#include <array>
#include <type_traits>
#include <utility>
#include <variant>

namespace rudo::python_ast {

// ---------------------------------------------------------------------------------------------
// Enumerations.

#define RUDO_AST_NAME(name) #name,
#define RUDO_AST_ENUM_NAMES(Type, LIST)                                           \
    std::string_view name(Type value) {                                           \
        static constexpr std::string_view NAMES[] = {LIST(RUDO_AST_NAME)};        \
        auto i = static_cast<size_t>(value);                                      \
        if (i >= std::size(NAMES)) quarn::unreachable("invalid " #Type " value"); \
        return NAMES[i];                                                          \
    }
RUDO_AST_ENUM_NAMES(BoolOp, RUDO_AST_BOOL_OP)
RUDO_AST_ENUM_NAMES(CmpOp, RUDO_AST_CMP_OP)
RUDO_AST_ENUM_NAMES(Operator, RUDO_AST_OPERATOR)
RUDO_AST_ENUM_NAMES(UnaryOp, RUDO_AST_UNARY_OP)
RUDO_AST_ENUM_NAMES(ExprContext, RUDO_AST_EXPR_CONTEXT)
RUDO_AST_ENUM_NAMES(Singleton, RUDO_AST_SINGLETON)
#undef RUDO_AST_ENUM_NAMES
#undef RUDO_AST_NAME

std::string_view display(UnaryOp op) {
    switch (op) {
        case UnaryOp::Invert:
            return "~";
        case UnaryOp::Not:
            return "not";
        case UnaryOp::UAdd:
            return "+";
        case UnaryOp::USub:
            return "-";
    }
    quarn::unreachable("invalid UnaryOp value");
}

// ---------------------------------------------------------------------------------------------
// Flag narrowing.

namespace {

[[noreturn]] void wrong_prefix(AnyStringFlags flags, std::string_view target) {
    quarn::unreachable(
        fmt::format("Should never attempt to convert {} into {}", flags.prefix(), target));
}

// The bits every literal kind carries over: quotes, triple quotes, unterminated, raw (lower
// case wins when both raw bits are present).
template <typename Flags>
uint8_t common_bits(AnyStringFlags flags, uint8_t unterminated, uint8_t raw_lower,
                    uint8_t raw_upper) {
    uint8_t bits = 0;
    if (flags.contains(AnyStringFlags::DOUBLE_QUOTES)) bits |= Flags::DOUBLE_QUOTES;
    if (flags.contains(AnyStringFlags::TRIPLE_QUOTED)) bits |= Flags::TRIPLE_QUOTED;
    if (flags.contains(AnyStringFlags::UNTERMINATED)) bits |= unterminated;
    if (flags.contains(AnyStringFlags::R_PREFIX_LOWER)) {
        bits |= raw_lower;
    } else if (flags.contains(AnyStringFlags::R_PREFIX_UPPER)) {
        bits |= raw_upper;
    }
    return bits;
}

template <size_t N>
std::vector<std::string_view> names_of(uint8_t bits, const std::array<std::string_view, N>& names) {
    std::vector<std::string_view> out;
    for (size_t i = 0; i < N; ++i) {
        if (bits & (1u << i)) out.push_back(names[i]);
    }
    return out;
}

}  // namespace

StringLiteralFlags StringLiteralFlags::from(AnyStringFlags flags) {
    if (flags.bits() &
        (AnyStringFlags::B_PREFIX | AnyStringFlags::F_PREFIX | AnyStringFlags::T_PREFIX)) {
        wrong_prefix(flags, "a regular string");
    }
    uint8_t bits =
        common_bits<StringLiteralFlags>(flags, UNTERMINATED, R_PREFIX_LOWER, R_PREFIX_UPPER);
    if (flags.contains(AnyStringFlags::U_PREFIX) && !flags.is_raw()) bits |= U_PREFIX;
    return StringLiteralFlags(bits);
}

BytesLiteralFlags BytesLiteralFlags::from(AnyStringFlags flags) {
    if (!flags.contains(AnyStringFlags::B_PREFIX) ||
        (flags.bits() & (AnyStringFlags::F_PREFIX | AnyStringFlags::T_PREFIX))) {
        wrong_prefix(flags, "a bytestring");
    }
    return BytesLiteralFlags(
        common_bits<BytesLiteralFlags>(flags, UNTERMINATED, R_PREFIX_LOWER, R_PREFIX_UPPER));
}

FStringFlags FStringFlags::from(AnyStringFlags flags) {
    if (!flags.contains(AnyStringFlags::F_PREFIX)) wrong_prefix(flags, "an f-string");
    return FStringFlags(
        common_bits<FStringFlags>(flags, UNTERMINATED, R_PREFIX_LOWER, R_PREFIX_UPPER));
}

TStringFlags TStringFlags::from(AnyStringFlags flags) {
    if (!flags.contains(AnyStringFlags::T_PREFIX) || flags.contains(AnyStringFlags::F_PREFIX)) {
        wrong_prefix(flags, "a t-string");
    }
    return TStringFlags(
        common_bits<TStringFlags>(flags, UNTERMINATED, R_PREFIX_LOWER, R_PREFIX_UPPER));
}

std::vector<std::string_view> flag_names(StringLiteralFlags flags) {
    static constexpr std::array<std::string_view, 7> NAMES = {
        "DOUBLE_QUOTES",  "TRIPLE_QUOTED", "U_PREFIX",    "R_PREFIX_LOWER",
        "R_PREFIX_UPPER", "INVALID",       "UNTERMINATED"};
    return names_of(flags.bits(), NAMES);
}
std::vector<std::string_view> flag_names(BytesLiteralFlags flags) {
    static constexpr std::array<std::string_view, 6> NAMES = {"DOUBLE_QUOTES",  "TRIPLE_QUOTED",
                                                              "R_PREFIX_LOWER", "R_PREFIX_UPPER",
                                                              "INVALID",        "UNTERMINATED"};
    return names_of(flags.bits(), NAMES);
}
std::vector<std::string_view> flag_names(FStringFlags flags) {
    static constexpr std::array<std::string_view, 5> NAMES = {
        "DOUBLE_QUOTES", "TRIPLE_QUOTED", "R_PREFIX_LOWER", "R_PREFIX_UPPER", "UNTERMINATED"};
    return names_of(flags.bits(), NAMES);
}
std::vector<std::string_view> flag_names(TStringFlags flags) {
    static constexpr std::array<std::string_view, 5> NAMES = {
        "DOUBLE_QUOTES", "TRIPLE_QUOTED", "R_PREFIX_LOWER", "R_PREFIX_UPPER", "UNTERMINATED"};
    return names_of(flags.bits(), NAMES);
}

// ---------------------------------------------------------------------------------------------
// String values.

StringLiteralValue StringLiteralValue::concatenated(List<StringLiteral> parts) {
    if (parts.size() < 2) {
        quarn::panic("Use `StringLiteralValue::single` to create single-part strings");
    }
    StringLiteralValue value;
    value.repr_.emplace<1>(Concatenated{std::move(parts), {}});
    return value;
}

std::span<const StringLiteral> StringLiteralValue::parts() const {
    if (const auto* single = std::get_if<0>(&repr_)) return {single, 1};
    return std::get<1>(repr_).parts;
}

std::string_view StringLiteralValue::to_str() const {
    if (const auto* single = std::get_if<0>(&repr_)) return single->value;
    const auto& concatenated = std::get<1>(repr_);
    return concatenated.joined.get_or_join(concatenated.parts);
}

bool StringLiteralValue::is_joined() const {
    const auto* concatenated = std::get_if<1>(&repr_);
    return concatenated && concatenated->joined.get() != nullptr;
}

StringLiteralValue::JoinedText::JoinedText(const JoinedText& other) : home_(current_arena()) {
    if (const std::string* text = other.get()) {
        auto copy = std::make_unique<std::string>(*text);
        text_.store(home_ ? home_->keep(std::move(copy)) : copy.release());
    }
}

const std::string& StringLiteralValue::JoinedText::get_or_join(
    std::span<const StringLiteral> parts) const {
    if (const std::string* text = get()) return *text;
    size_t size = 0;
    for (const auto& part : parts)
        size += part.value.size();
    auto owned = std::make_unique<std::string>();
    owned->reserve(size);
    for (const auto& part : parts)
        owned->append(part.value);
    const std::string* joined = owned.get();
    // A tree in an arena keeps the text there; a heap tree owns it through this slot.
    if (home_) home_->keep(std::move(owned));
    // The first thread to publish wins; a loser's copy is dropped (or kept unused by the arena).
    const std::string* expected = nullptr;
    if (text_.compare_exchange_strong(expected, joined, std::memory_order_acq_rel,
                                      std::memory_order_acquire)) {
        owned.release();
        return *joined;
    }
    return *expected;
}

BytesLiteralValue BytesLiteralValue::concatenated(List<BytesLiteral> parts) {
    if (parts.size() < 2) {
        quarn::panic("Use `BytesLiteralValue::single` to create single-part bytestrings");
    }
    BytesLiteralValue value;
    value.repr_.emplace<1>(std::move(parts));
    return value;
}

std::span<const BytesLiteral> BytesLiteralValue::parts() const {
    if (const auto* single = std::get_if<0>(&repr_)) return {single, 1};
    return std::get<1>(repr_);
}

std::string BytesLiteralValue::bytes() const {
    std::string out;
    for (const auto& part : parts())
        out += part.value;
    return out;
}

TextRange FStringPart::range() const {
    if (const auto* literal = as_literal()) return literal->range;
    if (const auto* f_string = as_f_string()) return f_string->range;
    return {};
}

FStringValue FStringValue::single(FStringPart part) {
    FStringValue value;
    value.repr_.emplace<0>(std::move(part));
    return value;
}

FStringValue FStringValue::concatenated(List<FStringPart> parts) {
    if (parts.size() < 2)
        quarn::panic("Use `FStringValue::single` to create single-part f-strings");
    FStringValue value;
    value.repr_.emplace<1>(std::move(parts));
    return value;
}

std::span<const FStringPart> FStringValue::parts() const {
    if (const auto* single = std::get_if<0>(&repr_)) return {single->get(), 1};
    return std::get<1>(repr_);
}

TStringValue TStringValue::single(TString part) {
    TStringValue value;
    value.repr_.emplace<0>(std::move(part));
    return value;
}

TStringValue TStringValue::concatenated(List<TString> parts) {
    if (parts.size() < 2)
        quarn::panic("Use `TStringValue::single` to create single-part t-strings");
    TStringValue value;
    value.repr_.emplace<1>(std::move(parts));
    return value;
}

std::span<const TString> TStringValue::parts() const {
    if (const auto* single = std::get_if<0>(&repr_)) return {single->get(), 1};
    return std::get<1>(repr_);
}

// ---------------------------------------------------------------------------------------------
// Suite.

Suite::Suite(List<Stmt>&& stmts) noexcept : stmts_(std::move(stmts)) {}

Suite::Suite(std::initializer_list<Stmt> stmts) : stmts_(stmts) {}

Suite::Suite(const Suite& other) {
    if (!other.arena_) {
        stmts_ = other.stmts_;
        return;
    }
    // The copy takes about what the original holds.
    auto arena = std::make_unique<Arena>(other.arena_->bytes_held());
    {
        ArenaScope scope(arena.get());
        stmts_ = other.stmts_;
    }
    arena->trim();
    arena_ = std::move(arena);
}

Suite::Suite(Suite&& other) noexcept
    : arena_(std::move(other.arena_)), stmts_(std::move(other.stmts_)) {}

Suite& Suite::operator=(const Suite& other) {
    if (this != &other) *this = Suite(other);
    return *this;
}

Suite& Suite::operator=(Suite&& other) noexcept {
    if (this != &other) {
        if (arena_) {
            forget();
            arena_.reset();
        }
        stmts_ = std::move(other.stmts_);
        arena_ = std::move(other.arena_);
    }
    return *this;
}

Suite::~Suite() {
    if (arena_) forget();
}

void Suite::forget() noexcept {
    ::new (&stmts_) List<Stmt>();
}

// ---------------------------------------------------------------------------------------------
// Parameters.

const Parameter& AnyParameterRef::parameter() const {
    return with_default ? with_default->parameter : *bare;
}

size_t Parameters::Iterator::segment_size(int segment) const {
    switch (segment) {
        case 0:
            return owner_->posonlyargs.size();
        case 1:
            return owner_->args.size();
        case 2:
            return owner_->vararg ? 1 : 0;
        case 3:
            return owner_->kwonlyargs.size();
        case 4:
            return owner_->kwarg ? 1 : 0;
        default:
            return 0;
    }
}

AnyParameterRef Parameters::Iterator::operator*() const {
    switch (segment_) {
        case 0:
            return {&owner_->posonlyargs[index_], nullptr};
        case 1:
            return {&owner_->args[index_], nullptr};
        case 2:
            return {nullptr, owner_->vararg.get()};
        case 3:
            return {&owner_->kwonlyargs[index_], nullptr};
        case 4:
            return {nullptr, owner_->kwarg.get()};
        default:
            quarn::unreachable("dereferenced the end of Parameters::iter");
    }
}

size_t Parameters::len() const {
    return posonlyargs.size() + args.size() + (vararg ? 1 : 0) + kwonlyargs.size() +
           (kwarg ? 1 : 0);
}

// ---------------------------------------------------------------------------------------------
// Iterative destruction and copy of the kinds that nest without bound.
//
// Destruction: the first node of a kind destroyed on a thread with children of its kind moves
// itself into a worklist and frees the list's nodes one at a time. While that runs, any other
// node of the kind that gets destroyed (a child, wherever it sits: a box, a list, a parameter
// default, an f-string part) moves its contents into the list and leaves an empty shell, so no
// destructor ever runs inside another one of its kind.
//
// Copy: the copy of a node starts as a cheap placeholder and is registered with a worklist;
// filling a placeholder copies one node's own fields, whose nested same-kind children register
// themselves in turn. Placeholders live in heap boxes or vector buffers, whose addresses stay put.

template <typename T>
struct DeepOps {
    struct CopyTask {
        T* dest;
        const T* src;
    };
    struct DropState {
        std::vector<T> pending;
        const T* current = nullptr;  // the node whose members are being freed
        bool active = false;
        bool moving = false;  // only moved-from shells die while the list itself changes

        void push(T&& node) {
            moving = true;
            pending.push_back(std::move(node));
            moving = false;
        }
    };
    static DropState& drop_state() {
        thread_local DropState state;
        return state;
    }
    static std::vector<CopyTask>*& copy_list() {
        thread_local std::vector<CopyTask>* list = nullptr;
        return list;
    }

    static void destroy(T& node) noexcept {
        if (!has_children(node)) return;
        DropState& state = drop_state();
        if (state.moving) return;
        if (state.active) {
            if (&node != state.current) state.push(std::move(node));
            return;
        }
        state.active = true;
        state.push(std::move(node));
        while (!state.pending.empty()) {
            state.moving = true;
            T next = std::move(state.pending.back());
            state.pending.pop_back();
            state.moving = false;
            state.current = &next;
        }  // `next` is freed here; its children join `pending`
        state.current = nullptr;
        state.active = false;
        // Keep a small buffer for the next tree; give back what a very wide one needed.
        if (state.pending.capacity() > 4096) {
            state.moving = true;
            std::vector<T>().swap(state.pending);
            state.moving = false;
        }
    }

    static void copy(T& dest, const T& src) {
        auto& active = copy_list();
        if (active) {
            active->push_back({&dest, &src});
            return;
        }
        std::vector<CopyTask> pending;
        active = &pending;
        try {
            fill(dest, src);
            while (!pending.empty()) {
                CopyTask task = pending.back();
                pending.pop_back();
                fill(*task.dest, *task.src);
            }
        } catch (...) {
            active = nullptr;
            throw;
        }
        active = nullptr;
    }

    static void fill(T& dest, const T& src) {
        std::visit(
            [&](const auto& node) {
                using Node = std::decay_t<decltype(node)>;
                dest.as_variant().template emplace<Node>(node);
            },
            src.as_variant());
    }

    // Whether a node of this kind can hold nodes of the same kind.
    static bool has_children(const T& node);
};

// Whether each kind can hold nodes of its own kind, by variant index: every destruction asks,
// moved-from shells included, so the answer is one load rather than a chain of kind tests.
namespace {

template <typename Node, typename... Kinds>
constexpr bool one_of = (std::is_same_v<Node, Kinds> || ...);

template <typename Variant>
struct KindTable;
template <typename... Nodes>
struct KindTable<std::variant<Nodes...>> {
    template <typename Predicate>
    static constexpr std::array<bool, sizeof...(Nodes)> of(Predicate predicate) {
        return {predicate.template operator()<Nodes>()...};
    }
};

template <typename T, typename Predicate>
constexpr auto kind_table(Predicate predicate) {
    return KindTable<std::remove_cvref_t<decltype(std::declval<const T&>().as_variant())>>::of(
        predicate);
}

// A node left without a value by a failed copy holds nothing.
template <typename T, size_t N>
bool lookup(const std::array<bool, N>& table, const T& node) {
    const size_t index = node.as_variant().index();
    return index < N && table[index];
}

}  // namespace

const std::array<bool, std::variant_size_v<ExprVariant>> Expr::MAY_NEST =
    kind_table<Expr>([]<typename Node>() {
        return !one_of<Node, ExprName, ExprNumberLiteral, ExprStringLiteral, ExprBytesLiteral,
                       ExprBooleanLiteral, ExprNoneLiteral, ExprEllipsisLiteral>;
    });

const std::array<bool, std::variant_size_v<PatternVariant>> Pattern::MAY_NEST =
    kind_table<Pattern>([]<typename Node>() {
        return !one_of<Node, PatternMatchValue, PatternMatchSingleton, PatternMatchStar>;
    });

const std::array<bool, std::variant_size_v<StmtVariant>> Stmt::MAY_NEST =
    kind_table<Stmt>([]<typename Node>() {
        return one_of<Node, StmtFunctionDef, StmtClassDef, StmtFor, StmtWhile, StmtIf, StmtWith,
                      StmtMatch, StmtTry>;
    });

template <>
bool DeepOps<Expr>::has_children(const Expr& e) {
    return lookup(Expr::MAY_NEST, e);
}

template <>
bool DeepOps<Pattern>::has_children(const Pattern& p) {
    return lookup(Pattern::MAY_NEST, p);
}

template <>
bool DeepOps<Stmt>::has_children(const Stmt& s) {
    return lookup(Stmt::MAY_NEST, s);
}

Expr::Expr(const Expr& other) : NodeKinds() {
    DeepOps<Expr>::copy(*this, other);
}
void Expr::destroy_nested() noexcept {
    DeepOps<Expr>::destroy(*this);
}
Pattern::Pattern(const Pattern& other) : NodeKinds() {
    DeepOps<Pattern>::copy(*this, other);
}
void Pattern::destroy_nested() noexcept {
    DeepOps<Pattern>::destroy(*this);
}
Stmt::Stmt(const Stmt& other) : NodeKinds() {
    DeepOps<Stmt>::copy(*this, other);
}
void Stmt::destroy_nested() noexcept {
    DeepOps<Stmt>::destroy(*this);
}

}  // namespace rudo::python_ast
