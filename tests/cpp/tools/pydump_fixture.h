// Runs the pydump tool on files written into a scratch directory of the test's own.
#pragma once

#include <sys/wait.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include <fmt/format.h>
#include <gtest/gtest.h>

struct PydumpOutcome {
    int status;
    std::string out;
    std::string err;
};

class PydumpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ =
            std::filesystem::temp_directory_path() /
            fmt::format("pydump_test_{}_{}_{}", ::getpid(), info->test_suite_name(), info->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string write(std::string_view name, std::string_view bytes) {
        auto path = dir_ / name;
        std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
        return path.string();
    }

    PydumpOutcome run(const std::string& args) {
        auto out = dir_ / "stdout";
        auto err = dir_ / "stderr";
        // `timeout` turns a hang on a device or pipe into a failure instead of a stuck suite.
        std::string command =
            fmt::format("timeout 20 {} {} >{} 2>{}", PYDUMP_PATH, args, out.string(), err.string());
        int raw = std::system(command.c_str());
        return PydumpOutcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
    }

    std::filesystem::path dir_;

  private:
    static std::string slurp(const std::filesystem::path& path) {
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }
};
