#include "quarn/ast/ast_filesystem.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <fmt/format.h>

#include "base/utf8.h"
#include "quarn/ast/path.h"

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

// Offsets into a source are 32-bit.
constexpr uint64_t MAX_FILE_SIZE = 4'294'967'295;

IoError too_large() {
    return IoError(IoErrorKind::InvalidData, "file is larger than 4294967295 bytes");
}

// The whole content of an open regular file; the size from fstat is only a hint, since the file
// may grow or shrink meanwhile.
Result<std::string, IoError> read_all(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return Err(IoError::from_os_error(errno));
    if (S_ISDIR(st.st_mode)) return Err(IoError::from_os_error(EISDIR));
    if (!S_ISREG(st.st_mode)) {
        return Err(IoError(IoErrorKind::InvalidInput, "not a regular file"));
    }
    if (static_cast<uint64_t>(st.st_size) > MAX_FILE_SIZE) return Err(too_large());
    // One spare byte, so a file read whole is known to be at its end without regrowing.
    size_t capacity = static_cast<size_t>(st.st_size) + 1;
    std::string buffer;
    buffer.resize(capacity);
    size_t length = 0;
    while (true) {
        if (length == buffer.size()) {
            if (length > MAX_FILE_SIZE) return Err(too_large());
            buffer.resize(std::min<uint64_t>(buffer.size() * 2, MAX_FILE_SIZE + 1));
        }
        const ssize_t n = ::read(fd, buffer.data() + length, buffer.size() - length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Err(IoError::from_os_error(errno));
        }
        if (n == 0) break;
        length += static_cast<size_t>(n);
    }
    // The file grew past the limit while it was read.
    if (length > MAX_FILE_SIZE) return Err(too_large());
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

IoError IoError::nul_in_path() {
    return IoError(IoErrorKind::InvalidInput, "file name contained an unexpected NUL byte");
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
    if (path.find('\0') != std::string_view::npos) return Err(IoError::nul_in_path());
    const std::string c_path(path);
    int fd;
    do {
        // Non-blocking, so that opening a FIFO returns at once; the type check follows.
        fd = ::open(c_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
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
