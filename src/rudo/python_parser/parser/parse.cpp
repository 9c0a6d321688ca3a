#include "rudo/python_parser/parser/parse.h"

#include <pthread.h>

#include <cstdint>
#include <exception>
#include <optional>

#include "base/pause_point.h"
#include "base/sanitizer.h"
#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

namespace {

// Stack a parse may take at the nesting limit: optimized frames stay well inside 4 MiB at the
// deepest nesting; unoptimized and sanitized frames are several times larger.
#if defined(__OPTIMIZE__) && !QUARN_SANITIZED
constexpr size_t PARSE_STACK_NEED = size_t{4} << 20;
#else
constexpr size_t PARSE_STACK_NEED = size_t{24} << 20;
#endif
// The stack of the helper thread for callers with less left: reserved address space, of which
// only what the parse touches is ever backed by memory.
constexpr size_t PARSE_STACK_SIZE = size_t{64} << 20;

// The first block of a parse's arena, per source byte: the low end of what trees take (about 3
// to 15 bytes per source byte), so that a first block is seldom left half empty; bigger trees
// grow from there, and the unused end of the last block goes back when the tree is finished.
constexpr size_t ARENA_BYTES_PER_SOURCE_BYTE = 4;

Parsed parse_here(std::string_view source) {
    // The tree (and every token value, which may move into it) is built in the parse's own
    // arena, which the module's suite then owns.
    auto arena = std::make_unique<python_ast::Arena>(source.size() * ARENA_BYTES_PER_SOURCE_BYTE);
    std::optional<Parsed> parsed;
    {
        python_ast::ArenaScope scope(arena.get());
        auto token_source = TokenSource::from_source(source);
        if (!token_source) {
            // Offsets cannot reach past 4 GiB: nothing is parsed, and the refusal is the one
            // error.
            parsed.emplace();
            parsed->errors.push_back(ParseError{
                parse_error<ParseErrorId::Lexical>(LexicalErrorType::other(token_source.error())),
                TextRange()});
        } else {
            Parser parser(std::move(token_source).value(), source, ParserOptions{});
            parsed.emplace(std::move(parser).parse());
        }
    }
    parsed->syntax.body.adopt_arena(std::move(arena));
    return std::move(*parsed);
}

// Bytes of stack left below the caller's frame, or nothing when the thread cannot tell.
std::optional<size_t> stack_left() {
    const std::optional<uintptr_t> bottom = thread_stack_low();
    if (!bottom) return std::nullopt;
    const char marker = 0;
    const auto here = reinterpret_cast<uintptr_t>(&marker);
    return here > *bottom ? here - *bottom : 0;
}

// Runs the parse on a thread with a stack of its own, so that a deeply nested text reaches the
// nesting limit (and its error) rather than the end of a small caller stack. False when no
// such thread could be started.
bool parse_on_own_stack(std::string_view source, std::optional<Parsed>& result) {
    // The helper parses in this thread's place; this one only waits.
    const quarn::PauseHandOff hand_off;
    struct Job {
        std::string_view source;
        std::optional<Parsed>* result;
        std::exception_ptr failure;
        const quarn::PauseHandOff* hand_off;
    } job{source, &result, nullptr, &hand_off};
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    pthread_t thread;
    const bool started = pthread_attr_setstacksize(&attr, PARSE_STACK_SIZE) == 0 &&
                         pthread_create(
                             &thread, &attr,
                             [](void* arg) -> void* {
                                 auto* job = static_cast<Job*>(arg);
                                 const quarn::PauseHandOff::HelperScope scope(*job->hand_off);
                                 try {
                                     job->result->emplace(parse_here(job->source));
                                 } catch (...) {
                                     job->failure = std::current_exception();
                                 }
                                 return nullptr;
                             },
                             &job) == 0;
    pthread_attr_destroy(&attr);
    if (!started) return false;
    pthread_join(thread, nullptr);
    if (job.failure) std::rethrow_exception(job.failure);
    return true;
}

}  // namespace

Parsed parse_module_unchecked(std::string_view source) {
    const std::optional<size_t> left = stack_left();
    if (!left || *left < PARSE_STACK_NEED) {
        std::optional<Parsed> result;
        if (parse_on_own_stack(source, result)) return std::move(*result);
    }
    return parse_here(source);
}

quarn::Result<Parsed, ParseError> checked(Parsed parsed) {
    if (!parsed.errors.empty()) return quarn::Err(std::move(parsed.errors.front()));
    return parsed;
}

void prepare_unicode_data() {
    Lexer::load_unicode_data();
}

quarn::Result<Parsed, ParseError> parse_module(std::string_view source) {
    return checked(parse_module_unchecked(source));
}

}  // namespace rudo::python_parser
