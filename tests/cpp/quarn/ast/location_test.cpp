#include "quarn/ast/location.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <type_traits>

#include "quarn/ast/ast_types.h"
#include "quarn/ast/temp_dir.h"

namespace {

using quarn::ast::expr_to_range;
using quarn::ast::FeatureClassAST;
using quarn::ast::file_location_for_range;
using quarn::ast::file_uri_for_path;
using quarn::ast::Location;
using quarn::ast::LocationContext;
using quarn::ast::Position;
using quarn::ast::Range;
using quarn::ast::ResolverAST;
using quarn::ast::TextRange;
using quarn::ast::Uri;
using quarn_test::ScopedCwd;
using quarn_test::TempDir;

// Records are cheap views of their file's records, which a copy shares.
static_assert(std::is_copy_constructible_v<ResolverAST>);
static_assert(std::is_copy_constructible_v<FeatureClassAST>);
static_assert(!std::is_default_constructible_v<Location>, "no location without a real URI");

Range range(uint32_t l1, uint32_t c1, uint32_t l2, uint32_t c2) {
    return {{l1, c1}, {l2, c2}};
}

TEST(LocationContext, TurnsByteRangesIntoZeroBasedLinesAndCharacters) {
    struct Case {
        std::string source;
        TextRange bytes;
        Range expected;
    };
    const Case cases[] = {
        {"", {0, 0}, range(0, 0, 0, 0)},
        // A name at the very start, and the end of a part that ends its line.
        {"name = 1\n", {0, 4}, range(0, 0, 0, 4)},
        {"name = 1\n", {7, 8}, range(0, 7, 0, 8)},
        // The line break belongs to its line; the offset after it starts the next one.
        {"name = 1\n", {8, 9}, range(0, 8, 1, 0)},
        // Parts on one later line, across lines, and up to the start of the next line.
        {"a\nbcd\nef", {2, 4}, range(1, 0, 1, 2)},
        {"a\nbcd\nef", {3, 7}, range(1, 1, 2, 1)},
        {"a\nbcd\nef", {2, 6}, range(1, 0, 2, 0)},
        {"a\nbcd\nef", {8, 8}, range(2, 2, 2, 2)},
        // Two-byte and four-byte characters count one each.
        {"a\nb\nx = \"\xC3\xA9\"", {8, 12}, range(2, 4, 2, 7)},
        {"a\nb\nx = \"\xF0\x9F\x98\x80\"", {8, 14}, range(2, 4, 2, 7)},
        {"\xC3\xA9\xC3\xA9 = \xE2\x82\xAC", {7, 10}, range(0, 5, 0, 6)},
        // `\r\n` and a lone `\r` each end one line.
        {"ab\r\ncd\ref", {4, 6}, range(1, 0, 1, 2)},
        {"ab\r\ncd\ref", {7, 9}, range(2, 0, 2, 2)},
        {"ab\r\ncd", {2, 4}, range(0, 2, 1, 0)},
        // A byte-order mark is no character of the first line, and nothing is taken off later.
        {"\xEF\xBB\xBF"
         "ab\ncd",
         {3, 5},
         range(0, 0, 0, 2)},
        {"\xEF\xBB\xBF"
         "ab\ncd",
         {6, 8},
         range(1, 0, 1, 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.source) + " " + rudo::text_size::debug(c.bytes));
        const LocationContext context(c.source);
        EXPECT_EQ(context.range(c.bytes), c.expected);
        // A reader of the records asks from any thread, with or without the line it read last,
        // which may be any line or none of the text's.
        EXPECT_EQ(context.range_at(c.bytes), c.expected);
        for (size_t hint : {size_t{0}, size_t{1}, size_t{2}, size_t{1000}}) {
            size_t line = hint;
            EXPECT_EQ(context.range_near(c.bytes, line), c.expected) << "from line " << hint;
            EXPECT_EQ(line, c.expected.end.line) << "from line " << hint;
        }
    }
}

TEST(LocationContext, MeasuresNodesByTheirOwnRange) {
    struct Node {
        TextRange range() const { return {4, 11}; }
    };
    const std::string source = "x = f(\xC3\xA9, 1)";
    EXPECT_EQ(expr_to_range(Node{}, LocationContext(source)), range(0, 4, 0, 10));
}

std::optional<std::string> uri_text(std::string_view path) {
    auto uri = file_uri_for_path(path);
    if (!uri) return std::nullopt;
    return uri->as_str();
}

TEST(FileUri, TakesAbsolutePathsAsTheyStand) {
    struct Case {
        std::string path;
        std::optional<std::string> uri;
    };
    const Case cases[] = {
        {"/tmp/a.py", "file:///tmp/a.py"},
        {"/tmp/my project/a.py", "file:///tmp/my%20project/a.py"},
        // Not normalised, and not required to exist.
        {"/tmp/a/../b.py", "file:///tmp/a/../b.py"},
        {"/definitely/missing/./x.py", "file:///definitely/missing/./x.py"},
        {"//server/x.py", "file:////server/x.py"},
        {"/tmp/x\\y.py", "file:///tmp/x/y.py"},
        // Every character RFC 3986 allows in a path is passed on unescaped.
        {"/a-b.c_d~e!f$g&h'i(j)k*l+m,n;o=p:q@r/Z9.py",
         "file:///a-b.c_d~e!f$g&h'i(j)k*l+m,n;o=p:q@r/Z9.py"},
        // Every other byte is percent-encoded, so that every file has a URI naming that file:
        // `%` itself included, even where it looks like an escape already.
        {"/tmp/a%41.py", "file:///tmp/a%2541.py"},
        {"/tmp/100%.py", "file:///tmp/100%25.py"},
        {"/tmp/a%g1.py", "file:///tmp/a%25g1.py"},
        // `#` and `?` belong to the file name, not to a fragment or a query.
        {"/tmp/a#b.py", "file:///tmp/a%23b.py"},
        {"/tmp/a?b?c/d#e?f/g", "file:///tmp/a%3Fb%3Fc/d%23e%3Ff/g"},
        // Non-ASCII letters byte by byte; bytes that are not UTF-8 as U+FFFD first.
        {"/tmp/caf\xC3\xA9.py", "file:///tmp/caf%C3%A9.py"},
        {"/tmp/\xF0\x9F\x98\x80.py", "file:///tmp/%F0%9F%98%80.py"},
        {"/tmp/\xFF.py", "file:///tmp/%EF%BF%BD.py"},
        {"/tmp/a[1].py", "file:///tmp/a%5B1%5D.py"},
        {"/tmp/a\"b<c>d^e`f{g}h|i.py", "file:///tmp/a%22b%3Cc%3Ed%5Ee%60f%7Bg%7Dh%7Ci.py"},
        {"/tmp/a\tb\x7f.py", "file:///tmp/a%09b%7F.py"},
        // The system would see the shorter path before a NUL.
        {std::string("/etc/passwd\0.py", 15), std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(uri_text(c.path), c.uri) << testing::PrintToString(c.path);
    }
}

TEST(FileUri, ResolvesRelativePathsAgainstTheWorkingDirectory) {
    TempDir work;
    TempDir root;
    work.write("pkg/a.py", "x = 1\n");
    work.write("my dir/b.py", "x = 1\n");
    work.write("100%#x.py", "x = 1\n");
    root.write("only_in_root.py", "x = 1\n");
    std::filesystem::create_symlink(work / "pkg/a.py", work / "link.py");
    const ScopedCwd cwd(work.path());
    struct Case {
        std::string path;
        std::optional<std::string> uri;
    };
    const Case cases[] = {
        {"pkg/a.py", "file://" + work.path() + "/pkg/a.py"},
        {"./pkg/../pkg/a.py", "file://" + work.path() + "/pkg/a.py"},
        // Symbolic links are followed.
        {"link.py", "file://" + work.path() + "/pkg/a.py"},
        {"my dir/b.py", "file://" + work.path() + "/my%20dir/b.py"},
        {"100%#x.py", "file://" + work.path() + "/100%25%23x.py"},
        // Resolution needs the file itself, in the working directory, not the project root.
        {"pkg/missing.py", std::nullopt},
        {"only_in_root.py", std::nullopt},
        {"", std::nullopt},
        {std::string("pkg/a.py\0x", 10), std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(uri_text(c.path), c.uri) << testing::PrintToString(c.path);
    }
}

TEST(FileUri, RefusesTextsThatAreNotFileUris) {
    EXPECT_TRUE(Uri::parse("file:///a.py").has_value());
    EXPECT_TRUE(Uri::parse("file://").has_value());
    EXPECT_FALSE(Uri::parse("http:///a.py").has_value());
    EXPECT_FALSE(Uri::parse("file:/a.py").has_value());
    EXPECT_FALSE(Uri::parse("file://host/a.py").has_value());
}

TEST(FileLocationForRange, CarriesTheUriAndTheRangeOrNothing) {
    const Range r = range(2, 4, 2, 7);
    const auto location = file_location_for_range("/tmp/my project/a.py", r);
    ASSERT_TRUE(location.has_value());
    EXPECT_EQ(location->uri.as_str(), "file:///tmp/my%20project/a.py");
    EXPECT_EQ(location->range, r);
    EXPECT_EQ(file_location_for_range("/tmp/caf\xC3\xA9.py", r)->uri.as_str(),
              "file:///tmp/caf%C3%A9.py");
    EXPECT_EQ(file_location_for_range("no/such/relative/file.py", r), std::nullopt);
}

}  // namespace
