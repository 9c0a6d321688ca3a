#include "rudo/source_file/line_index.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/panic.h"
#include "rudo/source_file/line_ranges.h"

namespace {

using rudo::source_file::LineIndex;
using rudo::source_file::LineIndexKind;
using rudo::source_file::LineRanges;
using rudo::source_file::SourcePosition;
using rudo::text_size::TextSize;

#define BOM "\xEF\xBB\xBF"

std::vector<TextSize> starts_of(std::string_view text) {
    const LineIndex index = LineIndex::from_source_text(text);
    return {index.line_starts().begin(), index.line_starts().end()};
}

TEST(LineIndex, LineStartsAfterEachLineBreak) {
    struct Case {
        std::string text;
        std::vector<TextSize> starts;
    };
    const Case cases[] = {
        {"", {0}},
        {"a", {0}},
        {"a\r\nb", {0, 3}},
        {"a\rb", {0, 2}},
        {"a\n", {0, 2}},
        {"a\r", {0, 2}},
        {"\r\n\r\n", {0, 2, 4}},
        {"\r\r\n\n", {0, 1, 3, 4}},
        {"\n\r", {0, 1, 2}},
        {"x = 1\ny = 2\rz\r\n", {0, 6, 12, 15}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(starts_of(c.text), c.starts) << testing::PrintToString(c.text);
    }
}

TEST(LineIndex, KindIsUtf8WhenAnyByteIsNonAscii) {
    // Lengths around the 64-byte blocks, with the non-ASCII byte in a block or in the tail.
    const std::string ascii_200(200, 'a');
    std::string in_block = ascii_200;
    in_block[70] = '\xC3';
    in_block[71] = '\xA9';
    std::string in_tail = ascii_200;
    in_tail[198] = '\xC3';
    in_tail[199] = '\xA9';
    EXPECT_EQ(LineIndex::from_source_text("").kind(), LineIndexKind::Ascii);
    EXPECT_EQ(LineIndex::from_source_text(ascii_200).kind(), LineIndexKind::Ascii);
    EXPECT_EQ(LineIndex::from_source_text("\x7F").kind(), LineIndexKind::Ascii);
    EXPECT_EQ(LineIndex::from_source_text("\xC3\xA9").kind(), LineIndexKind::Utf8);
    EXPECT_EQ(LineIndex::from_source_text(in_block).kind(), LineIndexKind::Utf8);
    EXPECT_EQ(LineIndex::from_source_text(in_tail).kind(), LineIndexKind::Utf8);
}

TEST(LineIndex, LineColumn) {
    struct Case {
        std::string text;
        TextSize offset;
        SourcePosition expected;
    };
    const Case cases[] = {
        {"x = 1\ny = 2", 6, {2, 1}},
        {"x = 1\ny = 2", 5, {1, 6}},
        {"x = 1\ny = 2", 0, {1, 1}},
        {"x = 1\ny = 2", 11, {2, 6}},
        {"a\r\nb", 3, {2, 1}},
        {"a\r\nb", 2, {1, 3}},
        {"a\rb", 2, {2, 1}},
        {"", 0, {1, 1}},
        // The offset at the end of a text that ends with a line break is on the final empty line.
        {"a\n", 2, {2, 1}},
        // Columns count characters, not bytes.
        {"\xC3\xA9"
         "a",
         2,
         {1, 2}},
        {"\xC3\xA9"
         "a",
         3,
         {1, 3}},
        {"x\n\xC3\xA9\xE2\x82\xAC"
         "b",
         7,
         {2, 3}},
        // A character above U+FFFF is one column.
        {"\xF0\x9F\x98\x80"
         "a",
         4,
         {1, 2}},
        {"\xF0\x9F\x98\x80"
         "a",
         5,
         {1, 3}},
        // A non-ASCII text whose line is all ASCII.
        {"\xC3\xA9\nabc", 5, {2, 3}},
        // The byte-order mark is not a column of the first line, and only of the first.
        {BOM "x\ny", 3, {1, 1}},
        {BOM "x\ny", 0, {1, 1}},
        {BOM "x\ny", 4, {1, 2}},
        {BOM "x\ny", 5, {2, 1}},
        {BOM "x\ny", 6, {2, 2}},
        // The same bytes later in the text are an ordinary character.
        {"a\n" BOM "b", 5, {2, 2}},
    };
    for (const Case& c : cases) {
        auto index = LineIndex::from_source_text(c.text);
        EXPECT_EQ(index.line_column(c.offset, c.text), c.expected)
            << testing::PrintToString(c.text) << " @ " << c.offset;
    }
}

TEST(LineIndex, CopiesShareOneTable) {
    auto index = LineIndex::from_source_text("a\nb\nc");
    LineIndex copy = index;
    EXPECT_EQ(copy.line_starts().data(), index.line_starts().data());
    EXPECT_EQ(copy.line_count(), 3u);
}

TEST(LineIndex, OffsetBeyondTheTextIsAnInternalError) {
    std::string text = "abc";
    auto index = LineIndex::from_source_text(text);
    EXPECT_THROW(index.line_column(4, text), quarn::Panic);
    EXPECT_THROW(LineRanges::line_start(text, 4), quarn::Panic);
}

TEST(LineIndex, TextBeyondThirtyTwoBitsIsRefused) {
    // Address space only: the pages are never touched, since the length is checked first.
    const size_t size = (size_t{1} << 32) + 1;
    void* pages =
        mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (pages == MAP_FAILED) GTEST_SKIP() << "cannot reserve 4 GiB of address space";
    std::string_view text(static_cast<const char*>(pages), size);
    try {
        LineIndex::from_source_text(text);
        ADD_FAILURE() << "no failure";
    } catch (const quarn::Panic& panic) {
        EXPECT_STREQ(panic.what(), "assertion failed: u32::try_from(bytes.len()).is_ok()");
    }
    munmap(pages, size);
}

TEST(LineRanges, LineStart) {
    struct Case {
        std::string text;
        TextSize offset;
        TextSize expected;
    };
    const Case cases[] = {
        {"", 0, 0},
        {"abc\ndef", 5, 4},
        {"abc\ndef", 4, 4},
        {"abc\ndef", 3, 0},
        {"a\r\nb", 3, 3},
        {"a\rb", 2, 2},
        {"x\r\n  y", 5, 3},
        {"a\nb\rc", 5, 4},
        {"a\rb\nc", 5, 4},
        // The byte-order mark is not part of the first line.
        {BOM "x = 1", 3, 3},
        {BOM "x = 1", 5, 3},
        {BOM "a\nb", 5, 5},
        {"a\n" BOM "b", 5, 2},
        {"a\n", 2, 2},
        // ...but the answer never lies beyond the offset asked about.
        {BOM "x = 1", 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LineRanges::line_start(c.text, c.offset), c.expected)
            << testing::PrintToString(c.text) << " @ " << c.offset;
    }
}

}  // namespace
