#include "quarn/ast/module_name.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "quarn/ast/memory_fs.h"
#include "quarn/ast/parser_cache.h"

namespace {

using quarn::Err;
using quarn::Result;
using quarn::ast::AstFileParserCache;
using quarn::ast::AstFileSystem;
using quarn::ast::IoError;
using quarn::ast::IoErrorKind;
using quarn::ast::module_name_for_absolute_path;
using Paths = std::vector<std::string>;

struct NameCase {
    std::string root;
    std::string path;
    std::string module;
};

TEST(ModuleNameForAbsolutePath, NamesPathsUnderTheRoot) {
    const NameCase cases[] = {
        {"/p", "/p/pkg/mod.py", "pkg.mod"},
        {"/p", "/p/pkg/__init__.py", "pkg"},
        {"/p", "/p/a/b/c.py", "a.b.c"},
        {"/p", "/p/data/x.txt", "data.x.txt"},
        {"/p", "/p/a.b.py", "a.b"},
        // The rules hold for directories too.
        {"/p", "/p/pkg.py/mod.py", "pkg.mod"},
        {"/p", "/p/__init__.py/mod.py", "mod"},
        // A bare ".py" component gives an empty segment.
        {"/p", "/p/pkg/.py", "pkg."},
        {"/p", "/p/a/../b.py", "a.b"},
        {"/p", "/p/./pkg/mod.py", "pkg.mod"},
        // Repeated and trailing separators do not count, on either side.
        {"/p/", "/p//pkg///mod.py", "pkg.mod"},
        {"/p//", "/p/pkg/mod.py/", "pkg.mod"},
        {"", "/home/u/p/x.py", "home.u.p.x"},
        {"", "pkg/x.py", "pkg.x"},
        {".", "./a/b.py", "a.b"},
        {"src", "src/pkg/m.py", "pkg.m"},
        {"/p", "/p/caf\xC3\xA9/\xE2\x82\xAC.py", "caf\xC3\xA9.\xE2\x82\xAC"},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(module_name_for_absolute_path(c.path, c.root), c.module)
            << c.path << " under " << c.root;
    }
}

TEST(ModuleNameForAbsolutePath, FallsBackToTheStemThenTheWholePath) {
    const NameCase cases[] = {
        // Nothing left under the root.
        {"/p", "/p/__init__.py", "__init__"},
        {"/p", "/p", "p"},
        {"/p", "/p/", "p"},
        // Outside the root: compared by components, not by text.
        {"/p", "/q/tool.py", "tool"},
        {"/p", "/pp/mod.py", "mod"},
        {"/p/pkg", "/p/mod.py", "mod"},
        {"/p", "/q/a.b.py", "a.b"},
        {"/p", "/q/.bashrc", ".bashrc"},
        {"/p", "/q/x.py/", "x"},
        {"/p", "p/x.py", "x"},
        {"p", "/p/x.py", "x"},
        {"src", "./src/m.py", "m"},
        {".", "/abs/m.py", "m"},
        // No last name at all: the path itself.
        {"/p", "/", "/"},
        {"/p", "/q/..", "/q/.."},
        {"/x", ".", "."},
        {"/x", "", ""},
        // A component that is not UTF-8 discards the segments; so does a stem.
        {"/p", "/p/\xFF/x.py", "x"},
        {"/p", "/p/pkg/\xFF.py", "/p/pkg/\xEF\xBF\xBD.py"},
        {"/q", "/p/a\xC3.py", "/p/a\xEF\xBF\xBD.py"},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(module_name_for_absolute_path(c.path, c.root), c.module)
            << testing::PrintToString(c.path) << " under " << c.root;
    }
}

// A file system with a fixed listing, or a failing one; counts its listings and reads.
class ListingFileSystem final : public AstFileSystem {
  public:
    explicit ListingFileSystem(std::optional<Paths> listing) : listing_(std::move(listing)) {}
    Result<std::string, IoError> read_to_string(std::string_view) const override {
        ++reads;
        return Err(IoError(IoErrorKind::InvalidInput, "not readable"));
    }
    Result<std::vector<std::string>, IoError> all_files() const override {
        ++listings;
        if (!listing_) return Err(IoError::from_os_error(5));
        return *listing_;
    }
    mutable std::atomic<int> listings{0};
    mutable std::atomic<int> reads{0};

  private:
    std::optional<Paths> listing_;
};

TEST(AstFileParserCache, NamesEveryListedFileAtConstruction) {
    auto fs = std::make_shared<ListingFileSystem>(
        Paths{"/p/pkg/mod.py", "pkg/other.py", "/q/tool.py", "a.py", "/p/a.py", "notes.txt"});
    const auto cache = AstFileParserCache::with_filesystem("/p", fs);
    EXPECT_EQ(fs->listings, 1);
    // Relative paths are joined to the root; "a.py" and "/p/a.py" are one file.
    EXPECT_EQ(cache.module_name_for_path("/p/pkg/mod.py"), "pkg.mod");
    EXPECT_EQ(cache.module_name_for_path("pkg/other.py"), "pkg.other");
    EXPECT_EQ(cache.module_name_for_path("/p/pkg/other.py"), "pkg.other");
    EXPECT_EQ(cache.module_name_for_path("/q/tool.py"), "tool");
    EXPECT_EQ(cache.module_name_for_path("a.py"), "a");
    EXPECT_EQ(cache.module_name_for_path("/p/a.py"), "a");
    EXPECT_EQ(cache.module_name_for_path("notes.txt"), "notes.txt");
    EXPECT_EQ(cache.project_root(), "/p");
    // Naming lists once and reads nothing.
    EXPECT_EQ(fs->listings, 1);
    EXPECT_EQ(fs->reads, 0);
}

TEST(AstFileParserCache, ModuleNameForPathIsTheSameWhetherOrNotTheListingSucceeded) {
    struct Case {
        std::string root;
        std::string path;
        std::string module;
    };
    const Case cases[] = {
        {"/p", "/p/pkg/mod.py", "pkg.mod"},
        {"/p", "pkg/mod.py", "pkg.mod"},
        {"/p/", "pkg/mod.py", "pkg.mod"},
        {"/p", "/p/pkg/__init__.py", "pkg"},
        {"/p", "/q/tool.py", "tool"},
        {"/p", "unlisted/thing.py", "unlisted.thing"},
        {"", "pkg/mod.py", "pkg.mod"},
        {"", "/home/u/p/x.py", "home.u.p.x"},
        {".", "a/b.py", "a.b"},
        {"./", "a/b.py", "a.b"},
        {"proj", "pkg/m.py", "pkg.m"},
        {"proj", "/abs/m.py", "m"},
    };
    for (const Case& c : cases) {
        const Paths listed = {c.path};
        const auto listing = AstFileParserCache::with_filesystem(
            c.root, std::make_shared<ListingFileSystem>(listed));
        const auto failing = AstFileParserCache::with_filesystem(
            c.root, std::make_shared<ListingFileSystem>(std::nullopt));
        EXPECT_EQ(listing.module_name_for_path(c.path), c.module) << c.path << " under " << c.root;
        EXPECT_EQ(failing.module_name_for_path(c.path), c.module) << c.path << " under " << c.root;
    }
}

TEST(AstFileParserCache, AllFilesForwardsTheListingOrItsError) {
    const AstFileParserCache own("/p", Paths{"b.py", "a.txt", "a.py", "b.py"});
    EXPECT_EQ(*own.all_files(), (Paths{"a.py", "b.py"}));
    EXPECT_EQ(own.module_name_for_path("a.py"), "a");

    const auto failing = AstFileParserCache::with_filesystem(
        "/p", std::make_shared<ListingFileSystem>(std::nullopt));
    auto listed = failing.all_files();
    ASSERT_FALSE(listed.ok());
    EXPECT_EQ(listed.error().message(), "Input/output error (os error 5)");
}

TEST(AstFileParserCache, CopiesShareOneCacheThatOutlivesTheFirstHandle) {
    std::weak_ptr<const AstFileSystem> fs_alive;
    std::optional<AstFileParserCache> copy;
    {
        auto fs = std::make_shared<quarn_test::MemoryFileSystem>(
            std::map<std::string, std::string, std::less<>>{{"/p/x.py", "x = 1\n"}});
        fs_alive = fs;
        const auto cache = AstFileParserCache::with_filesystem("/p", fs);
        copy = cache;
        // A file asked for through both handles is read once, and both get the one record.
        const auto through_first = cache.get_parsed_file("/p/x.py");
        const auto through_copy = copy->get_parsed_file("/p/x.py");
        ASSERT_TRUE(through_first.ok()) << through_first.error();
        ASSERT_TRUE(through_copy.ok()) << through_copy.error();
        EXPECT_EQ(through_first->get(), through_copy->get());
        EXPECT_EQ(fs->reads_of("/p/x.py"), 1);
    }
    EXPECT_FALSE(fs_alive.expired());
    EXPECT_EQ(copy->module_name_for_path("/p/x.py"), "x");
    copy.reset();
    EXPECT_TRUE(fs_alive.expired());
}

TEST(AstFileParserCache, NamesModulesFromManyThreadsAtOnce) {
    Paths paths;
    for (int i = 0; i < 64; ++i)
        paths.push_back("pkg/m" + std::to_string(i) + ".py");
    const AstFileParserCache cache("/p", paths);
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 128; ++i) {
                // Half of them listed, half computed on demand.
                const std::string path = "pkg/m" + std::to_string(i) + ".py";
                if (cache.module_name_for_path(path) != "pkg.m" + std::to_string(i)) ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
}

}  // namespace
