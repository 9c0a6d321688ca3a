#include "quarn/utils/namespace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using quarn::utils::build_namespaced_name;
using quarn::utils::to_snake_case;

struct SnakeCase {
    const char* name;
    const char* expected;
};

const SnakeCase SNAKE_CASES[] = {
    {"CamelCase", "camel_case"},
    {"XMLParser", "xml_parser"},
    // The r before Code is consumed by the XMLParser match, so the third rewrite splits rC.
    {"getXMLParserCode", "get_xml_parser_code"},
    {"ABCDef", "abc_def"},
    {"already_snake", "already_snake"},
    {"abc_123_x", "abc_123_x"},
    {"Version2Name", "version2_name"},
    {"v2X", "v2_x"},
    {"", ""},
    {"Name", "name"},
    {"A", "a"},
    {"HTTP", "http"},
    // A doubled underscore before a capital collapses to one after the first rewrite added one.
    {"My__Name", "my__name"},
    {"__Private", "__private"},
    // The second rewrite alone, and after the first one added an underscore.
    {"A__B", "a_b"},
    {"a_Bc", "a_bc"},
    // `.` does not match a line feed.
    {"a\nBc", "a\nbc"},
    // Only ASCII letters are split; every letter is lower-cased.
    {"ÄpfelBaum", "äpfel_baum"},
    {"éA", "éa"},
    {"éBc", "é_bc"},
    {"xÉa", "xéa"},
    // Full mapping: final sigma, and a capital that lower-cases to two characters.
    {"ΟΔΟΣ", "οδος"},
    {"ΣΑΣ Σ", "σας σ"},
    {"İ", "i\u0307"},
};

TEST(ToSnakeCase, Table) {
    for (const SnakeCase& c : SNAKE_CASES) {
        EXPECT_EQ(to_snake_case(c.name), c.expected) << c.name;
    }
}

TEST(ToSnakeCase, InvalidUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(to_snake_case("\xff"
                            "Ab"),
              "\uFFFD"
              "ab");
}

// Texts too long for the Unicode library's 32-bit lengths are lowered in pieces; small pieces
// show that the cuts change nothing.
TEST(ToSnakeCase, LowerCasingInPiecesMatchesTheWholeText) {
    std::string words, lowered_words, letters, lowered_letters;
    for (int i = 0; i < 20; ++i) {
        // The first sigma is followed by a case-ignorable "." and a letter, so it is not final:
        // a cut after the "." would make it final.
        words += "ΑΣ.Σ ΟΔΟΣ ";
        lowered_words += "ασ.ς οδος ";
        // No ASCII byte at all: the cuts fall between characters.
        letters += "ÄÖÜ";
        lowered_letters += "äöü";
    }
    for (size_t piece = 1; piece <= 64; ++piece) {
        EXPECT_EQ(quarn::utils::detail::to_lower_in_pieces(letters, piece), lowered_letters)
            << piece;
        // From 18 bytes on, the second half of every piece holds a space.
        if (piece >= 18) {
            EXPECT_EQ(quarn::utils::detail::to_lower_in_pieces(words, piece), lowered_words)
                << piece;
        }
    }
}

// Each test runs in its own process under ctest, so this is the patterns' real first use.
TEST(ToSnakeCase, FirstUseFromManyThreads) {
    constexpr int THREADS = 16;
    std::latch start(THREADS);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&] {
            start.arrive_and_wait();
            for (int round = 0; round < 50; ++round) {
                for (const SnakeCase& c : SNAKE_CASES) {
                    if (to_snake_case(c.name) != c.expected) ++mismatches;
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

struct NamespacedCase {
    std::optional<std::string_view> namespace_;
    std::optional<std::string_view> name;
    const char* expected;
};

TEST(BuildNamespacedName, Table) {
    const NamespacedCase cases[] = {
        {"MyTeam::UserFeatures", "Email", "my_team::user_features::Email"},
        {"::A::::B:", std::nullopt, "a::b:"},
        {":::A", std::nullopt, ":a"},
        {std::nullopt, "x", "x"},
        {std::nullopt, std::nullopt, ""},
        {std::nullopt, "", ""},
        {"", "", ""},
        {"::", std::nullopt, ""},
        {"::::", "n", "n"},
        {"Team", "", "team"},
        {"Team", std::nullopt, "team"},
        // The name is appended whole: no splitting, no conversion.
        {"A", "B::CamelCase", "a::B::CamelCase"},
        {std::nullopt, "::", "::"},
    };
    for (const NamespacedCase& c : cases) {
        EXPECT_EQ(build_namespaced_name(c.namespace_, c.name), c.expected)
            << (c.namespace_ ? std::string(*c.namespace_) : "<none>") << " / "
            << (c.name ? std::string(*c.name) : "<none>");
    }
}

}  // namespace
