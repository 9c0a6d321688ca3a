#include "rudo/python_parser/lexer.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstring>

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "base/panic.h"

namespace rudo::python_parser {
namespace {

using namespace python_ast::token_flags;

// --- Character classes ----------------------------------------------------------------------

constexpr bool is_digit(int c) {
    return c >= '0' && c <= '9';
}
constexpr bool is_quote(int c) {
    return c == '"' || c == '\'';
}

constexpr bool is_radix_digit(int c, uint32_t radix) {
    switch (radix) {
        case 2:
            return c == '0' || c == '1';
        case 8:
            return c >= '0' && c <= '7';
        case 16:
            return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        default:
            return is_digit(c);
    }
}

bool is_xid_start(char32_t c) {
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_XID_START);
}
bool is_xid_continue(char32_t c) {
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_XID_CONTINUE);
}

// Loaded once, on first use, under the Unicode library's own one-time lock.
const icu::Normalizer2* nfkc_normalizer() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFKCInstance(status);
    if (U_FAILURE(status)) quarn::panic("ICU NFKC normalizer is unavailable");
    return normalizer;
}

std::string nfkc(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = nfkc_normalizer();
    icu::UnicodeString input = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    icu::UnicodeString normalized = normalizer->normalize(input, status);
    if (U_FAILURE(status)) return std::string(text);
    std::string out;
    normalized.toUTF8String(out);
    return out;
}

// --- Byte classes ----------------------------------------------------------------------------

// What the first byte of a token says about it: one class per way of going on. Indexed by the
// byte plus one, so that the end of the input (Cursor::EOF_CHAR) is a class of its own.
enum class ByteClass : uint8_t {
    End,
    Blank,
    PrefixLetter,
    NameStart,
    Zero,
    Digit,
    NonAscii,
    Quote,
    Hash,
    LineFeed,
    CarriageReturn,
    Rbrace,
    Lpar,
    Lsqb,
    Lbrace,
    Rpar,
    Rsqb,
    Colon,
    Exclamation,
    Percent,
    Amper,
    Plus,
    Circumflex,
    Vbar,
    At,
    Star,
    Slash,
    Minus,
    Less,
    Greater,
    Equal,
    Dot,
    Comma,
    Semi,
    Tilde,
    Other,
};

constexpr std::array<ByteClass, 257> make_byte_classes() {
    std::array<ByteClass, 257> classes{};
    for (auto& c : classes)
        c = ByteClass::Other;
    auto set = [&](int byte, ByteClass c) { classes[static_cast<size_t>(byte + 1)] = c; };
    set(Cursor::EOF_CHAR, ByteClass::End);
    for (int b : {' ', '\t', '\f', '\\'})
        set(b, ByteClass::Blank);
    for (int b = 'a'; b <= 'z'; ++b) {
        set(b, ByteClass::NameStart);
        set(b - 'a' + 'A', ByteClass::NameStart);
    }
    set('_', ByteClass::NameStart);
    // Every two-letter prefix starts with a one-letter one.
    for (int b : {'b', 'B', 'f', 'F', 'r', 'R', 't', 'T', 'u', 'U'})
        set(b, ByteClass::PrefixLetter);
    set('0', ByteClass::Zero);
    for (int b = '1'; b <= '9'; ++b)
        set(b, ByteClass::Digit);
    for (int b = 0x80; b <= 0xFF; ++b)
        set(b, ByteClass::NonAscii);
    set('"', ByteClass::Quote);
    set('\'', ByteClass::Quote);
    set('#', ByteClass::Hash);
    set('\n', ByteClass::LineFeed);
    set('\r', ByteClass::CarriageReturn);
    set('}', ByteClass::Rbrace);
    set('(', ByteClass::Lpar);
    set('[', ByteClass::Lsqb);
    set('{', ByteClass::Lbrace);
    set(')', ByteClass::Rpar);
    set(']', ByteClass::Rsqb);
    set(':', ByteClass::Colon);
    set('!', ByteClass::Exclamation);
    set('%', ByteClass::Percent);
    set('&', ByteClass::Amper);
    set('+', ByteClass::Plus);
    set('^', ByteClass::Circumflex);
    set('|', ByteClass::Vbar);
    set('@', ByteClass::At);
    set('*', ByteClass::Star);
    set('/', ByteClass::Slash);
    set('-', ByteClass::Minus);
    set('<', ByteClass::Less);
    set('>', ByteClass::Greater);
    set('=', ByteClass::Equal);
    set('.', ByteClass::Dot);
    set(',', ByteClass::Comma);
    set(';', ByteClass::Semi);
    set('~', ByteClass::Tilde);
    return classes;
}
constexpr std::array<ByteClass, 257> BYTE_CLASSES = make_byte_classes();

// --- Keywords, from the one token-kind table ------------------------------------------------

constexpr std::array<std::string_view, python_ast::TOKEN_KIND_COUNT> SOURCE_TEXTS = {
#define TOKEN_KIND(name, display, source) source,
#include "rudo/python_ast/token_kind.def"
#undef TOKEN_KIND
};

constexpr size_t FIRST_KEYWORD = static_cast<size_t>(TokenKind::And);
constexpr size_t KEYWORD_COUNT = static_cast<size_t>(TokenKind::Type) - FIRST_KEYWORD + 1;
constexpr size_t MAX_KEYWORD_LEN = 8;

// Keywords by a perfect multiplicative hash of the name's bytes, read as one zero-padded 64-bit
// word: one multiplication, one probe and one comparison per name. Identifier bytes are never
// zero, so equal words mean equal texts of equal length. The multiplier is searched for at
// compile time; the search refuses to compile should it find none for a new keyword set.
constexpr unsigned KEYWORD_SLOT_BITS = 7;
constexpr size_t KEYWORD_SLOTS = size_t{1} << KEYWORD_SLOT_BITS;

// A name's bytes are loaded from memory into the word in this order.
static_assert(std::endian::native == std::endian::little);
constexpr uint64_t keyword_word(std::string_view text) {
    uint64_t word = 0;
    for (size_t i = 0; i < text.size(); ++i)
        word |= uint64_t{static_cast<uint8_t>(text[i])} << (8 * i);
    return word;
}
constexpr size_t keyword_slot(uint64_t word, uint64_t multiplier) {
    return static_cast<size_t>((word * multiplier) >> (64 - KEYWORD_SLOT_BITS));
}

struct KeywordTable {
    uint64_t multiplier = 0;
    std::array<uint64_t, KEYWORD_SLOTS> words{};
    std::array<TokenKind, KEYWORD_SLOTS> kinds{};
    bool found = false;
};

constexpr KeywordTable make_keyword_table() {
    KeywordTable table;
    uint64_t candidate = 0x9E3779B97F4A7C15u;
    for (int attempt = 0; attempt < 100'000 && !table.found; ++attempt) {
        candidate = candidate * 6364136223846793005u + 1442695040888963407u;
        const uint64_t multiplier = candidate | 1;
        KeywordTable trial;
        trial.multiplier = multiplier;
        trial.found = true;
        for (size_t i = 0; i < KEYWORD_COUNT && trial.found; ++i) {
            std::string_view text = SOURCE_TEXTS[FIRST_KEYWORD + i];
            if (text.size() < 2 || text.size() > MAX_KEYWORD_LEN) return KeywordTable{};
            const uint64_t word = keyword_word(text);
            const size_t slot = keyword_slot(word, multiplier);
            if (trial.words[slot] != 0) {
                trial.found = false;
            } else {
                trial.words[slot] = word;
                trial.kinds[slot] = static_cast<TokenKind>(FIRST_KEYWORD + i);
            }
        }
        if (trial.found) table = trial;
    }
    return table;
}
constexpr KeywordTable KEYWORDS = make_keyword_table();
static_assert(KEYWORDS.found, "no multiplier hashes the keywords without a collision");

// The keyword kind of a name of 2 to MAX_KEYWORD_LEN ASCII bytes at `text`, where `readable`
// bytes may be read.
inline std::optional<TokenKind> keyword(const char* text, size_t len, size_t readable) {
    uint64_t word = 0;
    if (readable >= sizeof(word)) [[likely]] {
        std::memcpy(&word, text, sizeof(word));
        word &= ~uint64_t{0} >> (64 - 8 * len);
    } else {
        // Near the end of the source: byte by byte, as the table's words were made.
        word = keyword_word(std::string_view(text, len));
    }
    const size_t slot = keyword_slot(word, KEYWORDS.multiplier);
    if (KEYWORDS.words[slot] != word) return std::nullopt;
    return KEYWORDS.kinds[slot];
}

// --- String prefixes -------------------------------------------------------------------------

TokenFlags single_prefix(int c) {
    switch (c) {
        case 'b':
        case 'B':
            return B_PREFIX;
        case 'f':
        case 'F':
            return F_PREFIX;
        case 't':
        case 'T':
            return T_PREFIX;
        case 'u':
        case 'U':
            return U_PREFIX;
        case 'r':
            return R_PREFIX_LOWER;
        case 'R':
            return R_PREFIX_UPPER;
        default:
            return 0;
    }
}

// `r`/`R` with `f`, `t` or `b` in either order; no other pair is a prefix.
TokenFlags pair_prefix(int a, int b) {
    auto raw = [](int c) -> TokenFlags {
        return c == 'r' ? R_PREFIX_LOWER : c == 'R' ? R_PREFIX_UPPER : 0;
    };
    auto other = [](int c) -> TokenFlags {
        switch (c) {
            case 'f':
            case 'F':
                return F_PREFIX;
            case 't':
            case 'T':
                return T_PREFIX;
            case 'b':
            case 'B':
                return B_PREFIX;
            default:
                return 0;
        }
    };
    if (raw(a) && other(b)) return raw(a) | other(b);
    if (other(a) && raw(b)) return other(a) | raw(b);
    return 0;
}

// --- Numbers ---------------------------------------------------------------------------------

// The text of a number: a span of the source until an underscore forces an owned copy.
class LexedText {
  public:
    LexedText(const Cursor& cursor, TextSize start) : cursor_(cursor), start_(start), end_(start) {}

    void push(char c) {
        if (owned_) {
            copy_ += c;
        } else {
            ++end_;
        }
    }
    void skip_underscore() {
        if (!owned_) {
            copy_.assign(cursor_.slice(start_, end_));
            owned_ = true;
        }
    }
    std::string_view view() const {
        return owned_ ? std::string_view(copy_) : cursor_.slice(start_, end_);
    }

  private:
    const Cursor& cursor_;
    TextSize start_;
    TextSize end_;
    std::string copy_;
    bool owned_ = false;
};

void radix_run(Cursor& cursor, LexedText& text, uint32_t radix) {
    for (;;) {
        int c = cursor.first();
        if (is_radix_digit(c, radix)) {
            cursor.bump();
            text.push(static_cast<char>(c));
        } else if (c == '_' && is_radix_digit(cursor.second(), radix)) {
            cursor.bump();
            text.skip_underscore();
        } else {
            return;
        }
    }
}

// Locale-independent conversion of a decimal float text (digits, one dot, an exponent) to the
// nearest double; values too large become infinity, too small zero.
bool parse_double(std::string_view text, double& out) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    auto [ptr, ec] = std::from_chars(begin, end, out, std::chars_format::general);
    if (ptr != end) return false;
    if (ec == std::errc()) return true;
    if (ec != std::errc::result_out_of_range) return false;
    // Out of range: decide between infinity and zero by the decimal magnitude.
    int64_t magnitude = 0;  // position of the first significant digit relative to the point
    bool seen_point = false;
    bool seen_significant = false;
    int64_t integer_digits = 0;
    int64_t leading_fraction_zeros = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
        char c = text[i];
        if (c == '.') {
            seen_point = true;
        } else if (!seen_significant && c == '0') {
            if (seen_point) ++leading_fraction_zeros;
        } else {
            if (!seen_significant) seen_significant = true;
            if (!seen_point) ++integer_digits;
        }
    }
    int64_t exponent = 0;
    if (i < text.size()) {
        bool negative = false;
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) negative = text[j++] == '-';
        for (; j < text.size(); ++j) {
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[j] - '0');
        }
        if (negative) exponent = -exponent;
    }
    magnitude = (integer_digits > 0 ? integer_digits : -leading_fraction_zeros) + exponent;
    out = seen_significant && magnitude > 0 ? HUGE_VAL : 0.0;
    return true;
}

}  // namespace

void Lexer::load_unicode_data() {
    (void)nfkc_normalizer();
}

// --- Construction ----------------------------------------------------------------------------

quarn::Result<Lexer> Lexer::create(std::string_view source, TextSize start_offset) {
    if (!source_size_fits(source.size())) return quarn::Err(std::string(SOURCE_TOO_LARGE));
    return Lexer(source, start_offset);
}

Lexer::Lexer(std::string_view source, TextSize start_offset) : source_(source) {
    if (!source_size_fits(source.size())) quarn::panic(SOURCE_TOO_LARGE);
    if (start_offset > source.size()) start_offset = static_cast<TextSize>(source.size());
    TextSize cursor_start = start_offset;
    // A leading byte-order mark belongs to no token.
    if (start_offset == 0 && source.substr(0, 3) == "\xEF\xBB\xBF") cursor_start = 3;
    cursor_ = Cursor(source, cursor_start);
    current_range_ = TextRange::empty(start_offset);
}

// --- Driver ----------------------------------------------------------------------------------

const TokenValue Lexer::NO_VALUE{};

// Inside a line, outside interpolated strings and with no dedent pending, a token costs the
// test of one byte, at most one space before it and one dispatch on its first byte. The most
// common kinds are lexed right here, with no call and no stack frame; every other way goes out
// of line as a tail call.
TokenKind Lexer::next_token() {
    value_state_ = ValueState::None;
    current_flags_ = 0;
    if (slow_path_) [[unlikely]]
        return lex_slow_token();
    const TextSize blank_start = cursor_.offset();
    int c = cursor_.first();
    if (c == ' ') {
        cursor_.bump_unchecked();
        c = cursor_.first();
    }
    cursor_.start_token();
    // No interpolated string is open here, which spares the tests for format specs.
    switch (BYTE_CLASSES[c + 1]) {
        case ByteClass::NameStart: {
            start_in_line();
            cursor_.skip_ascii_identifier();
            if (cursor_.first() >= 0x80) [[unlikely]] {
                // A name that goes on outside ASCII.
                cursor_.set_offset(cursor_.token_start());
                return lex_general_token(c, blank_start);
            }
            const TextSize start = cursor_.token_start();
            const size_t len = cursor_.offset() - start;
            if (len - 2 <= MAX_KEYWORD_LEN - 2) {
                if (auto kind = keyword(cursor_.data() + start, len, source_.size() - start))
                    return finish_token(*kind);
            }
            value_state_ = ValueState::PendingName;
            return finish_token(TokenKind::Name);
        }
        case ByteClass::Lpar:
            start_in_line();
            raise_nesting();
            return finish_token(TokenKind::Lpar);
        case ByteClass::Lsqb:
            start_in_line();
            raise_nesting();
            return finish_token(TokenKind::Lsqb);
        case ByteClass::Rpar:
            start_in_line();
            lower_nesting();
            return finish_token(TokenKind::Rpar);
        case ByteClass::Rsqb:
            start_in_line();
            lower_nesting();
            return finish_token(TokenKind::Rsqb);
        case ByteClass::Comma:
            start_in_line();
            return finish_token(TokenKind::Comma);
        case ByteClass::Colon:
            start_in_line();
            return finish_token(cursor_.eat_char('=') ? TokenKind::ColonEqual : TokenKind::Colon);
        case ByteClass::Equal:
            cursor_.bump_unchecked();
            if (cursor_.eat_char('=')) {
                state_ = LexerState::InLine;
                return finish_token(TokenKind::EqEqual);
            }
            state_ = LexerState::AfterAssign;
            return finish_token(TokenKind::Equal);
        case ByteClass::Dot: {
            const int next = cursor_.second();
            if (is_digit(next) || next == '.') break;
            start_in_line();
            return finish_token(TokenKind::Dot);
        }
        case ByteClass::LineFeed:
            cursor_.bump_unchecked();
            if (nesting_ == 0 &&
                (state_ == LexerState::AfterAssign || state_ == LexerState::InLine)) {
                state_ = LexerState::LineStart;
                slow_path_ = true;
                return finish_token(TokenKind::Newline);
            }
            return finish_token(TokenKind::NonLogicalNewline);
        default:
            break;
    }
    return lex_general_token(c, blank_start);
}

TokenKind Lexer::lex_general_token(int c, TextSize blank_start) {
    return finish_token(lex_char(c, blank_start));
}

// A continuation's errors reach back to the first blank.
TokenKind Lexer::lex_blanks_then_char(TextSize blank_start) {
    cursor_.set_offset(blank_start);
    cursor_.start_token();
    cursor_.skip_blanks();
    if (cursor_.first() == '\\') {
        if (auto kind = skip_whitespace()) return *kind;
    }
    cursor_.start_token();
    return lex_char(cursor_.first(), cursor_.offset());
}

TokenKind Lexer::lex_slow_token() {
    return finish_token(lex_line_token());
}

TokenKind Lexer::lex_line_token() {
    cursor_.start_token();
    if (state_ == LexerState::LineStart && interpolated_strings_.empty() && !pending_indentation_) {
        // Most lines are blank or indented by spaces alone to the current level.
        const TextSize spaces = cursor_.skip_spaces();
        const int c = cursor_.first();
        switch (c) {
            case Cursor::EOF_CHAR:
            case '\n':
            case '\r':
            case '#':
                // No indentation is compared, and the line start stays.
                cursor_.start_token();
                return lex_char(c, cursor_.offset());
            case ' ':
            case '\t':
            case '\f':
            case '\\':
                break;
            default:
                if (Indentation{}.add_spaces(spaces) == indentations_.current()) {
                    state_ = LexerState::LineWithContent;
                    // What lexes the token raises the flag should it open an interpolated string.
                    slow_path_ = false;
                    cursor_.start_token();
                    return lex_char(c, cursor_.offset());
                }
                break;
        }
        // Another level, or blanks other than spaces: measured from where the spaces end.
        TokenKind kind;
        if (auto indentation = eat_indentation(spaces)) {
            kind = *indentation;
        } else {
            cursor_.start_token();
            kind = lex_char(cursor_.first(), cursor_.offset());
        }
        update_slow_path();
        return kind;
    }
    const TokenKind kind = lex_line_start();
    update_slow_path();
    return kind;
}

TokenKind Lexer::lex_line_start() {
    if (!interpolated_strings_.empty()) {
        if (interpolated_strings_.top().in_literal_part(nesting_)) {
            if (auto kind = lex_interpolated_string_middle_or_end()) return *kind;
        }
    } else if (pending_indentation_) {
        if (auto kind = handle_pending_dedent()) return *kind;
    }

    if (state_ == LexerState::LineStart) {
        // Most lines are indented by spaces alone.
        if (auto kind = eat_indentation(cursor_.skip_spaces())) return *kind;
    } else {
        cursor_.skip_blanks();
        if (cursor_.first() == '\\') {
            if (auto kind = skip_whitespace()) return *kind;
        }
    }

    cursor_.start_token();
    return lex_char(cursor_.first(), cursor_.offset());
}

TokenKind Lexer::push_error(LexicalErrorType error, TextRange range) {
    errors_.push_back(LexicalError{std::move(error), range});
    current_range_ = range;
    return TokenKind::Unknown;
}

LexicalErrorType Lexer::interpolated_error(InterpolatedStringErrorType error) const {
    bool is_t = !interpolated_strings_.empty() &&
                interpolated_strings_.top().kind() == InterpolatedStringKind::TString;
    return is_t ? LexicalErrorType::tstring(error) : LexicalErrorType::fstring(error);
}

// --- Layout ----------------------------------------------------------------------------------

std::optional<TokenKind> Lexer::handle_pending_dedent() {
    Indentation pending = *pending_indentation_;
    pending_indentation_.reset();
    Indentation current = indentations_.current();
    if (!pending.compare(current)) {
        return push_error(LexicalErrorType::of(LexicalErrorType::Kind::UnindentMismatch),
                          TextRange::empty(cursor_.offset()));
    }
    if (current.column <= pending.column) return std::nullopt;
    pending_indentation_ = pending;
    indentations_.pop();
    Indentation next = indentations_.current();
    if (pending.compare(next) && pending.column <= next.column) return TokenKind::Dedent;
    return push_error(LexicalErrorType::of(LexicalErrorType::Kind::UnindentMismatch),
                      TextRange::empty(cursor_.offset()));
}

std::optional<TokenKind> Lexer::eat_indentation(TextSize spaces) {
    Indentation indentation = Indentation{}.add_spaces(spaces);
    for (;;) {
        int c = cursor_.first();
        if (c == ' ') {
            // A run of spaces is counted at once: most indentation is nothing else.
            indentation = indentation.add_spaces(cursor_.skip_spaces());
        } else if (c == '\t') {
            cursor_.bump();
            indentation = indentation.add_tab();
        } else if (c == '\f') {
            cursor_.bump();
            indentation = Indentation{};
        } else if (c == '\\') {
            if (auto error = lex_line_continuation()) return error;
            if (!indentation.is_root()) {
                cursor_.skip_while([](int b) { return b == ' ' || b == '\t' || b == '\f'; });
            }
        } else {
            break;
        }
    }

    int c = cursor_.first();
    // A blank or comment-only line: no indentation is compared.
    if (c == Cursor::EOF_CHAR || c == '\n' || c == '\r' || c == '#') return std::nullopt;

    state_ = LexerState::LineWithContent;
    Indentation current = indentations_.current();
    auto order = indentation.compare(current);
    if (!order) {
        return push_error(LexicalErrorType::of(LexicalErrorType::Kind::UnindentMismatch),
                          cursor_.token_range());
    }
    switch (*order) {
        case Indentation::Order::Equal:
            return std::nullopt;
        case Indentation::Order::Greater:
            indentations_.push(indentation);
            return TokenKind::Indent;
        case Indentation::Order::Less:
            break;
    }
    pending_indentation_ = indentation;
    indentations_.pop();
    Indentation next = indentations_.current();
    if (indentation.compare(next) && indentation.column <= next.column) {
        cursor_.start_token();
        return TokenKind::Dedent;
    }
    return push_error(LexicalErrorType::of(LexicalErrorType::Kind::UnindentMismatch),
                      cursor_.token_range());
}

// A backslash must end its line; at the end of the input the continuation has nothing to join.
std::optional<TokenKind> Lexer::lex_line_continuation() {
    TextSize backslash = cursor_.offset();
    cursor_.bump();
    if (cursor_.eat_char('\r')) {
        cursor_.eat_char('\n');
    } else if (!cursor_.eat_char('\n')) {
        return push_error(
            LexicalErrorType::of(LexicalErrorType::Kind::MissingNewlineAfterContinuation),
            TextRange(backslash, backslash + 1));
    }
    if (cursor_.is_eof()) {
        return push_error(LexicalErrorType::of(LexicalErrorType::Kind::UnexpectedEof),
                          TextRange(cursor_.token_start(), cursor_.offset()));
    }
    return std::nullopt;
}

std::optional<TokenKind> Lexer::skip_whitespace() {
    for (;;) {
        int c = cursor_.first();
        if (c == ' ' || c == '\t' || c == '\f') {
            cursor_.bump();
        } else if (c == '\\') {
            if (auto error = lex_line_continuation()) return error;
        } else {
            return std::nullopt;
        }
    }
}

TokenKind Lexer::consume_end() {
    const TokenKind kind = consume_end_of_input();
    update_slow_path();
    return kind;
}

TokenKind Lexer::consume_end_of_input() {
    TextRange at_end = TextRange::empty(cursor_.offset());
    while (!interpolated_strings_.empty()) {
        LexicalErrorType error =
            interpolated_error(InterpolatedStringErrorType::UnterminatedString);
        nesting_ = interpolated_strings_.top().nesting;
        interpolated_strings_.pop();
        push_error(std::move(error), at_end);
    }
    if (nesting_ > 0) {
        nesting_ = 0;
        return push_error(LexicalErrorType::of(LexicalErrorType::Kind::UnexpectedEof), at_end);
    }
    if (state_ == LexerState::AfterAssign || state_ == LexerState::InLine) {
        state_ = LexerState::LineStart;
        return TokenKind::Newline;
    }
    if (!indentations_.empty()) {
        indentations_.pop();
        return TokenKind::Dedent;
    }
    return TokenKind::EndOfFile;
}

TokenKind Lexer::lex_newline() {
    if (nesting_ == 0 && (state_ == LexerState::AfterAssign || state_ == LexerState::InLine)) {
        state_ = LexerState::LineStart;
        slow_path_ = true;
        return TokenKind::Newline;
    }
    if (!interpolated_strings_.empty()) {
        InterpolatedStringContext& context = interpolated_strings_.top();
        if (context.format_spec_depth > 0 &&
            context.open_brackets(nesting_) <= context.format_spec_depth) {
            --context.format_spec_depth;
        }
    }
    return TokenKind::NonLogicalNewline;
}

TokenKind Lexer::lex_comment() {
    cursor_.skip_to_any_of('\n', '\r', '\n', '\r');
    return TokenKind::Comment;
}

// --- Operators and the first character -------------------------------------------------------

[[gnu::always_inline]] inline TokenKind Lexer::lex_name_text(bool all_ascii) {
    cursor_.skip_ascii_identifier();
    // A non-ASCII character ends the keyword check even when it ends the name.
    if (!all_ascii || cursor_.first() >= 0x80) [[unlikely]]
        return lex_unicode_name();
    const TextSize start = cursor_.token_start();
    const size_t len = cursor_.offset() - start;
    if (len - 2 <= MAX_KEYWORD_LEN - 2) {
        if (auto kind = keyword(cursor_.data() + start, len, source_.size() - start)) return *kind;
    }
    value_state_ = ValueState::PendingName;
    return TokenKind::Name;
}

// One dispatch on the first byte (or the end of the input) picks the token.
inline TokenKind Lexer::lex_char(int c, TextSize blank_start) {
    switch (BYTE_CLASSES[c + 1]) {
        case ByteClass::End:
            return consume_end();
        // More blanks, or a line continuation, than the one space the caller skips.
        case ByteClass::Blank:
            return lex_blanks_then_char(blank_start);
        case ByteClass::PrefixLetter:
            start_in_line();
            return lex_identifier(c);
        case ByteClass::NameStart:
            start_in_line();
            return lex_name_text(true);
        case ByteClass::Zero:
            start_in_line();
            switch (cursor_.first()) {
                case 'x':
                case 'X':
                    return cursor_.bump_unchecked(), lex_number_radix(16);
                case 'o':
                case 'O':
                    return cursor_.bump_unchecked(), lex_number_radix(8);
                case 'b':
                case 'B':
                    return cursor_.bump_unchecked(), lex_number_radix(2);
                default:
                    return lex_decimal_number(c);
            }
        case ByteClass::Digit:
            start_in_line();
            return lex_decimal_number(c);
        case ByteClass::NonAscii: {
            TextSize length;
            char32_t ch = cursor_.peek_char(length);
            cursor_.skip_bytes(length);
            state_ = LexerState::InLine;
            return lex_non_ascii(ch);
        }
        case ByteClass::Hash:
            cursor_.bump_unchecked();
            return lex_comment();
        case ByteClass::LineFeed:
            cursor_.bump_unchecked();
            return lex_newline();
        case ByteClass::CarriageReturn:
            cursor_.bump_unchecked();
            cursor_.eat_char('\n');
            return lex_newline();
        case ByteClass::Rbrace:
            cursor_.bump_unchecked();
            return lex_rbrace();
        case ByteClass::Quote:
            start_in_line();
            return lex_string(static_cast<char>(c));
        case ByteClass::Lpar:
            start_in_line();
            raise_nesting();
            return TokenKind::Lpar;
        case ByteClass::Lsqb:
            start_in_line();
            raise_nesting();
            return TokenKind::Lsqb;
        case ByteClass::Lbrace:
            start_in_line();
            raise_nesting();
            return TokenKind::Lbrace;
        case ByteClass::Rpar:
            start_in_line();
            lower_nesting();
            return TokenKind::Rpar;
        case ByteClass::Rsqb:
            start_in_line();
            lower_nesting();
            return TokenKind::Rsqb;
        case ByteClass::Colon:
            start_in_line();
            return lex_colon();
        case ByteClass::Exclamation:
            start_in_line();
            return cursor_.eat_char('=') ? TokenKind::NotEqual : TokenKind::Exclamation;
        case ByteClass::Percent:
            start_in_line();
            return cursor_.eat_char('=') ? TokenKind::PercentEqual : TokenKind::Percent;
        case ByteClass::Amper:
            start_in_line();
            return cursor_.eat_char('=') ? TokenKind::AmperEqual : TokenKind::Amper;
        case ByteClass::Plus:
            start_in_line();
            return cursor_.eat_char('=') ? TokenKind::PlusEqual : TokenKind::Plus;
        case ByteClass::Circumflex:
            start_in_line();
            return cursor_.eat_char('=') ? TokenKind::CircumflexEqual : TokenKind::CircumFlex;
        case ByteClass::Vbar:
            start_in_line();
            return cursor_.eat_char('=') ? TokenKind::VbarEqual : TokenKind::Vbar;
        case ByteClass::At:
            start_in_line();
            return cursor_.eat_char('=') ? TokenKind::AtEqual : TokenKind::At;
        case ByteClass::Star:
            start_in_line();
            if (cursor_.eat_char('=')) return TokenKind::StarEqual;
            if (cursor_.eat_char('*')) {
                return cursor_.eat_char('=') ? TokenKind::DoubleStarEqual : TokenKind::DoubleStar;
            }
            return TokenKind::Star;
        case ByteClass::Slash:
            start_in_line();
            if (cursor_.eat_char('=')) return TokenKind::SlashEqual;
            if (cursor_.eat_char('/')) {
                return cursor_.eat_char('=') ? TokenKind::DoubleSlashEqual : TokenKind::DoubleSlash;
            }
            return TokenKind::Slash;
        case ByteClass::Minus:
            start_in_line();
            if (cursor_.eat_char('=')) return TokenKind::MinusEqual;
            if (cursor_.eat_char('>')) return TokenKind::Rarrow;
            return TokenKind::Minus;
        case ByteClass::Less:
            start_in_line();
            if (cursor_.eat_char('<')) {
                return cursor_.eat_char('=') ? TokenKind::LeftShiftEqual : TokenKind::LeftShift;
            }
            return cursor_.eat_char('=') ? TokenKind::LessEqual : TokenKind::Less;
        case ByteClass::Greater:
            start_in_line();
            if (cursor_.eat_char('>')) {
                return cursor_.eat_char('=') ? TokenKind::RightShiftEqual : TokenKind::RightShift;
            }
            return cursor_.eat_char('=') ? TokenKind::GreaterEqual : TokenKind::Greater;
        case ByteClass::Equal:
            cursor_.bump_unchecked();
            if (cursor_.eat_char('=')) {
                state_ = LexerState::InLine;
                return TokenKind::EqEqual;
            }
            state_ = LexerState::AfterAssign;
            return TokenKind::Equal;
        case ByteClass::Dot:
            start_in_line();
            if (is_digit(cursor_.first())) return lex_decimal_number('.');
            if (cursor_.eat_char2('.', '.')) return TokenKind::Ellipsis;
            return TokenKind::Dot;
        case ByteClass::Comma:
            start_in_line();
            return TokenKind::Comma;
        case ByteClass::Semi:
            start_in_line();
            return TokenKind::Semi;
        case ByteClass::Tilde:
            start_in_line();
            return TokenKind::Tilde;
        case ByteClass::Other:
            start_in_line();
            return push_error(LexicalErrorType::unexpected_character(static_cast<char32_t>(c)),
                              cursor_.token_range());
    }
    // The table holds classes only.
    __builtin_unreachable();
}

TokenKind Lexer::lex_non_ascii(char32_t c) {
    if (is_xid_start(c)) return lex_name_text(false);
    return push_error(LexicalErrorType::unexpected_character(c), cursor_.token_range());
}

TokenKind Lexer::lex_colon() {
    if (!interpolated_strings_.empty()) {
        InterpolatedStringContext& context = interpolated_strings_.top();
        uint32_t open = context.open_brackets(nesting_);
        uint32_t above_spec =
            open > context.format_spec_depth ? open - context.format_spec_depth : 0;
        // Directly inside an interpolation's braces: the format spec starts here.
        if (above_spec == 1) {
            ++context.format_spec_depth;
            return TokenKind::Colon;
        }
    }
    return cursor_.eat_char('=') ? TokenKind::ColonEqual : TokenKind::Colon;
}

TokenKind Lexer::lex_rbrace() {
    if (!interpolated_strings_.empty()) {
        InterpolatedStringContext& context = interpolated_strings_.top();
        if (nesting_ == context.nesting) {
            return push_error(interpolated_error(InterpolatedStringErrorType::SingleRbrace),
                              cursor_.token_range());
        }
        if (context.format_spec_depth > 0 &&
            context.open_brackets(nesting_) <= context.format_spec_depth) {
            --context.format_spec_depth;
        }
    }
    state_ = LexerState::InLine;
    lower_nesting();
    return TokenKind::Rbrace;
}

// --- Identifiers, keywords and prefixed strings -----------------------------------------------

// `first` is a letter that may start a string prefix.
TokenKind Lexer::lex_identifier(int first) {
    int next = cursor_.first();
    if (is_quote(next)) {
        if (TokenFlags prefix = single_prefix(first)) {
            cursor_.bump();
            return lex_prefixed_string(prefix, static_cast<char>(next));
        }
    } else if (int after = cursor_.second(); is_quote(after)) {
        if (TokenFlags prefix = pair_prefix(first, next)) {
            cursor_.skip_bytes(2);
            return lex_prefixed_string(prefix, static_cast<char>(after));
        }
    }
    return lex_name_text(true);
}

void Lexer::store_pending_name() const {
    // Most tokens with a value are names: replacing one in place skips the variant's
    // destroy-and-construct dispatch.
    if (Name* slot = std::get_if<Name>(&current_value_)) {
        *slot = pending_name();
    } else {
        current_value_.emplace<Name>(pending_name());
    }
    value_state_ = ValueState::Stored;
}

TokenKind Lexer::lex_unicode_name() {
    while (cursor_.first() >= 0x80) {  // the end of input is below
        TextSize length;
        char32_t c = cursor_.peek_char(length);
        if (!is_xid_continue(c)) break;
        cursor_.skip_bytes(length);
        cursor_.skip_ascii_identifier();
    }
    set_value<Name>(nfkc(cursor_.token_text()));
    return TokenKind::Name;
}

TokenKind Lexer::lex_prefixed_string(TokenFlags prefix, char quote) {
    current_flags_ |= prefix;
    if (prefix & (F_PREFIX | T_PREFIX)) {
        if (quote == '"') current_flags_ |= DOUBLE_QUOTES;
        if (cursor_.eat_char2(quote, quote)) current_flags_ |= TRIPLE_QUOTED;
        interpolated_strings_.push(InterpolatedStringContext{nesting_, 0, current_flags_});
        slow_path_ = true;
        return (prefix & F_PREFIX) ? TokenKind::FStringStart : TokenKind::TStringStart;
    }
    return lex_string(quote);
}

// --- Plain and bytes strings -----------------------------------------------------------------

TokenKind Lexer::lex_string(char quote) {
    if (quote == '"') current_flags_ |= DOUBLE_QUOTES;
    bool triple = cursor_.eat_char2(quote, quote);
    if (triple) current_flags_ |= TRIPLE_QUOTED;
    TextSize body_start = cursor_.offset();
    bool backslash = false;

    auto unterminated = [&](TextSize body_end) {
        current_flags_ |= UNTERMINATED;
        set_value<StringBody>(StringBody{cursor_.slice(body_start, body_end), backslash});
        push_error(LexicalErrorType::of(LexicalErrorType::Kind::MissingClosingQuote),
                   TextRange(cursor_.token_start(), body_end));
        return TokenKind::String;
    };

    if (triple) {
        // A backslash escapes whatever byte follows it, so skipping pairs finds exactly the
        // quotes preceded by an even number of backslashes.
        while (cursor_.skip_to_any_of(quote, '\\', quote, '\\')) {
            if (cursor_.first() == '\\') {
                backslash = true;
                cursor_.skip_bytes(2);
                continue;
            }
            TextSize at = cursor_.offset();
            if (cursor_.eat_char3(quote, quote, quote)) {
                set_value<StringBody>(StringBody{cursor_.slice(body_start, at), backslash});
                return TokenKind::String;
            }
            cursor_.bump();
        }
        cursor_.skip_to_end();
        return unterminated(cursor_.offset());
    }

    while (cursor_.skip_to_any_of(quote, '\\', '\n', '\r')) {
        int c = cursor_.first();
        if (c == '\\') {
            backslash = true;
            cursor_.bump();
            if (cursor_.eat_char('\r')) {
                cursor_.eat_char('\n');
            } else {
                cursor_.bump();
            }
            continue;
        }
        TextSize at = cursor_.offset();
        if (c == quote) {
            cursor_.bump();
            set_value<StringBody>(StringBody{cursor_.slice(body_start, at), backslash});
            return TokenKind::String;
        }
        // An unescaped line break ends the token; the break itself is the next token.
        return unterminated(at);
    }
    return unterminated(cursor_.offset());
}

// --- Numbers ---------------------------------------------------------------------------------

TokenKind Lexer::lex_number_radix(uint32_t radix) {
    LexedText digits(cursor_, cursor_.offset());
    radix_run(cursor_, digits, radix);
    auto value = Int::from_str_radix(digits.view(), radix, cursor_.token_text());
    if (!value) {
        return push_error(LexicalErrorType::other(value.error().debug()), cursor_.token_range());
    }
    set_value<Int>(std::move(value).value());
    return TokenKind::Int;
}

TokenKind Lexer::lex_decimal_number(int first) {
    LexedText text(cursor_, cursor_.token_start());
    text.push(static_cast<char>(first));
    bool is_float = false;
    if (first == '.') {
        radix_run(cursor_, text, 10);
        is_float = true;
    } else {
        radix_run(cursor_, text, 10);
        if (cursor_.first() == '.') {
            cursor_.bump();
            text.push('.');
            if (cursor_.first() == '_') {
                TextSize underscore = cursor_.offset();
                cursor_.bump();
                return push_error(LexicalErrorType::other("Invalid Syntax"),
                                  TextRange(underscore, underscore + 1));
            }
            radix_run(cursor_, text, 10);
            is_float = true;
        }
    }

    int e = cursor_.first();
    if (e == 'e' || e == 'E') {
        int sign = cursor_.second();
        if (is_digit(sign)) {
            cursor_.bump();
            text.push(static_cast<char>(e));
            radix_run(cursor_, text, 10);
            is_float = true;
        } else if ((sign == '+' || sign == '-') && is_digit(cursor_.third())) {
            cursor_.skip_bytes(2);
            text.push(static_cast<char>(e));
            text.push(static_cast<char>(sign));
            radix_run(cursor_, text, 10);
            is_float = true;
        }
    }

    if (!is_float) {
        if (cursor_.eat_if([](int c) { return c == 'j' || c == 'J'; }) != Cursor::EOF_CHAR) {
            double imag = 0;
            parse_double(text.view(), imag);
            set_value<NumberLiteralComplex>(NumberLiteralComplex{0.0, imag});
            return TokenKind::Complex;
        }
        auto value = Int::from_str(text.view());
        if (!value) {
            return push_error(LexicalErrorType::other(value.error().debug()),
                              cursor_.token_range());
        }
        const uint64_t* small = value->as_u64();
        if (first == '0' && !(small && *small == 0)) {
            return push_error(LexicalErrorType::other("Invalid decimal integer literal"),
                              cursor_.token_range());
        }
        set_value<Int>(std::move(value).value());
        return TokenKind::Int;
    }

    double number = 0;
    if (!parse_double(text.view(), number)) {
        return push_error(LexicalErrorType::other("Invalid decimal literal"),
                          cursor_.token_range());
    }
    if (cursor_.eat_if([](int c) { return c == 'j' || c == 'J'; }) != Cursor::EOF_CHAR) {
        set_value<NumberLiteralComplex>(NumberLiteralComplex{0.0, number});
        return TokenKind::Complex;
    }
    set_value<double>(number);
    return TokenKind::Float;
}

// --- Interpolated strings --------------------------------------------------------------------

std::optional<TokenKind> Lexer::lex_interpolated_string_middle_or_end() {
    const InterpolatedStringContext context = interpolated_strings_.top();
    const char quote = context.quote();
    const bool triple = context.is_triple_quoted();
    const bool is_t = context.kind() == InterpolatedStringKind::TString;

    if (triple ? cursor_.eat_char3(quote, quote, quote) : cursor_.eat_char(quote)) {
        current_flags_ = context.flags;
        interpolated_strings_.pop();
        return is_t ? TokenKind::TStringEnd : TokenKind::FStringEnd;
    }

    const bool in_format_spec = context.format_spec_depth > 0;
    const bool raw = context.is_raw();
    std::string collected;
    bool has_collected = false;
    TextSize copied = cursor_.offset();
    bool named_escape = false;

    auto collapse_pair = [&] {
        TextSize at = cursor_.offset();
        collected.append(cursor_.slice(copied, at + 1));
        has_collected = true;
        cursor_.skip_bytes(2);
        copied = cursor_.offset();
    };
    auto unterminated = [&](InterpolatedStringErrorType error) {
        LexicalErrorType type = interpolated_error(error);
        nesting_ = context.nesting;
        interpolated_strings_.pop();
        current_flags_ |= UNTERMINATED;
        push_error(std::move(type), TextRange(cursor_.token_start(), cursor_.offset()));
    };

    for (;;) {
        int c = cursor_.first();
        if (c == Cursor::EOF_CHAR) {
            unterminated(triple ? InterpolatedStringErrorType::UnterminatedTripleQuotedString
                                : InterpolatedStringErrorType::UnterminatedString);
            break;
        }
        if ((c == '\n' || c == '\r') && !triple) {
            unterminated(in_format_spec ? InterpolatedStringErrorType::NewlineInFormatSpec
                                        : InterpolatedStringErrorType::UnterminatedString);
            break;
        }
        if (c == quote) {
            if (!triple) break;
            if (cursor_.second() == quote && cursor_.third() == quote) break;
            cursor_.bump();
            continue;
        }
        if (c == '\\') {
            cursor_.bump();
            int next = cursor_.first();
            // A backslash does not escape a brace.
            if (next == '{' || next == '}') continue;
            if (!raw && next == 'N' && cursor_.second() == '{') {
                cursor_.skip_bytes(2);
                named_escape = true;
                continue;
            }
            if (next == '\r' && cursor_.second() == '\n') {
                cursor_.skip_bytes(2);
            } else {
                cursor_.bump();
            }
            continue;
        }
        if (c == '{') {
            if (!in_format_spec && cursor_.second() == '{') {
                collapse_pair();
                continue;
            }
            break;
        }
        if (c == '}') {
            if (named_escape) {
                cursor_.bump();
                named_escape = false;
                continue;
            }
            if (!in_format_spec && cursor_.second() == '}') {
                collapse_pair();
                continue;
            }
            break;
        }
        cursor_.bump();
    }

    if (cursor_.offset() == cursor_.token_start()) return std::nullopt;
    if (has_collected) {
        collected.append(cursor_.slice(copied, cursor_.offset()));
        set_value<InterpolatedStringMiddle>(InterpolatedStringMiddle::owned(std::move(collected)));
    } else {
        set_value<InterpolatedStringMiddle>(InterpolatedStringMiddle::borrowed(
            cursor_.slice(cursor_.token_start(), cursor_.offset())));
    }
    current_flags_ = context.flags;
    return is_t ? TokenKind::TStringMiddle : TokenKind::FStringMiddle;
}

Name Lexer::take_name() {
    if (value_state_ == ValueState::PendingName) {
        value_state_ = ValueState::None;
        return pending_name();
    }
    Name* name = value_state_ == ValueState::Stored ? std::get_if<Name>(&current_value_) : nullptr;
    if (name == nullptr) quarn::unreachable();
    value_state_ = ValueState::None;
    return std::move(*name);
}

// --- Checkpoints and re-lexing ---------------------------------------------------------------

LexerCheckpoint Lexer::checkpoint() const {
    return LexerCheckpoint{
        current_value(), current_kind_, current_range_, current_flags_,       cursor_.offset(),
        state_,          nesting_,      indentations_,  pending_indentation_, interpolated_strings_,
        errors_.size()};
}

void Lexer::rewind(LexerCheckpoint checkpoint) {
    restore_value(std::move(checkpoint.value));
    current_kind_ = checkpoint.current_kind;
    current_range_ = checkpoint.current_range;
    current_flags_ = checkpoint.current_flags;
    cursor_ = Cursor(source_, checkpoint.cursor_offset);
    state_ = checkpoint.state;
    nesting_ = checkpoint.nesting;
    indentations_ = std::move(checkpoint.indentations);
    pending_indentation_ = checkpoint.pending_indentation;
    interpolated_strings_ = std::move(checkpoint.interpolated_strings);
    errors_.truncate(checkpoint.errors_len);
    update_slow_path();
}

bool Lexer::re_lex_logical_token(std::optional<TextSize> non_logical_newline_start) {
    if (nesting_ == 0) return false;
    uint32_t before = nesting_;
    --nesting_;
    if ((current_flags_ & TRIPLE_QUOTED) && (current_flags_ & (F_PREFIX | T_PREFIX))) return false;
    if (!non_logical_newline_start) return false;
    if (current_kind_ == TokenKind::Rpar || current_kind_ == TokenKind::Rsqb ||
        current_kind_ == TokenKind::Rbrace) {
        nesting_ = before;
    }
    cursor_.set_offset(*non_logical_newline_start);
    state_ = LexerState::InLine;
    update_slow_path();
    next_token();
    return true;
}

bool Lexer::re_lex_string_token_in_interpolation_element(InterpolatedStringKind kind) {
    if (interpolated_strings_.empty() || current_kind_ != TokenKind::String) return false;
    const InterpolatedStringContext context = interpolated_strings_.top();
    if (!(current_flags_ & UNTERMINATED)) return false;
    if (current_flags_ & ~(DOUBLE_QUOTES | TRIPLE_QUOTED | UNTERMINATED)) return false;
    if ((current_flags_ & DOUBLE_QUOTES) != (context.flags & DOUBLE_QUOTES)) return false;
    if ((current_flags_ & TRIPLE_QUOTED) != (context.flags & TRIPLE_QUOTED)) return false;

    TextSize quote_len = context.is_triple_quoted() ? 3 : 1;
    TextSize start = current_range_.start();
    // Only blanks may follow the quote(s) up to the end of the line or a comment.
    for (TextSize i = start + quote_len; i < source_.size(); ++i) {
        char c = source_[i];
        if (c == ' ' || c == '\t' || c == '\f') continue;
        if (c == '\n' || c == '\r' || c == '#') break;
        return false;
    }

    if (!errors_.empty() && errors_.back().location == current_range_ &&
        errors_.back().error.kind == LexicalErrorType::Kind::MissingClosingQuote) {
        errors_.pop_back();
    }
    current_kind_ =
        kind == InterpolatedStringKind::TString ? TokenKind::TStringEnd : TokenKind::FStringEnd;
    current_range_ = TextRange::at(start, quote_len);
    value_state_ = ValueState::None;
    current_flags_ = 0;
    nesting_ = context.nesting;
    interpolated_strings_.pop();
    update_slow_path();
    cursor_.set_offset(start + quote_len);
    return true;
}

bool Lexer::re_lex_raw_string_in_format_spec() {
    if (current_kind_ != TokenKind::String) return false;
    constexpr TokenFlags MASK = UNTERMINATED | R_PREFIX_LOWER | T_PREFIX | F_PREFIX | B_PREFIX;
    if ((current_flags_ & MASK) != (UNTERMINATED | R_PREFIX_LOWER)) return false;
    if (!errors_.empty() && errors_.back().location == current_range_ &&
        errors_.back().error.kind == LexicalErrorType::Kind::MissingClosingQuote) {
        errors_.pop_back();
    }
    TextSize start = current_range_.start();
    current_kind_ = TokenKind::Name;
    set_value<Name>("r");
    current_range_ = TextRange::at(start, 1);
    current_flags_ = 0;
    cursor_.set_offset(start + 1);
    return true;
}

}  // namespace rudo::python_parser
