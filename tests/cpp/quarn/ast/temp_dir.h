// A directory of its own for each test, removed with everything in it afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace quarn_test {

class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quarn_ast_XXXXXX").string();
        if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
        // Canonical, so expectations about resolved paths hold when /tmp is a link.
        path_ = std::filesystem::canonical(pattern).string();
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }

    const std::string& path() const { return path_; }
    std::string operator/(std::string_view relative) const {
        return path_ + "/" + std::string(relative);
    }

    // Writes `content` byte for byte, making parent directories; returns the full path.
    std::string write(std::string_view relative, std::string_view content) const {
        const std::string full = *this / relative;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream out(full, std::ios::binary);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        return full;
    }
    std::string mkdir(std::string_view relative) const {
        const std::string full = *this / relative;
        std::filesystem::create_directories(full);
        return full;
    }

  private:
    std::string path_;
};

// Runs the rest of a scope with another working directory.
class ScopedCwd {
  public:
    explicit ScopedCwd(const std::string& dir) : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~ScopedCwd() { std::filesystem::current_path(saved_); }

  private:
    std::filesystem::path saved_;
};

}  // namespace quarn_test
