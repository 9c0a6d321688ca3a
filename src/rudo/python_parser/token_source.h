// Between the lexer and the parser: hides trivia from the parser while recording every token.
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "base/result.h"
#include "rudo/python_ast/token.h"
#include "rudo/python_parser/lexer.h"

namespace rudo::python_parser {

using python_ast::Token;
using python_ast::Tokens;

struct TokenSourceCheckpoint {
    LexerCheckpoint lexer;
    size_t tokens_len = 0;
};

struct TokenSourceResult {
    Tokens tokens;
    std::vector<LexicalError> errors;
};

// The same with the errors kept as runs, for the parser's merge.
struct TokenSourceRuns {
    Tokens tokens;
    ErrorRuns<LexicalError> errors;
};

class TokenSource {
  public:
    // Refuses a text longer than MAX_SOURCE_SIZE; otherwise lexes up to the first significant
    // token, recording the trivia before it.
    static quarn::Result<TokenSource> from_source(std::string_view source,
                                                  TextSize start_offset = 0);

    TokenKind current_kind() const { return lexer_.current_kind(); }
    TextRange current_range() const { return lexer_.current_range(); }
    TokenFlags current_flags() const { return lexer_.current_flags(); }
    const TokenValue& current_value() const { return lexer_.current_value(); }
    TokenValue take_value() { return lexer_.take_value(); }
    Name take_name() { return lexer_.take_name(); }

    // Records the current token with `kind` and moves to the next significant token. Inline:
    // the parser's one step to the lexer.
    void bump(TokenKind kind) {
        record(kind);
        for (;;) {
            const TokenKind next = lexer_.next_token();
            if (!python_ast::is_trivia(next)) return;
            record(next);
        }
    }

    // Kinds of the next one or two significant tokens after the current one; nothing recorded,
    // nothing changed.
    TokenKind peek();
    std::pair<TokenKind, TokenKind> peek2();

    // After the parser abandoned an unclosed bracket: the line break that ended its line
    // becomes the end of the logical line, and what follows is lexed again.
    void re_lex_logical_token();
    bool re_lex_string_token_in_interpolation_element(InterpolatedStringKind kind) {
        return lexer_.re_lex_string_token_in_interpolation_element(kind);
    }
    bool re_lex_raw_string_in_format_spec() { return lexer_.re_lex_raw_string_in_format_spec(); }

    TokenSourceCheckpoint checkpoint() const { return {lexer_.checkpoint(), tokens_.size()}; }
    void rewind(TokenSourceCheckpoint checkpoint);

    // The recorded tokens without the final EndOfFile, and the lexical errors. The current
    // token must be EndOfFile.
    TokenSourceResult finish() &&;
    TokenSourceRuns finish_runs() &&;

    const std::vector<Token>& tokens() const { return tokens_; }
    std::vector<LexicalError> errors() const { return lexer_.errors(); }

  private:
    explicit TokenSource(Lexer lexer, size_t source_len);
    void record(TokenKind kind) {
        push(Token{lexer_.current_range(), lexer_.current_flags(), kind});
    }
    void push(const Token& token) {
        if (tokens_.size() == tokens_.capacity()) [[unlikely]]
            grow_tokens();
        tokens_.push_back(token);
    }
    // Doubles the room for tokens.
    void grow_tokens();
    // Lexes until a significant token is current, recording the trivia met.
    void do_bump();
    // Lexes forward to the next significant token without recording anything.
    TokenKind next_non_trivia();

    Lexer lexer_;
    std::vector<Token> tokens_;
};

}  // namespace rudo::python_parser
