#include "quarn/ast/project_index.h"

#include <gtest/gtest.h>

#include <barrier>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "base/panic.h"
#include "quarn/ast/memory_fs.h"

namespace {

using quarn::ast::AstProjectIndex;
using quarn_test::MemoryFileSystem;
using Paths = std::vector<std::string>;

constexpr const char* DEF = "def f(x):\n    pass\n";

AstProjectIndex index_over(const std::shared_ptr<MemoryFileSystem>& fs, Paths files,
                           std::string root = "/p") {
    return *AstProjectIndex::with_filesystem(std::move(root), std::move(files), fs);
}

// The URI of the file among `paths` whose records hold `record`.
template <typename Record>
std::string uri_of(const AstProjectIndex& index, const quarn::ast::SharedRecord<Record>& record,
                   const Paths& paths) {
    if (!record) return "<none>";
    for (const std::string& path : paths) {
        const auto file = index.get_parsed_ast_file(path);
        if (!file.ok()) continue;
        for (const auto& candidate : (*file)->functions)
            if (static_cast<const void*>(&candidate) == record.get()) return (*file)->uri->as_str();
        for (const auto& candidate : (*file)->feature_classes)
            if (static_cast<const void*>(&candidate) == record.get()) return (*file)->uri->as_str();
    }
    return "<elsewhere>";
}

TEST(ProjectIndex, ModuleLookupsTakeTheFirstFileInListOrder) {
    auto fs = std::make_shared<MemoryFileSystem>();
    fs->put("/o1/x.py", DEF);
    fs->put("/o2/x.py", DEF);
    // Both lie outside the root, so both are module x.
    const auto forward = index_over(fs, {"/o1/x.py", "/o2/x.py"});
    const Paths both = {"/o1/x.py", "/o2/x.py"};
    EXPECT_EQ(uri_of(forward, forward.shared_function_ast("x", "f"), both), "file:///o1/x.py");
    const auto reversed = index_over(fs, {"/o2/x.py", "/o1/x.py"});
    EXPECT_EQ(uri_of(reversed, reversed.shared_function_ast("x", "f"), both), "file:///o2/x.py");
    EXPECT_EQ(forward.shared_function_ast("x", "g"), nullptr);
    EXPECT_EQ(forward.shared_function_ast("y", "f"), nullptr);
}

// A record keeps what it points into (its texts, the file's source and lines) after the index,
// its parsed-file cache and the warm-up's workers are gone.
TEST(ProjectIndex, ARecordOutlivesTheIndexThatMadeIt) {
    auto fs = std::make_shared<MemoryFileSystem>();
    fs->put("/p/m.py",
            "from quarn import online\n"
            "@online\n"
            "def resolve_total(amount, *, rate=2):\n"
            "    return amount * rate\n");
    quarn::ast::SharedRecord<quarn::ast::ResolverAST> record;
    {
        const auto index = index_over(fs, {"/p/m.py"});
        index.nonblocking_start_index();
        quarn::ast::detail::wait_for_warm_up_threads();
        record = index.shared_resolver_ast("m", "resolve_total");
    }
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->module, "m");
    EXPECT_EQ(record->resolver_name, "resolve_total");
    ASSERT_EQ(record->args_in_order.size(), 2u);
    EXPECT_EQ(record->args_in_order[0], "amount");
    EXPECT_EQ(record->args_in_order[1], "rate");
    // The name's location is the def line's name, line 2 (0-based) from column 4.
    const auto at = record->file.range(record->resolver_name_location);
    EXPECT_EQ(at.start.line, 2u);
    EXPECT_EQ(at.start.character, 4u);
}

TEST(ProjectIndex, LookupsPassOverFilesThatFail) {
    auto fs = std::make_shared<MemoryFileSystem>();
    fs->put("/b/m.py", "def f(:\n");
    fs->put("/c/m.py",
            "from quarn import online\n"
            "from quarn.features import features\n"
            "@online\ndef f(x): pass\n"
            "@features\nclass A:\n    x: int\n");
    const auto index = index_over(fs, {"/a/m.py", "/b/m.py", "/c/m.py"});
    const Paths all = {"/a/m.py", "/b/m.py", "/c/m.py"};
    EXPECT_EQ(uri_of(index, index.shared_function_ast("m", "f"), all), "file:///c/m.py");
    EXPECT_EQ(uri_of(index, index.shared_resolver_ast("m", "f"), all), "file:///c/m.py");
    EXPECT_EQ(uri_of(index, index.shared_feature_class_ast("m", "A"), all), "file:///c/m.py");
    EXPECT_EQ(index.shared_function_ast_in_file("/a/m.py", "f"), nullptr);
    EXPECT_EQ(index.shared_function_ast_in_file("/b/m.py", "f"), nullptr);
    auto missing = index.get_parsed_ast_file("/a/m.py");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), "Failed to read /a/m.py: No such file or directory (os error 2)");
    auto broken = index.get_parsed_ast_file("/b/m.py");
    ASSERT_FALSE(broken.ok());
    EXPECT_TRUE(broken.error().starts_with("Failed to parse /b/m.py: ")) << broken.error();
}

TEST(ProjectIndex, LookupsInAFileIgnoreTheModule) {
    auto fs = std::make_shared<MemoryFileSystem>();
    fs->put("/p/pkg/a.py",
            "from quarn import online\n"
            "def f(x): pass\n"
            "@online\ndef f(y): pass\n");
    const auto index = index_over(fs, {"/p/pkg/a.py"});
    auto first = index.shared_function_ast_in_file("/p/pkg/a.py", "f");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->module, "pkg.a");
    EXPECT_EQ(first->args_in_order, Paths{"x"});
    auto resolver = index.shared_resolver_ast_in_file("/p/pkg/a.py", "f");
    ASSERT_NE(resolver, nullptr);
    EXPECT_EQ(resolver->args_in_order, Paths{"y"});
    EXPECT_EQ(index.shared_function_ast("pkg.a", "f")->args_in_order, Paths{"x"});
    EXPECT_EQ(index.shared_resolver_ast("pkg.a", "f")->args_in_order, Paths{"y"});
    // The same memoised record each time.
    EXPECT_EQ(index.shared_function_ast_in_file("/p/pkg/a.py", "f"), first);
}

TEST(ProjectIndex, KeepsTheListAsPassedAndReadsOnlyTheModuleAskedFor) {
    auto fs = std::make_shared<MemoryFileSystem>();
    Paths files;
    for (int i = 0; i < 50; ++i) {
        files.push_back(fmt::format("/p/m{}.py", i));
        fs->put(files.back(), DEF);
    }
    // Not a Python file by its name, still read and parsed like one.
    files.push_back("/p/notes.txt");
    fs->put("/p/notes.txt", DEF);
    const auto index = index_over(fs, files);
    EXPECT_EQ(index.files(), files);
    EXPECT_EQ(uri_of(index, index.shared_function_ast("m7", "f"), {"/p/m7.py"}), "file:///p/m7.py");
    EXPECT_EQ(fs->reads(), 1);
    EXPECT_EQ(fs->reads_of("/p/m7.py"), 1);
    EXPECT_EQ(uri_of(index, index.shared_function_ast("notes.txt", "f"), {"/p/notes.txt"}),
              "file:///p/notes.txt");
    EXPECT_EQ(fs->reads(), 2);
    (void)index.shared_function_ast("m7", "f");
    (void)index.shared_function_ast("nothing", "f");
    EXPECT_EQ(fs->reads(), 2);
}

// The cache hands a file's statements to the call that parses it: when another caller of the
// cache has parsed the file first, the index still builds the same records, from the kept text.
TEST(ProjectIndex, BuildsTheSameRecordsFromAFileTheCacheParsedBefore) {
    auto fs = std::make_shared<MemoryFileSystem>();
    fs->put("/p/m.py",
            "from quarn import online\n"
            "from quarn.features import features\n"
            "@online\ndef r(x): return x\n"
            "@features\nclass C:\n    v: int  # the v\n");
    const auto fresh = index_over(fs, {"/p/m.py"});
    const auto index = index_over(fs, {"/p/m.py"});
    ASSERT_TRUE(index.parser_cache().read_parsed_file("/p/m.py").ok());
    const auto resolver = index.shared_resolver_ast("m", "r");
    const auto fresh_resolver = fresh.shared_resolver_ast("m", "r");
    ASSERT_NE(resolver, nullptr);
    ASSERT_NE(fresh_resolver, nullptr);
    EXPECT_EQ(*resolver, *fresh_resolver);
    const auto feature_class = index.shared_feature_class_ast_in_file("/p/m.py", "C");
    const auto fresh_class = fresh.shared_feature_class_ast_in_file("/p/m.py", "C");
    ASSERT_NE(feature_class, nullptr);
    ASSERT_NE(fresh_class, nullptr);
    EXPECT_EQ(*feature_class, *fresh_class);
    // Read once by each index's own cache.
    EXPECT_EQ(fs->reads_of("/p/m.py"), 2);
}

// ---------------------------------------------------------------------------------------------
// Warm-up threads.

// Which thread read which path. Thread ids are reused once a thread ends, so each thread is
// told apart by a serial number of its own.
int thread_serial() {
    static std::atomic<int> next{0};
    thread_local const int serial = next.fetch_add(1);
    return serial;
}

struct ReadLog {
    std::mutex mutex;
    std::map<std::string, int> reader;
    void attach(MemoryFileSystem& fs) {
        fs.on_read = [this](std::string_view path) {
            const std::lock_guard lock(mutex);
            reader[std::string(path)] = thread_serial();
        };
    }
};

TEST(WarmUp, StartsNothingWithoutFilesAndOnlyOncePerIndex) {
    auto fs = std::make_shared<MemoryFileSystem>();
    const auto empty = index_over(fs, {});
    empty.nonblocking_start_index();
    EXPECT_FALSE(empty.inner()->started.load());

    const auto index = index_over(fs, {"/p/a.py"});
    const auto copy = index;
    index.nonblocking_start_index();
    copy.nonblocking_start_index();
    quarn::ast::detail::wait_for_warm_up_threads();
    EXPECT_TRUE(index.inner()->started.load());
    EXPECT_EQ(fs->reads(), 1);
}

TEST(WarmUp, SplitsTheListByPositionModuloTheWorkerCount) {
    struct Case {
        size_t files;
        size_t parallelism;
        std::vector<std::set<size_t>> groups;
    };
    const Case cases[] = {
        {3, 8, {{0}, {1}, {2}}},
        {10, 4, {{0, 4, 8}, {1, 5, 9}, {2, 6}, {3, 7}}},
        {4, 1, {{0, 1, 2, 3}}},
        {2, 0, {{0, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(fmt::format("{} files, parallelism {}", c.files, c.parallelism));
        auto fs = std::make_shared<MemoryFileSystem>();
        ReadLog log;
        log.attach(*fs);
        Paths files;
        for (size_t i = 0; i < c.files; ++i)
            files.push_back(fmt::format("/p/f{}.py", i));
        const auto index = index_over(fs, files);
        quarn::ast::detail::start_warm_up(index, c.parallelism);
        quarn::ast::detail::wait_for_warm_up_threads();
        ASSERT_EQ(log.reader.size(), c.files);
        std::map<int, std::set<size_t>> by_thread;
        for (size_t i = 0; i < c.files; ++i)
            by_thread[log.reader.at(files[i])].insert(i);
        std::vector<std::set<size_t>> groups;
        for (const auto& [id, positions] : by_thread)
            groups.push_back(positions);
        std::sort(groups.begin(), groups.end());
        EXPECT_EQ(groups, c.groups);
    }
}

TEST(WarmUp, FailuresStayWithTheirFileAndTheWorkerGoesOn) {
    auto fs = std::make_shared<MemoryFileSystem>();
    for (const char* path : {"/p/a.py", "/p/b.py", "/p/c.py", "/p/d.py"})
        fs->put(path, DEF);
    bool out_of_memory = true;
    fs->on_read = [&](std::string_view path) {
        if (path == "/p/a.py") quarn::panic("invariant broken");
        if (path == "/p/c.py" && out_of_memory) throw std::bad_alloc();
    };
    const auto index = index_over(fs, {"/p/a.py", "/p/b.py", "/p/c.py", "/p/d.py"});
    quarn::ast::detail::start_warm_up(index, 1);
    quarn::ast::detail::wait_for_warm_up_threads();
    EXPECT_EQ(fs->reads(), 4);
    auto failed = index.get_parsed_ast_file("/p/a.py");
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), "typed AST cache lock poisoned for /p/a.py");
    EXPECT_EQ(index.shared_function_ast_in_file("/p/a.py", "f"), nullptr);
    EXPECT_TRUE(index.shared_function_ast_in_file("/p/b.py", "f") != nullptr);
    EXPECT_TRUE(index.shared_function_ast("d", "f") != nullptr);
    EXPECT_EQ(fs->reads(), 4);
    // Running out of memory says nothing about the file: it is read again once memory is back.
    EXPECT_THROW((void)index.shared_function_ast_in_file("/p/c.py", "f"), std::bad_alloc);
    out_of_memory = false;
    EXPECT_TRUE(index.shared_function_ast_in_file("/p/c.py", "f") != nullptr);
    EXPECT_TRUE(index.shared_function_ast("c", "f") != nullptr);
    EXPECT_EQ(fs->reads(), 6);
}

TEST(WarmUp, AFileOutOfDescriptorsIsLeftToLaterLookups) {
    auto fs = std::make_shared<MemoryFileSystem>();
    for (const char* path : {"/p/a.py", "/p/b.py"})
        fs->put(path, DEF);
    std::atomic<int> error{24};
    fs->read_error = [&](std::string_view path) { return path == "/p/b.py" ? error.load() : 0; };
    const auto index = index_over(fs, {"/p/a.py", "/p/b.py"});
    quarn::ast::detail::start_warm_up(index, 2);
    quarn::ast::detail::wait_for_warm_up_threads();
    auto failed = index.get_parsed_ast_file("/p/b.py");
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), "Failed to read /p/b.py: Too many open files (os error 24)");
    error = 0;
    EXPECT_TRUE(index.shared_function_ast("b", "f") != nullptr);
    EXPECT_TRUE(index.shared_function_ast_in_file("/p/b.py", "f") != nullptr);
    EXPECT_EQ(fs->reads_of("/p/b.py"), 3);
    EXPECT_EQ(fs->reads_of("/p/a.py"), 1);
}

TEST(WarmUp, AWorkerStopsOnceTheIndexIsDropped) {
    // With several workers each one's own handle must not keep the others going.
    for (const size_t workers : {1, 4}) {
        SCOPED_TRACE(workers);
        auto fs = std::make_shared<MemoryFileSystem>();
        Paths files;
        for (int i = 0; i < 100; ++i)
            files.push_back(fmt::format("/p/f{}.py", i));
        std::mutex gate;
        gate.lock();
        fs->on_read = [&](std::string_view path) {
            // Each worker's first file is held until the test has dropped its handle.
            const std::string_view name = path.substr(4);
            if (name.size() == 4 && name[0] - '0' < int(workers)) const std::lock_guard wait(gate);
        };
        {
            const auto index = index_over(fs, files);
            quarn::ast::detail::start_warm_up(index, workers);
            while (fs->reads() < int(workers))
                std::this_thread::yield();
        }
        gate.unlock();
        quarn::ast::detail::wait_for_warm_up_threads();
        EXPECT_EQ(fs->reads(), int(workers));
    }
}

TEST(WarmUp, LookupsRacingTheWorkersSeeWhatASingleThreadSees) {
    auto fs = std::make_shared<MemoryFileSystem>();
    Paths files;
    for (int i = 0; i < 120; ++i) {
        // Three files per module; some fail to read, some to parse.
        files.push_back(fmt::format("/o{}/m{}.py", i % 3, i / 3));
        if (i % 7 == 3) continue;
        fs->put(files.back(), i % 11 == 5 ? std::string("def (:\n")
                                          : fmt::format("from quarn import online\n"
                                                        "from quarn.features import features\n"
                                                        "@online\ndef r{0}(x): return x\n"
                                                        "def f(y{1}): pass\n"
                                                        "@features\nclass C:\n    v{1}: int\n",
                                                        i / 3, i));
    }
    files.push_back(files[5]);
    struct Answers {
        std::vector<std::optional<quarn::ast::ResolverAST>> functions, resolvers;
        std::vector<std::optional<quarn::ast::FeatureClassAST>> classes;
        bool operator==(const Answers&) const = default;
    };
    // A copy of the record, which stays readable as long as its index.
    auto value = [](const auto& shared) { return shared ? std::optional(*shared) : std::nullopt; };
    auto ask = [&](const AstProjectIndex& index) {
        Answers a;
        for (int m = 0; m < 40; ++m) {
            const std::string module = fmt::format("m{}", m);
            a.functions.push_back(value(index.shared_function_ast(module, "f")));
            a.resolvers.push_back(value(index.shared_resolver_ast(module, fmt::format("r{}", m))));
            a.classes.push_back(value(index.shared_feature_class_ast(module, "C")));
        }
        return a;
    };
    const auto reference = index_over(fs, files);
    const Answers expected = ask(reference);
    for (int round = 0; round < 3; ++round) {
        const auto index = index_over(fs, files);
        constexpr int LOOKERS = 8;
        std::barrier start(LOOKERS + 1);
        std::vector<Answers> got(LOOKERS);
        std::vector<std::thread> lookers;
        for (int t = 0; t < LOOKERS; ++t) {
            lookers.emplace_back([&, t] {
                start.arrive_and_wait();
                got[t] = ask(index);
            });
        }
        start.arrive_and_wait();
        quarn::ast::detail::start_warm_up(index, 8);
        for (auto& t : lookers)
            t.join();
        quarn::ast::detail::wait_for_warm_up_threads();
        for (int t = 0; t < LOOKERS; ++t)
            EXPECT_TRUE(got[t] == expected) << "looker " << t;
    }
}

}  // namespace
