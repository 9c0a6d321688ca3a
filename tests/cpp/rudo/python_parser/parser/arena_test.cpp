// A parsed tree lives in its parse's arena: the module's suite owns it, moves hand it over, copies
// go into an arena of their own, and texts joined after the parse stay with the tree.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "rudo/python_ast/arena.h"
#include "rudo/python_ast/dump.h"
#include "rudo/python_parser/parser/parse.h"

namespace {

using namespace rudo::python_parser;
namespace py = rudo::python_ast;

// Sources whose trees hold every kind of arena memory: boxes, lists, sequences, names longer than
// the inline capacity, decoded texts, big integers, debug texts and nested blocks.
constexpr const char* SOURCES[] = {
    "a_name_longer_than_twenty_four_bytes = f(x, *y, k=1, **z) < g[1:2] <= 3\n",
    "s = 'abc\\n' 'a literal long enough to leave the small-string buffer'\nb = b'\\x00' b'y'\n",
    "n = 123456789012345678901234567890 + 0x_ff + 1.5 + 2j\n",
    "f'{x=!r:>{width}} and {y}' f'tail'\n",
    "@dec\nclass C(B, metaclass=M):\n    def m[T](self, a: int = 1, /, *args, k, **kw) -> T:\n"
    "        for i in range(3):\n            match i:\n                case [1, *rest] | {'k': _}:\n"
    "                    pass\n        return [j async for j in g() if j]\n",
};

TEST(TreeArena, CopiesAndMovesKeepEveryNodeAfterTheParseIsGone) {
    for (const char* source : SOURCES) {
        SCOPED_TRACE(source);
        auto parsed = std::make_unique<Parsed>(parse_module_unchecked(source));
        ASSERT_TRUE(parsed->errors.empty());
        const std::string expected = py::dump(parsed->syntax);
        const py::Arena* arena = parsed->syntax.body.arena();
        ASSERT_NE(arena, nullptr);

        // A move hands over the arena and the very nodes.
        const py::Stmt* first = &parsed->syntax.body[0];
        py::Suite moved = std::move(parsed->syntax.body);
        EXPECT_EQ(moved.arena(), arena);
        EXPECT_EQ(&moved[0], first);
        EXPECT_EQ(parsed->syntax.body.arena(), nullptr);
        EXPECT_TRUE(parsed->syntax.body.empty());

        // A copy has an arena of its own and outlives the original and the parse result.
        py::Suite copy = moved;
        EXPECT_NE(copy.arena(), nullptr);
        EXPECT_NE(copy.arena(), arena);
        parsed.reset();
        {
            py::Suite dropped = std::move(moved);
        }
        parsed = std::make_unique<Parsed>();
        parsed->syntax.range = py::TextRange(0, static_cast<py::TextSize>(std::string(source).size()));
        parsed->syntax.body = std::move(copy);
        EXPECT_EQ(py::dump(parsed->syntax), expected);

        // Assigning over a suite releases the old tree and takes the new one whole.
        py::Suite other = parse_module_unchecked("pass\n").syntax.body;
        other = parsed->syntax.body;
        EXPECT_EQ(py::dump(other[0]), py::dump(parsed->syntax.body[0]));
    }
}

TEST(TreeArena, TextJoinedAfterTheParseStaysWithTheTree) {
    Parsed parsed = parse_module_unchecked("'ab' 'cd' \"ef\"\n");
    const auto& value = parsed.syntax.body[0].as<py::StmtExpr>()->value->as<py::ExprStringLiteral>()->value;
    EXPECT_FALSE(value.is_joined());
    std::vector<std::string_view> seen(4);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] { seen[i] = value.to_str(); });
    for (auto& t : threads)
        t.join();
    for (std::string_view text : seen) {
        EXPECT_EQ(text, "abcdef");
        EXPECT_EQ(text.data(), seen[0].data());
    }
    // A copy of the suite joins again in its own arena only when asked; the copy kept the text.
    py::Suite copy = parsed.syntax.body;
    const auto& copied =
        copy[0].as<py::StmtExpr>()->value->as<py::ExprStringLiteral>()->value;
    EXPECT_TRUE(copied.is_joined());
    EXPECT_EQ(copied.to_str(), "abcdef");
    EXPECT_NE(copied.to_str().data(), value.to_str().data());
}

TEST(TreeArena, ScopesNestAndRestoreTheHeap) {
    EXPECT_EQ(py::current_arena(), nullptr);
    py::Arena outer(4096);
    py::Arena inner(4096);
    {
        py::ArenaScope a(&outer);
        EXPECT_EQ(py::current_arena(), &outer);
        {
            py::ArenaScope b(&inner);
            EXPECT_EQ(py::current_arena(), &inner);
            // A parse inside a scope builds in its own arena and leaves the scope as it was.
            Parsed parsed = parse_module_unchecked("x = 1\n");
            EXPECT_NE(parsed.syntax.body.arena(), &inner);
            EXPECT_EQ(py::current_arena(), &inner);
        }
        EXPECT_EQ(py::current_arena(), &outer);
    }
    EXPECT_EQ(py::current_arena(), nullptr);
}

}  // namespace
