#include "quarn/ast/ast_filesystem.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <fmt/format.h>

#include "quarn/ast/path.h"
#include "quarn/ast/utf8.h"

namespace quarn::ast {
namespace {

// strerror_r comes in two shapes depending on the feature macros; take whichever is declared.
[[maybe_unused]] const char* strerror_text(int result, const char* buffer) {
    return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* strerror_text(const char* result, const char*) {
    return result;
}

std::string os_error_description(int code) {
    char buffer[256];
    buffer[0] = '\0';
    return strerror_text(strerror_r(code, buffer, sizeof buffer), buffer);
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

// The whole content of an open file; the size from fstat is only a hint, since the file may
// grow or shrink meanwhile and special files report 0.
Result<std::string, IoError> read_all(int fd) {
    size_t capacity = 8192;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        // One spare byte, so a file read whole is known to be at its end without regrowing.
        capacity = static_cast<size_t>(st.st_size) + 1;
    }
    std::string buffer;
    buffer.resize(capacity);
    size_t length = 0;
    while (true) {
        if (length == buffer.size()) buffer.resize(buffer.size() * 2);
        const ssize_t n = ::read(fd, buffer.data() + length, buffer.size() - length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Err(IoError::from_os_error(errno));
        }
        if (n == 0) break;
        length += static_cast<size_t>(n);
    }
    buffer.resize(length);
    return buffer;
}

}  // namespace

IoError IoError::from_os_error(int code) {
    IoError error(IoErrorKind::Os,
                  fmt::format("{} (os error {})", os_error_description(code), code));
    error.os_error_ = code;
    return error;
}

IoError IoError::invalid_utf8() {
    return IoError(IoErrorKind::InvalidData, "stream did not contain valid UTF-8");
}

StdAstFileSystem::StdAstFileSystem(std::vector<std::string> paths) {
    std::erase_if(paths, [](const std::string& path) { return path_extension(path) != "py"; });
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    paths.shrink_to_fit();
    files_ = std::move(paths);
}

Result<std::string, IoError> StdAstFileSystem::read_to_string(std::string_view path) const {
    // The operating system sees paths up to the first NUL; reading that shorter path instead
    // would hand back another file's content.
    if (path.find('\0') != std::string_view::npos) {
        return Err(IoError(IoErrorKind::InvalidInput, "path contains a NUL byte"));
    }
    const std::string c_path(path);
    int fd;
    do {
        fd = ::open(c_path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Err(IoError::from_os_error(errno));
    Result<std::string, IoError> content = [&] {
        const FileDescriptor file(fd);
        return read_all(file.get());
    }();
    if (!content.ok()) return content;
    if (!is_valid_utf8(*content)) return Err(IoError::invalid_utf8());
    return content;
}

Result<std::vector<std::string>, IoError> StdAstFileSystem::all_files() const {
    return files_;
}

}  // namespace quarn::ast
