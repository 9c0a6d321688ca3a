// The lexer: Python source text to tokens, one `next_token` call at a time.
//
// Lexing never fails and never stops early: every problem is recorded as a LexicalError and the
// lexer goes on after the offending text, usually after returning `Unknown`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "rudo/python_ast/int.h"
#include "rudo/python_ast/name.h"
#include "rudo/python_ast/nodes.h"
#include "rudo/python_ast/token.h"
#include "rudo/python_parser/cursor.h"
#include "rudo/python_parser/error.h"
#include "rudo/python_parser/error_runs.h"
#include "rudo/python_parser/indentation.h"
#include "rudo/python_parser/interpolated_string.h"

namespace rudo::python_parser {

using python_ast::Int;
using python_ast::Name;
using python_ast::NumberLiteralComplex;
using python_ast::TokenFlags;
using python_ast::TokenKind;

// Offsets are 32-bit, so longer texts are refused before lexing starts.
inline constexpr size_t MAX_SOURCE_SIZE = 4'294'967'295;
inline constexpr std::string_view SOURCE_TOO_LARGE =
    "Lexer only supports files with a size up to 4GB";
constexpr bool source_size_fits(size_t size) {
    return size <= MAX_SOURCE_SIZE;
}

// The body of a plain or bytes string between its quotes, escapes undecoded. Borrowed from the
// source text, which outlives every token of it. The lexer saw every backslash of the body:
// one without any is its own value, and the decoder need not look for escapes again.
struct StringBody {
    std::string_view text;
    bool has_backslash = true;
    friend bool operator==(const StringBody&, const StringBody&) = default;
};

// The literal text of an f-string or t-string middle with doubled braces collapsed: a slice of
// the source, or an owned copy when a pair of braces had to be collapsed.
class InterpolatedStringMiddle {
  public:
    static InterpolatedStringMiddle borrowed(std::string_view text) {
        InterpolatedStringMiddle m;
        m.borrowed_ = text;
        return m;
    }
    static InterpolatedStringMiddle owned(std::string text) {
        InterpolatedStringMiddle m;
        m.owned_ = std::move(text);
        m.is_owned_ = true;
        return m;
    }
    std::string_view text() const { return is_owned_ ? std::string_view(owned_) : borrowed_; }
    friend bool operator==(const InterpolatedStringMiddle& a, const InterpolatedStringMiddle& b) {
        return a.text() == b.text();
    }

  private:
    std::string_view borrowed_;
    std::string owned_;
    bool is_owned_ = false;
};

// The value of the current token: nothing, a name, an int, a float, a complex number, a string
// body or an interpolated-string middle.
using TokenValue = std::variant<std::monostate, Name, Int, double, NumberLiteralComplex, StringBody,
                                InterpolatedStringMiddle>;

enum class LexerState : uint8_t {
    // At the start of a line; its indentation is not yet measured.
    LineStart,
    // Indentation measured; the line holds a token that is not a comment.
    LineWithContent,
    // The last token was `=`; otherwise the same as InLine.
    AfterAssign,
    InLine,
};

// Everything needed to resume lexing where a checkpoint was taken. Both stacks share their
// entries with the lexer, so taking a checkpoint does not copy them.
struct LexerCheckpoint {
    TokenValue value;
    TokenKind current_kind = TokenKind::EndOfFile;
    TextRange current_range;
    TokenFlags current_flags = 0;
    TextSize cursor_offset = 0;
    LexerState state = LexerState::LineStart;
    uint32_t nesting = 0;
    Indentations indentations;
    std::optional<Indentation> pending_indentation;
    InterpolatedStrings interpolated_strings;
    size_t errors_len = 0;
};

class TokenSource;

class Lexer {
  public:
    // Refuses a text longer than MAX_SOURCE_SIZE with SOURCE_TOO_LARGE.
    static quarn::Result<Lexer> create(std::string_view source, TextSize start_offset = 0);
    // For a text known to fit; an oversized one is an internal fault.
    explicit Lexer(std::string_view source, TextSize start_offset = 0);
    // Loads the normaliser that names outside ASCII go through, which is otherwise loaded by the
    // first such name.
    static void load_unicode_data();

    // Lexes one token, makes it current and returns its kind.
    TokenKind next_token();

    TokenKind current_kind() const { return current_kind_; }
    TextRange current_range() const { return current_range_; }
    TokenFlags current_flags() const { return current_flags_; }
    const TokenValue& current_value() const {
        if (value_state_ == ValueState::PendingName) [[unlikely]]
            store_pending_name();
        return value_state_ == ValueState::Stored ? current_value_ : NO_VALUE;
    }
    // Moves the current value out, leaving no value behind.
    TokenValue take_value() {
        if (value_state_ == ValueState::PendingName) {
            value_state_ = ValueState::None;
            return TokenValue(std::in_place_type<Name>, pending_name());
        }
        if (value_state_ == ValueState::None) return TokenValue{};
        value_state_ = ValueState::None;
        return std::move(current_value_);
    }
    // Moves the current name out without moving the whole value; the current token is a name.
    Name take_name();

    LexerCheckpoint checkpoint() const;
    // Restores the state of the checkpoint and drops the errors recorded since.
    void rewind(LexerCheckpoint checkpoint);

    // Turns the line break at `non_logical_newline_start` into the end of a logical line after
    // the parser abandoned an unclosed bracket; true when a token was lexed again.
    bool re_lex_logical_token(std::optional<TextSize> non_logical_newline_start);
    // An unterminated plain string that stands for the closing quote of the open interpolated
    // string becomes its end token; returns whether the current token changed.
    bool re_lex_string_token_in_interpolation_element(InterpolatedStringKind kind);
    // An unterminated raw string `r'...` after `!` in an interpolation becomes the name `r`.
    bool re_lex_raw_string_in_format_spec();

    std::vector<LexicalError> errors() const { return errors_.to_vector(); }
    size_t error_count() const { return errors_.size(); }
    std::vector<LexicalError> finish() && { return errors_.to_vector(); }
    ErrorRuns<LexicalError> finish_runs() && { return std::move(errors_); }

    uint32_t nesting() const { return nesting_; }
    LexerState state() const { return state_; }

  private:
    friend class TokenSource;

    static const TokenValue NO_VALUE;

    // Where the current token's value is. An ASCII name is built from the token's text only
    // when it is asked for: most are taken once by the parser, and the lexer then never copies
    // the text into the slot and out again.
    enum class ValueState : uint8_t { None, Stored, PendingName };

    // The slot keeps the last value until the next one replaces it: a token without a value
    // only clears the state.
    template <typename T, typename... Args>
    void set_value(Args&&... args) {
        current_value_.emplace<T>(std::forward<Args>(args)...);
        value_state_ = ValueState::Stored;
    }
    void restore_value(TokenValue value) {
        current_value_ = std::move(value);
        value_state_ = current_value_.index() != 0 ? ValueState::Stored : ValueState::None;
    }
    // The name of the current token's text, whose source past it may be read.
    Name pending_name() const {
        const TextSize start = current_range_.start();
        return Name(source_.substr(start, current_range_.len()), source_.size() - start);
    }
    void store_pending_name() const;

    // Whether the next token may need more than the in-line path: an open interpolated string,
    // a dedent still to give, or the start of a line. Kept up to date wherever one of them
    // changes, so the common token tests one byte.
    bool needs_slow_path() const {
        return !interpolated_strings_.empty() || pending_indentation_.has_value() ||
               state_ == LexerState::LineStart;
    }
    void update_slow_path() { slow_path_ = needs_slow_path(); }
    [[gnu::noinline]] TokenKind lex_slow_token();
    TokenKind lex_line_token();

    // Makes the lexed token current; an abandoned token keeps the range of its error.
    TokenKind finish_token(TokenKind kind) {
        if (kind != TokenKind::Unknown) current_range_ = cursor_.token_range();
        current_kind_ = kind;
        return kind;
    }
    [[gnu::noinline]] TokenKind lex_general_token(int c, TextSize blank_start);
    TokenKind lex_line_start();
    TokenKind lex_blanks_then_char(TextSize blank_start);
    // Consumes the first byte of a token that keeps the line going.
    void start_in_line() {
        cursor_.bump_unchecked();
        state_ = LexerState::InLine;
    }
    std::optional<TokenKind> handle_pending_dedent();
    // The line's first `spaces` spaces are consumed.
    std::optional<TokenKind> eat_indentation(TextSize spaces);
    std::optional<TokenKind> skip_whitespace();
    std::optional<TokenKind> lex_line_continuation();
    TokenKind consume_end();
    TokenKind consume_end_of_input();
    TokenKind lex_char(int c, TextSize blank_start);
    TokenKind lex_non_ascii(char32_t c);
    TokenKind lex_identifier(int first);
    TokenKind lex_name_text(bool all_ascii);
    [[gnu::noinline]] TokenKind lex_unicode_name();
    TokenKind lex_prefixed_string(TokenFlags prefix, char quote);
    TokenKind lex_string(char quote);
    TokenKind lex_comment();
    TokenKind lex_newline();
    TokenKind lex_colon();
    TokenKind lex_rbrace();
    TokenKind lex_decimal_number(int first);
    TokenKind lex_number_radix(uint32_t radix);
    std::optional<TokenKind> lex_interpolated_string_middle_or_end();

    TokenKind push_error(LexicalErrorType error, TextRange range);
    LexicalErrorType interpolated_error(InterpolatedStringErrorType error) const;
    void lower_nesting() { nesting_ = nesting_ > 0 ? nesting_ - 1 : 0; }
    void raise_nesting() { nesting_ = nesting_ < UINT32_MAX ? nesting_ + 1 : nesting_; }

    Indentations indentations_;
    InterpolatedStrings interpolated_strings_;
    ErrorRuns<LexicalError> errors_;
    // Written by current_value(), which may store a pending name.
    mutable TokenValue current_value_;
    std::string_view source_;
    Cursor cursor_;
    TextRange current_range_;
    std::optional<Indentation> pending_indentation_;
    uint32_t nesting_ = 0;
    TokenFlags current_flags_ = 0;
    LexerState state_ = LexerState::LineStart;
    TokenKind current_kind_ = TokenKind::EndOfFile;
    mutable ValueState value_state_ = ValueState::None;
    bool slow_path_ = true;
};

}  // namespace rudo::python_parser
