// `pydump tokens FILE`: its JSON, and clear refusals with exit status 2.
#include <sys/wait.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

std::string slurp(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class Pydump : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               fmt::format("pydump_test_{}_{}", ::getpid(),
                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string write(std::string_view name, std::string_view bytes) {
        auto path = dir_ / name;
        std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
        return path.string();
    }
    Outcome run(const std::string& args) {
        auto out = dir_ / "stdout";
        auto err = dir_ / "stderr";
        std::string command =
            fmt::format("{} {} >{} 2>{}", PYDUMP_PATH, args, out.string(), err.string());
        int raw = std::system(command.c_str());
        return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
    }

    std::filesystem::path dir_;
};

TEST_F(Pydump, TokensAsJson) {
    Outcome r = run("tokens " + write("a.py", "x = 1  # c\n"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"tokens\": [[\"Name\", 0, 1, 0], [\"Equal\", 2, 3, 0], [\"Int\", 4, 5, 0], "
              "[\"Comment\", 7, 10, 0], [\"Newline\", 10, 11, 0]], \"errors\": []}\n");
}

TEST_F(Pydump, ErrorsWithEscapedMessages) {
    using namespace std::string_view_literals;
    Outcome r = run("tokens " + write("b.py", "f'a\0"sv));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"tokens\": [[\"FStringStart\", 0, 2, 16], [\"FStringMiddle\", 2, 4, 16], "
              "[\"Newline\", 4, 4, 0]], \"errors\": [{\"message\": \"f-string: unterminated "
              "string\", \"start\": 2, \"end\": 4}]}\n");
    r = run("tokens " + write("c.py", "\x7f\0"sv));
    EXPECT_EQ(r.out,
              "{\"tokens\": [[\"Unknown\", 0, 1, 0], [\"Unknown\", 1, 2, 0], [\"Newline\", 2, 2, "
              "0]], \"errors\": [{\"message\": \"Got unexpected token \\u007f\", \"start\": 0, "
              "\"end\": 1}, {\"message\": \"Got unexpected token \\u0000\", \"start\": 1, "
              "\"end\": 2}]}\n");
}

TEST_F(Pydump, RefusalsExitWithStatus2) {
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
        {"tokens " + dir_.string(), "pydump:"},
    };
    for (const auto& c : cases) {
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.err.find(c.stderr_has), std::string::npos) << c.args << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << c.args;
    }
}

}  // namespace
