#include "rudo/python_parser/token_source.h"

#include <algorithm>

#include "base/panic.h"
#include "base/pause_point.h"

namespace rudo::python_parser {

quarn::Result<TokenSource> TokenSource::from_source(std::string_view source,
                                                    TextSize start_offset) {
    auto lexer = Lexer::create(source, start_offset);
    if (!lexer) return quarn::Err(std::string(lexer.error()));
    return TokenSource(std::move(lexer).value(), source.size());
}

TokenSource::TokenSource(Lexer lexer, size_t source_len) : lexer_(std::move(lexer)) {
    // Python averages a token every few bytes; this spares most of the regrowth.
    tokens_.reserve(source_len / 5 + 16);
    do_bump();
}

void TokenSource::do_bump() {
    const TokenKind kind = lexer_.next_token();
    if (python_ast::is_trivia(kind)) record_trivia_from(kind);
}

void TokenSource::record_trivia_from(TokenKind kind) {
    do {
        record(kind);
        kind = lexer_.next_token();
    } while (python_ast::is_trivia(kind));
}

void TokenSource::grow_tokens() {
    // A big file's tokens take tens of megabytes: they move slice by slice, with a pause point
    // between two, so that a pause never waits for the whole copy and its page faults.
    constexpr size_t SLICE = size_t{1} << 16;
    std::vector<Token> bigger;
    bigger.reserve(std::max<size_t>(2 * tokens_.capacity(), 16));
    for (size_t done = 0; done < tokens_.size(); done += SLICE) {
        quarn::pause_point();
        const size_t end = std::min(tokens_.size(), done + SLICE);
        bigger.insert(bigger.end(), tokens_.begin() + done, tokens_.begin() + end);
    }
    tokens_ = std::move(bigger);
}

TokenKind TokenSource::next_non_trivia() {
    for (;;) {
        TokenKind kind = lexer_.next_token();
        if (!python_ast::is_trivia(kind)) return kind;
    }
}

TokenKind TokenSource::peek() {
    // The current value is parked outside the checkpoint, so peeking never copies it.
    TokenValue value = lexer_.take_value();
    LexerCheckpoint saved = lexer_.checkpoint();
    TokenKind kind = next_non_trivia();
    lexer_.rewind(std::move(saved));
    lexer_.restore_value(std::move(value));
    return kind;
}

std::pair<TokenKind, TokenKind> TokenSource::peek2() {
    TokenValue value = lexer_.take_value();
    LexerCheckpoint saved = lexer_.checkpoint();
    TokenKind first = next_non_trivia();
    TokenKind second = next_non_trivia();
    lexer_.rewind(std::move(saved));
    lexer_.restore_value(std::move(value));
    return {first, second};
}

void TokenSource::re_lex_logical_token() {
    // While another bracket stays open, lexing the trailing line breaks and comments again gives
    // the very tokens already recorded: only the nesting changes. Skipping the rescan keeps many
    // brackets abandoned at one point linear in the trivia that follows them. Brackets (whose
    // re-lex moves the nesting back) and open interpolated strings take the full path.
    const TokenKind current = lexer_.current_kind();
    if (lexer_.nesting_ > 1 && lexer_.interpolated_strings_.empty() && current != TokenKind::Lpar &&
        current != TokenKind::Lsqb && current != TokenKind::Lbrace && current != TokenKind::Rpar &&
        current != TokenKind::Rsqb && current != TokenKind::Rbrace) {
        lexer_.lower_nesting();
        return;
    }
    std::optional<TextSize> newline_start;
    std::optional<size_t> newline_index;
    for (size_t i = tokens_.size(); i-- > 0;) {
        const Token& token = tokens_[i];
        if (token.kind == TokenKind::Comment) continue;
        if (token.kind != TokenKind::NonLogicalNewline) break;
        newline_start = token.range.start();
        newline_index = i;
    }
    if (!lexer_.re_lex_logical_token(newline_start)) return;
    if (newline_index) tokens_.resize(*newline_index);
    if (python_ast::is_trivia(lexer_.current_kind())) {
        record_trivia_from(lexer_.current_kind());
    }
}

void TokenSource::rewind(TokenSourceCheckpoint checkpoint) {
    lexer_.rewind(std::move(checkpoint.lexer));
    if (tokens_.size() > checkpoint.tokens_len) tokens_.resize(checkpoint.tokens_len);
}

TokenSourceResult TokenSource::finish() && {
    TokenSourceRuns runs = std::move(*this).finish_runs();
    return TokenSourceResult{std::move(runs.tokens), runs.errors.to_vector()};
}

TokenSourceRuns TokenSource::finish_runs() && {
    if (lexer_.current_kind() != TokenKind::EndOfFile) {
        quarn::panic("TokenSource was not fully consumed");
    }
    if (!tokens_.empty()) {
        if (tokens_.back().kind != TokenKind::EndOfFile) {
            quarn::assertion_failed("the last recorded token is the end of file");
        }
        tokens_.pop_back();
    }
    return TokenSourceRuns{Tokens(std::move(tokens_)), std::move(lexer_).finish_runs()};
}

}  // namespace rudo::python_parser
