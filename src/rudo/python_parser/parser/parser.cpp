#include "rudo/python_parser/parser/parser.h"

#include <pthread.h>

#include <bit>

#include "base/panic.h"

namespace rudo::python_parser {
namespace {

enum class ErrorRule : uint8_t { None, Statement, AssignmentTarget, Text };

struct RecoveryRow {
    std::string_view flag;
    TokenSet elements;
    TokenSet terminators;
    TokenSet recovery_terminators;
    ErrorRule rule;
    ParseErrorType (*error)();
    bool trailing_comma;
};

using K = TokenKind;
constexpr TokenSet E = token_set::EXPRESSION_START;
constexpr TokenSet S = token_set::STATEMENT_START;
constexpr TokenSet P = token_set::PATTERN_START;
constexpr TokenSet KEYWORDS = token_set::KEYWORDS;

#define RC_SET(...) TokenSet::of(__VA_ARGS__)
#define NO_ERROR \
    ErrorRule::None, {}
#define STATEMENT_ERROR \
    ErrorRule::Statement, {}
#define TARGET_ERROR \
    ErrorRule::AssignmentTarget, {}
#define TEXT_ERROR(name) ErrorRule::Text, &parse_error<ParseErrorId::name>
constexpr RecoveryRow RECOVERY_TABLE[] = {
#define RECOVERY_CONTEXT(flag, kind, elements, terminators, recovery, error, trailing_comma) \
    {#flag, RC_SET elements, RC_SET terminators, RC_SET recovery, error, trailing_comma},
#include "rudo/python_parser/parser/recovery.def"
#undef RECOVERY_CONTEXT
};
#undef RC_SET
#undef NO_ERROR
#undef STATEMENT_ERROR
#undef TARGET_ERROR
#undef TEXT_ERROR

static_assert(std::size(RECOVERY_TABLE) == RECOVERY_CONTEXT_KIND_COUNT);

const RecoveryRow& row(RecoveryContextKind kind) {
    return RECOVERY_TABLE[static_cast<size_t>(kind)];
}

constexpr std::string_view CLAUSE_TEXTS[] = {
#define RUDO_PARSER_CLAUSE(name, text) text,
    RUDO_PARSER_CLAUSES(RUDO_PARSER_CLAUSE)
#undef RUDO_PARSER_CLAUSE
};

// Restores the recovery context of the enclosing lists however a list loop is left.
class ContextScope {
  public:
    ContextScope(RecoveryContext& context, RecoveryContextKind kind)
        : context_(context), saved_(context) {
        context_ |= recovery_flag(kind);
    }
    ~ContextScope() { context_ = saved_; }
    ContextScope(const ContextScope&) = delete;
    ContextScope& operator=(const ContextScope&) = delete;

  private:
    RecoveryContext& context_;
    RecoveryContext saved_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// The recovery table.

std::string_view flag_name(RecoveryContextKind kind) {
    return row(kind).flag;
}

std::string flag_names(RecoveryContext context) {
    std::string out;
    for (unsigned bit = 0; bit < RECOVERY_CONTEXT_KIND_COUNT; ++bit) {
        if (!(context & (RecoveryContext{1} << bit))) continue;
        if (!out.empty()) out += " | ";
        out += RECOVERY_TABLE[bit].flag;
    }
    return out;
}

bool is_list_element(RecoveryContextKind kind, TokenKind token) {
    return row(kind).elements.contains(token);
}

ListTerminatorKind list_terminator_kind(RecoveryContextKind kind, TokenKind token) {
    const RecoveryRow& r = row(kind);
    if (r.terminators.contains(token)) return ListTerminatorKind::Regular;
    if (r.recovery_terminators.contains(token)) return ListTerminatorKind::ErrorRecovery;
    return ListTerminatorKind::None;
}

ParseErrorType create_error(RecoveryContextKind kind, TokenKind token) {
    const RecoveryRow& r = row(kind);
    switch (r.rule) {
        case ErrorRule::Statement:
            if (token == TokenKind::Indent) {
                return parse_error<ParseErrorId::UnexpectedIndentation>();
            }
            return parse_error<ParseErrorId::ExpectedStatement>();
        case ErrorRule::AssignmentTarget:
            if (python_ast::is_keyword(token)) {
                return parse_error<ParseErrorId::KeywordAsTargetName>();
            }
            return parse_error<ParseErrorId::ExpectedAssignmentTarget>();
        case ErrorRule::Text:
            return r.error();
        case ErrorRule::None:
            break;
    }
    quarn::unreachable(fmt::format("no list loop runs with the {} recovery context", r.flag));
}

bool allows_trailing_comma(RecoveryContextKind kind) {
    return row(kind).trailing_comma;
}

std::string_view display(Clause clause) {
    return CLAUSE_TEXTS[static_cast<size_t>(clause)];
}

// ---------------------------------------------------------------------------------------------
// The parser.

std::optional<uintptr_t> thread_stack_low() {
    // Asked once per thread: on the main thread the answer costs a read of /proc/self/maps.
    thread_local const std::optional<uintptr_t> low = []() -> std::optional<uintptr_t> {
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) != 0) return std::nullopt;
        void* bottom = nullptr;
        size_t size = 0;
        const int got = pthread_attr_getstack(&attr, &bottom, &size);
        pthread_attr_destroy(&attr);
        if (got != 0 || bottom == nullptr) return std::nullopt;
        return reinterpret_cast<uintptr_t>(bottom);
    }();
    return low;
}

namespace {

// Stack kept free below the deepest nesting level: room for the frames between two guarded
// levels, the recovery after the depth error, and sanitizer-sized frames.
constexpr uintptr_t STACK_HEADROOM = 192 * 1024;

// The lowest address the parser's frames may reach on this thread, or 0 when the stack bounds
// cannot be read (the level count alone then bounds the depth).
uintptr_t stack_floor() {
    const std::optional<uintptr_t> low = thread_stack_low();
    return low && *low <= UINTPTR_MAX - STACK_HEADROOM ? *low + STACK_HEADROOM : 0;
}

}  // namespace

Parser::Parser(TokenSource token_source, std::string_view source, ParserOptions options,
               TextSize start_offset)
    : token_source_(std::move(token_source)),
      source_(source),
      prev_token_end_(start_offset),
      start_offset_(start_offset),
      options_(options),
      stack_floor_(stack_floor()) {}

void Parser::bump_mismatch(TokenKind kind) const {
    quarn::assertion_failed(fmt::format("the current token is {}, not {}",
                                        python_ast::name(current_token_kind()),
                                        python_ast::name(kind)));
}

void Parser::bump_past_end() const {
    quarn::assertion_failed("the parser consumes nothing past the end of the file");
}

TokenValue Parser::bump_value(TokenKind kind) {
    TokenValue value = token_source_.take_value();
    bump(kind);
    return value;
}

bool Parser::expect(TokenKind kind) {
    if (eat(kind)) return true;
    report<ParseErrorId::ExpectedToken>(current_token_range(), kind, current_token_kind());
    return false;
}

void Parser::add_error(ParseErrorType error, TextRange range) {
    // Follow-on errors at the spot of the last one say nothing new.
    if (!errors_.empty() && errors_.back_start() == range.start()) return;
    errors_.push_back(ParseError{std::move(error), range});
}

std::string_view Parser::src_text(TextRange range) const {
    if (range.end() > source_.size()) {
        quarn::assertion_failed(
            fmt::format("range {} lies past the source's end {}", range, source_.size()));
    }
    return source_.substr(range.start(), range.len());
}

ParserCheckpoint Parser::checkpoint() const {
    return ParserCheckpoint{token_source_.checkpoint(), errors_.size(), current_token_index_,
                            prev_token_end_, recovery_context_};
}

void Parser::rewind(ParserCheckpoint checkpoint) {
    token_source_.rewind(std::move(checkpoint.token_source));
    errors_.truncate(checkpoint.errors_len);
    current_token_index_ = checkpoint.current_token_index;
    prev_token_end_ = checkpoint.prev_token_end;
    recovery_context_ = checkpoint.recovery_context;
}

void Parser::stuck() const {
    const TextRange range = current_token_range();
    quarn::panic(fmt::format("The parser is no longer progressing. Stuck at '{}' {}:{}",
                             src_text(range), python_ast::name(current_token_kind()), range));
}

bool Parser::is_enclosing_list_element_or_terminator(TokenKind kind) const {
    for (RecoveryContext rest = recovery_context_; rest != 0; rest &= rest - 1) {
        // The lowest flag left; clearing it each pass visits every flag once.
        const auto context = static_cast<RecoveryContextKind>(std::countr_zero(rest));
        if (is_list_element(context, kind) ||
            list_terminator_kind(context, kind) != ListTerminatorKind::None) {
            return true;
        }
    }
    return false;
}

void Parser::parse_list(RecoveryContextKind kind, FunctionRef<void()> parse_element) {
    ContextScope scope(recovery_context_, kind);
    std::optional<uint32_t> pass_start;
    for (;;) {
        if (pass_start == current_token_index_) stuck();
        pass_start = current_token_index_;

        const TokenKind token = current_token_kind();
        if (is_list_element(kind, token)) {
            parse_element();
        } else if (list_terminator_kind(kind, token) == ListTerminatorKind::Regular) {
            break;
        } else if (is_enclosing_list_element_or_terminator(token)) {
            token_source_.re_lex_logical_token();
            break;
        } else {
            add_error(create_error(kind, token), current_token_range());
            bump_any();
        }
    }
}

python_ast::List<Stmt> Parser::parse_list_into_vec(RecoveryContextKind kind) {
    auto statements = list<Stmt>();
    parse_list(kind, [&] { statements.push_back(parse_statement()); });
    return statements.take();
}

void Parser::parse_comma_separated_list(RecoveryContextKind kind,
                                        FunctionRef<void()> parse_element) {
    ContextScope scope(recovery_context_, kind);
    std::optional<uint32_t> pass_start;
    bool element_parsed = false;
    std::optional<TextRange> trailing_comma;
    for (;;) {
        if (pass_start == current_token_index_) stuck();
        pass_start = current_token_index_;

        if (is_list_element(kind, current_token_kind())) {
            parse_element();
            element_parsed = true;
            if (at(TokenKind::Comma)) {
                trailing_comma = current_token_range();
                bump(TokenKind::Comma);
                continue;
            }
            trailing_comma.reset();
        }

        const TokenKind token = current_token_kind();
        if (list_terminator_kind(kind, token) == ListTerminatorKind::Regular) break;
        if (is_list_element(kind, token)) {
            // Two elements with no comma between them: report it and take the next one.
            expect(TokenKind::Comma);
            continue;
        }
        if (is_enclosing_list_element_or_terminator(token)) {
            token_source_.re_lex_logical_token();
            break;
        }
        if (token == TokenKind::Comma || !element_parsed) {
            add_error(create_error(kind, token), current_token_range());
            if (token == TokenKind::Comma) {
                trailing_comma = current_token_range();
            } else {
                trailing_comma.reset();
            }
        } else {
            expect(TokenKind::Comma);
            trailing_comma.reset();
        }
        bump_any();
    }
    if (trailing_comma && !allows_trailing_comma(kind)) {
        report<ParseErrorId::TrailingCommaNotAllowed>(*trailing_comma);
    }
}

NestingGuard Parser::enter_nesting_checked() {
    // The level count keeps trees sensible; the stack check keeps a thread with a small stack
    // (1 MiB) safe whatever each level's frames cost in this build.
    const auto frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    if (depth_ <= MAX_NESTING_DEPTH && frame > stack_floor_) return NestingGuard(this, true);
    // Nothing sensible can be built this deep: report it once and give up on the rest of the
    // file, so every open level unwinds at the end-of-file token.
    report<ParseErrorId::NestedTooDeeply>(current_token_range());
    while (!at(TokenKind::EndOfFile))
        bump_any();
    return NestingGuard(this, false);
}

Parsed Parser::parse() && {
    python_ast::List<Stmt> body = parse_list_into_vec(RecoveryContextKind::ModuleStatements);
    if (!at(TokenKind::EndOfFile)) {
        quarn::assertion_failed("the module's statements end at the end of the file");
    }
    do_bump(TokenKind::EndOfFile);
    if (!at(TokenKind::EndOfFile)) quarn::panic("Parser should be at the end of the file.");

    ModModule module;
    module.range = TextRange(start_offset_, current_token_range().end());
    module.body = std::move(body);

    TokenSourceRuns finished = std::move(token_source_).finish_runs();
    std::vector<ParseError> errors = merge_errors(errors_, finished.errors);
    return Parsed{std::move(module), std::move(finished.tokens), std::move(errors)};
}

std::vector<ParseError> merge_errors(const ErrorRuns<ParseError>& parser_errors,
                                     const ErrorRuns<LexicalError>& lexer_errors) {
    if (lexer_errors.empty()) return parser_errors.to_vector();
    // Only the heads are compared: neither list is sorted first. The reserved room is only
    // address space until it is written.
    std::vector<ParseError> merged;
    merged.reserve(parser_errors.size() + lexer_errors.size());
    ErrorRuns<ParseError>::Reader parser_it(parser_errors);
    ErrorRuns<LexicalError>::Reader lexer_it(lexer_errors);
    while (!parser_it.done() && !lexer_it.done()) {
        const TextSize parser_start = parser_it.current_start();
        const TextSize lexer_start = lexer_it.current_start();
        if (parser_start < lexer_start) {
            merged.push_back(parser_it.current());
            parser_it.advance();
        } else {
            merged.push_back(ParseError::from_lexical(lexer_it.current()));
            lexer_it.advance();
            if (parser_start == lexer_start) parser_it.advance();
        }
    }
    for (; !parser_it.done(); parser_it.advance())
        merged.push_back(parser_it.current());
    for (; !lexer_it.done(); lexer_it.advance())
        merged.push_back(ParseError::from_lexical(lexer_it.current()));
    return merged;
}

// ---------------------------------------------------------------------------------------------
// Placeholders for missing input, shared by every grammar area.

Expr Parser::missing_expr(TextRange range) const {
    return Expr(ExprName{.range = range, .id = python_ast::Name(""), .ctx = ExprContext::Invalid});
}

}  // namespace rudo::python_parser
