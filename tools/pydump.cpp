// pydump: developer views of what the parser makes of one Python file.
//
//   pydump tokens FILE   the token list and lexical errors as JSON
//   pydump ast FILE      the module's tree and every syntax error as JSON
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "base/quote.h"
#include "base/utf8.h"
#include "rudo/python_ast/dump.h"
#include "rudo/python_parser/lexer.h"
#include "rudo/python_parser/parser/parse.h"
#include "rudo/python_parser/token_source.h"

namespace {

using quarn::append_json_string;
using rudo::python_ast::TokenKind;
using rudo::python_parser::TokenSource;

constexpr int EXIT_USAGE = 2;

class StdoutSink final : public rudo::python_ast::DumpSink {
  public:
    void write(std::string_view text) override { std::fwrite(text.data(), 1, text.size(), stdout); }
};

void fail(std::string_view message) {
    fmt::print(stderr, "pydump: {}\n", message);
}

// Reads FILE as bytes into `out`; false (with a message printed) when it cannot be used. Only
// regular files are read: a device or a pipe could hand out bytes without end or block forever.
bool read_source(const char* path, std::string& out) {
    struct stat info;
    if (stat(path, &info) != 0) {
        fail(fmt::format("{}: {}", path, std::strerror(errno)));
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        fail(fmt::format("{}: is a directory", path));
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        fail(fmt::format("{}: not a regular file", path));
        return false;
    }
    if (!rudo::python_parser::source_size_fits(static_cast<size_t>(info.st_size))) {
        fail(fmt::format("{}: {}", path, rudo::python_parser::SOURCE_TOO_LARGE));
        return false;
    }
    // The path may have been replaced since: check what was actually opened, without blocking
    // on a pipe that took the file's place.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        fail(fmt::format("{}: {}", path, std::strerror(errno)));
        return false;
    }
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        fail(fmt::format("{}: not a regular file", path));
        return false;
    }
    out.clear();
    char buffer[1 << 16];
    int read_errno = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            read_errno = errno;
            break;
        }
        if (got == 0) break;
        out.append(buffer, static_cast<size_t>(got));
        // Also guards a file that grows while it is read.
        if (!rudo::python_parser::source_size_fits(out.size())) break;
    }
    ::close(fd);
    if (read_errno != 0) {
        fail(fmt::format("{}: {}", path, std::strerror(read_errno)));
        return false;
    }
    if (!rudo::python_parser::source_size_fits(out.size())) {
        fail(fmt::format("{}: {}", path, rudo::python_parser::SOURCE_TOO_LARGE));
        return false;
    }
    if (!quarn::is_valid_utf8(out)) {
        fail(fmt::format("{}: file is not valid UTF-8", path));
        return false;
    }
    return true;
}

int run_tokens(const char* path) {
    std::string source;
    if (!read_source(path, source)) return EXIT_USAGE;
    auto token_source = TokenSource::from_source(source);
    if (!token_source) {
        fail(fmt::format("{}: {}", path, token_source.error()));
        return EXIT_USAGE;
    }
    // Bump every significant token in turn, as a parser that consumes everything would.
    for (;;) {
        TokenKind kind = token_source->current_kind();
        token_source->bump(kind);
        if (kind == TokenKind::EndOfFile) break;
    }
    auto result = std::move(token_source).value().finish();

    std::string out = "{\"tokens\": [";
    bool first = true;
    for (const auto& token : result.tokens) {
        if (!first) out += ", ";
        first = false;
        out += '[';
        append_json_string(out, rudo::python_ast::name(token.kind));
        fmt::format_to(std::back_inserter(out), ", {}, {}, {}]", token.range.start(),
                       token.range.end(), token.flags);
    }
    out += "], \"errors\": [";
    first = true;
    for (const auto& error : result.errors) {
        if (!first) out += ", ";
        first = false;
        out += "{\"message\": ";
        append_json_string(out, error.error.message());
        fmt::format_to(std::back_inserter(out), ", \"start\": {}, \"end\": {}}}",
                       error.location.start(), error.location.end());
    }
    out += "]}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int run_ast(const char* path) {
    std::string source;
    if (!read_source(path, source)) return EXIT_USAGE;
    // Every merged error, not only the first: a view for finding where the parser goes wrong.
    rudo::python_parser::Parsed parsed = rudo::python_parser::parse_module_unchecked(source);
    // The tree goes out as it is dumped: its JSON can be many times the size of the source.
    StdoutSink sink;
    sink.write("{\"ast\": ");
    rudo::python_ast::dump_json(parsed.syntax, sink);
    std::string out = ", \"errors\": [";
    bool first = true;
    for (const auto& error : parsed.errors) {
        if (!first) out += ", ";
        first = false;
        out += "{\"message\": ";
        append_json_string(out, error.error.message());
        fmt::format_to(std::back_inserter(out), ", \"start\": {}, \"end\": {}}}",
                       error.location.start(), error.location.end());
    }
    out += "]}\n";
    sink.write(out);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

struct Subcommand {
    std::string_view name;
    std::string_view description;
    int (*run)(const char* path);
};

constexpr Subcommand SUBCOMMANDS[] = {
    {"tokens", "the token list and lexical errors as JSON", run_tokens},
    {"ast", "the module's tree and every syntax error as JSON", run_ast},
};

// On stdout when asked for, on stderr after a wrong command line.
void print_usage(std::FILE* to) {
    std::string names;
    for (const auto& sub : SUBCOMMANDS) {
        if (!names.empty()) names += '|';
        names += sub.name;
    }
    fmt::print(to, "usage: pydump {{{}}} FILE\n", names);
    for (const auto& sub : SUBCOMMANDS) {
        fmt::print(to, "  {:<8} {}\n", sub.name, sub.description);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        print_usage(stdout);
        return 0;
    }
    if (argc != 3) {
        print_usage(stderr);
        return EXIT_USAGE;
    }
    std::string_view command = argv[1];
    for (const auto& sub : SUBCOMMANDS) {
        if (sub.name == command) {
            try {
                return sub.run(argv[2]);
            } catch (const std::exception& e) {
                fail(fmt::format("internal error: {}", e.what()));
                return 1;
            }
        }
    }
    fail(fmt::format("unknown command '{}'", command));
    print_usage(stderr);
    return EXIT_USAGE;
}
