// A parsed tree lives in its parse's arena: the module's suite owns it, moves hand it over, copies
// go into an arena of their own, and texts joined after the parse stay with the tree. The arena's
// blocks are sized from what the tree is expected to take, its unused end goes back once the tree
// is finished, and the next parse reuses the blocks a dropped tree gave back.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/chunk_resource.h"
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
    "        for i in range(3):\n            match i:\n                case [1, *rest] | {'k': "
    "_}:\n"
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
        { py::Suite dropped = std::move(moved); }
        parsed = std::make_unique<Parsed>();
        parsed->syntax.range =
            py::TextRange(0, static_cast<py::TextSize>(std::string(source).size()));
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
    const auto& value =
        parsed.syntax.body[0].as<py::StmtExpr>()->value->as<py::ExprStringLiteral>()->value;
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
    const auto& copied = copy[0].as<py::StmtExpr>()->value->as<py::ExprStringLiteral>()->value;
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

#ifndef RUDO_AST_ARENA_PER_NODE
constexpr size_t KiB = size_t{1} << 10;

TEST(TreeArena, BlocksGrowFromTheExpectedSizeAndTheEndGoesBackWhenTrimmed) {
    struct Case {
        size_t expected;
        size_t allocated;  // in allocations of 64 bytes
        size_t held;       // bytes held before the trim
        size_t trimmed;    // and after
    };
    const Case cases[] = {
        // The first block is the expected size, no less than the smallest block; the trim
        // keeps the pages in use, the block's header with them.
        {300 * KiB, 64 * KiB, 300 * KiB, 68 * KiB},
        {100, 1 * KiB, 4 * KiB, 4 * KiB},
        // Each later block is as large as all before it together: 64, 64, 128 KiB; a mapped
        // block keeps no less than what is mapped.
        {64 * KiB, 130 * KiB, 256 * KiB, 128 * KiB + quarn::ChunkResource::MAPPED},
        // Up to 2 MiB, and no more.
        {3 * 1024 * KiB, 2 * 1024 * KiB + 100 * KiB, 4 * 1024 * KiB, 2 * 1024 * KiB + 104 * KiB},
        // A block too small to be mapped stays whole.
        {12 * KiB, 8 * KiB, 12 * KiB, 12 * KiB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.expected << " expecting, " << c.allocated);
        quarn::ChunkResource::release_cache();
        py::Arena arena(c.expected);
        std::vector<char*> blocks;
        for (size_t done = 0; done < c.allocated; done += 64) {
            char* p = static_cast<char*>(arena.allocate(64, 8));
            std::memset(p, 1, 64);
            blocks.push_back(p);
        }
        EXPECT_EQ(arena.bytes_held(), c.held);
        arena.trim();
        EXPECT_EQ(arena.bytes_held(), c.trimmed);
        // What was allocated is untouched by the trim, and allocation goes on after it.
        for (char* p : blocks)
            ASSERT_EQ(p[63], 1);
        std::memset(arena.allocate(4 * KiB, 8), 2, 4 * KiB);
    }
}

// A steady stream of parses of one file takes its blocks from the cache, where the trees before
// it left them, instead of new memory.
TEST(TreeArena, ADroppedTreesBlocksServeTheNextParse) {
    quarn::ChunkResource::release_cache();
    std::string source;
    for (int i = 0; i < 2000; ++i)
        source += "x = a*b + c*(d - e)/f**2 - g[i]*h(j, k)\n";
    size_t held = 0;
    {
        Parsed first = parse_module_unchecked(source);
        held = first.syntax.body.arena()->bytes_held();
        ASSERT_GT(held, 4 * quarn::ChunkResource::MAPPED);
    }
    EXPECT_GE(quarn::ChunkResource::bytes_cached(), held);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const size_t mapped = quarn::ChunkResource::bytes_mapped();
        Parsed again = parse_module_unchecked(source);
        EXPECT_EQ(again.syntax.body.size(), 2000u);
        EXPECT_EQ(quarn::ChunkResource::bytes_mapped(), mapped);
        // No more than a block's worth of trimming beyond the first tree.
        EXPECT_LE(again.syntax.body.arena()->bytes_held(), held + quarn::ChunkResource::MAPPED);
    }
}
#endif

}  // namespace
