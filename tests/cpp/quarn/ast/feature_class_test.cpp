// Feature-class extraction, over sources parsed for real.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "quarn/ast/extraction_helpers.h"

namespace {

using quarn::ast::FeatureClassAST;
using quarn::ast::FeatureFieldAST;
using quarn::ast::ParsedAstFile;
using quarn_test::extract;
using quarn_test::located_at;
using quarn_test::range;
using Texts = std::vector<std::string>;

const std::string IMPORT = "from quarn.features import features\n";

ParsedAstFile must_extract(const std::string& source) {
    auto file = extract(source);
    if (!file.ok()) {
        ADD_FAILURE() << file.error();
        return {};
    }
    return std::move(*file);
}

TEST(FeatureClasses, NamespaceFromTheNameKeywordOrTheClassName) {
    struct Case {
        std::string decorator;
        std::string namespace_;
        Texts keywords;
    };
    const Case cases[] = {
        {"@features", "user_features", {}},
        {"@features()", "user_features", {}},
        {"@features(name=\"user\")", "user", {"name"}},
        {"@features(name='a\\x62')", "ab", {"name"}},
        {"@features(name=\"us\" \"er\")", "user_features", {"name"}},
        {"@features(name=f\"user\")", "user_features", {"name"}},
        {"@features(name=NAME)", "user_features", {"name"}},
        {"@features(max_staleness=\"1d\")", "user_features", {"max_staleness"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.decorator);
        const auto file =
            must_extract(IMPORT + c.decorator + "\nclass UserFeatures:\n    x: int\n");
        ASSERT_EQ(file.feature_classes.size(), 1u);
        const FeatureClassAST& f = file.feature_classes[0];
        EXPECT_EQ(f.namespace_, c.namespace_);
        EXPECT_EQ(f.class_name, "UserFeatures");
        EXPECT_EQ(f.module, "pkg.mod");
        EXPECT_TRUE(located_at(file, f.decorator_location,
                               range(1, 1, 1, static_cast<uint32_t>(c.decorator.size()))));
        Texts keywords;
        for (const auto& [name, at] : f.kwarg_names)
            keywords.push_back(std::string(name));
        EXPECT_EQ(keywords, c.keywords);
        EXPECT_EQ(f.kwargs.size(), c.keywords.size());
    }
    const auto file =
        must_extract(IMPORT + "@features(max_staleness=\"1d\")\nclass A:\n    x: int\n");
    ASSERT_EQ(file.feature_classes.size(), 1u);
    EXPECT_TRUE(located_at(file, file.feature_classes[0].kwarg_names.at("max_staleness"),
                           range(1, 10, 1, 23)));
    EXPECT_TRUE(
        located_at(file, file.feature_classes[0].kwargs.at("max_staleness"), range(1, 24, 1, 28)));
}

TEST(FeatureClasses, OnlyTheFeaturesImportOfQuarnFeaturesCounts) {
    struct Case {
        std::string source;
        Texts classes;
    };
    const Case cases[] = {
        {"import quarn.features\n@quarn.features.features\nclass A:\n    x: int\n", {}},
        {"from quarn import features\n@features\nclass A:\n    x: int\n", {}},
        {"from quarn.features import *\n@features\nclass A:\n    x: int\n", {}},
        {"from quarn.features import features as f\n@features\nclass A:\n    x: int\n", {}},
        {"from quarn.features import features as f\n@f\nclass A:\n    x: int\n", {"A"}},
        {IMPORT + "class A:\n    x: int\n@features\nclass B:\n    pass\n", {"B"}},
        // Nested classes too, in pre-order.
        {IMPORT + "@features\nclass A:\n    @features\n    class B:\n        x: int\n"
                  "def f():\n    @features\n    class C:\n        pass\n",
         {"A", "B", "C"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        Texts got;
        for (const auto& f : must_extract(c.source).feature_classes)
            got.push_back(std::string(f.class_name));
        EXPECT_EQ(got, c.classes);
    }
}

TEST(FeatureClasses, FieldsFromAnnotatedAndAssignedStatements) {
    const auto file = must_extract(IMPORT +
                                   "@features\n"                                   // 1
                                   "class U:\n"                                    // 2
                                   "    id: int\n"                                 // 3
                                   "    name: str = feature(description=\"x\")\n"  // 4
                                   "    count = 0\n"                               // 5
                                   "    x: int\n"                                  // 6
                                   "    x = 5\n"                                   // 7
                                   "    a = b = 1\n"                               // 8
                                   "    a, c = 1, 2\n"                             // 9
                                   "    a += 1\n"                                  // 10
                                   "    def m(self):\n"                            // 11
                                   "        self.y = 2\n"                          // 12
                                   "        z = 3\n");                             // 13
    ASSERT_EQ(file.feature_classes.size(), 1u);
    const FeatureClassAST& u = file.feature_classes[0];
    Texts annotated;
    for (const auto& f : u.annotations)
        annotated.push_back(std::string(f.field_name));
    EXPECT_EQ(annotated, (Texts{"id", "name", "x"}));
    EXPECT_EQ(u.fields.size(), 4u);
    for (const char* name : {"id", "name", "count", "x"})
        EXPECT_TRUE(u.fields.contains(name)) << name;

    const FeatureFieldAST& id = u.fields.at("id");
    EXPECT_TRUE(located_at(file, id.field_name_location, range(3, 4, 3, 6)));
    EXPECT_TRUE(located_at(file, id.annotation, range(3, 8, 3, 11)));
    EXPECT_EQ(id.feature_call, std::nullopt);

    const FeatureFieldAST& name = u.fields.at("name");
    EXPECT_TRUE(located_at(file, name.feature_call, range(4, 16, 4, 40)));
    EXPECT_TRUE(located_at(file, name.kwarg_names.at("description"), range(4, 24, 4, 35)));
    EXPECT_TRUE(located_at(file, name.kwargs.at("description"), range(4, 36, 4, 39)));
    EXPECT_EQ(name, u.annotations[1]);

    // Any assigned value is the field's value, not only a call.
    EXPECT_TRUE(located_at(file, u.fields.at("count").feature_call, range(5, 12, 5, 13)));
    EXPECT_EQ(u.fields.at("count").annotation, std::nullopt);

    // The assignment updates the value of the annotated field; the annotated record stays.
    const FeatureFieldAST& x = u.fields.at("x");
    EXPECT_TRUE(located_at(file, x.field_name_location, range(6, 4, 6, 5)));
    EXPECT_TRUE(located_at(file, x.annotation, range(6, 7, 6, 10)));
    EXPECT_TRUE(located_at(file, x.feature_call, range(7, 8, 7, 9)));
    EXPECT_EQ(u.annotations[2].feature_call, std::nullopt);
    EXPECT_TRUE(located_at(file, u.annotations[2].annotation, range(6, 7, 6, 10)));
}

TEST(FeatureClasses, AnAnnotatedValueThatIsNoCallIsNoFeatureCall) {
    const auto file = must_extract(IMPORT +
                                   "@features\nclass U:\n"
                                   "    x: int = 5\n"
                                   "    y: int = f(a=1)\n"
                                   "    y = g(b=2)\n"
                                   "    y: str\n");
    ASSERT_EQ(file.feature_classes.size(), 1u);
    const FeatureClassAST& u = file.feature_classes[0];
    EXPECT_EQ(u.fields.at("x").feature_call, std::nullopt);
    EXPECT_TRUE(u.fields.at("x").kwargs.empty());
    // The first annotated statement of a name is the record in `fields`, then updated by the
    // assignment.
    const FeatureFieldAST& y = u.fields.at("y");
    EXPECT_TRUE(located_at(file, y.annotation, range(4, 7, 4, 10)));
    EXPECT_TRUE(located_at(file, y.feature_call, range(5, 8, 5, 14)));
    EXPECT_EQ(y.kwarg_names.size(), 1u);
    EXPECT_TRUE(y.kwarg_names.contains("b"));
    ASSERT_EQ(u.annotations.size(), 3u);
    EXPECT_TRUE(u.annotations[1].kwarg_names.contains("a"));
}

TEST(FeatureClasses, CommentBlocksDirectlyAboveAField) {
    const auto file = must_extract(IMPORT +
                                   "@features\n"                   // 1
                                   "class U:\n"                    // 2
                                   "    # The user's name\n"       // 3
                                   "    ## :owner: team-a\n"       // 4
                                   "  # :tags: pii, core  beta\n"  // 5
                                   "    name: str\n"               // 6
                                   "    # lonely\n"                // 7
                                   "\n"                            // 8
                                   "    age: int\n"                // 9
                                   "    pass  # note\n"            // 10
                                   "    city: str\n"               // 11
                                   "    # first\n"                 // 12
                                   "    x: int\n"                  // 13
                                   "    # second\n"                // 14
                                   "    # :owner:\n"               // 15
                                   "    x = 5\n"                   // 16
                                   "    # not above any field\n"   // 17
                                   "    def m(self): pass\n");     // 18
    ASSERT_EQ(file.feature_classes.size(), 1u);
    const FeatureClassAST& u = file.feature_classes[0];
    const FeatureFieldAST& name = u.fields.at("name");
    EXPECT_EQ(name.comment(), "The user's name\n:owner: team-a\n:tags: pii, core  beta");
    EXPECT_EQ(name.description(), "The user's name");
    EXPECT_EQ(name.owner(), "team-a");
    EXPECT_EQ(name.tags(), (Texts{"pii", "core", "beta"}));
    // A blank line, or a comment after code, leaves a field without metadata.
    for (const char* bare : {"age", "city"}) {
        const FeatureFieldAST& f = u.fields.at(bare);
        EXPECT_EQ(f.comment(), std::nullopt) << bare;
        EXPECT_EQ(f.description(), std::nullopt) << bare;
        EXPECT_EQ(f.owner(), std::nullopt) << bare;
        EXPECT_TRUE(f.tags().empty()) << bare;
    }
    // The last block of a name is the metadata of every record of that name.
    EXPECT_EQ(u.fields.at("x").comment(), "second\n:owner:");
    EXPECT_EQ(u.fields.at("x").owner(), "");
    EXPECT_EQ(u.fields.at("x").description(), "second");
    ASSERT_EQ(u.annotations.size(), 4u);
    EXPECT_EQ(u.annotations[3].comment(), "second\n:owner:");
}

TEST(FeatureClasses, DefinitionLineAndDedentedSource) {
    const auto file = must_extract(IMPORT +
                                   "def f():\n"                    // 1
                                   "    @dataclass\n"              // 2
                                   "    @features(name=\"n\")\n"   // 3
                                   "    class A(Base):  # note\n"  // 4
                                   "        x: int\n"              // 5
                                   "        \n"                    // 6
                                   "        y: int  # tail\n"      // 7
                                   "    return A\n");              // 8
    ASSERT_EQ(file.feature_classes.size(), 1u);
    const FeatureClassAST& a = file.feature_classes[0];
    EXPECT_TRUE(located_at(file, a.class_name_location, range(4, 10, 4, 11)));
    EXPECT_TRUE(located_at(file, a.class_definition_location, range(4, 0, 4, 26)));
    EXPECT_TRUE(located_at(file, a.decorator_location, range(3, 5, 3, 23)));
    EXPECT_EQ(a.source,
              "@dataclass\n"
              "@features(name=\"n\")\n"
              "class A(Base):  # note\n"
              "    x: int\n"
              "\n"
              "    y: int  # tail\n");
}

TEST(FeatureClasses, LineBreaksCountAsTheLineIndexCountsThem) {
    struct Case {
        std::string eol;
        uint32_t definition_end;
    };
    // The carriage return of a CRLF is inside the header line; a lone one ends it.
    const Case cases[] = {{"\n", 15}, {"\r\n", 16}, {"\r", 15}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.eol));
        const std::string& e = c.eol;
        const auto file = must_extract("from quarn.features import features" + e +  // 0
                                       "if True:" + e +                             // 1
                                       "  @features" + e +                          // 2
                                       "  class A:  # c" + e +                      // 3
                                       "    # doc" + e +                            // 4
                                       "    x: int" + e +                           // 5
                                       "z = 1" + e);                                // 6
        ASSERT_EQ(file.feature_classes.size(), 1u);
        const FeatureClassAST& a = file.feature_classes[0];
        EXPECT_TRUE(located_at(file, a.class_name_location, range(3, 8, 3, 9)));
        EXPECT_TRUE(
            located_at(file, a.class_definition_location, range(3, 0, 3, c.definition_end)));
        EXPECT_TRUE(located_at(file, a.fields.at("x").field_name_location, range(5, 4, 5, 5)));
        EXPECT_EQ(a.fields.at("x").comment(), "doc");
        EXPECT_EQ(a.source, "@features" + e + "class A:  # c" + e + "  # doc" + e + "  x: int" + e);
    }
}

TEST(FeatureClasses, AClassAtTheEndOfTheTextWithoutALineBreak) {
    const auto file = must_extract(IMPORT + "@features\nclass \xC3\x89t\xC3\xA9:\n    x: int");
    ASSERT_EQ(file.feature_classes.size(), 1u);
    const FeatureClassAST& a = file.feature_classes[0];
    EXPECT_TRUE(located_at(file, a.class_name_location, range(2, 6, 2, 9)));
    EXPECT_TRUE(located_at(file, a.class_definition_location, range(2, 0, 2, 10)));
    EXPECT_EQ(a.namespace_, "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(a.source, "@features\nclass \xC3\x89t\xC3\xA9:\n    x: int");
}

// The source starts at the beginning of the first decorator's line, which on the first line of a
// file is offset 0, before a byte-order mark.
TEST(FeatureClasses, TheSourceOfAClassOnTheFirstLineKeepsTheByteOrderMark) {
    const auto file = must_extract("\xEF\xBB\xBF@features\nclass A:\n    x: int\n" + IMPORT);
    ASSERT_EQ(file.feature_classes.size(), 1u);
    const FeatureClassAST& a = file.feature_classes[0];
    EXPECT_TRUE(located_at(file, a.decorator_location, range(0, 1, 0, 9)));
    EXPECT_EQ(a.source, "\xEF\xBB\xBF@features\nclass A:\n    x: int\n");
}

}  // namespace

// An annotated record that agrees with its name's record in `fields` is that record; a copy of
// the file's records keeps every record readable once the original is gone.
TEST(FeatureClasses, AnnotationsShareAgreeingRecordsAndCopiesKeepThemAlive) {
    auto file = std::make_unique<ParsedAstFile>(must_extract(IMPORT + "@features\nclass U:\n"
                                                                      "    id: int\n"
                                                                      "    x: int\n"
                                                                      "    x = 5\n"
                                                                      "    id: str\n"));
    ASSERT_EQ(file->feature_classes.size(), 1u);
    const FeatureClassAST& u = file->feature_classes[0];
    ASSERT_EQ(u.annotations.size(), 3u);
    EXPECT_EQ(&u.annotations[0], &u.fields.at("id"));
    // `x = 5` changed the record in `fields`; the second `id` is not the first.
    EXPECT_NE(u.annotations[1], u.fields.at("x"));
    EXPECT_NE(u.annotations[2], u.fields.at("id"));
    const ParsedAstFile kept = *file;
    file.reset();
    const FeatureClassAST& copy = kept.feature_classes[0];
    Texts names;
    for (const FeatureFieldAST& f : copy.annotations)
        names.push_back(std::string(f.field_name));
    EXPECT_EQ(names, (Texts{"id", "x", "id"}));
    EXPECT_TRUE(located_at(kept, copy.annotations[2].annotation, range(6, 8, 6, 11)));
    EXPECT_TRUE(located_at(kept, copy.fields.at("x").feature_call, range(5, 8, 5, 9)));
}
