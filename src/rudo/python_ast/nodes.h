// The syntax tree: every node record, the closed kind sets and the values carried by nodes.
//
// The tree is strict: a node owns its children (one child in a Box, lists in List, fixed-length
// sequences in Seq), all in the memory of the parse's arena (arena.h) that the module's Suite
// owns. The kinds of Stmt, Expr, Pattern and TypeParam are variants
// of plain node structs. Copying any node copies it deeply; copying and destroying Stmt, Expr
// and Pattern run iteratively, so a tree of any depth never exhausts the stack.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>

#include "base/panic.h"
#include "rudo/python_ast/arena.h"
#include "rudo/python_ast/box.h"
#include "rudo/python_ast/int.h"
#include "rudo/python_ast/name.h"
#include "rudo/python_ast/node_index.h"
#include "rudo/python_ast/node_text.h"
#include "rudo/python_ast/str_prefix.h"
#include "rudo/text_size/text_size.h"

namespace rudo::python_ast {

using text_size::TextRange;
using text_size::TextSize;

// ---------------------------------------------------------------------------------------------
// Enumerations carried by nodes: X(name) in value order.

#define RUDO_AST_BOOL_OP(X) X(And) X(Or)
#define RUDO_AST_CMP_OP(X) X(Eq) X(NotEq) X(Lt) X(LtE) X(Gt) X(GtE) X(Is) X(IsNot) X(In) X(NotIn)
#define RUDO_AST_OPERATOR(X) \
    X(Add)                   \
    X(Sub)                   \
    X(Mult)                  \
    X(MatMult) X(Div) X(Mod) X(Pow) X(LShift) X(RShift) X(BitOr) X(BitXor) X(BitAnd) X(FloorDiv)
#define RUDO_AST_UNARY_OP(X) X(Invert) X(Not) X(UAdd) X(USub)
#define RUDO_AST_EXPR_CONTEXT(X) X(Load) X(Store) X(Del) X(Invalid)
#define RUDO_AST_SINGLETON(X) X(None) X(True) X(False)

#define RUDO_AST_ENUMERATOR(name) name,
#define RUDO_AST_ENUM(Type, LIST)                                 \
    enum class Type : uint8_t { LIST(RUDO_AST_ENUMERATOR) };      \
    /* The enumerator name, as dumps print it ("Add", "Load"). */ \
    std::string_view name(Type value);
RUDO_AST_ENUM(BoolOp, RUDO_AST_BOOL_OP)
RUDO_AST_ENUM(CmpOp, RUDO_AST_CMP_OP)
RUDO_AST_ENUM(Operator, RUDO_AST_OPERATOR)
RUDO_AST_ENUM(UnaryOp, RUDO_AST_UNARY_OP)
RUDO_AST_ENUM(ExprContext, RUDO_AST_EXPR_CONTEXT)
RUDO_AST_ENUM(Singleton, RUDO_AST_SINGLETON)
#undef RUDO_AST_ENUM
#undef RUDO_AST_ENUMERATOR

// Display of a unary operator: "~", "not", "+", "-".
std::string_view display(UnaryOp op);

// ---------------------------------------------------------------------------------------------
// Per-node string flags, narrowed from the lexer's AnyStringFlags.

template <typename Derived>
class StringNodeFlags {
  public:
    constexpr StringNodeFlags() = default;
    constexpr explicit StringNodeFlags(uint8_t bits) : bits_(bits) {}
    constexpr uint8_t bits() const { return bits_; }
    constexpr bool contains(uint8_t bit) const { return (bits_ & bit) == bit; }
    constexpr Derived with(uint8_t bit) const { return Derived(static_cast<uint8_t>(bits_ | bit)); }
    friend constexpr bool operator==(StringNodeFlags a, StringNodeFlags b) {
        return a.bits_ == b.bits_;
    }

  private:
    uint8_t bits_ = 0;
};

struct StringLiteralFlags : StringNodeFlags<StringLiteralFlags> {
    using StringNodeFlags::StringNodeFlags;
    static constexpr uint8_t DOUBLE_QUOTES = 0x01, TRIPLE_QUOTED = 0x02, U_PREFIX = 0x04,
                             R_PREFIX_LOWER = 0x08, R_PREFIX_UPPER = 0x10, INVALID = 0x20,
                             UNTERMINATED = 0x40;
    // Fails as an internal invariant when the flags carry a bytes, f- or t-string prefix.
    static StringLiteralFlags from(AnyStringFlags flags);
};

struct BytesLiteralFlags : StringNodeFlags<BytesLiteralFlags> {
    using StringNodeFlags::StringNodeFlags;
    static constexpr uint8_t DOUBLE_QUOTES = 0x01, TRIPLE_QUOTED = 0x02, R_PREFIX_LOWER = 0x04,
                             R_PREFIX_UPPER = 0x08, INVALID = 0x10, UNTERMINATED = 0x20;
    static BytesLiteralFlags from(AnyStringFlags flags);
};

struct FStringFlags : StringNodeFlags<FStringFlags> {
    using StringNodeFlags::StringNodeFlags;
    static constexpr uint8_t DOUBLE_QUOTES = 0x01, TRIPLE_QUOTED = 0x02, R_PREFIX_LOWER = 0x04,
                             R_PREFIX_UPPER = 0x08, UNTERMINATED = 0x10;
    static FStringFlags from(AnyStringFlags flags);
};

struct TStringFlags : StringNodeFlags<TStringFlags> {
    using StringNodeFlags::StringNodeFlags;
    static constexpr uint8_t DOUBLE_QUOTES = 0x01, TRIPLE_QUOTED = 0x02, R_PREFIX_LOWER = 0x04,
                             R_PREFIX_UPPER = 0x08, UNTERMINATED = 0x10;
    static TStringFlags from(AnyStringFlags flags);
};

// The names of the bits set, in bit order, for dumps.
std::vector<std::string_view> flag_names(StringLiteralFlags flags);
std::vector<std::string_view> flag_names(BytesLiteralFlags flags);
std::vector<std::string_view> flag_names(FStringFlags flags);
std::vector<std::string_view> flag_names(TStringFlags flags);

// ---------------------------------------------------------------------------------------------
// Forward declarations of every node.

class Expr;
class Stmt;
class Pattern;
class TypeParam;
struct Parameters;
struct DictItem;
#define F(type, name)
#define FD(type, name, init)
#define NODE(section, kind, fields) struct kind;
#include "rudo/python_ast/nodes.def"
#undef NODE

using InterpolatedStringElement =
    std::variant<InterpolatedStringElementLiteral, InterpolatedStringElementInterpolation>;
using InterpolatedStringElements = List<InterpolatedStringElement>;
using ExceptHandler = std::variant<ExceptHandlerExceptHandler>;

// GCC misreports moves of an identifier with an empty name as reads of uninitialised bytes.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// An identifier: its text, range and index, in this order. Empty text is the parser's
// placeholder for a missing name.
struct Identifier {
    Name id{};
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
    TextRange range{};
    AtomicNodeIndex node_index{};

    bool is_valid() const {
        return !id.empty();
    }
    std::string_view as_str() const {
        return id.as_str();
    }
};

// The source around the expression of a self-documenting interpolation (`{x = }`).
struct DebugText {
    NodeText leading{};   // between `{` and the expression
    NodeText trailing{};  // from the expression's end to the token after `=`, `=` included
};

// A module's statement list together with the arena that holds its tree (none for a tree built
// by hand on the heap). Dropping it releases the arena's chunks without visiting the nodes; a
// copy goes into an arena of its own; a move hands over both.
class Suite {
  public:
    Suite() noexcept = default;
    Suite(List<Stmt>&& stmts) noexcept;
    Suite(std::initializer_list<Stmt> stmts);
    Suite(const Suite& other);
    Suite(Suite&& other) noexcept;
    Suite& operator=(const Suite& other);
    Suite& operator=(Suite&& other) noexcept;
    ~Suite();

    // Hands the finished tree's arena to the suite, which gives back the arena's unused end; the
    // statements must live in it.
    void adopt_arena(std::unique_ptr<Arena> arena) noexcept {
        arena_ = std::move(arena);
        if (arena_) arena_->trim();
    }
    const Arena* arena() const noexcept { return arena_.get(); }

    List<Stmt>& stmts() noexcept { return stmts_; }
    const List<Stmt>& stmts() const noexcept { return stmts_; }
    // Defined below, where Stmt is complete: clang instantiates a member's body where it stands.
    size_t size() const noexcept;
    bool empty() const noexcept;
    List<Stmt>::iterator begin() noexcept;
    List<Stmt>::iterator end() noexcept;
    List<Stmt>::const_iterator begin() const noexcept;
    List<Stmt>::const_iterator end() const noexcept;
    Stmt& operator[](size_t i) noexcept;
    const Stmt& operator[](size_t i) const noexcept;
    Stmt& at(size_t i);
    const Stmt& at(size_t i) const;
    Stmt& front() noexcept { return (*this)[0]; }
    const Stmt& front() const noexcept { return (*this)[0]; }
    Stmt& back() noexcept { return (*this)[size() - 1]; }
    const Stmt& back() const noexcept { return (*this)[size() - 1]; }
    operator std::span<const Stmt>() const noexcept;

  private:
    // Ends the statements' lifetime without running their destructors: their memory is the
    // arena's, released with it.
    void forget() noexcept;

    std::unique_ptr<Arena> arena_;
    List<Stmt> stmts_;
};

// ---------------------------------------------------------------------------------------------
// String parts.

#define NODE_LIT(kind, fields)                                 \
    struct kind {                                              \
        AtomicNodeIndex node_index{};                          \
        TextRange range{};                                     \
        fields static constexpr std::string_view KIND = #kind; \
    };
#define NODE_REC(kind, fields)
#define NODE_EXPR(kind, fields)
#define NODE_PATTERN(kind, fields)
#define NODE_TYPE_PARAM(kind, fields)
#define NODE_STMT(kind, fields)
#undef F
#undef FD
// No default member initializer on class-type fields: std::vector<Expr> is declared while Expr
// is incomplete, and an initializer would instantiate its constexpr members there (clang does).
#define F(type, name) \
    type name;        \
    static_assert(!std::is_scalar_v<type>, "a scalar field needs FD with its default");
#define FD(type, name, init) type name = init;
#define NODE(section, kind, fields) NODE_##section(kind, fields)
#include "rudo/python_ast/nodes.def"
#undef NODE_LIT

inline StringLiteral invalid_string_literal(TextRange range) {
    return StringLiteral{
        .range = range, .value = {}, .flags = StringLiteralFlags(StringLiteralFlags::INVALID)};
}

// ---------------------------------------------------------------------------------------------
// String values: a single part or an implicit concatenation of two or more parts.

class StringLiteralValue {
  public:
    StringLiteralValue() noexcept : repr_(std::in_place_index<0>) {}
    static StringLiteralValue single(StringLiteral part) noexcept {
        return StringLiteralValue(std::move(part));
    }
    // Two or more parts; fewer is an internal invariant failure.
    static StringLiteralValue concatenated(List<StringLiteral> parts);

    bool is_implicit_concatenated() const { return repr_.index() == 1; }
    // Every part in source order (one in the single form).
    std::span<const StringLiteral> parts() const;
    // The text of all parts joined; for a concatenation computed once, on first request, and
    // then kept (safe to ask from several threads).
    std::string_view to_str() const;
    // Whether the joined text of a concatenation has been computed.
    bool is_joined() const;

  private:
    class JoinedText {
      public:
        // The text, once joined, belongs to the arena current now (the heap outside any).
        JoinedText() noexcept : home_(current_arena()) {}
        JoinedText(const JoinedText& other);
        JoinedText(JoinedText&& other) noexcept
            : text_(other.text_.exchange(nullptr)), home_(other.home_) {}
        JoinedText& operator=(const JoinedText& other) {
            if (this != &other) *this = JoinedText(other);
            return *this;
        }
        JoinedText& operator=(JoinedText&& other) noexcept {
            if (this != &other) {
                drop();
                text_.store(other.text_.exchange(nullptr));
                home_ = other.home_;
            }
            return *this;
        }
        ~JoinedText() { drop(); }
        const std::string* get() const { return text_.load(std::memory_order_acquire); }
        const std::string& get_or_join(std::span<const StringLiteral> parts) const;

      private:
        void drop() noexcept {
            if (home_ == nullptr) delete text_.load(std::memory_order_relaxed);
        }
        mutable std::atomic<const std::string*> text_{nullptr};
        Arena* home_;
    };
    struct Concatenated {
        List<StringLiteral> parts;
        JoinedText joined;
    };
    explicit StringLiteralValue(StringLiteral&& part) noexcept
        : repr_(std::in_place_index<0>, std::move(part)) {}

    // The single part is held in place: its text is a NodeText, so the part is no larger than
    // a concatenation's list and joined text.
    std::variant<StringLiteral, Concatenated> repr_;
};

class BytesLiteralValue {
  public:
    BytesLiteralValue() noexcept : repr_(std::in_place_index<0>) {}
    static BytesLiteralValue single(BytesLiteral part) noexcept {
        return BytesLiteralValue(std::move(part));
    }
    static BytesLiteralValue concatenated(List<BytesLiteral> parts);

    bool is_implicit_concatenated() const { return repr_.index() == 1; }
    std::span<const BytesLiteral> parts() const;
    // The bytes of all parts joined.
    std::string bytes() const;

  private:
    explicit BytesLiteralValue(BytesLiteral&& part) noexcept
        : repr_(std::in_place_index<0>, std::move(part)) {}

    std::variant<BytesLiteral, List<BytesLiteral>> repr_;
};

// A part of an f-string value: a plain literal (held in a box: it is rare and keeps the
// expression small) or an f-string.
struct FStringPart : std::variant<Box<StringLiteral>, FString> {
    using variant::variant;
    const StringLiteral* as_literal() const {
        auto* literal = std::get_if<0>(this);
        return literal ? literal->get() : nullptr;
    }
    const FString* as_f_string() const { return std::get_if<1>(this); }
    TextRange range() const;
};

class FStringValue {
  public:
    FStringValue() : repr_(std::in_place_index<0>, FStringPart{}) {}
    static FStringValue single(FStringPart part);
    static FStringValue concatenated(List<FStringPart> parts);

    bool is_implicit_concatenated() const { return repr_.index() == 1; }
    std::span<const FStringPart> parts() const;

  private:
    std::variant<Box<FStringPart>, List<FStringPart>> repr_;
};

class TStringValue {
  public:
    TStringValue() : repr_(std::in_place_index<0>, TString{}) {}
    static TStringValue single(TString part);
    static TStringValue concatenated(List<TString> parts);

    bool is_implicit_concatenated() const { return repr_.index() == 1; }
    std::span<const TString> parts() const;

  private:
    std::variant<Box<TString>, List<TString>> repr_;
};

struct NumberLiteralComplex {
    double real = 0;
    double imag = 0;
    friend bool operator==(const NumberLiteralComplex&, const NumberLiteralComplex&) = default;
};

// NumberLiteralValue::Int, ::Float or ::Complex.
struct NumberLiteralValue : std::variant<Int, double, NumberLiteralComplex> {
    using variant::variant;
    using Complex = NumberLiteralComplex;
    const Int* as_int() const { return std::get_if<Int>(this); }
    const double* as_float() const { return std::get_if<double>(this); }
    const Complex* as_complex() const { return std::get_if<Complex>(this); }
};

// ---------------------------------------------------------------------------------------------
// Auxiliary records and the kinds of every category.

#define NODE_LIT(kind, fields)
#undef NODE_REC
#undef NODE_EXPR
#undef NODE_PATTERN
#undef NODE_TYPE_PARAM
#undef NODE_STMT
#define NODE_REC(kind, fields)                                 \
    struct kind {                                              \
        AtomicNodeIndex node_index{};                          \
        TextRange range{};                                     \
        fields static constexpr std::string_view KIND = #kind; \
    };
#define NODE_EXPR NODE_REC
#define NODE_PATTERN NODE_REC
#define NODE_TYPE_PARAM NODE_REC
#define NODE_STMT NODE_REC
#include "rudo/python_ast/nodes.def"

// One item of Parameters::iter: a parameter with a default (the three lists) or a bare one
// (`vararg`, `kwarg`).
struct AnyParameterRef {
    const ParameterWithDefault* with_default = nullptr;
    const Parameter* bare = nullptr;

    bool is_with_default() const { return with_default != nullptr; }
    const Parameter& parameter() const;
};

struct Parameters {
    AtomicNodeIndex node_index{};
    TextRange range{};
    List<ParameterWithDefault> posonlyargs{};  // before `/`
    List<ParameterWithDefault> args{};
    OptionalBox<Parameter> vararg{};          // `*name`
    List<ParameterWithDefault> kwonlyargs{};  // after `*` or `*name`
    OptionalBox<Parameter> kwarg{};           // `**name`
    static constexpr std::string_view KIND = "Parameters";

    class Iterator;
    struct Range;
    // Every parameter in source order: posonlyargs, args, vararg, kwonlyargs, kwarg.
    Range iter() const;
    size_t len() const;
};

class Parameters::Iterator {
  public:
    using value_type = AnyParameterRef;
    using difference_type = std::ptrdiff_t;
    Iterator() = default;
    Iterator(const Parameters* owner, int segment, size_t index)
        : owner_(owner), segment_(segment), index_(index) {
        settle();
    }
    AnyParameterRef operator*() const;
    Iterator& operator++() {
        ++index_;
        settle();
        return *this;
    }
    Iterator operator++(int) {
        Iterator old = *this;
        ++*this;
        return old;
    }
    friend bool operator==(const Iterator& a, const Iterator& b) {
        return a.segment_ == b.segment_ && a.index_ == b.index_;
    }

  private:
    size_t segment_size(int segment) const;
    void settle() {
        while (segment_ < 5 && index_ >= segment_size(segment_)) {
            ++segment_;
            index_ = 0;
        }
    }
    const Parameters* owner_ = nullptr;
    int segment_ = 5;
    size_t index_ = 0;
};

struct Parameters::Range {
    Iterator first, last;
    Iterator begin() const { return first; }
    Iterator end() const { return last; }
};

inline Parameters::Range Parameters::iter() const {
    return Range{Iterator(this, 0, 0), Iterator(this, 5, 0)};
}

// A key/value item of a dict display; the only record without index and range.
struct DictItem {
    OptionalBox<Expr> key{};  // absent for `**mapping`
    Box<Expr> value{};
    static constexpr std::string_view KIND = "DictItem";
};

// ---------------------------------------------------------------------------------------------
// The closed kind sets.

namespace detail {
template <typename... Ts>
struct VariantWithoutLast {
    template <size_t... I>
    static auto make(std::index_sequence<I...>)
        -> std::variant<std::tuple_element_t<I, std::tuple<Ts...>>...>;
    using type = decltype(make(std::make_index_sequence<sizeof...(Ts) - 1>()));
};
struct EndOfKinds {};
}  // namespace detail

#undef NODE_REC
#undef NODE_EXPR
#undef NODE_PATTERN
#undef NODE_TYPE_PARAM
#undef NODE_STMT
#define NODE_REC(kind, fields)
#define NODE_KIND(kind, fields) kind,
#define NODE_SKIP(kind, fields)

#define NODE_EXPR NODE_KIND
#define NODE_PATTERN NODE_SKIP
#define NODE_TYPE_PARAM NODE_SKIP
#define NODE_STMT NODE_SKIP
using ExprVariant = detail::VariantWithoutLast<
#include "rudo/python_ast/nodes.def"
    detail::EndOfKinds>::type;
#undef NODE_EXPR
#undef NODE_PATTERN

#define NODE_EXPR NODE_SKIP
#define NODE_PATTERN NODE_KIND
using PatternVariant = detail::VariantWithoutLast<
#include "rudo/python_ast/nodes.def"
    detail::EndOfKinds>::type;
#undef NODE_PATTERN
#undef NODE_TYPE_PARAM

#define NODE_PATTERN NODE_SKIP
#define NODE_TYPE_PARAM NODE_KIND
using TypeParamVariant = detail::VariantWithoutLast<
#include "rudo/python_ast/nodes.def"
    detail::EndOfKinds>::type;
#undef NODE_TYPE_PARAM
#undef NODE_STMT

#define NODE_TYPE_PARAM NODE_SKIP
#define NODE_STMT NODE_KIND
using StmtVariant = detail::VariantWithoutLast<
#include "rudo/python_ast/nodes.def"
    detail::EndOfKinds>::type;

#undef NODE_KIND
#undef NODE_SKIP
#undef NODE_LIT
#undef NODE_REC
#undef NODE_EXPR
#undef NODE_PATTERN
#undef NODE_TYPE_PARAM
#undef NODE_STMT
#undef NODE
#undef F
#undef FD

// ---------------------------------------------------------------------------------------------
// Relocation: a value whose bytes may be copied to another address, the source then forgotten
// without its destructor, is relocatable. The holders of the tree are (an owning pointer, inline
// bytes, three pointers of a vector whose allocator has no state), so a node of the deep kinds
// moves as one block copy instead of a visit of its kind. Every field of every node must pass:
// a field with a self-reference (a small-string buffer) would fail the check below.

namespace detail {
template <typename T>
struct Relocatable : std::bool_constant<std::is_trivially_copyable_v<T>> {};
template <typename T>
struct Relocatable<Box<T>> : std::true_type {};
template <typename T>
struct Relocatable<Seq<T>> : std::true_type {};
template <typename T>
struct Relocatable<List<T>> : std::true_type {};
template <typename T>
struct Relocatable<std::optional<T>> : Relocatable<T> {};
template <typename... Ts>
struct Relocatable<std::variant<Ts...>> : std::bool_constant<(Relocatable<Ts>::value && ...)> {};
template <>
struct Relocatable<Name> : std::true_type {};
template <>
struct Relocatable<NodeText> : std::true_type {};
template <>
struct Relocatable<AtomicNodeIndex> : std::true_type {};
// A u64 or a box.
template <>
struct Relocatable<Int> : Relocatable<Int::Number> {};
template <>
struct Relocatable<NumberLiteralValue> : Relocatable<NumberLiteralValue::variant> {};
// Parts in place or in a list; a joined text held by an atomic pointer and its arena's address.
template <>
struct Relocatable<StringLiteralValue> : std::true_type {};
template <>
struct Relocatable<BytesLiteralValue> : std::true_type {};
template <>
struct Relocatable<FStringValue> : std::true_type {};
template <>
struct Relocatable<TStringValue> : std::true_type {};
template <>
struct Relocatable<Identifier>
    : std::bool_constant<Relocatable<Name>::value && Relocatable<AtomicNodeIndex>::value> {};

#define F(type, name) &&Relocatable<type>::value
#define FD(type, name, init) F(type, name)
#define NODE(section, kind, fields) \
    template <>                     \
    struct Relocatable<kind> : std::bool_constant<Relocatable<AtomicNodeIndex>::value fields> {};
template <>
struct Relocatable<Parameters> : std::true_type {};
template <>
struct Relocatable<DictItem> : std::true_type {};
#include "rudo/python_ast/nodes.def"
#undef NODE
#undef F
#undef FD

template <typename Variant>
inline constexpr bool all_relocatable = Relocatable<Variant>::value;

template <typename Variant>
struct TriviallyDestructibleKinds;
template <typename... Nodes>
struct TriviallyDestructibleKinds<std::variant<Nodes...>> {
    static constexpr std::array<bool, sizeof...(Nodes)> value = {
        std::is_trivially_destructible_v<Nodes>...};
};
template <typename Variant>
constexpr std::array<bool, std::variant_size_v<Variant>> trivially_destructible_kinds() {
    return TriviallyDestructibleKinds<Variant>::value;
}
}  // namespace detail

// Shared shape of the four kind sets: a variant of the node structs with range and kind name.
template <typename Self, typename Variant>
class NodeKinds : public Variant {
  public:
    using Variant::Variant;
    TextRange range() const {
        return std::visit([](const auto& node) { return node.range; }, as_variant());
    }
    uint32_t node_index() const {
        return std::visit([](const auto& node) { return node.node_index.load(); }, as_variant());
    }
    // The kind's record name, such as "ExprBinOp".
    std::string_view kind_name() const {
        return std::visit([](const auto& node) { return node.KIND; }, as_variant());
    }
    template <typename T>
    bool is() const {
        return std::holds_alternative<T>(as_variant());
    }
    template <typename T>
    T* as() {
        return std::get_if<T>(&as_variant());
    }
    template <typename T>
    const T* as() const {
        return std::get_if<T>(&as_variant());
    }
    Variant& as_variant() { return *this; }
    const Variant& as_variant() const { return *this; }

  protected:
    NodeKinds() = default;
};

// Stmt, Expr and Pattern nest to any depth: their copy and destruction work through an
// explicit worklist instead of recursion. A moved-from node is a payload-free leaf (`Leaf`), so
// its destructor has nothing left to walk and a subtree is never visited twice. Every kind is
// relocatable (checked below), so a move copies the node's bytes and leaves a fresh leaf behind:
// no visit of the kind, no destructor of what was moved.
#define RUDO_AST_DEEP_KIND(Self, Variant, Leaf)                                                 \
    static_assert(detail::all_relocatable<Variant>,                                             \
                  #Self " holds a field that is not relocatable");                              \
    class Self : public NodeKinds<Self, Variant> {                                              \
      public:                                                                                   \
        using NodeKinds::NodeKinds;                                                             \
        Self(const Self& other);                                                                \
        Self(Self&& other) noexcept : NodeKinds(std::in_place_type<Leaf>) {                     \
            relocate_from(other);                                                               \
        }                                                                                       \
        Self& operator=(const Self& other) {                                                    \
            if (this != &other) *this = Self(other);                                            \
            return *this;                                                                       \
        }                                                                                       \
        Self& operator=(Self&& other) noexcept {                                                \
            if (this != &other) {                                                               \
                drop_payload();                                                                 \
                relocate_from(other);                                                           \
            }                                                                                   \
            return *this;                                                                       \
        }                                                                                       \
        ~Self() {                                                                               \
            const size_t kind = this->index();                                                  \
            if (kind < MAY_NEST.size() && MAY_NEST[kind]) {                                     \
                destroy_nested();                                                               \
            }                                                                                   \
        }                                                                                       \
                                                                                                \
        /* Makes this a node of kind T built from `args`, in place; what it held goes first. */ \
        template <typename T, typename... A>                                                    \
        T& emplace_node(A&&... args) noexcept {                                                 \
            static_assert(std::is_nothrow_constructible_v<T, A&&...>);                          \
            drop_payload();                                                                     \
            ::new (static_cast<void*>(&as_variant()))                                           \
                Variant(std::in_place_type<T>, std::forward<A>(args)...);                       \
            return *std::get_if<T>(&as_variant());                                              \
        }                                                                                       \
                                                                                                \
      private:                                                                                  \
        template <typename T>                                                                   \
        friend struct DeepOps;                                                                  \
        Self() = default;                                                                       \
        /* By kind: whether it can hold nodes of its own kind. */                               \
        static const std::array<bool, std::variant_size_v<Variant>> MAY_NEST;                   \
        /* By kind: whether its destruction does nothing. */                                    \
        static constexpr std::array<bool, std::variant_size_v<Variant>> TRIVIAL =               \
            detail::trivially_destructible_kinds<Variant>();                                    \
        void destroy_nested() noexcept;                                                         \
        /* Ends what this node holds; afterwards its bytes may be overwritten. */               \
        void drop_payload() noexcept {                                                          \
            const size_t kind = this->index();                                                  \
            if (kind >= TRIVIAL.size() || TRIVIAL[kind]) return;                                \
            if (MAY_NEST[kind]) destroy_nested();                                               \
            as_variant().template emplace<Leaf>();                                              \
        }                                                                                       \
        /* Takes `other`'s bytes, this holding nothing that needs ending, and leaves `other` a  \
           fresh leaf. */                                                                       \
        void relocate_from(Self& other) noexcept {                                              \
            std::memcpy(static_cast<void*>(&as_variant()),                                      \
                        static_cast<const void*>(&other.as_variant()), sizeof(Variant));        \
            ::new (static_cast<void*>(&other.as_variant())) Variant(std::in_place_type<Leaf>);  \
        }                                                                                       \
    };
RUDO_AST_DEEP_KIND(Expr, ExprVariant, ExprNoneLiteral)
RUDO_AST_DEEP_KIND(Pattern, PatternVariant, PatternMatchSingleton)
RUDO_AST_DEEP_KIND(Stmt, StmtVariant, StmtPass)
#undef RUDO_AST_DEEP_KIND

// Whether a moved-from value holds nothing, so that its destructor may be skipped: true of the
// deep kinds, whose moved-from node is a leaf without fields to end.
template <typename T>
inline constexpr bool empty_after_move = std::is_trivially_destructible_v<T>;
template <>
inline constexpr bool empty_after_move<Expr> = std::is_trivially_destructible_v<ExprNoneLiteral>;
template <>
inline constexpr bool empty_after_move<Pattern> =
    std::is_trivially_destructible_v<PatternMatchSingleton>;
template <>
inline constexpr bool empty_after_move<Stmt> = std::is_trivially_destructible_v<StmtPass>;

inline size_t Suite::size() const noexcept {
    return stmts_.size();
}
inline bool Suite::empty() const noexcept {
    return stmts_.empty();
}
inline List<Stmt>::iterator Suite::begin() noexcept {
    return stmts_.begin();
}
inline List<Stmt>::iterator Suite::end() noexcept {
    return stmts_.end();
}
inline List<Stmt>::const_iterator Suite::begin() const noexcept {
    return stmts_.begin();
}
inline List<Stmt>::const_iterator Suite::end() const noexcept {
    return stmts_.end();
}
inline Suite::operator std::span<const Stmt>() const noexcept {
    return {stmts_.data(), stmts_.size()};
}
inline Stmt& Suite::operator[](size_t i) noexcept {
    return stmts_[i];
}
inline const Stmt& Suite::operator[](size_t i) const noexcept {
    return stmts_[i];
}
inline Stmt& Suite::at(size_t i) {
    return stmts_.at(i);
}
inline const Stmt& Suite::at(size_t i) const {
    return stmts_.at(i);
}

class TypeParam : public NodeKinds<TypeParam, TypeParamVariant> {
  public:
    using NodeKinds::NodeKinds;
};

inline TextRange range(const InterpolatedStringElement& element) {
    return std::visit([](const auto& node) { return node.range; }, element);
}
inline TextRange range(const ExceptHandler& handler) {
    return std::get<0>(handler).range;
}

// ---------------------------------------------------------------------------------------------
// Field reflection: for_each_field(node, f) calls f(name, field) for every field after
// `node_index` and `range`, in declaration order. Dumps and the tree's own traversals use it.

namespace detail {
constexpr std::string_view field_name(std::string_view name) {
    return name.ends_with('_') ? name.substr(0, name.size() - 1) : name;
}
}  // namespace detail

#define F(type, name) f(detail::field_name(#name), node.name);
#define FD(type, name, init) F(type, name)
#define NODE(section, kind, fields)                       \
    template <typename N, typename Fn>                    \
    requires std::is_same_v<std::remove_const_t<N>, kind> \
    void for_each_field(N& node, Fn&& f) {                \
        (void)node;                                       \
        (void)f;                                          \
        fields                                            \
    }
#include "rudo/python_ast/nodes.def"
#undef NODE
#undef F
#undef FD

template <typename N, typename Fn>
requires std::is_same_v<std::remove_const_t<N>, Parameters>
void for_each_field(N& node, Fn&& f) {
    f("posonlyargs", node.posonlyargs);
    f("args", node.args);
    f("vararg", node.vararg);
    f("kwonlyargs", node.kwonlyargs);
    f("kwarg", node.kwarg);
}

template <typename N, typename Fn>
requires std::is_same_v<std::remove_const_t<N>, DictItem>
void for_each_field(N& node, Fn&& f) {
    f("key", node.key);
    f("value", node.value);
}

}  // namespace rudo::python_ast

template <>
struct fmt::formatter<rudo::python_ast::UnaryOp> : fmt::formatter<std::string_view> {
    template <typename FormatContext>
    auto format(rudo::python_ast::UnaryOp op, FormatContext& ctx) const {
        return fmt::formatter<std::string_view>::format(rudo::python_ast::display(op), ctx);
    }
};
