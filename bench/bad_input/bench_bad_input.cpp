// What input made of one bad character costs: 10 MiB of `$`, NUL bytes, `)` or `:`, each parsed
// by parse_module in a child process of its own, so that the peak resident memory belongs to that
// one parse. Prints MB/s (10^6 bytes per second) and the peak growth of resident memory per
// source byte.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "rudo/python_parser/parser/parse.h"

namespace {

struct Figures {
    double seconds = 0;
    double peak_bytes = 0;
    size_t errors = 0;
};

// Resident bytes now, from /proc/self/statm.
double resident_bytes() {
    long pages = 0;
    long resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

Figures measure(char byte, size_t size) {
    const std::string source(size, byte);
    const double before = resident_bytes();
    const auto start = std::chrono::steady_clock::now();
    Figures figures;
    {
        rudo::python_parser::Parsed parsed = rudo::python_parser::parse_module_unchecked(source);
        figures.errors = parsed.errors.size();
        figures.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    figures.peak_bytes = static_cast<double>(usage.ru_maxrss) * 1024.0 - before;
    return figures;
}

}  // namespace

int main() {
    const char* env = std::getenv("QUARN_BENCH_BAD_INPUT_MIB");
    const size_t size = (env ? std::strtoul(env, nullptr, 10) : 10) << 20;
    struct Case {
        const char* name;
        char byte;
    };
    const Case cases[] = {{"dollar", '$'}, {"nul", '\0'}, {"rpar", ')'}, {"colon", ':'}};
    std::printf("%-8s %10s %10s %14s %12s\n", "input", "MiB", "MB/s", "peak B/byte", "errors");
    int status = 0;
    for (const Case& c : cases) {
        int pipe_fds[2];
        if (pipe(pipe_fds) != 0) return 1;
        const pid_t child = fork();
        if (child == 0) {
            close(pipe_fds[0]);
            const Figures figures = measure(c.byte, size);
            const ssize_t written = write(pipe_fds[1], &figures, sizeof figures);
            _exit(written == static_cast<ssize_t>(sizeof figures) ? 0 : 1);
        }
        close(pipe_fds[1]);
        Figures figures;
        const bool got = child > 0 && read(pipe_fds[0], &figures, sizeof figures) ==
                                          static_cast<ssize_t>(sizeof figures);
        close(pipe_fds[0]);
        int wait_status = 0;
        if (child > 0) waitpid(child, &wait_status, 0);
        if (!got || !WIFEXITED(wait_status) || WEXITSTATUS(wait_status) != 0) {
            std::printf("%-8s failed\n", c.name);
            status = 1;
            continue;
        }
        const double bytes = static_cast<double>(size);
        std::printf("%-8s %10zu %10.1f %14.1f %12zu\n", c.name, size >> 20,
                    bytes / 1e6 / figures.seconds, figures.peak_bytes / bytes, figures.errors);
    }
    return status;
}
