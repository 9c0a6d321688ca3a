// The recursive-descent parser: one `Parser` per parse, its token-consuming primitives, the list
// loops with their recovery, and the grammar entry points of every area.
//
// The grammar lives in one source per area; each declares its members in its own section of the
// class below. Every entry that can nest takes the one depth guard (`enter_nesting`).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/pause_point.h"
#include "rudo/python_ast/nodes.h"
#include "rudo/python_ast/token.h"
#include "rudo/python_parser/interpolated_string.h"
#include "rudo/python_parser/parser/parsed.h"
#include "rudo/python_parser/parser/scratch.h"
#include "rudo/python_parser/token_source.h"

namespace rudo::python_parser {

using python_ast::Arguments;
using python_ast::Comprehension;
using python_ast::Decorator;
using python_ast::ElifElseClause;
using python_ast::Expr;
using python_ast::ExprAttribute;
using python_ast::ExprContext;
using python_ast::ExprName;
using python_ast::Identifier;
using python_ast::MatchCase;
using python_ast::Parameters;
using python_ast::Pattern;
using python_ast::Stmt;
using python_ast::StmtClassDef;
using python_ast::StmtFunctionDef;
using python_ast::StmtWith;
using python_ast::TypeParams;
using python_ast::UnaryOp;

// ---------------------------------------------------------------------------------------------
// Token sets: one bit per token kind, so membership is a mask test.

class TokenSet {
  public:
    constexpr TokenSet() = default;
    constexpr TokenSet(std::initializer_list<TokenKind> kinds) {
        for (TokenKind kind : kinds)
            add(kind);
    }
    // A union of token kinds and sets: `TokenSet::of(E, TokenKind::Colon)`.
    template <typename... Items>
    static constexpr TokenSet of(Items... items) {
        TokenSet set;
        (set.add(items), ...);
        return set;
    }

    constexpr bool contains(TokenKind kind) const {
        const auto i = static_cast<unsigned>(kind);
        return (bits_[i / 64] >> (i % 64)) & 1;
    }
    constexpr TokenSet without(TokenKind kind) const {
        TokenSet set = *this;
        const auto i = static_cast<unsigned>(kind);
        set.bits_[i / 64] &= ~(uint64_t{1} << (i % 64));
        return set;
    }
    friend constexpr bool operator==(const TokenSet&, const TokenSet&) = default;

  private:
    constexpr void add(TokenKind kind) {
        const auto i = static_cast<unsigned>(kind);
        bits_[i / 64] |= uint64_t{1} << (i % 64);
    }
    constexpr void add(TokenSet other) {
        bits_[0] |= other.bits_[0];
        bits_[1] |= other.bits_[1];
    }

    static_assert(python_ast::TOKEN_KIND_COUNT <= 128);
    uint64_t bits_[2] = {0, 0};
};

namespace token_set {
using K = TokenKind;
// The kinds that can start an expression.
inline constexpr TokenSet EXPRESSION_START = {
    K::Name,  K::Int,      K::Float,  K::Complex, K::String, K::FStringStart, K::TStringStart,
    K::Lpar,  K::Lsqb,     K::Lbrace, K::Plus,    K::Minus,  K::Star,         K::DoubleStar,
    K::Tilde, K::Ellipsis, K::Await,  K::Lambda,  K::Not,    K::Yield,        K::None,
    K::True,  K::False,    K::Case,   K::Match,   K::Type};
// The kinds that can start a statement.
inline constexpr TokenSet STATEMENT_START =
    TokenSet::of(EXPRESSION_START, K::At, K::Assert, K::Async, K::Break, K::Class, K::Continue,
                 K::Def, K::Del, K::For, K::From, K::Global, K::If, K::Import, K::Nonlocal, K::Pass,
                 K::Raise, K::Return, K::Try, K::While, K::With);
// The kinds that can start a match pattern.
inline constexpr TokenSet PATTERN_START = {
    K::Name,  K::Int,  K::Float, K::Complex, K::String, K::Lpar, K::Lsqb,  K::Lbrace, K::Plus,
    K::Minus, K::Star, K::None,  K::True,    K::False,  K::Case, K::Match, K::Type};
// Every keyword kind, soft keywords included.
inline constexpr TokenSet KEYWORDS = [] {
    TokenSet set;
    for (auto i = static_cast<unsigned>(K::And); i <= static_cast<unsigned>(K::Type); ++i)
        set = TokenSet::of(set, static_cast<K>(i));
    return set;
}();
}  // namespace token_set

// ---------------------------------------------------------------------------------------------
// Recovery contexts: the kinds of list being parsed, one flag bit each (recovery.def).

enum class RecoveryContextKind : uint8_t {
#define RECOVERY_CONTEXT(flag, kind, elements, terminators, recovery, error, trailing_comma) kind,
#include "rudo/python_parser/parser/recovery.def"
#undef RECOVERY_CONTEXT
};

inline constexpr unsigned RECOVERY_CONTEXT_KIND_COUNT = 0
#define RECOVERY_CONTEXT(flag, kind, elements, terminators, recovery, error, trailing_comma) +1
#include "rudo/python_parser/parser/recovery.def"
#undef RECOVERY_CONTEXT
    ;
static_assert(RECOVERY_CONTEXT_KIND_COUNT == 32);

// The set of lists being parsed: bit i for the i-th kind.
using RecoveryContext = uint32_t;
constexpr RecoveryContext recovery_flag(RecoveryContextKind kind) {
    return RecoveryContext{1} << static_cast<unsigned>(kind);
}
// The flag's own name ("LIST_ELEMENTS").
std::string_view flag_name(RecoveryContextKind kind);
// The flag names of a set in bit order joined by " | ", for debugging.
std::string flag_names(RecoveryContext context);

enum class ListTerminatorKind : uint8_t { None, Regular, ErrorRecovery };

bool is_list_element(RecoveryContextKind kind, TokenKind token);
ListTerminatorKind list_terminator_kind(RecoveryContextKind kind, TokenKind token);
// The error for a token that neither starts an element nor ends the list.
ParseErrorType create_error(RecoveryContextKind kind, TokenKind token);
bool allows_trailing_comma(RecoveryContextKind kind);

// Payload forms of the kinds that have one.
enum class FunctionKind : uint8_t { Lambda = 0, FunctionDef = 1 };
enum class SequenceMatchPatternParentheses : uint8_t { Tuple = 0, List = 1, None = 2 };
enum class WithItemsKind : uint8_t {
    Parenthesized = 0,
    ParenthesizedExpression = 1,
    Unparenthesized = 2
};

constexpr RecoveryContextKind tuple_elements_kind(bool parenthesized) {
    return parenthesized ? RecoveryContextKind::TupleElementsParenthesized
                         : RecoveryContextKind::TupleElementsUnparenthesized;
}
constexpr RecoveryContextKind import_from_as_names_kind(bool parenthesized) {
    return parenthesized ? RecoveryContextKind::ImportFromAsNamesParenthesized
                         : RecoveryContextKind::ImportFromAsNamesUnparenthesized;
}
constexpr RecoveryContextKind sequence_match_pattern_kind(SequenceMatchPatternParentheses p) {
    switch (p) {
        case SequenceMatchPatternParentheses::Tuple:
            return RecoveryContextKind::SequenceMatchPatternTuple;
        case SequenceMatchPatternParentheses::List:
            return RecoveryContextKind::SequenceMatchPatternList;
        case SequenceMatchPatternParentheses::None:
            break;
    }
    return RecoveryContextKind::SequenceMatchPattern;
}
constexpr RecoveryContextKind parameters_kind(FunctionKind kind) {
    return kind == FunctionKind::Lambda ? RecoveryContextKind::LambdaParameters
                                        : RecoveryContextKind::FunctionParameters;
}
constexpr RecoveryContextKind with_items_kind(WithItemsKind kind) {
    switch (kind) {
        case WithItemsKind::Parenthesized:
            return RecoveryContextKind::WithItemsParenthesized;
        case WithItemsKind::ParenthesizedExpression:
            return RecoveryContextKind::WithItemsParenthesizedExpression;
        case WithItemsKind::Unparenthesized:
            break;
    }
    return RecoveryContextKind::WithItemsUnparenthesized;
}
constexpr RecoveryContextKind interpolated_string_elements_kind(InterpolatedStringKind kind,
                                                                bool in_format_spec) {
    if (kind == InterpolatedStringKind::FString)
        return in_format_spec ? RecoveryContextKind::FStringElementsInFormatSpec
                              : RecoveryContextKind::FStringElements;
    return in_format_spec ? RecoveryContextKind::TStringElementsInFormatSpec
                          : RecoveryContextKind::TStringElements;
}

// ---------------------------------------------------------------------------------------------
// Shared vocabulary of the grammar areas.

// Binding levels of the operators; an operator continues an expression when its level is above
// the expression's minimum level, and LEVEL_LOWEST takes every operator.
constexpr uint8_t LEVEL_LOWEST = 0;
constexpr uint8_t LEVEL_OR = 6;
constexpr uint8_t LEVEL_AND = 7;
constexpr uint8_t LEVEL_NOT = 8;
constexpr uint8_t LEVEL_COMPARISON = 9;
constexpr uint8_t LEVEL_BIT_OR = 10;
constexpr uint8_t LEVEL_BIT_XOR = 11;
constexpr uint8_t LEVEL_BIT_AND = 12;
constexpr uint8_t LEVEL_SHIFT = 13;
constexpr uint8_t LEVEL_ARITH = 14;
constexpr uint8_t LEVEL_TERM = 15;
constexpr uint8_t LEVEL_UNARY = 16;
constexpr uint8_t LEVEL_POW = 17;
constexpr uint8_t LEVEL_AWAIT = 18;

// Which constructs an expression position allows.
struct ExprPosition {
    static constexpr uint8_t NO_IN_OPERATOR = 0x01;
    static constexpr uint8_t STARRED_ALLOWED = 0x02;
    static constexpr uint8_t STARRED_AS_BITWISE_OR = 0x04;
    static constexpr uint8_t YIELD_ALLOWED = 0x08;

    uint8_t bits = 0;

    constexpr ExprPosition() = default;
    constexpr ExprPosition(uint8_t bits) : bits(bits) {}
    constexpr bool contains(uint8_t flag) const { return (bits & flag) == flag; }
    constexpr ExprPosition with(uint8_t flag) const { return ExprPosition(bits | flag); }
    constexpr ExprPosition without(uint8_t flag) const {
        return ExprPosition(static_cast<uint8_t>(bits & ~flag));
    }
    friend constexpr bool operator==(ExprPosition, ExprPosition) = default;
};

// The result of every expression entry point; `in_parentheses` marks an expression written alone
// between parentheses and returned as it is.
struct ExprWithParens {
    Expr expr;
    bool in_parentheses = false;
};

// The owner of an indented block, named in "Expected an indented block after {}".
#define RUDO_PARSER_CLAUSES(X)            \
    X(If, "`if` statement")               \
    X(Else, "`else` clause")              \
    X(Elif, "`elif` clause")              \
    X(For, "`for` statement")             \
    X(With, "`with` statement")           \
    X(Class, "`class` definition")        \
    X(While, "`while` statement")         \
    X(FunctionDef, "function definition") \
    X(Case, "`case` block")               \
    X(Try, "`try` statement")             \
    X(Except, "`except` clause")          \
    X(Finally, "`finally` clause")
enum class Clause : uint8_t {
#define RUDO_PARSER_CLAUSE(name, text) name,
    RUDO_PARSER_CLAUSES(RUDO_PARSER_CLAUSE)
#undef RUDO_PARSER_CLAUSE
};
std::string_view display(Clause clause);

// What a speculative parse needs to be undone.
struct ParserCheckpoint {
    TokenSourceCheckpoint token_source;
    size_t errors_len = 0;
    uint32_t current_token_index = 0;
    TextSize prev_token_end = 0;
    RecoveryContext recovery_context = 0;
};

// A non-owning reference to a callable, so the list loops live in one place without templates.
template <typename Signature>
class FunctionRef;
template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
  public:
    template <typename F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> &&
             std::is_invocable_r_v<R, F&, Args...>) FunctionRef(F&& f)
        : object_(const_cast<void*>(static_cast<const void*>(&f))),
          call_([](void* object, Args... args) -> R {
              return (*static_cast<std::remove_reference_t<F>*>(object))(
                  std::forward<Args>(args)...);
          }) {}
    R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

  private:
    void* object_;
    R (*call_)(void*, Args...);
};

class Parser;

// Holds one level of the parser's nesting depth for as long as it lives. False when the limit was
// passed: the error is recorded, the rest of the file skipped, and the caller returns a
// placeholder at once.
class [[nodiscard]] NestingGuard {
  public:
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
    NestingGuard(NestingGuard&& other) noexcept
        : parser_(std::exchange(other.parser_, nullptr)), ok_(other.ok_) {}
    ~NestingGuard();
    explicit operator bool() const { return ok_; }
    // Gives the level back before the guard's scope ends.
    void release();

  private:
    friend class Parser;
    NestingGuard(Parser* parser, bool ok) : parser_(parser), ok_(ok) {}
    Parser* parser_;
    bool ok_;
};

// The lowest address of the calling thread's stack, or nothing when it cannot be read.
std::optional<uintptr_t> thread_stack_low();

// Nesting levels the parser enters at most. A bracket level takes up to four (bracket, operand
// and the expression levels between), so this admits 400 nested brackets, twice CPython's own
// limit. parse_module runs a parse whose caller has too little stack left for this
// depth on a thread with a stack of its own, so the limit holds on any caller's stack.
inline constexpr uint32_t MAX_NESTING_DEPTH = 1600;
inline constexpr std::string_view NESTED_TOO_DEEPLY = message_of(ParseErrorId::NestedTooDeeply);
// The stack is looked at every this many levels only: the frames of the levels between two looks
// fit well inside the headroom that the check keeps below the deepest level.
inline constexpr uint32_t STACK_CHECK_INTERVAL = 8;

// ---------------------------------------------------------------------------------------------

class Parser {
  public:
    Parser(TokenSource token_source, std::string_view source, ParserOptions options,
           TextSize start_offset = 0);

    // The driver: the module's statements up to the end of the file, the token list and the
    // merged errors. Consumes the parser.
    Parsed parse() &&;

    // ---- core (parser.cpp) ----

    TokenKind current_token_kind() const { return token_source_.current_kind(); }
    TextRange current_token_range() const { return token_source_.current_range(); }
    TokenFlags current_token_flags() const { return token_source_.current_flags(); }
    bool at(TokenKind kind) const { return current_token_kind() == kind; }
    bool at_any(TokenSet set) const { return set.contains(current_token_kind()); }
    bool at_expr() const { return at_any(token_set::EXPRESSION_START); }
    bool at_soft_keyword() const { return python_ast::is_soft_keyword(current_token_kind()); }
    // Kinds of the next one or two significant tokens; nothing consumed.
    TokenKind peek() { return token_source_.peek(); }
    std::pair<TokenKind, TokenKind> peek2() { return token_source_.peek2(); }

    // Consumes the current token, which must be of `kind`. In the common case this records the
    // token, calls the lexer once and counts; trivia and a full token list go out of line.
    void bump(TokenKind kind) {
        if (current_token_kind() != kind) [[unlikely]] {
            bump_mismatch(kind);
        }
        do_bump(kind);
    }
    // Consumes the current token, which must not be the end of the file.
    void bump_any() {
        const TokenKind kind = current_token_kind();
        if (kind == TokenKind::EndOfFile) [[unlikely]] {
            bump_past_end();
        }
        do_bump(kind);
    }
    // Takes the current token's value, then consumes it as `bump` does.
    TokenValue bump_value(TokenKind kind);
    // Consumes the current token when it is of `kind`.
    bool eat(TokenKind kind) {
        if (!at(kind)) return false;
        do_bump(kind);
        return true;
    }
    // Consumes a token of `kind`, or records "Expected {}, found {}" and consumes nothing.
    bool expect(TokenKind kind);

    // Records an error unless the last recorded one starts at the same offset.
    void add_error(ParseErrorType error, TextRange range);

    // Records the error of a registry row (parse_error.def) with its arguments, at a range or at
    // a node's range: `report<ParseErrorId::ExpectedToken>(range, TokenKind::Rpar, found)`. Out
    // of line and cold, so that callers keep small frames.
    template <ParseErrorId id, typename... A>
    [[gnu::noinline, gnu::cold]] void report(TextRange range, A... args) {
        add_error(parse_error<id>(std::move(args)...), range);
    }
    template <ParseErrorId id, typename Node, typename... A>
    requires requires(const Node& node) { node.range(); }
    void report(const Node& node, A... args) { report<id>(node.range(), std::move(args)...); }
    template <ParseErrorId id, typename Node, typename... A>
    requires requires(const Node& node) { node.range.start(); }
    void report(const Node& node, A... args) { report<id>(node.range, std::move(args)...); }

    std::string_view src_text(TextRange range) const;
    // From `start` to the end of the last consumed token; empty at that end when nothing was
    // consumed since `start`.
    TextRange node_range(TextSize start) const {
        if (prev_token_end_ < start) return TextRange::empty(prev_token_end_);
        return TextRange(start, prev_token_end_);
    }
    TextSize prev_token_end() const { return prev_token_end_; }
    uint32_t current_token_index() const { return current_token_index_; }
    std::vector<ParseError> errors() const { return errors_.to_vector(); }
    RecoveryContext recovery_context() const { return recovery_context_; }
    // The clause loops of `if` and `try` set their flag around their loop only.
    void set_recovery_context(RecoveryContext context) { recovery_context_ = context; }
    TokenSource& token_source() { return token_source_; }
    const ParserOptions& options() const { return options_; }

    ParserCheckpoint checkpoint() const;
    void rewind(ParserCheckpoint checkpoint);

    // The list loop without separators.
    void parse_list(RecoveryContextKind kind, FunctionRef<void()> parse_element);
    python_ast::List<Stmt> parse_list_into_vec(RecoveryContextKind kind);
    // The comma-separated list loop; the element parser stores what it parses.
    void parse_comma_separated_list(RecoveryContextKind kind, FunctionRef<void()> parse_element);
    template <typename F>
    auto parse_comma_separated_list_into_vec(RecoveryContextKind kind, F&& parse_element) {
        python_ast::List<std::invoke_result_t<F&>> elements;
        parse_comma_separated_list(kind, [&] { elements.push_back(parse_element()); });
        return elements;
    }
    // A list to gather elements of type T in (see scratch.h).
    template <typename T>
    ListBuilder<T> list() noexcept {
        return ListBuilder<T>(scratch_.of<T>());
    }
    // Whether any list being parsed, the innermost included, claims the token.
    bool is_enclosing_list_element_or_terminator(TokenKind kind) const;

    // One more level of nesting; see NestingGuard.
    NestingGuard enter_nesting();
    uint32_t nesting_depth() const { return depth_; }

    // ---- expression.cpp ----

    ExprWithParens parse_expression_list(ExprPosition position);
    ExprWithParens parse_named_expression_or_higher(ExprPosition position);
    ExprWithParens parse_conditional_expression_or_higher_impl(ExprPosition position);
    ExprWithParens parse_expression_with_bitwise_or_precedence();
    ExprWithParens parse_binary_expression_or_higher_recursive(ExprWithParens left,
                                                               uint8_t min_level,
                                                               ExprPosition position,
                                                               TextSize start);
    // The same on `left` in place: it takes every operator that binds above `min_level`.
    void continue_binary_expression(ExprWithParens& left, uint8_t min_level, ExprPosition position,
                                    TextSize start);
    ExprWithParens parse_lhs_expression(uint8_t min_level, ExprPosition position);
    ExprWithParens parse_unary_expression(UnaryOp op, ExprPosition position);
    ExprWithParens parse_lambda_expr();
    ExprName parse_name();
    Identifier parse_identifier();
    Identifier parse_missing_identifier();
    ExprAttribute parse_attribute_expression(Expr&& value, TextSize start);
    Arguments parse_arguments();
    // The same into `arguments`, which is empty: a call's node holds them in place.
    void parse_arguments_into(Arguments& arguments);
    void bump_cmp_op(python_ast::CmpOp op);
    // One subscript element: an expression or a slice.
    Expr parse_slice();

    // An operand at `min_level` with every operator that binds more strongly.
    ExprWithParens parse_operand(uint8_t min_level, ExprPosition position);
    // The comparison operator the current token begins, if any.
    std::optional<python_ast::CmpOp> comparison_at_current();
    // The kind of the token after the current one, lexed once per current token.
    TokenKind peek_once();
    Expr parse_yield_expression();
    ExprWithParens parse_atom();
    ExprWithParens parse_postfix_expression(ExprWithParens atom, TextSize start);
    // The same on `atom` in place: attributes, calls and subscripts after it.
    void continue_postfix_expression(ExprWithParens& atom, TextSize start);
    Expr placeholder_expression() const;
    bool last_consumed_is_comma() const;

    // ---- display.cpp ----

    ExprWithParens parse_list_like_expression();
    ExprWithParens parse_set_or_dict_like_expression();
    ExprWithParens parse_parenthesized_expression();
    Expr parse_generator_expression(Expr element, TextSize start, bool parenthesized);
    python_ast::List<Comprehension> parse_generators();
    // The items after the first of a dictionary display, whose `{` started at `start`.
    python_ast::ExprDict parse_dictionary_expression(std::optional<Expr> key, Expr value,
                                                     TextSize start);
    template <ParseErrorId missing_closer>
    void open_bracket(TokenKind open);
    Expr parse_comprehension_operand();

    // ---- string_expr.cpp ----

    Expr parse_strings();
    // One f-string or t-string from its start token to its end token.
    struct InterpolatedString {
        python_ast::InterpolatedStringElements elements;
        python_ast::AnyStringFlags flags;
        TextRange range;
    };
    InterpolatedString parse_interpolated_string(InterpolatedStringKind kind);
    python_ast::InterpolatedStringElements parse_interpolated_string_elements(
        InterpolatedStringKind kind, python_ast::AnyStringFlags flags, bool in_format_spec);
    python_ast::InterpolatedStringElement parse_interpolated_string_element(
        InterpolatedStringKind kind, python_ast::AnyStringFlags flags);
    python_ast::InterpolatedStringElementInterpolation parse_interpolation_element(
        InterpolatedStringKind kind, python_ast::AnyStringFlags flags);

    // ---- statement.cpp ----

    Stmt parse_simple_statement();
    // How an import spells its names: `import a.b` (dotted) or `from m import b` (single name).
    enum class AliasStyle : bool { Dotted, SingleName };
    python_ast::Alias parse_alias(AliasStyle style);
    // One identifier whose text joins the dotted parts: `a.b.c`.
    Identifier parse_dotted_name();

  private:
    template <typename Node>
    Stmt parse_keyword_statement(TokenKind keyword);
    Stmt parse_return_statement();
    Stmt parse_raise_statement();
    Expr parse_raise_operand();
    Stmt parse_assert_statement();
    Stmt parse_delete_statement();
    python_ast::List<Identifier> parse_identifier_list();
    Stmt parse_global_statement();
    Stmt parse_nonlocal_statement();
    Stmt parse_import_statement();
    Stmt parse_from_import_statement();
    // `type` starts an alias only when a name and then `=` or `[` follow.
    bool at_type_alias_start();
    Stmt parse_type_alias_statement();
    Stmt parse_expression_or_assignment_statement();
    Stmt parse_annotated_assignment(TextSize start, ExprWithParens target);
    Stmt parse_assignment(TextSize start, Expr&& first);
    Stmt parse_augmented_assignment(TextSize start, Expr&& target, python_ast::Operator op);

  public:
    // ---- compound.cpp ----

    Stmt parse_statement();
    python_ast::List<Stmt> parse_body(Clause clause);
    python_ast::StmtFor parse_for_statement(TextSize start);
    enum class ElifOrElse : bool { Elif, Else };
    ElifElseClause parse_elif_or_else_clause(ElifOrElse which);

    // Tokens that start a simple statement; `match` is also a compound start, and where both are
    // tested the order of the tests decides.
    static constexpr TokenSet SIMPLE_STATEMENT_START = TokenSet::of(
        token_set::EXPRESSION_START, TokenKind::Assert, TokenKind::Break, TokenKind::Continue,
        TokenKind::Del, TokenKind::From, TokenKind::Global, TokenKind::Import, TokenKind::Nonlocal,
        TokenKind::Pass, TokenKind::Raise, TokenKind::Return);
    static constexpr TokenSet COMPOUND_STATEMENT_START = {
        TokenKind::At, TokenKind::Async, TokenKind::Class, TokenKind::Def,  TokenKind::For,
        TokenKind::If, TokenKind::Try,   TokenKind::While, TokenKind::With, TokenKind::Match};

  private:
    // What `match` starts, judged from the two tokens after it.
    enum class MatchDecision : uint8_t { MatchStatement, SimpleStatement, Speculate };
    MatchDecision match_decision();
    bool starts_match_statement();
    Stmt parse_match_or_simple_statement();
    bool try_parse_match_head(python_ast::StmtMatch& node);
    Stmt parse_async_statement();
    Stmt parse_keyword_compound_statement(TextSize start);
    Stmt parse_for_statement_as_stmt();
    // A simple statement at statement level, with the check of what ends it.
    Stmt parse_statement_level_simple_statement();
    void finish_simple_statement();
    void report_missing_block(Clause clause, TextRange newline);
    python_ast::List<Stmt> parse_same_line_body();
    Stmt parse_decorated_definition();
    python_ast::List<Decorator> parse_decorators();
    Stmt parse_undecorated_remainder(python_ast::List<Decorator> decorators, TextSize start);
    Stmt parse_if_statement();
    python_ast::Box<Expr> parse_clause_test();
    void parse_elif_else_clauses(python_ast::List<ElifElseClause>& clauses);
    Stmt parse_while_statement();
    Expr parse_for_target();
    python_ast::List<Stmt> parse_else_block();
    Stmt parse_try_statement();
    bool parse_except_handlers(python_ast::List<python_ast::ExceptHandler>& handlers);
    python_ast::ExceptHandler parse_except_handler(bool& star);
    void parse_except_clause_head(bool star, python_ast::ExceptHandlerExceptHandler& node);
    // Whether the loop consumed a token since `last_token_index`, which it then advances.
    bool made_progress(uint32_t& last_token_index) const;

  public:
    // ---- definition.cpp ----

    StmtFunctionDef parse_function_definition(python_ast::List<Decorator> decorators,
                                              TextSize start);
    StmtClassDef parse_class_definition(python_ast::List<Decorator> decorators, TextSize start);
    Parameters parse_parameters(FunctionKind kind);
    std::optional<TypeParams> try_parse_type_params();
    python_ast::Parameter parse_parameter(TextSize start, FunctionKind kind,
                                          bool allow_starred_annotation);
    struct ParameterListState;
    void parse_parameter_list_element(FunctionKind kind, Parameters& parameters,
                                      ParameterListState& state);
    python_ast::TypeParam parse_type_param();

    // ---- with.cpp ----

    StmtWith parse_with_statement(TextSize start);
    // List mode reads the items inside `with (`; plain mode every other item.
    enum class WithItemMode : uint8_t { List, Plain };
    struct ParsedWithItem {
        python_ast::WithItem item;
        bool in_parentheses = false;  // the context expression had parentheses of its own
    };
    ParsedWithItem parse_with_item(WithItemMode mode);
    python_ast::List<python_ast::WithItem> parse_parenthesized_with_items();

    // ---- pattern.cpp ----

    enum class AllowStarPattern : bool { No, Yes };
    Expr parse_match_subject_expression();
    python_ast::List<MatchCase> parse_match_body();
    Pattern parse_match_pattern(AllowStarPattern allow_star);
    Pattern parse_match_pattern_lhs(AllowStarPattern allow_star);
    Pattern parse_sequence_match_pattern(Pattern first, TextSize start,
                                         SequenceMatchPatternParentheses kind);
    Expr pattern_to_expr(Pattern pattern);
    MatchCase parse_match_case();
    Pattern parse_match_or_pattern(Pattern first, TextSize start);
    Pattern parse_match_as_pattern(Pattern pattern, TextSize start);
    Pattern parse_complex_literal_chain(Pattern first, TextSize start);
    Pattern parse_match_pattern_term(AllowStarPattern allow_star, TextSize start);
    Pattern parse_single_match_pattern(AllowStarPattern allow_star);
    Pattern parse_bracketed_match_pattern();
    Pattern parse_flat_match_pattern(AllowStarPattern allow_star);
    Pattern parse_match_pattern_class(Pattern cls, TextSize start);
    Expr class_pattern_expr(Pattern pattern);
    void parse_class_pattern_argument(python_ast::PatternArguments& arguments, bool& keyword_seen);
    python_ast::PatternKeyword parse_keyword_pattern(Pattern name_pattern, TextSize start);
    Pattern parse_match_pattern_mapping();
    void parse_mapping_pattern_item(python_ast::PatternMatchMapping& mapping);
    void parse_mapping_pattern_rest(python_ast::PatternMatchMapping& mapping);
    Expr mapping_pattern_key(Pattern key);
    Pattern missing_pattern() const;
    Expr parse_pattern_number();
    Expr complex_operand(Pattern pattern);

    // ---- target.cpp ----

    void validate_assignment_target(const Expr& expr);
    void validate_delete_target(const Expr& expr);

    // ---- placeholders (parser.cpp): shared by every area ----

    // The placeholder expression: an empty name with an invalid context.
    Expr missing_expr(TextRange range) const;

  private:
    friend class NestingGuard;

    void do_bump(TokenKind kind) {
        if (kind != TokenKind::Newline && kind != TokenKind::Dedent && kind != TokenKind::Semi) {
            prev_token_end_ = current_token_range().end();
        }
        token_source_.bump(kind);
        ++current_token_index_;
        // Between two tokens the parser holds nothing that another thread could need.
        quarn::pause_point();
    }
    [[noreturn, gnu::cold]] void bump_mismatch(TokenKind kind) const;
    [[noreturn, gnu::cold]] void bump_past_end() const;
    [[noreturn]] void stuck() const;
    // enter_nesting's stack check and depth error, at every STACK_CHECK_INTERVAL-th level.
    NestingGuard enter_nesting_checked();

    TokenSource token_source_;
    ErrorRuns<ParseError> errors_;
    std::string_view source_;
    uint32_t current_token_index_ = 0;
    TextSize prev_token_end_ = 0;
    RecoveryContext recovery_context_ = 0;
    TextSize start_offset_ = 0;
    ParserOptions options_;
    uint32_t depth_ = 0;
    // Nesting stops before the stack pointer reaches this address (see enter_nesting).
    uintptr_t stack_floor_ = 0;
    // The token after the current one, as peek_once last saw it.
    struct OperatorPeek {
        uint32_t token_index;
        TextSize start;
        TokenKind kind;
    };
    std::optional<OperatorPeek> operator_peek_;
    ParserScratch scratch_;
};

// The parser's errors with the lexer's merged in by start offset; each list keeps its own order,
// and a lexer error displaces a parser error that starts at the same offset.
std::vector<ParseError> merge_errors(const ErrorRuns<ParseError>& parser_errors,
                                     const ErrorRuns<LexicalError>& lexer_errors);

// Marks a stored or deleted expression tree with `ctx` (target.cpp).
void set_expr_ctx(Expr& expr, ExprContext ctx);

[[gnu::always_inline]] inline NestingGuard Parser::enter_nesting() {
    ++depth_;
    if (depth_ % STACK_CHECK_INTERVAL != 0 && depth_ <= MAX_NESTING_DEPTH) {
        return NestingGuard(this, true);
    }
    return enter_nesting_checked();
}

inline NestingGuard::~NestingGuard() {
    if (parser_) --parser_->depth_;
}

inline void NestingGuard::release() {
    if (parser_) --parser_->depth_;
    parser_ = nullptr;
}

}  // namespace rudo::python_parser
