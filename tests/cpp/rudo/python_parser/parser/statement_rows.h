// Rows of statement-level parser expectations shared by the statement, compound, definition, with
// and pattern tables: a source with the compact dump of its first statement or module body, or with
// its first error's display.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "rudo/python_ast/dump.h"
#include "rudo/python_parser/parser/parse.h"

namespace rudo::python_parser::test {

using rudo::python_ast::dump;

struct Case {
    std::string_view source;
    std::string_view expected;
};

enum class Expect {
    FirstStatement,      // the source parses without error; the dump of its first statement
    RecoveredStatement,  // the source has errors; the dump of the tree recovery left behind
    FirstError,          // the display of the source's first error
};

inline void check_rows(const std::vector<Case>& cases, Expect expect) {
    for (const Case& row : cases) {
        SCOPED_TRACE(row.source);
        Parsed parsed = parse_module_unchecked(row.source);
        if (expect == Expect::FirstError) {
            ASSERT_FALSE(parsed.errors.empty());
            EXPECT_EQ(parsed.errors.front().display(), row.expected);
            continue;
        }
        if (expect == Expect::FirstStatement) {
            EXPECT_TRUE(parsed.errors.empty()) << parsed.errors.front().display();
        } else {
            EXPECT_FALSE(parsed.errors.empty());
        }
        ASSERT_FALSE(parsed.syntax.body.empty());
        EXPECT_EQ(dump(parsed.syntax.body.front()), row.expected);
    }
}

inline void expect_first_statements(const std::vector<Case>& cases) {
    check_rows(cases, Expect::FirstStatement);
}
inline void expect_recovered_statements(const std::vector<Case>& cases) {
    check_rows(cases, Expect::RecoveredStatement);
}
inline void expect_first_errors(const std::vector<Case>& cases) {
    check_rows(cases, Expect::FirstError);
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
    Parsed parsed = parse_module_unchecked(c.source);
    std::string first_error = parsed.errors.empty() ? "" : parsed.errors.front().display();
    EXPECT_EQ(first_error, c.error);
    if (!c.tree.empty()) {
        EXPECT_EQ(dump(parsed.syntax.body), c.tree);
    }
}

}  // namespace rudo::python_parser::test
