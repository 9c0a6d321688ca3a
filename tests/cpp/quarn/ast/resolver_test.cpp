// Function and resolver extraction, over sources parsed for real.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "quarn/ast/extraction_helpers.h"
#include "quarn/ast/temp_dir.h"

namespace {

using quarn::ast::ParsedAstFile;
using quarn::ast::ResolverAST;
using quarn_test::extract;
using quarn_test::located_at;
using quarn_test::range;

constexpr const char* DEF = "def f(x):\n    pass\n";

template <typename Records>
std::vector<std::string> names(const Records& records) {
    std::vector<std::string> out;
    for (const auto& r : records)
        out.push_back(std::string(r.resolver_name));
    return out;
}

ParsedAstFile must_extract(const std::string& source, const std::string& path = "/p/pkg/mod.py") {
    auto file = extract(source, path);
    if (!file.ok()) {
        ADD_FAILURE() << file.error();
        return {};
    }
    return std::move(*file);
}

TEST(Resolvers, ReportParametersReturnsAndBody) {
    const auto file = must_extract(
        "from quarn import online\n"
        "@online\n"
        "def a(x, *ys, k=1, **kw) -> int:\n"
        "    return x\n");
    ASSERT_EQ(file.functions.size(), 1u);
    ASSERT_EQ(file.resolvers.size(), 1u);
    const ResolverAST& r = file.resolvers[0];
    EXPECT_EQ(r, file.functions[0]);
    EXPECT_EQ(r.module, "pkg.mod");
    EXPECT_EQ(r.resolver_name, "a");
    EXPECT_TRUE(located_at(file, r.resolver_name_location, range(2, 4, 2, 5)));
    ASSERT_TRUE(file.uri.has_value());
    EXPECT_EQ(file.uri->as_str(), "file:///p/pkg/mod.py");
    EXPECT_TRUE(located_at(file, r.decorator_location, range(1, 1, 1, 7)));
    EXPECT_EQ(r.args_in_order, (std::vector<std::string>{"x", "ys", "k", "kw"}));
    ASSERT_EQ(r.args.size(), 4u);
    // Stars are inside, a default is not.
    EXPECT_TRUE(located_at(file, r.args.at("x").arg_location, range(2, 6, 2, 7)));
    EXPECT_TRUE(located_at(file, r.args.at("ys").arg_location, range(2, 9, 2, 12)));
    EXPECT_TRUE(located_at(file, r.args.at("k").arg_location, range(2, 14, 2, 15)));
    EXPECT_TRUE(located_at(file, r.args.at("kw").arg_location, range(2, 19, 2, 23)));
    EXPECT_EQ(r.args.at("kw").arg_name, "kw");
    EXPECT_EQ(r.args.at("x").annotation, std::nullopt);
    EXPECT_TRUE(located_at(file, r.return_annotation, range(2, 28, 2, 31)));
    EXPECT_EQ(r.missing_return_annotation, std::nullopt);
    ASSERT_EQ(r.return_statements.size(), 1u);
    EXPECT_TRUE(located_at(file, r.return_statements[0], range(3, 4, 3, 12)));
    EXPECT_TRUE(located_at(file, r.body, range(3, 4, 3, 12)));
    EXPECT_TRUE(located_at(file, r.return_arg, range(3, 11, 3, 12)));
    EXPECT_TRUE(r.kwarg_names.empty());
    EXPECT_TRUE(r.kwarg_dict_key_names.empty());
}

// A repeated parameter name is listed each time; its record is the last one, in the place of
// the first.
TEST(Resolvers, ARepeatedParameterKeepsItsFirstPlaceAndItsLastRecord) {
    const auto file = must_extract("def f(x, y, x: int = 1): pass\n");
    ASSERT_EQ(file.functions.size(), 1u);
    const ResolverAST& r = file.functions[0];
    EXPECT_EQ(r.args_in_order, (std::vector<std::string>{"x", "y", "x"}));
    std::vector<std::string> keys;
    for (const auto& [name, arg] : r.args) {
        EXPECT_EQ(arg.arg_name, name);
        keys.push_back(std::string(name));
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"x", "y"}));
    EXPECT_TRUE(located_at(file, r.args.at("x").arg_location, range(0, 12, 0, 18)));
    EXPECT_TRUE(located_at(file, r.args.at("x").annotation, range(0, 15, 0, 18)));
    EXPECT_TRUE(located_at(file, r.args.at("y").arg_location, range(0, 9, 0, 10)));
}

TEST(Resolvers, AnnotationsOfParametersAndReturn) {
    const auto file = must_extract("def f(a: int, /, b: \"s\" = 1, *, c) -> None:\n    pass\n");
    ASSERT_EQ(file.functions.size(), 1u);
    const ResolverAST& r = file.functions[0];
    EXPECT_EQ(r.args_in_order, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(located_at(file, r.args.at("a").arg_location, range(0, 6, 0, 12)));
    EXPECT_TRUE(located_at(file, r.args.at("a").annotation, range(0, 9, 0, 12)));
    EXPECT_TRUE(located_at(file, r.args.at("b").arg_location, range(0, 17, 0, 23)));
    EXPECT_TRUE(located_at(file, r.args.at("b").annotation, range(0, 20, 0, 23)));
    EXPECT_TRUE(located_at(file, r.args.at("c").arg_location, range(0, 32, 0, 33)));
    EXPECT_TRUE(located_at(file, r.return_annotation, range(0, 38, 0, 42)));
    EXPECT_EQ(r.missing_return_annotation, std::nullopt);
    EXPECT_EQ(r.decorator_location, std::nullopt);
    EXPECT_TRUE(file.resolvers.empty());
}

TEST(Resolvers, ChooseTheFirstImportedResolverDecorator) {
    struct Case {
        std::string source;
        std::optional<quarn::ast::Range> decorator;
    };
    const Case cases[] = {
        {"from quarn import online\n@online\ndef f(): pass\n", range(1, 1, 1, 7)},
        {"from quarn.features import stream as s\n@s()\ndef f(): pass\n", range(1, 1, 1, 4)},
        // Not imported, imported as a module or through a star: plain functions.
        {"@online\ndef f(): pass\n", std::nullopt},
        {"import quarn\n@quarn.online\ndef f(): pass\n", std::nullopt},
        {"from quarn import *\n@online\ndef f(): pass\n", std::nullopt},
        {"from quarn import features\n@features\ndef f(): pass\n", std::nullopt},
        {"from quarn.other import online\n@online\ndef f(): pass\n", std::nullopt},
        {"from .quarn import online\n@online\ndef f(): pass\n", std::nullopt},
        {"if True:\n    from quarn import online\n@online\ndef f(): pass\n", std::nullopt},
        // The first decorator whose name is a resolver name wins.
        {"from quarn import online\nfrom functools import cache\n@cache\n@online\ndef f(): pass\n",
         range(3, 1, 3, 7)},
        {"from quarn import online, stream\n@online\n@stream\ndef f(): pass\n", range(1, 1, 1, 7)},
        {"from quarn import offline\n@x.offline\n@offline\ndef f(): pass\n", range(2, 1, 2, 8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        const auto file = must_extract(c.source);
        ASSERT_EQ(names(file.functions), (std::vector<std::string>{"f"}));
        if (c.decorator) {
            ASSERT_EQ(file.resolvers.size(), 1u);
            EXPECT_TRUE(located_at(file, file.resolvers[0].decorator_location, *c.decorator));
        } else {
            EXPECT_TRUE(file.resolvers.empty());
            EXPECT_EQ(file.functions[0].decorator_location, std::nullopt);
        }
    }
}

TEST(Resolvers, DecoratorKeywordsAndDictKeywords) {
    const auto file = must_extract(
        "from quarn import online\n"
        "@online(tags={\"a\": 1, \"b\" \"c\": 2, f\"x\": 3, **extra}, owner=\"me\")\n"
        "def f(): pass\n");
    ASSERT_EQ(file.resolvers.size(), 1u);
    const ResolverAST& r = file.resolvers[0];
    EXPECT_TRUE(located_at(file, r.decorator_location, range(1, 1, 1, 64)));
    ASSERT_EQ(r.kwarg_names.size(), 2u);
    EXPECT_TRUE(located_at(file, r.kwarg_names.at("tags"), range(1, 8, 1, 12)));
    EXPECT_TRUE(located_at(file, r.kwarg_names.at("owner"), range(1, 53, 1, 58)));
    ASSERT_EQ(r.kwargs.size(), 2u);
    EXPECT_TRUE(located_at(file, r.kwargs.at("tags"), range(1, 13, 1, 51)));
    EXPECT_TRUE(located_at(file, r.kwargs.at("owner"), range(1, 59, 1, 63)));
    // Only single string literal keys count.
    ASSERT_EQ(r.kwarg_dict_key_names.size(), 1u);
    ASSERT_EQ(r.kwarg_dict_key_names.at("tags").size(), 1u);
    EXPECT_TRUE(located_at(file, r.kwarg_dict_key_names.at("tags").at("a"), range(1, 14, 1, 17)));
    ASSERT_EQ(r.kwarg_dict_values.size(), 1u);
    EXPECT_TRUE(located_at(file, r.kwarg_dict_values.at("tags").at("a"), range(1, 19, 1, 20)));

    // An empty dict or one of only non-literal keys adds nothing; a later key replaces.
    const auto other = must_extract(
        "from quarn import online\n"
        "@online(a={}, b={k: 1}, c={'z': 1, 'z': 22}, **more)\n"
        "def f(): pass\n");
    ASSERT_EQ(other.resolvers.size(), 1u);
    const ResolverAST& o = other.resolvers[0];
    EXPECT_EQ(o.kwarg_names.size(), 3u);
    EXPECT_EQ(o.kwarg_dict_key_names.size(), 1u);
    EXPECT_TRUE(located_at(other, o.kwarg_dict_key_names.at("c").at("z"), range(1, 35, 1, 38)));
    EXPECT_TRUE(located_at(other, o.kwarg_dict_values.at("c").at("z"), range(1, 40, 1, 42)));
}

TEST(Resolvers, ColonOfAFunctionWithoutReturnAnnotation) {
    struct Case {
        std::string source;
        std::optional<quarn::ast::Range> colon;
    };
    const Case cases[] = {
        {"def f(x):\n    pass\n", range(0, 8, 0, 9)},
        {"def f(\n    x,\n):  pass\n", range(2, 1, 2, 2)},
        {"def f(x) -> None:\n    pass\n", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        const auto file = must_extract(c.source);
        ASSERT_EQ(file.functions.size(), 1u);
        if (c.colon) {
            EXPECT_TRUE(located_at(file, file.functions[0].missing_return_annotation, *c.colon));
            EXPECT_EQ(file.functions[0].return_annotation, std::nullopt);
        } else {
            EXPECT_EQ(file.functions[0].missing_return_annotation, std::nullopt);
            EXPECT_TRUE(file.functions[0].return_annotation.has_value());
        }
    }
}

TEST(Resolvers, NestedFunctionsAndTheirReturns) {
    const auto file = must_extract(
        "def outer():\n"
        "    def inner():\n"
        "        return 1\n"
        "    return inner\n");
    ASSERT_EQ(names(file.functions), (std::vector<std::string>{"outer", "inner"}));
    const ResolverAST& outer = file.functions[0];
    ASSERT_EQ(outer.return_statements.size(), 2u);
    EXPECT_TRUE(located_at(file, outer.return_statements[0], range(2, 8, 2, 16)));
    EXPECT_TRUE(located_at(file, outer.return_statements[1], range(3, 4, 3, 16)));
    EXPECT_TRUE(located_at(file, outer.return_arg, range(3, 11, 3, 16)));
    EXPECT_TRUE(located_at(file, outer.body, range(1, 4, 3, 16)));
    EXPECT_TRUE(located_at(file, file.functions[1].return_arg, range(2, 15, 2, 16)));
}

TEST(Resolvers, ReturnArgIsTheFirstTopLevelReturnOnly) {
    struct Case {
        std::string source;
        std::optional<quarn::ast::Range> return_arg;
        size_t returns;
    };
    const Case cases[] = {
        {"def f():\n    return\n    return 5\n", std::nullopt, 2},
        {"def f(x):\n    if x:\n        return 1\n    return x\n", range(3, 11, 3, 12), 2},
        {"def f():\n    pass  # c\n", std::nullopt, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        const auto file = must_extract(c.source);
        ASSERT_EQ(file.functions.size(), 1u);
        EXPECT_EQ(file.functions[0].return_statements.size(), c.returns);
        if (c.return_arg) {
            EXPECT_TRUE(located_at(file, file.functions[0].return_arg, *c.return_arg));
        } else {
            EXPECT_EQ(file.functions[0].return_arg, std::nullopt);
        }
    }
    // The body ends with its last statement, before a trailing comment.
    const auto file = must_extract("def f():\n    x = 1\n    y = 2  # c\n");
    EXPECT_TRUE(located_at(file, file.functions[0].body, range(1, 4, 2, 9)));
}

TEST(Resolvers, FunctionsAtAnyDepthInPreOrder) {
    const auto file = must_extract(
        "class C:\n"
        "    def m(self): pass\n"
        "if x:\n"
        "    async def a(): pass\n"
        "elif y:\n"
        "    def b(): pass\n"
        "try:\n"
        "    def t(): pass\n"
        "except E:\n"
        "    def e(): pass\n"
        "else:\n"
        "    def te(): pass\n"
        "finally:\n"
        "    def tf(): pass\n"
        "with w:\n"
        "    def w2(): pass\n"
        "while x:\n"
        "    def wh(): pass\n"
        "else:\n"
        "    def we(): pass\n"
        "for i in x:\n"
        "    def fo(): pass\n"
        "def last():\n"
        "    class Inner:\n"
        "        def deep(self): pass\n");
    EXPECT_EQ(names(file.functions),
              (std::vector<std::string>{"m", "a", "b", "t", "e", "te", "tf", "w2", "wh", "we", "fo",
                                        "last", "deep"}));
}

TEST(Resolvers, FunctionsInMatchCases) {
    const auto file = must_extract(
        "match v:\n    case 1:\n        def one(): pass\n    case _:\n        def two(): pass\n");
    EXPECT_EQ(names(file.functions), (std::vector<std::string>{"one", "two"}));
}

TEST(Resolvers, ColumnsCountCharactersNotBytes) {
    const auto file =
        must_extract("def caf\xC3\xA9(x): pass\n\ndef\tg(\xF0\x9D\x90\x80=1): pass\n");
    ASSERT_EQ(file.functions.size(), 2u);
    EXPECT_TRUE(located_at(file, file.functions[0].resolver_name_location, range(0, 4, 0, 8)));
    EXPECT_TRUE(located_at(file, file.functions[0].args.at("x").arg_location, range(0, 9, 0, 10)));
    // A tab counts one character; a name the lexer normalised keeps its source range.
    EXPECT_TRUE(located_at(file, file.functions[1].resolver_name_location, range(2, 4, 2, 5)));
    EXPECT_EQ(file.functions[1].args_in_order, (std::vector<std::string>{"A"}));
    EXPECT_TRUE(located_at(file, file.functions[1].args.at("A").arg_location, range(2, 6, 2, 7)));
}

TEST(Resolvers, AFileWithoutUriReportsNothing) {
    // A relative path that does not resolve from the working directory.
    const auto file =
        must_extract("from quarn import online\n@online\ndef f(x): pass\n", "no/such/dir/mod.py");
    EXPECT_TRUE(file.functions.empty());
    EXPECT_TRUE(file.resolvers.empty());
}

TEST(Resolvers, PathsThatNeedEscapingStillReportEveryRecord) {
    struct Case {
        std::string path;
        std::string uri;
    };
    const Case cases[] = {
        {"/p/my dir/a.py", "file:///p/my%20dir/a.py"},
        {"/p/100%/a#1.py", "file:///p/100%25/a%231.py"},
        {"/p/caf\xC3\xA9/[x].py", "file:///p/caf%C3%A9/%5Bx%5D.py"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto file = must_extract(DEF, c.path);
        ASSERT_EQ(file.functions.size(), 1u);
        ASSERT_TRUE(file.uri.has_value());
        EXPECT_EQ(file.uri->as_str(), c.uri);
        EXPECT_TRUE(file.functions[0].args.contains("x"));
    }
}

TEST(Resolvers, RelativePathsResolveAgainstTheWorkingDirectory) {
    quarn_test::TempDir work;
    work.write("pkg/a.py", DEF);
    const quarn_test::ScopedCwd cwd(work.path());
    const auto file = must_extract(DEF, "pkg/a.py");
    ASSERT_EQ(file.functions.size(), 1u);
    ASSERT_TRUE(file.uri.has_value());
    EXPECT_EQ(file.uri->as_str(), "file://" + work.path() + "/pkg/a.py");
}

}  // namespace

namespace {

TEST(Resolvers, DeepExpressionsAreNeverWalked) {
    // A 200,000-deep tree of additions, kept in the cache and dropped with it.
    std::string source = "def f():\n    return 1";
    for (int i = 0; i < 200000; ++i)
        source += "+1";
    source += "\n";
    const auto file = extract(source);
    ASSERT_TRUE(file.ok()) << file.error();
    ASSERT_EQ(file->functions.size(), 1u);
    EXPECT_TRUE(located_at(file, file->functions[0].return_arg, range(1, 11, 1, 11 + 1 + 400000)));
}

}  // namespace

// `resolvers` refers to records of `functions`: a copy of the file shares them and keeps them
// readable once the original is gone.
TEST(Resolvers, ACopyOfTheFileOutlivesTheOriginal) {
    auto original =
        std::make_unique<ParsedAstFile>(must_extract("from quarn import online, stream\n"
                                                     "def plain(): pass\n"
                                                     "@online\n"
                                                     "def first(): pass\n"
                                                     "@stream\n"
                                                     "def second(): pass\n"));
    const ParsedAstFile copy = *original;
    ParsedAstFile assigned;
    assigned = *original;
    original.reset();
    for (const ParsedAstFile* file : {&copy, const_cast<const ParsedAstFile*>(&assigned)}) {
        ASSERT_EQ(file->functions.size(), 3u);
        ASSERT_EQ(file->resolvers.size(), 2u);
        EXPECT_EQ(&file->resolvers[0], &file->functions[1]);
        EXPECT_EQ(&file->resolvers[1], &file->functions[2]);
        std::vector<std::string> names;
        for (const ResolverAST& r : file->resolvers)
            names.push_back(std::string(r.resolver_name));
        EXPECT_EQ(names, (std::vector<std::string>{"first", "second"}));
    }
}
