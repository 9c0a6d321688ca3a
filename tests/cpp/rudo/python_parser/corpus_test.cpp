// The installed Python standard library lexes without a lexical error.
#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "base/utf8.h"
#include "rudo/python_parser/token_source.h"

namespace {

using namespace rudo::python_parser;

const std::filesystem::path CORPUS = "/usr/lib/python3.11";

// Files that CPython's own `ast.parse` rejects (intentionally broken test inputs), relative to
// the corpus. The installed library has none: its test suite, where such files live, is a
// separate package. Add any that appear here, with the reason.
constexpr std::array<std::string_view, 0> REJECTED_BY_CPYTHON = {};

TEST(Corpus, StandardLibraryLexesWithoutErrors) {
    if (!std::filesystem::is_directory(CORPUS)) GTEST_SKIP() << CORPUS << " is not installed";
    size_t files = 0;
    size_t tokens = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(CORPUS)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".py") continue;
        std::string relative = entry.path().lexically_relative(CORPUS).string();
        if (std::find(REJECTED_BY_CPYTHON.begin(), REJECTED_BY_CPYTHON.end(), relative) !=
            REJECTED_BY_CPYTHON.end()) {
            continue;
        }
        std::ifstream file(entry.path(), std::ios::binary);
        std::string source((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
        if (!quarn::is_valid_utf8(source)) continue;  // declared another encoding

        auto ts = TokenSource::from_source(source);
        ASSERT_TRUE(ts.ok()) << relative;
        for (;;) {
            TokenKind kind = ts->current_kind();
            ts->bump(kind);
            if (kind == TokenKind::EndOfFile) break;
        }
        TokenSourceResult result = std::move(ts).value().finish();
        ++files;
        tokens += result.tokens.size();

        for (const auto& error : result.errors) {
            ADD_FAILURE() << relative << ": " << error.error.message() << " at "
                          << fmt::format("{}", error.location);
        }
        TextSize previous_end = 0;
        for (const auto& token : result.tokens) {
            if (token.range.start() < previous_end || token.range.end() > source.size()) {
                ADD_FAILURE() << relative << ": token " << rudo::python_ast::name(token.kind)
                              << " at " << fmt::format("{}", token.range)
                              << " overlaps the previous one or leaves the text";
                break;
            }
            previous_end = token.range.end();
        }
    }
    EXPECT_GT(files, 100u);
    EXPECT_GT(tokens, files);
}

}  // namespace
