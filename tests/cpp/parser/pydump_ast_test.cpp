// `pydump ast FILE`: the tree and every error as JSON, and refusals of what is not a readable
// regular file.
#include <sys/stat.h>
#include <sys/wait.h>

#include <unistd.h>

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

class PydumpAst : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               fmt::format("pydump_ast_test_{}_{}", ::getpid(),
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
        // `timeout` turns a hang on a device or pipe into a failure instead of a stuck suite.
        std::string command =
            fmt::format("timeout 20 {} {} >{} 2>{}", PYDUMP_PATH, args, out.string(), err.string());
        int raw = std::system(command.c_str());
        return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
    }

    std::filesystem::path dir_;
};

TEST_F(PydumpAst, TreeAndNoErrors) {
    Outcome r = run("ast " + write("a.py", "x\n"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"ast\": {\"_type\": \"ModModule\", \"range\": [0, 2], \"body\": [{\"_type\": "
              "\"StmtExpr\", \"range\": [0, 1], \"value\": {\"_type\": \"ExprName\", \"range\": "
              "[0, 1], \"id\": \"x\", \"ctx\": \"Load\"}}]}, \"errors\": []}\n");
}

TEST_F(PydumpAst, EveryErrorInMergedOrderAndStillSuccess) {
    Outcome r = run("ast " + write("a.py", ")\n)"));
    EXPECT_EQ(r.status, 0) << r.err;
    // Each stray token and each line end the statement list cannot use is reported.
    EXPECT_EQ(r.out,
              "{\"ast\": {\"_type\": \"ModModule\", \"range\": [0, 3], \"body\": []}, \"errors\": "
              "[{\"message\": \"Expected a statement\", \"start\": 0, \"end\": 1}, "
              "{\"message\": \"Expected a statement\", \"start\": 1, \"end\": 2}, "
              "{\"message\": \"Expected a statement\", \"start\": 2, \"end\": 3}, "
              "{\"message\": \"Expected a statement\", \"start\": 3, \"end\": 3}]}\n");
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
        Outcome r = run("ast " + c.path);
        EXPECT_EQ(r.status, 2) << c.path;
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
