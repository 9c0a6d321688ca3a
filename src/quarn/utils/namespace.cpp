#include "quarn/utils/namespace.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>

#include <re2/re2.h>
#include <unicode/ustring.h>

#include "base/panic.h"

namespace quarn::utils {
namespace {

bool is_upper(char c) {
    return c >= 'A' && c <= 'Z';
}
bool is_lower(char c) {
    return c >= 'a' && c <= 'z';
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// One fixed rewrite: the compiled pattern, its replacement, and a byte test that is true whenever
// the pattern can match, so texts that cannot match skip the regular-expression engine.
struct SnakeRewrite {
    RE2 pattern;
    const char* replacement;

    SnakeRewrite(const char* regex, const char* replacement_)
        : pattern(regex, options()), replacement(replacement_) {
        if (!pattern.ok()) quarn::panic("valid regex");
    }
    static RE2::Options options() {
        RE2::Options o;  // UTF-8, leftmost-first, `.` stops at a line feed
        o.set_log_errors(false);
        return o;
    }
    void apply(std::string& text) const { RE2::GlobalReplace(&text, pattern, replacement); }
};

// The three rewrites in the order they run: "(.)([A-Z][a-z]+)", "__([A-Z])", "([a-z0-9])([A-Z])".
struct SnakeRewrites {
    SnakeRewrite split_before_capitalised_word{"(.)([A-Z][a-z]+)", "\\1_\\2"};
    SnakeRewrite collapse_underscores_before_capital{"__([A-Z])", "_\\1"};
    SnakeRewrite split_lower_or_digit_from_capital{"([a-z0-9])([A-Z])", "\\1_\\2"};
    // The set a child of a fork stopped using, kept reachable rather than freed.
    mutable const SnakeRewrites* abandoned = nullptr;
};

// The set in use, compiled on first use without a lock: threads racing on it may each compile a
// set, and the first one published wins. Never destroyed: a daemon thread of the interpreter may
// still apply one while the process runs its exit handlers.
std::atomic<const SnakeRewrites*> current_rewrites{nullptr};

const SnakeRewrites& rewrites() {
    const SnakeRewrites* set = current_rewrites.load(std::memory_order_acquire);
    if (set != nullptr) [[likely]]
        return *set;
    auto* fresh = new SnakeRewrites;
    if (current_rewrites.compare_exchange_strong(set, fresh, std::memory_order_acq_rel))
        return *fresh;
    delete fresh;
    return *set;
}

// A compiled pattern builds its matching states on demand under locks of its own, so the child of
// a fork may find one held by a thread it lacks: the child's first use compiles a set of its own.
// The parent's set is kept, never freed: a lock in it may never be released.
const SnakeRewrites* abandoned_rewrites = nullptr;

void forget_rewrites_in_child() {
    const SnakeRewrites* set = current_rewrites.exchange(nullptr, std::memory_order_relaxed);
    if (set == nullptr) return;
    set->abandoned = abandoned_rewrites;
    abandoned_rewrites = set;
}

// Necessary conditions for a match of each pattern, tested on bytes.
// A capital followed by a lower-case letter, with a character before it.
bool has_capitalised_word_after_start(std::string_view s) {
    for (size_t i = 1; i + 1 < s.size(); ++i) {
        if (is_upper(s[i]) && is_lower(s[i + 1])) return true;
    }
    return false;
}
// Two underscores before a capital.
bool has_underscores_before_capital(std::string_view s) {
    for (size_t i = 2; i < s.size(); ++i) {
        if (is_upper(s[i]) && s[i - 1] == '_' && s[i - 2] == '_') return true;
    }
    return false;
}
// A lower-case letter or digit before a capital.
bool has_lower_or_digit_before_capital(std::string_view s) {
    for (size_t i = 1; i < s.size(); ++i) {
        if (is_upper(s[i]) && (is_lower(s[i - 1]) || is_digit(s[i - 1]))) return true;
    }
    return false;
}

bool is_ascii(std::string_view s) {
    unsigned char any = 0;
    for (char c : s)
        any |= static_cast<unsigned char>(c);
    return any < 0x80;
}

// Full Unicode lower-case mapping, independent of the process locale (final sigma included).
std::string to_lower_unicode(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    std::u16string utf16(text.size(), u'\0');
    int32_t utf16_len = 0;
    u_strFromUTF8WithSub(utf16.data(), int32_t(utf16.size()), &utf16_len, text.data(),
                         int32_t(text.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) quarn::panic("UTF-8 to UTF-16 conversion failed");
    utf16.resize(utf16_len);

    // A character may lower-case to several; retry once with the size ICU asks for.
    std::u16string lower(utf16.size() + 8, u'\0');
    status = U_ZERO_ERROR;
    int32_t lower_len = u_strToLower(lower.data(), int32_t(lower.size()), utf16.data(),
                                     int32_t(utf16.size()), "", &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        lower.resize(lower_len);
        status = U_ZERO_ERROR;
        lower_len = u_strToLower(lower.data(), int32_t(lower.size()), utf16.data(),
                                 int32_t(utf16.size()), "", &status);
    }
    if (U_FAILURE(status)) quarn::panic("lower-case mapping failed");

    std::string out(size_t(lower_len) * 3, '\0');
    int32_t out_len = 0;
    status = U_ZERO_ERROR;
    u_strToUTF8(out.data(), int32_t(out.size()), &out_len, lower.data(), lower_len, &status);
    if (U_FAILURE(status)) quarn::panic("UTF-16 to UTF-8 conversion failed");
    out.resize(out_len);
    return out;
}

// ICU counts in 32 bits. A piece ends just after an ASCII byte that is neither a letter nor
// case-ignorable, since no context-dependent mapping (the final sigma) looks across such a byte;
// so the pieces lower exactly as the whole text would.
bool is_case_context_break(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x80 && !is_upper(c) && !is_lower(c) && c != '\'' && c != '.' && c != ':' &&
           c != '^' && c != '`';
}

}  // namespace

namespace detail {

std::string to_lower_in_pieces(std::string_view text, size_t max_piece) {
    max_piece = std::max<size_t>(max_piece, 1);
    if (text.size() <= max_piece) return to_lower_unicode(text);
    // Searching only the second half of a piece keeps pieces long and the whole pass linear.
    const size_t shortest = std::max<size_t>(max_piece / 2, 1);
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        size_t n = text.size();
        if (n > max_piece) {
            n = max_piece;
            while (n > shortest && !is_case_context_break(text[n - 1]))
                --n;
            if (!is_case_context_break(text[n - 1])) {
                // No break nearby: end at a character boundary instead.
                n = max_piece;
                for (int i = 0; i < 3 && n < text.size() && (uint8_t(text[n]) & 0xC0) == 0x80; ++i)
                    ++n;
            }
        }
        out += to_lower_unicode(text.substr(0, n));
        text.remove_prefix(n);
    }
    return out;
}

}  // namespace detail

void prepare_patterns() {
    static std::once_flag once;
    std::call_once(once, [] {
        // A pattern builds its matching machinery on its first match too, so each is also run once.
        const SnakeRewrites& r = rewrites();
        std::string text = "aHTTPResponse__X";
        r.split_before_capitalised_word.apply(text);
        r.collapse_underscores_before_capital.apply(text);
        r.split_lower_or_digit_from_capital.apply(text);
        if (pthread_atfork(nullptr, nullptr, &forget_rewrites_in_child) != 0)
            quarn::panic("failed to register the fork handlers");
    });
}

std::string to_snake_case(std::string_view name) {
    std::string text(name);
    const SnakeRewrites& r = rewrites();
    if (has_capitalised_word_after_start(text)) r.split_before_capitalised_word.apply(text);
    if (has_underscores_before_capital(text)) r.collapse_underscores_before_capital.apply(text);
    if (has_lower_or_digit_before_capital(text)) r.split_lower_or_digit_from_capital.apply(text);
    if (is_ascii(text)) {
        for (char& c : text) {
            if (is_upper(c)) c = char(c - 'A' + 'a');
        }
        return text;
    }
    // Pieces of 64 MiB keep every ICU length, after expansion to UTF-16 and back, within 32 bits.
    return detail::to_lower_in_pieces(text, size_t{1} << 26);
}

std::string build_namespaced_name(std::optional<std::string_view> namespace_,
                                  std::optional<std::string_view> name) {
    std::string out;
    bool first = true;
    auto append_part = [&](std::string_view part) {
        if (!first) out += "::";
        out += part;
        first = false;
    };
    std::string_view rest = namespace_.value_or(std::string_view{});
    while (!rest.empty()) {
        size_t sep = rest.find("::");
        std::string_view piece = rest.substr(0, sep);
        if (!piece.empty()) append_part(to_snake_case(piece));
        if (sep == std::string_view::npos) break;
        rest.remove_prefix(sep + 2);
    }
    if (name && !name->empty()) append_part(*name);
    return out;
}

}  // namespace quarn::utils
