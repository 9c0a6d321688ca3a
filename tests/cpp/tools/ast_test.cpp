// `pydump ast FILE`: the tree and every error as JSON, and refusals of what is not a readable
// regular file.
#include <sys/stat.h>

#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tools/pydump_fixture.h"

namespace {

using PydumpAst = PydumpTest;

TEST_F(PydumpAst, TreeAndNoErrors) {
    PydumpOutcome r = run("ast " + write("a.py", "x\n"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"ast\": {\"_type\": \"ModModule\", \"range\": [0, 2], \"body\": [{\"_type\": "
              "\"StmtExpr\", \"range\": [0, 1], \"value\": {\"_type\": \"ExprName\", \"range\": "
              "[0, 1], \"id\": \"x\", \"ctx\": \"Load\"}}]}, \"errors\": []}\n");
}

TEST_F(PydumpAst, EveryErrorInMergedOrderAndStillSuccess) {
    PydumpOutcome r = run("ast " + write("a.py", ")\n)"));
    EXPECT_EQ(r.status, 0) << r.err;
    // Each stray token and each line end the statement list cannot use is reported.
    EXPECT_EQ(r.out,
              "{\"ast\": {\"_type\": \"ModModule\", \"range\": [0, 3], \"body\": []}, \"errors\": "
              "[{\"message\": \"Expected a statement\", \"start\": 0, \"end\": 1}, "
              "{\"message\": \"Expected a statement\", \"start\": 1, \"end\": 2}, "
              "{\"message\": \"Expected a statement\", \"start\": 2, \"end\": 3}, "
              "{\"message\": \"Expected a statement\", \"start\": 3, \"end\": 3}]}\n");
}

// A tree whose JSON is many times the size of a piece of output comes out whole and in order.
TEST_F(PydumpAst, LargeTreeStreamsWhole) {
    constexpr int STATEMENTS = 20'000;
    std::string source;
    std::string body;
    for (int i = 0; i < STATEMENTS; ++i) {
        source += "a\n";
        if (i > 0) body += ", ";
        body += fmt::format(
            "{{\"_type\": \"StmtExpr\", \"range\": [{0}, {1}], \"value\": {{\"_type\": "
            "\"ExprName\", \"range\": [{0}, {1}], \"id\": \"a\", \"ctx\": \"Load\"}}}}",
            2 * i, 2 * i + 1);
    }
    PydumpOutcome r = run("ast " + write("big.py", source));
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string expected = fmt::format(
        "{{\"ast\": {{\"_type\": \"ModModule\", \"range\": [0, {}], \"body\": [{}]}}, "
        "\"errors\": []}}\n",
        2 * STATEMENTS, body);
    EXPECT_GT(expected.size(), size_t{1} << 20);
    EXPECT_TRUE(r.out == expected) << r.out.size() << " bytes instead of " << expected.size();
}

TEST_F(PydumpAst, RefusesWhatIsNotARegularFile) {
    const std::string fifo = (dir_ / "pipe").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        std::string message;
    };
    const Case cases[] = {
        {"/dev/zero", "pydump: /dev/zero: not a regular file\n"},
        {fifo, fmt::format("pydump: {}: not a regular file\n", fifo)},
        {dir_.string(), fmt::format("pydump: {}: is a directory\n", dir_.string())},
        {(dir_ / "missing.py").string(),
         fmt::format("pydump: {}: No such file or directory\n", (dir_ / "missing.py").string())},
    };
    for (const auto& c : cases) {
        PydumpOutcome r = run("ast " + c.path);
        EXPECT_EQ(r.status, 2) << c.path;
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
