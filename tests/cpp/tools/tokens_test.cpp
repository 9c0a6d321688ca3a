// `pydump tokens FILE`: its JSON, and clear refusals with exit status 2.
#include <string>
#include <string_view>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tools/pydump_fixture.h"

namespace {

using PydumpTokens = PydumpTest;

TEST_F(PydumpTokens, TokensAsJson) {
    PydumpOutcome r = run("tokens " + write("a.py", "x = 1  # c\n"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"tokens\": [[\"Name\", 0, 1, 0], [\"Equal\", 2, 3, 0], [\"Int\", 4, 5, 0], "
              "[\"Comment\", 7, 10, 0], [\"Newline\", 10, 11, 0]], \"errors\": []}\n");
}

TEST_F(PydumpTokens, ErrorsWithEscapedMessages) {
    using namespace std::string_view_literals;
    PydumpOutcome r = run("tokens " + write("b.py", "f'a\0"sv));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"tokens\": [[\"FStringStart\", 0, 2, 16], [\"FStringMiddle\", 2, 4, 16], "
              "[\"Newline\", 4, 4, 0]], "
              "\"errors\": [{\"message\": \"f-string: unterminated string\", \"start\": 2, "
              "\"end\": 4}]}\n");
    r = run("tokens " + write("c.py", "\x7f\0"sv));
    EXPECT_EQ(r.out,
              "{\"tokens\": [[\"Unknown\", 0, 1, 0], [\"Unknown\", 1, 2, 0], "
              "[\"Newline\", 2, 2, 0]], "
              "\"errors\": [{\"message\": \"Got unexpected token \\u007f\", \"start\": 0, "
              "\"end\": 1}, {\"message\": \"Got unexpected token \\u0000\", \"start\": 1, "
              "\"end\": 2}]}\n");
}

TEST_F(PydumpTokens, HelpGoesToStdoutAndSucceeds) {
    for (const char* flag : {"--help", "-h"}) {
        PydumpOutcome r = run(flag);
        EXPECT_EQ(r.status, 0) << flag;
        EXPECT_EQ(r.out.rfind("usage: pydump {tokens|ast} FILE\n", 0), 0u) << flag << ": " << r.out;
        EXPECT_NE(r.out.find("  ast "), std::string::npos) << r.out;
        EXPECT_TRUE(r.err.empty()) << r.err;
    }
}

TEST_F(PydumpTokens, RefusalsExitWithStatus2) {
    struct Case {
        std::string args;
        const char* stderr_has;
    };
    const Case cases[] = {
        {"", "usage: pydump"},
        {"tokens", "usage: pydump"},
        {"frobnicate x.py", "unknown command"},
        {"tokens " + (dir_ / "missing.py").string(), "No such file"},
        {"tokens " + write("latin1.py", "s = '\xe9'\n"), "not valid UTF-8"},
        // Overlong, surrogate and beyond U+10FFFF: refused like any other ill-formed text.
        {"tokens " + write("overlong.py", "s = '\xc0\x80'\n"), "not valid UTF-8"},
        {"tokens " + write("surrogate.py", "s = '\xed\xa0\x80'\n"), "not valid UTF-8"},
        {"tokens " + write("beyond.py", "s = '\xf5\x80\x80\x80'\n"), "not valid UTF-8"},
        {"tokens " + dir_.string(), "pydump:"},
    };
    for (const auto& c : cases) {
        PydumpOutcome r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.err.find(c.stderr_has), std::string::npos) << c.args << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << c.args;
    }
}

}  // namespace
