#include "quarn/ast/ast_filesystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "quarn/ast/temp_dir.h"

namespace {

using quarn::ast::AstFileSystem;
using quarn::ast::IoErrorKind;
using quarn::ast::StdAstFileSystem;
using quarn_test::ScopedCwd;
using quarn_test::TempDir;
using Paths = std::vector<std::string>;

TEST(StdAstFileSystem, KeepsPythonPathsSortedByBytesEachOnce) {
    struct Case {
        Paths given;
        Paths kept;
    };
    const Case cases[] = {
        {{}, {}},
        {{"b.py", "a.txt", "a.py", "b.py", "c.PY", ".py", "d.pyi"}, {"a.py", "b.py"}},
        // '.' < '/' < 'b' byte-wise; a prefix sorts first.
        {{"ab.py", "a/b.py", "a.py", "a.pyx.py"}, {"a.py", "a.pyx.py", "a/b.py", "ab.py"}},
        // Non-ASCII sorts by its bytes, after every ASCII letter.
        {{"\xC3\xA9.py", "z.py", "Z.py"}, {"Z.py", "z.py", "\xC3\xA9.py"}},
        // The extension is taken from the last component, trailing separators ignored.
        {{"pkg/x.py/", "pkg/x.py/.", "x.py/..", "pkg.py/x", "/", "", "py", "x.", "..py"},
         {"..py", "pkg/x.py/", "pkg/x.py/."}},
        // Only the last dot counts; a leading dot alone gives no extension.
        {{"a.b.py", ".bashrc", "dir/.py", "x.py.bak", ".hidden.py"}, {".hidden.py", "a.b.py"}},
        // Spellings of one file stay distinct: no normalisation.
        {{"./a.py", "a.py", "a.py", "/w/a.py", "a//a.py"},
         {"./a.py", "/w/a.py", "a.py", "a//a.py"}},
    };
    for (const Case& c : cases) {
        const StdAstFileSystem fs(c.given);
        EXPECT_EQ(fs.files(), c.kept) << testing::PrintToString(c.given);
        auto listed = fs.all_files();
        ASSERT_TRUE(listed.ok());
        EXPECT_EQ(*listed, c.kept);
    }
}

TEST(StdAstFileSystem, AllFilesHandsOutCopies) {
    const StdAstFileSystem fs({"b.py", "a.py"});
    auto first = fs.all_files();
    ASSERT_TRUE(first.ok());
    first->push_back("c.py");
    (*first)[0] = "changed.py";
    EXPECT_EQ(*fs.all_files(), (Paths{"a.py", "b.py"}));
}

class ReadToString : public testing::Test {
  protected:
    TempDir dir;
    // An empty list: reading is not limited to the listed files.
    StdAstFileSystem fs{Paths{}};
};

TEST_F(ReadToString, ReturnsTheWholeUtf8Content) {
    const std::string big = [] {
        std::string text;
        for (int i = 0; i < 20000; ++i)
            text += "x_" + std::to_string(i) + " = '\xC3\xA9'\n";
        return text;
    }();
    const std::string texts[] = {
        "",
        "x = 1\n",
        "no final line break",
        "caf\xC3\xA9 = '\xE2\x82\xAC \xF0\x9F\x98\x80'\n",  // two-, three- and four-byte characters
        std::string("nul\0inside\n", 11),
        "\xEF\xBB\xBFx = 1\n",  // a byte-order mark is content like any other
        big,
    };
    int n = 0;
    for (const std::string& text : texts) {
        const std::string path = dir.write("f" + std::to_string(n++) + ".py", text);
        auto read = fs.read_to_string(path);
        ASSERT_TRUE(read.ok()) << read.error().message();
        EXPECT_EQ(*read, text);
    }
}

TEST_F(ReadToString, RefusesContentThatIsNotUtf8) {
    const std::string texts[] = {
        "\xFF",
        "x = 1\n\x80\n",
        "\xC0\xAF",          // overlong '/'
        "\xE0\x80\xAF",      // overlong three-byte form
        "\xED\xA0\x80",      // a surrogate
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "\xF5\x80\x80\x80",  // no such lead byte
        "abc\xE2\x82",       // cut off at the end
        "abcdefgh\xC3(",     // a lead byte followed by ASCII, past the 8-byte fast path
        "\xC3\xA9"
        "abcdefghijklmnop\xE9t\xE9",  // Latin-1 after valid text
    };
    int n = 0;
    for (const std::string& text : texts) {
        const std::string path = dir.write("bad" + std::to_string(n++) + ".py", text);
        auto read = fs.read_to_string(path);
        ASSERT_FALSE(read.ok()) << testing::PrintToString(text);
        EXPECT_EQ(read.error().kind(), IoErrorKind::InvalidData);
        EXPECT_EQ(read.error().message(), "stream did not contain valid UTF-8");
        EXPECT_EQ(read.error().raw_os_error(), 0);
    }
}

TEST_F(ReadToString, ReportsOperatingSystemFailuresWithTheirNumber) {
    dir.write("plain.py", "x = 1\n");
    dir.mkdir("pkg.py");
    struct Case {
        std::string path;
        int code;
        std::string message;
    };
    const Case cases[] = {
        {dir / "missing.py", 2, "No such file or directory (os error 2)"},
        {dir / "pkg.py", 21, "Is a directory (os error 21)"},
        {dir / "plain.py/x.py", 20, "Not a directory (os error 20)"},
        {"", 2, "No such file or directory (os error 2)"},
    };
    for (const Case& c : cases) {
        auto read = fs.read_to_string(c.path);
        ASSERT_FALSE(read.ok()) << c.path;
        EXPECT_EQ(read.error().kind(), IoErrorKind::Os) << c.path;
        EXPECT_EQ(read.error().raw_os_error(), c.code) << c.path;
        EXPECT_EQ(read.error().message(), c.message) << c.path;
    }
}

TEST_F(ReadToString, ReportsAFileItMayNotRead) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
    const std::string path = dir.write("secret.py", "x = 1\n");
    ::chmod(path.c_str(), 0);
    auto read = fs.read_to_string(path);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().message(), "Permission denied (os error 13)");
}

TEST_F(ReadToString, RefusesAPathWithANulByteInsteadOfReadingItsPrefix) {
    const std::string real = dir.write("a.py", "x = 1\n");
    auto read = fs.read_to_string(real + std::string("\0.txt", 5));
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().kind(), IoErrorKind::InvalidInput);
    EXPECT_EQ(read.error().message(), "file name contained an unexpected NUL byte");
}

TEST_F(ReadToString, ReadsOnlyRegularFilesAndNeverBlocks) {
    const std::string fifo = dir / "pipe.py";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        std::string message;
    };
    // A FIFO without a writer would block, /dev/zero would never end.
    const Case cases[] = {
        {fifo, "not a regular file"},
        {"/dev/zero", "not a regular file"},
        {"/dev/null", "not a regular file"},
        {dir.path(), "Is a directory (os error 21)"},
    };
    for (const Case& c : cases) {
        auto read = fs.read_to_string(c.path);
        ASSERT_FALSE(read.ok()) << c.path;
        EXPECT_EQ(read.error().message(), c.message) << c.path;
    }
}

TEST_F(ReadToString, RefusesFilesBeyondFourGibibytesWithAMessage) {
    const std::string path = dir.write("huge.py", "");
    // Sparse: no disk space is used, and nothing is read before the size check.
    ASSERT_EQ(::truncate(path.c_str(), 4294967296LL), 0);
    auto read = fs.read_to_string(path);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().kind(), IoErrorKind::InvalidData);
    EXPECT_EQ(read.error().message(), "file is larger than 4294967295 bytes");
}

TEST_F(ReadToString, ResolvesRelativePathsAgainstTheWorkingDirectory) {
    dir.write("pkg/mod.py", "here = True\n");
    const ScopedCwd cwd(dir.path());
    EXPECT_EQ(*fs.read_to_string("pkg/mod.py"), "here = True\n");
    EXPECT_EQ(*fs.read_to_string("./pkg/../pkg/mod.py"), "here = True\n");
}

TEST_F(ReadToString, ReadsFilesThatReportNoSize) {
    // Files under /proc report size 0 yet have content.
    auto read = fs.read_to_string("/proc/self/status");
    ASSERT_TRUE(read.ok()) << read.error().message();
    EXPECT_NE(read->find("Name:"), std::string::npos);
}

TEST_F(ReadToString, ClosesEveryFileItOpens) {
    const std::string good = dir.write("good.py", "x = 1\n");
    const std::string bad = dir.write("bad.py", "\xFF");
    // Far more reads than a process may hold files open.
    for (int i = 0; i < 5000; ++i) {
        ASSERT_TRUE(fs.read_to_string(good).ok());
        ASSERT_FALSE(fs.read_to_string(bad).ok());
        ASSERT_FALSE(fs.read_to_string(dir.path()).ok());
    }
}

TEST(StdAstFileSystemThreads, OneSharedFileSystemServesManyThreads) {
    TempDir dir;
    Paths paths;
    Paths contents;
    for (int i = 0; i < 16; ++i) {
        contents.push_back(fmt::format("v = {}", i));
        paths.push_back(dir.write(fmt::format("m{}.py", i), contents.back()));
    }
    const std::shared_ptr<const AstFileSystem> fs = std::make_shared<StdAstFileSystem>(paths);
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round) {
                auto listed = fs->all_files();
                if (!listed.ok() || listed->size() != 16) ++failures[t];
                for (int i = 0; i < 16; ++i) {
                    auto read = fs->read_to_string(paths[i]);
                    if (!read.ok() || *read != contents[i]) ++failures[t];
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(8, 0));
}

}  // namespace
