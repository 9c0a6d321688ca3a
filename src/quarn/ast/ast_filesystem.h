// The file system through which the project index lists and reads Python files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace quarn::ast {

enum class IoErrorKind : uint8_t {
    // An operating-system call failed; `raw_os_error` holds its errno.
    Os,
    // The content read is not what was asked for (a file that is not UTF-8).
    InvalidData,
    // The request itself cannot be carried out, such as a path holding a NUL byte.
    InvalidInput,
};

// A failure to list or read files, with the text that callers show as it stands.
class IoError {
  public:
    // "{description} (os error {code})", as in "No such file or directory (os error 2)".
    static IoError from_os_error(int code);
    // "stream did not contain valid UTF-8"
    static IoError invalid_utf8();
    // "file name contained an unexpected NUL byte": the system would see a shorter path.
    static IoError nul_in_path();
    IoError(IoErrorKind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

    IoErrorKind kind() const { return kind_; }
    // The errno of an operating-system failure, 0 for the other kinds.
    int raw_os_error() const { return os_error_; }
    const std::string& message() const { return message_; }

  private:
    IoErrorKind kind_;
    int os_error_ = 0;
    std::string message_;
};

// The run-time interface: one object is shared by every cache and index built over it and by
// their worker threads, so implementations must take concurrent calls.
class AstFileSystem {
  public:
    virtual ~AstFileSystem() = default;

    // The whole content of the file named by `path`, as UTF-8 text.
    virtual Result<std::string, IoError> read_to_string(std::string_view path) const = 0;
    // The paths the file system offers.
    virtual Result<std::vector<std::string>, IoError> all_files() const = 0;

  protected:
    AstFileSystem() = default;
    AstFileSystem(const AstFileSystem&) = default;
    AstFileSystem& operator=(const AstFileSystem&) = default;
};

// The operating system's files, offered through a fixed list of `.py` paths. Immutable after
// construction, hence safe from any number of threads.
class StdAstFileSystem final : public AstFileSystem {
  public:
    // Keeps only paths whose extension is exactly "py", sorted by bytes, each once.
    explicit StdAstFileSystem(std::vector<std::string> paths);

    // Any path can be read, listed or not; a relative one resolves against the working
    // directory. Only regular files of at most 4,294,967,295 bytes are read, whole, and closed
    // before returning: a FIFO, a device or a directory fails at once instead of blocking.
    Result<std::string, IoError> read_to_string(std::string_view path) const override;
    // A copy of `files()`; never fails.
    Result<std::vector<std::string>, IoError> all_files() const override;

    const std::vector<std::string>& files() const { return files_; }

  private:
    std::vector<std::string> files_;
};

}  // namespace quarn::ast
