// The text rules of the feature-class extraction: comment metadata, dedent, import-name lookup.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "quarn/ast/type_parsing.h"

namespace {

using quarn::ast::collect_import_names_for_symbols_from_map;
using quarn::ast::dedent;
using quarn::ast::field_comment_metadata;
using quarn::ast::ImportTable;
using quarn::ast::StringSet;
using Lines = std::vector<std::string>;
using Texts = std::vector<std::string>;

TEST(FieldCommentMetadata, SplitsDescriptionOwnerAndTags) {
    struct Case {
        Lines block;
        std::optional<std::string> comment;
        std::optional<std::string> description;
        std::optional<std::string> owner;
        Texts tags;
    };
    const Case cases[] = {
        {{"The user's name", ":owner: team-a", ":tags: pii, core  beta"},
         "The user's name\n:owner: team-a\n:tags: pii, core  beta",
         "The user's name",
         "team-a",
         {"pii", "core", "beta"}},
        // An owner line alone gives the empty owner, not an absent one.
        {{":owner:"}, ":owner:", std::nullopt, "", {}},
        {{":owner: a", ":owner:  b "}, ":owner: a\n:owner:  b ", std::nullopt, "b", {}},
        {{":tags: x,y", "more", ":tags:,,z"},
         ":tags: x,y\nmore\n:tags:,,z",
         "more",
         std::nullopt,
         {"x", "y", "z"}},
        // Prefixes are case-sensitive and must start the trimmed line.
        {{":Owner: a", "see :owner: b"},
         ":Owner: a\nsee :owner: b",
         ":Owner: a\nsee :owner: b",
         std::nullopt,
         {}},
        // Empty lines stay inside and at the start; a final empty line is no line.
        {{"", "text", ""}, "\ntext\n", "\ntext", std::nullopt, {}},
        {{""}, "", std::nullopt, std::nullopt, {}},
        {{"\xE3\x80\x80"}, "\xE3\x80\x80", std::nullopt, std::nullopt, {}},
        // Tags split at any white space, non-ASCII included.
        {{":tags: a\xE2\x80\x83"
          "b"},
         ":tags: a\xE2\x80\x83"
         "b",
         std::nullopt,
         std::nullopt,
         {"a", "b"}},
    };
    for (const Case& c : cases) {
        const auto metadata = field_comment_metadata(c.block);
        SCOPED_TRACE(testing::PrintToString(c.block));
        EXPECT_EQ(metadata.comment, c.comment);
        EXPECT_EQ(metadata.description, c.description);
        EXPECT_EQ(metadata.owner, c.owner);
        EXPECT_EQ(metadata.tags, c.tags);
    }
}

TEST(Dedent, RemovesTheSharedIndentationAndKeepsLineBreaks) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"    @features\n    class A:\n        x: int = 1\n",
         "@features\nclass A:\n    x: int = 1\n"},
        // A blank line keeps only its line break, whatever white space it held.
        {"    class A:\n      \n        x = 1\n", "class A:\n\n    x = 1\n"},
        {"  class A:\n\t \n    x = 1", "class A:\n\n  x = 1"},
        // CRLF and a lone CR are line breaks and stay as they were.
        {"  a\r\n    b\r\n", "a\r\n  b\r\n"},
        {"  a\r    b\r", "a\r  b\r"},
        {"  a\r\n  b\n  c\r  d", "a\r\nb\nc\rd"},
        // Tabs are not expanded: a tab matches only a tab.
        {"\ta\n    b\n", "\ta\n    b\n"},
        {"\t a\n\t  b\n", "a\n b\n"},
        {"   \n  \n", "\n\n"},
        {"", ""},
        {"x", "x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dedent(c.text), c.expected) << testing::PrintToString(c.text);
    }
}

TEST(ImportNames, UnitesTheLocalNamesOfTheSymbolsAskedFor) {
    ImportTable imports;
    imports["quarn"]["online"] = {"online", "on"};
    imports["quarn"]["other"] = {"other"};
    imports["quarn.features"]["stream"] = {"s"};
    imports["quarn.features"]["*"] = {"*"};
    const std::string_view modules[] = {"quarn", "quarn.features", "absent"};
    const std::string_view symbols[] = {"online", "offline", "stream"};
    EXPECT_EQ(collect_import_names_for_symbols_from_map(imports, modules, symbols),
              (StringSet{"online", "on", "s"}));
    const std::string_view features[] = {"features"};
    EXPECT_TRUE(collect_import_names_for_symbols_from_map(imports, modules, features).empty());
}

}  // namespace
