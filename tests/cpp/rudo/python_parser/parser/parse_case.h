// Rows of parser expectations, read through the public parse entry: a source with the compact
// dump of what it parses to, with its first error, with both, or with its whole module body.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "rudo/python_ast/dump.h"
#include "rudo/python_parser/parser/parse.h"

namespace rudo::python_parser::test {

// A source and the dump of the part of its tree a table looks at; an empty dump: the source only
// has to parse without error.
struct TreeCase {
    std::string source;
    std::string expected;
};

// A source and its first error's display; empty: the source parses without one.
struct ErrorCase {
    std::string source;
    std::string expected;
};

// A source with errors, the dump of what recovery left and every error's display, in order.
struct RecoveryCase {
    std::string source;
    std::string expected;
    std::vector<std::string> errors;
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

// The part of a parse a table compares.
using Dumper = std::string (*)(const Parsed&);

// The value of the first statement, an expression statement.
inline std::string expression_dump(const Parsed& parsed) {
    if (parsed.syntax.body.empty()) return "<no statement>";
    const python_ast::Stmt& stmt = parsed.syntax.body.front();
    if (const auto* expr = stmt.as<python_ast::StmtExpr>()) return python_ast::dump(*expr->value);
    return "<not an expression statement> " + python_ast::dump(stmt);
}

inline std::string statement_dump(const Parsed& parsed) {
    if (parsed.syntax.body.empty()) return "<no statement>";
    return python_ast::dump(parsed.syntax.body.front());
}

// A source of one statement that parses without error.
inline void expect_tree(const TreeCase& row, Dumper dump = expression_dump) {
    SCOPED_TRACE(row.source);
    Parsed parsed = parse_all(row.source);
    EXPECT_TRUE(parsed.errors.empty()) << all_messages(parsed);
    EXPECT_EQ(parsed.syntax.body.size(), 1u);
    if (!row.expected.empty()) {
        EXPECT_EQ(dump(parsed), row.expected);
    }
}

// A tree built around errors; only the part the dump picks is compared.
inline void expect_recovered_tree(const TreeCase& row, Dumper dump = expression_dump) {
    SCOPED_TRACE(row.source);
    Parsed parsed = parse_all(row.source);
    EXPECT_FALSE(parsed.errors.empty());
    EXPECT_EQ(dump(parsed), row.expected);
}

inline void expect_first_error(const ErrorCase& row) {
    SCOPED_TRACE(row.source);
    Parsed parsed = parse_all(row.source);
    if (row.expected.empty()) {
        EXPECT_TRUE(parsed.errors.empty()) << all_messages(parsed);
        return;
    }
    auto result = parse_module(row.source);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().display(), row.expected) << all_messages(parsed);
}

inline void expect_recovery(const RecoveryCase& row, Dumper dump = expression_dump) {
    SCOPED_TRACE(row.source);
    Parsed parsed = parse_all(row.source);
    EXPECT_EQ(dump(parsed), row.expected);
    std::string expected_errors;
    for (const std::string& error : row.errors) {
        expected_errors += error;
        expected_errors += '\n';
    }
    EXPECT_EQ(all_messages(parsed), expected_errors);
}

// Whole tables, for rows written in place.
inline void expect_trees(const std::vector<TreeCase>& rows, Dumper dump = expression_dump) {
    for (const TreeCase& row : rows)
        expect_tree(row, dump);
}
inline void expect_recovered_trees(const std::vector<TreeCase>& rows,
                                   Dumper dump = expression_dump) {
    for (const TreeCase& row : rows)
        expect_recovered_tree(row, dump);
}
inline void expect_first_errors(const std::vector<ErrorCase>& rows) {
    for (const ErrorCase& row : rows)
        expect_first_error(row);
}
inline void expect_recoveries(const std::vector<RecoveryCase>& rows,
                              Dumper dump = expression_dump) {
    for (const RecoveryCase& row : rows)
        expect_recovery(row, dump);
}

// Statement tables: each row's expected dump is of its first statement.
inline void expect_first_statements(const std::vector<TreeCase>& rows) {
    expect_trees(rows, statement_dump);
}
inline void expect_recovered_statements(const std::vector<TreeCase>& rows) {
    expect_recovered_trees(rows, statement_dump);
}

// A source, the compact dump of its whole module body (empty: not checked) and the display of its
// first error (empty: the source must parse without one); for parameterised tables.
struct ModuleCase {
    std::string_view source;
    std::string_view tree;
    std::string_view error = {};
};

inline void PrintTo(const ModuleCase& c, std::ostream* out) {
    *out << ::testing::PrintToString(std::string(c.source));
}

inline void check_module(const ModuleCase& c) {
    Parsed parsed = parse_all(c.source);
    std::string first_error = parsed.errors.empty() ? "" : parsed.errors.front().display();
    EXPECT_EQ(first_error, c.error);
    if (!c.tree.empty()) {
        EXPECT_EQ(python_ast::dump(parsed.syntax.body), c.tree);
    }
}

}  // namespace rudo::python_parser::test
