// Rows of parser expectations shared by the display and string-expression tables: a source
// with the compact dump of its one expression statement's value, or with its first error.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "rudo/python_ast/dump.h"
#include "rudo/python_parser/parser/parse.h"

namespace rudo::python_parser::test {

struct TreeCase {
    const char* source;
    const char* expected;  // null: the source only has to parse without error
};

struct ErrorCase {
    const char* source;
    const char* expected;  // the first error's display
};

struct RecoveryCase {
    const char* source;
    const char* expected;
    std::vector<const char*> errors;  // every error's display, in order
};

inline Parsed parse_all(std::string_view source) {
    return parse_module_unchecked(source);
}

inline std::string all_messages(const Parsed& parsed) {
    std::string text;
    for (const ParseError& error : parsed.errors) {
        text += error.display();
        text += '\n';
    }
    return text;
}

// The dump of the first statement's expression, or of the statement when it is not one.
inline std::string first_expression_dump(const Parsed& parsed) {
    if (parsed.syntax.body.empty()) return "<no statement>";
    const python_ast::Stmt& stmt = parsed.syntax.body.front();
    if (const auto* expr = stmt.as<python_ast::StmtExpr>()) return python_ast::dump(*expr->value);
    return python_ast::dump(stmt);
}

inline void expect_tree(const TreeCase& row) {
    SCOPED_TRACE(row.source);
    Parsed parsed = parse_all(row.source);
    EXPECT_TRUE(parsed.errors.empty()) << all_messages(parsed);
    EXPECT_EQ(parsed.syntax.body.size(), 1u);
    if (row.expected != nullptr) {
        EXPECT_EQ(first_expression_dump(parsed), row.expected);
    }
}

inline void expect_first_error(const ErrorCase& row) {
    SCOPED_TRACE(row.source);
    Parsed parsed = parse_all(row.source);
    auto result = parse_module(row.source);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().display(), row.expected) << all_messages(parsed);
}

inline void expect_recovery(const RecoveryCase& row) {
    SCOPED_TRACE(row.source);
    Parsed parsed = parse_all(row.source);
    EXPECT_EQ(first_expression_dump(parsed), row.expected);
    std::string expected_errors;
    for (const char* error : row.errors) {
        expected_errors += error;
        expected_errors += '\n';
    }
    EXPECT_EQ(all_messages(parsed), expected_errors);
}

// A tree built around errors; only the first statement's expression is compared.
inline void expect_recovered_tree(const TreeCase& row) {
    SCOPED_TRACE(row.source);
    Parsed parsed = parse_all(row.source);
    EXPECT_FALSE(parsed.errors.empty());
    EXPECT_EQ(first_expression_dump(parsed), row.expected);
}

}  // namespace rudo::python_parser::test
