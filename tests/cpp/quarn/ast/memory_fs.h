// An in-memory file system that counts its reads.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "quarn/ast/ast_filesystem.h"

namespace quarn_test {

class MemoryFileSystem final : public quarn::ast::AstFileSystem {
  public:
    MemoryFileSystem() = default;
    explicit MemoryFileSystem(std::map<std::string, std::string, std::less<>> files)
        : files_(std::move(files)) {}

    quarn::Result<std::string, quarn::ast::IoError> read_to_string(
        std::string_view path) const override {
        reads_.fetch_add(1);
        {
            const std::lock_guard lock(mutex_);
            ++reads_of_[std::string(path)];
        }
        if (on_read) on_read(path);
        if (read_error) {
            if (const int code = read_error(path); code != 0) {
                return quarn::Err(quarn::ast::IoError::from_os_error(code));
            }
        }
        if (read_delay.count() > 0) std::this_thread::sleep_for(read_delay);
        const std::lock_guard lock(mutex_);
        const auto found = files_.find(path);
        if (found == files_.end()) return quarn::Err(quarn::ast::IoError::from_os_error(2));
        return found->second;
    }
    quarn::Result<std::vector<std::string>, quarn::ast::IoError> all_files() const override {
        if (listing_fails) return quarn::Err(quarn::ast::IoError::from_os_error(5));
        std::vector<std::string> out;
        const std::lock_guard lock(mutex_);
        for (const auto& [path, content] : files_)
            out.push_back(path);
        return out;
    }

    void put(std::string path, std::string content) {
        const std::lock_guard lock(mutex_);
        files_[std::move(path)] = std::move(content);
    }
    int reads() const { return reads_.load(); }
    int reads_of(const std::string& path) const {
        const std::lock_guard lock(mutex_);
        const auto found = reads_of_.find(path);
        return found == reads_of_.end() ? 0 : found->second;
    }

    // Called on every read, before the content is looked up (a test may throw from it).
    std::function<void(std::string_view)> on_read;
    // The errno a read of that path fails with, or 0 for none.
    std::function<int(std::string_view)> read_error;
    std::chrono::milliseconds read_delay{0};
    bool listing_fails = false;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string, std::less<>> files_;
    mutable std::atomic<int> reads_{0};
    mutable std::map<std::string, int> reads_of_;
};

}  // namespace quarn_test
