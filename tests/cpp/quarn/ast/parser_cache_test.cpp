#include "quarn/ast/parser_cache.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/panic.h"
#include "base/sanitizer.h"
#include "quarn/ast/fork_gate.h"
#include "quarn/ast/memory_fs.h"
#include "quarn/ast/project_index.h"
#include "quarn/ast/temp_dir.h"
#include "rudo/python_ast/build.h"

namespace {

using quarn::ast::AstFileParserCache;
using quarn::ast::collect_imports;
using quarn::ast::ImportNames;
using quarn::ast::ImportTable;
using quarn_test::MemoryFileSystem;
using quarn_test::TempDir;
namespace py = rudo::python_ast;
using py::test::ident;
using py::test::r;

std::shared_ptr<MemoryFileSystem> memory(std::map<std::string, std::string, std::less<>> files) {
    return std::make_shared<MemoryFileSystem>(std::move(files));
}

TEST(ParsedFileCache, MemoisesAReadFailureForGood) {
    TempDir dir;
    const std::string path = dir / "later.py";
    const AstFileParserCache cache(dir.path(), {path});
    const std::string expected =
        "Failed to read " + path + ": No such file or directory (os error 2)";
    auto first = cache.get_parsed_file(path);
    ASSERT_FALSE(first.ok());
    EXPECT_EQ(first.error(), expected);
    dir.write("later.py", "x = 1\n");
    auto second = cache.get_parsed_file(path);
    ASSERT_FALSE(second.ok());
    EXPECT_EQ(second.error(), expected);
}

TEST(ParsedFileCache, ReadsEachSpellingOfAPathOnceAndFailsInvalidUtf8) {
    auto fs = memory({{"a.py", "\xFF"}, {"./a.py", "\xFE"}});
    // Through a file system that is not UTF-8 checked: the cache reports what it returns.
    auto cache = AstFileParserCache::with_filesystem("/p", fs);
    for (int i = 0; i < 3; ++i) {
        (void)cache.get_parsed_file("a.py");
        (void)cache.get_parsed_file("./a.py");
    }
    EXPECT_EQ(fs->reads_of("a.py"), 1);
    EXPECT_EQ(fs->reads_of("./a.py"), 1);
    EXPECT_EQ(fs->reads(), 2);
}

TEST(ParsedFileCache, FailsAPathWithANulByteWithoutReadingItsPrefix) {
    auto fs = memory({{"/etc/passwd", "root = 0\n"}});
    auto cache = AstFileParserCache::with_filesystem("/", fs);
    const std::string path("/etc/passwd\0.py", 15);
    auto parsed = cache.get_parsed_file(path);
    ASSERT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.error(),
              "Failed to read " + path + ": file name contained an unexpected NUL byte");
    EXPECT_EQ(fs->reads(), 0);
}

TEST(ParsedFileCache, TwoThreadsRacingForOnePathShareOneReadAndOneOutcome) {
    auto fs = memory({{"/p/a.py", "x = 1\n"}});
    fs->read_delay = std::chrono::milliseconds(50);
    auto cache = AstFileParserCache::with_filesystem("/p", fs);
    constexpr int THREADS = 8;
    std::barrier start(THREADS);
    std::vector<std::optional<quarn::Result<std::shared_ptr<const quarn::ast::ParsedFileCache>>>>
        got(THREADS);
    std::vector<std::thread> threads;
    for (int i = 0; i < THREADS; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            got[i] = cache.get_parsed_file("/p/a.py");
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(fs->reads(), 1);
    // The same shared record for everyone (or, before the parser takes the text, the same
    // failure).
    for (int i = 0; i < THREADS; ++i) {
        ASSERT_EQ(got[i]->ok(), got[0]->ok());
        if (got[0]->ok()) {
            EXPECT_EQ(got[i]->value().get(), got[0]->value().get()) << "thread " << i;
        } else {
            EXPECT_EQ(got[i]->error(), got[0]->error());
        }
    }
}

// The index's way in: the call that parses a file gets its statements, and the kept record holds
// only what a later caller can read.
TEST(ParsedFileCache, TheStatementsGoToTheCallThatParsedTheFile) {
    auto fs = memory({{"/p/a.py", "from m import a\nx = 1  # one\n"},
                      {"/p/bad.py", "x = (\n"},
                      {"/p/c.py", "from n import b as c\n"}});
    auto cache = AstFileParserCache::with_filesystem("/p", fs);
    auto first = cache.read_parsed_file("/p/a.py");
    ASSERT_TRUE(first.ok()) << first.error();
    ASSERT_TRUE(first->statements.has_value());
    ASSERT_EQ(first->statements->size(), 2u);
    EXPECT_TRUE((*first->statements)[0].is<py::StmtImportFrom>());
    EXPECT_EQ(first->file->source, "from m import a\nx = 1  # one\n");
    EXPECT_EQ(first->file->imports.at("m").at("a"), ImportNames{"a"});
    ASSERT_EQ(first->file->comment_ranges.size(), 1u);
    // Later calls share the record; the statements went with the first one.
    auto second = cache.read_parsed_file("/p/a.py");
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second->file.get(), first->file.get());
    EXPECT_FALSE(second->statements.has_value());
    auto plain = cache.get_parsed_file("/p/a.py");
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(plain->get(), first->file.get());
    // A failure hands out nothing, and stays memoised.
    for (int round = 0; round < 2; ++round) {
        auto bad = cache.read_parsed_file("/p/bad.py");
        ASSERT_FALSE(bad.ok());
        EXPECT_TRUE(bad.error().starts_with("Failed to parse /p/bad.py: ")) << bad.error();
    }
    // A plain call drops the statements of its parse: a later call gets none either.
    auto dropped = cache.get_parsed_file("/p/c.py");
    ASSERT_TRUE(dropped.ok()) << dropped.error();
    EXPECT_EQ((*dropped)->imports.at("n").at("b"), ImportNames{"c"});
    auto after = cache.read_parsed_file("/p/c.py");
    ASSERT_TRUE(after.ok());
    EXPECT_EQ(after->file.get(), dropped->get());
    EXPECT_FALSE(after->statements.has_value());
    EXPECT_EQ(fs->reads_of("/p/c.py"), 1);
    EXPECT_EQ(fs->reads_of("/p/a.py"), 1);
    EXPECT_EQ(fs->reads_of("/p/bad.py"), 1);
}

TEST(ParsedFileCache, APanicWhileComputingPoisonsOnlyThatPath) {
    auto fs = memory({{"/p/a.py", ""}});
    fs->on_read = [](std::string_view path) {
        if (path == "/p/a.py") quarn::panic("disk exploded");
    };
    auto cache = AstFileParserCache::with_filesystem("/p", fs);
    EXPECT_THROW((void)cache.get_parsed_file("/p/a.py"), quarn::Panic);
    for (int i = 0; i < 2; ++i) {
        auto again = cache.get_parsed_file("/p/a.py");
        ASSERT_FALSE(again.ok());
        EXPECT_EQ(again.error(), "AST parse cache lock poisoned for /p/a.py");
    }
    // The entry map was only held for reading or released: other paths go on.
    auto other = cache.get_parsed_file("/p/b.py");
    ASSERT_FALSE(other.ok());
    EXPECT_EQ(other.error(), "Failed to read /p/b.py: No such file or directory (os error 2)");
    EXPECT_EQ(fs->reads_of("/p/a.py"), 1);
}

// A failure of the moment answers its caller and leaves the path open; one that the file itself
// causes is kept.
TEST(ParsedFileCache, FailuresOfTheMomentAreNotMemoised) {
    struct Case {
        int error;
        const char* text;
        bool kept;
    };
    const Case cases[] = {
        {24, "Too many open files (os error 24)", false},
        {23, "Too many open files in system (os error 23)", false},
        {12, "Cannot allocate memory (os error 12)", false},
        {13, "Permission denied (os error 13)", true},
        {21, "Is a directory (os error 21)", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        auto fs = memory({{"/p/a.py", "from m import a\n"}});
        int error = c.error;
        fs->read_error = [&](std::string_view) { return error; };
        auto cache = AstFileParserCache::with_filesystem("/p", fs);
        const std::string expected = std::string("Failed to read /p/a.py: ") + c.text;
        auto failed = cache.get_parsed_file("/p/a.py");
        ASSERT_FALSE(failed.ok());
        EXPECT_EQ(failed.error(), expected);
        // The index's way in throws a failure of the moment, so that its own memo stays open.
        try {
            auto read = cache.read_parsed_file("/p/a.py");
            EXPECT_TRUE(c.kept);
            ASSERT_FALSE(read.ok());
            EXPECT_EQ(read.error(), expected);
        } catch (const quarn::ast::TransientFailure& failure) {
            EXPECT_FALSE(c.kept);
            EXPECT_EQ(failure.what(), expected);
        }
        error = 0;
        auto again = cache.get_parsed_file("/p/a.py");
        EXPECT_EQ(again.ok(), !c.kept);
        EXPECT_EQ(fs->reads_of("/p/a.py"), c.kept ? 1 : 3);
    }
}

TEST(ParsedFileCache, AllocationFailuresAreNotMemoised) {
    auto fs = memory({{"/p/a.py", "from m import a\n"}});
    bool out_of_memory = true;
    fs->on_read = [&](std::string_view) {
        if (out_of_memory) throw std::bad_alloc();
    };
    auto cache = AstFileParserCache::with_filesystem("/p", fs);
    EXPECT_THROW((void)cache.get_parsed_file("/p/a.py"), std::bad_alloc);
    EXPECT_THROW((void)cache.read_parsed_file("/p/a.py"), std::bad_alloc);
    out_of_memory = false;
    auto again = cache.get_parsed_file("/p/a.py");
    ASSERT_TRUE(again.ok()) << again.error();
    EXPECT_EQ((*again)->imports.at("m").at("a"), ImportNames{"a"});
    EXPECT_EQ(fs->reads_of("/p/a.py"), 3);
}

// A thread has claimed the path and is paused inside its computation when the process forks: the
// child has no such thread, and computes the path afresh instead of waiting for it.
TEST(ParsedFileCache, AForkedChildComputesWhatAMissingThreadHadBegun) {
#if QUARN_TSAN
    GTEST_SKIP() << "ThreadSanitizer cannot start the parse's helper thread in such a child";
#endif
    quarn::ast::prepare_process();
    auto fs = memory({{"/p/a.py", "from m import a\n"}});
    const pid_t parent = getpid();
    std::atomic<bool> inside{false}, release{false};
    fs->on_read = [&](std::string_view) {
        if (getpid() != parent) return;
        inside = true;
        // Holds nothing while it waits, as a paused parse.
        const quarn::ast::fork_gate::Parked parked;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    auto cache = AstFileParserCache::with_filesystem("/p", fs);
    std::thread reader([&] {
        auto parsed = cache.get_parsed_file("/p/a.py");
        EXPECT_TRUE(parsed.ok());
    });
    while (!inside)
        std::this_thread::yield();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(20);  // a hang ends the child
        auto parsed = cache.get_parsed_file("/p/a.py");
        _exit(parsed.ok() && (*parsed)->imports.at("m").contains("a") ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    release = true;
    reader.join();
    EXPECT_EQ(fs->reads_of("/p/a.py"), 1);
}

TEST(ParsedFileCache, AllFilesForwardsTheListingOrItsError) {
    const AstFileParserCache listed("/p", {"/p/b.py", "/p/a.txt", "/p/a.py", "/p/b.py"});
    EXPECT_EQ(*listed.all_files(), (std::vector<std::string>{"/p/a.py", "/p/b.py"}));
    auto fs = memory({});
    fs->listing_fails = true;
    auto failing = AstFileParserCache::with_filesystem("/p", fs);
    ASSERT_FALSE(failing.all_files().ok());
    EXPECT_EQ(failing.all_files().error().message(), "Input/output error (os error 5)");
}

TEST(ParsedFileCache, ParsesOnceAndKeepsTheFirstContent) {
    auto fs = memory({{"/p/a.py", "x = 1  # one\n"}, {"/p/empty.py", ""}});
    auto cache = AstFileParserCache::with_filesystem("/p", fs);
    auto first = cache.read_parsed_file("/p/a.py");
    ASSERT_TRUE(first.ok()) << first.error();
    ASSERT_TRUE(first->statements.has_value());
    EXPECT_EQ(first->statements->size(), 1u);
    fs->put("/p/a.py", "y = 2\n");
    auto second = cache.get_parsed_file("/p/a.py");
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(first->file.get(), second->get());
    EXPECT_EQ((*second)->path, "/p/a.py");
    EXPECT_EQ((*second)->source, "x = 1  # one\n");
    ASSERT_EQ((*second)->comment_ranges.size(), 1u);
    EXPECT_EQ((*second)->comment_ranges.ranges()[0], r(7, 12));

    auto empty = cache.read_parsed_file("/p/empty.py");
    ASSERT_TRUE(empty.ok()) << empty.error();
    ASSERT_TRUE(empty->statements.has_value());
    EXPECT_TRUE(empty->statements->empty());
    EXPECT_TRUE(empty->file->imports.empty());
    EXPECT_TRUE(empty->file->comment_ranges.empty());
}

// A parsed file handed out keeps its source readable after the cache and every handle on it
// are gone: empty, small and larger-than-half-a-chunk texts alike.
TEST(ParsedFileCache, AParsedFileKeepsItsSourceAfterTheCacheIsGone) {
    std::string large = "x = 1\n";
    while (large.size() < (size_t{3} << 19))
        large += "value_of_a_long_line = [1, 2, 3]  # a comment\n";
    const std::map<std::string, std::string, std::less<>> texts = {
        {"/p/empty.py", ""},
        {"/p/small.py", "from m import a\n"},
        {"/p/large.py", large},
        {"/p/after.py", "y = 2\n"},
    };
    std::vector<std::pair<std::string, std::shared_ptr<const quarn::ast::ParsedFileCache>>> kept;
    {
        auto cache = AstFileParserCache::with_filesystem("/p", memory(texts));
        for (const auto& [path, text] : texts) {
            auto parsed = cache.get_parsed_file(path);
            ASSERT_TRUE(parsed.ok()) << parsed.error();
            kept.emplace_back(path, *parsed);
        }
    }
    for (const auto& [path, file] : kept) {
        SCOPED_TRACE(path);
        EXPECT_EQ(file->source, texts.at(path));
        EXPECT_NE(file->source.data(), nullptr);
    }
}

TEST(ParsedFileCache, NamesOnlyTheFirstSyntaxError) {
    // `x = [` ends in the lexer's end-of-file error at 5..5; the valid line after it changes
    // nothing.
    auto fs = memory({{"/p/bad.py", "x = ["}});
    auto cache = AstFileParserCache::with_filesystem("/p", fs);
    auto parsed = cache.get_parsed_file("/p/bad.py");
    ASSERT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.error(),
              "Failed to parse /p/bad.py: unexpected EOF while parsing at byte range 5..5");
    (void)cache.get_parsed_file("/p/bad.py");
    EXPECT_EQ(fs->reads(), 1);
}

// ---------------------------------------------------------------------------------------------
// The import table.

py::Alias alias(std::string_view name, std::optional<std::string_view> asname = std::nullopt) {
    py::Alias out{.name = ident(name, r(0, 0)), .asname = std::nullopt};
    if (asname) out.asname = ident(*asname, r(0, 0));
    return out;
}

py::Stmt from_import(std::optional<std::string_view> module, py::List<py::Alias> names,
                     uint32_t level = 0) {
    py::StmtImportFrom stmt{.names = std::move(names), .level = level};
    if (module) stmt.module = ident(*module, r(0, 0));
    return stmt;
}

ImportNames set(std::initializer_list<std::string_view> names) {
    ImportNames out;
    for (auto n : names)
        out.emplace(n);
    return out;
}

TEST(ImportTable, RecordsTopLevelAbsoluteFromImports) {
    py::List<py::Stmt> suite;
    suite.push_back(from_import("m", {alias("a"), alias("b", "c"), alias("a", "d")}));
    suite.push_back(from_import("quarn.features", {alias("features")}));
    suite.push_back(from_import("m", {alias("a", "b")}));
    suite.push_back(from_import("star", {alias("*")}));
    // Relative imports, `import m` and from-imports nested in blocks add nothing.
    suite.push_back(from_import(std::nullopt, {alias("x")}, 1));
    suite.push_back(from_import("rel", {alias("x")}, 1));
    suite.push_back(py::StmtImport{.names = {alias("plain")}});
    py::List<py::Stmt> nested;
    nested.push_back(from_import("inner", {alias("x")}));
    suite.push_back(py::StmtIf{.test = py::test::name("c", r(0, 0)), .body = std::move(nested)});
    // A module keyed before its names, even without any.
    suite.push_back(from_import("empty", {}));

    const ImportTable imports = collect_imports(suite);
    EXPECT_EQ(imports.size(), 4u);
    ASSERT_TRUE(imports.contains("m"));
    EXPECT_EQ(imports.at("m").size(), 2u);
    EXPECT_EQ(imports.at("m").at("a"), set({"a", "d", "b"}));
    EXPECT_EQ(imports.at("m").at("b"), set({"c"}));
    EXPECT_EQ(imports.at("quarn.features").at("features"), set({"features"}));
    EXPECT_FALSE(imports.contains("quarn"));
    EXPECT_EQ(imports.at("star").at("*"), set({"*"}));
    EXPECT_TRUE(imports.at("empty").empty());
    EXPECT_FALSE(imports.contains("rel"));
    EXPECT_FALSE(imports.contains("inner"));
    EXPECT_FALSE(imports.contains("plain"));
}

TEST(ImportTable, ComesFromTheParsedFile) {
    auto fs = memory({{"/p/a.py",
                       "from m import a, b as c, a as d\n"
                       "from . import x\n"
                       "from .r import y\n"
                       "import n\n"
                       "if True:\n"
                       "    from inner import z\n"}});
    auto cache = AstFileParserCache::with_filesystem("/p", fs);
    auto parsed = cache.get_parsed_file("/p/a.py");
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    const ImportTable& imports = (*parsed)->imports;
    ASSERT_EQ(imports.size(), 1u);
    EXPECT_EQ(imports.at("m").at("a"), set({"a", "d"}));
    EXPECT_EQ(imports.at("m").at("b"), set({"c"}));
}

}  // namespace
