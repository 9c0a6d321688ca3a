// Deep and long inputs: the parser ends with the depth error or a tree, never with a crash, also
// on a thread whose stack is only 1 MiB.
#include <pthread.h>

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "rudo/python_parser/parser/parse.h"
#include "rudo/python_parser/parser/parser.h"

namespace {

using namespace rudo::python_parser;

// Runs `body` on a thread with a `stack_size` stack; an escaping exception fails the test.
void run_with_stack(size_t stack_size, const std::function<void()>& body) {
    struct Job {
        const std::function<void()>* body;
        std::string failure;
    } job{&body, {}};
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, stack_size), 0);
    pthread_t thread;
    const int created = pthread_create(
        &thread, &attr,
        [](void* arg) -> void* {
            auto* job = static_cast<Job*>(arg);
            try {
                (*job->body)();
            } catch (const std::exception& e) {
                job->failure = e.what();
            }
            return nullptr;
        },
        &job);
    pthread_attr_destroy(&attr);
    ASSERT_EQ(created, 0);
    pthread_join(thread, nullptr);
    EXPECT_EQ(job.failure, "");
}

std::string repeat(std::string_view text, size_t count) {
    std::string out;
    out.reserve(text.size() * count);
    for (size_t i = 0; i < count; ++i)
        out += text;
    return out;
}

enum class Outcome {
    Tree,     // parses without an error
    TooDeep,  // the first error is the depth error
};

struct Case {
    std::string_view name;
    std::string source;
    Outcome outcome;
};

std::vector<Case> cases() {
    std::vector<Case> out;
    out.push_back({"100000 (", repeat("(", 100'000), Outcome::TooDeep});
    out.push_back({"100000 [", repeat("[", 100'000), Outcome::TooDeep});
    out.push_back({"100000 {", repeat("{", 100'000), Outcome::TooDeep});
    out.push_back(
        {"closed parens", repeat("(", 100'000) + "a" + repeat(")", 100'000), Outcome::TooDeep});
    out.push_back({"unary chain", repeat("-", 100'000) + "a\n", Outcome::TooDeep});
    out.push_back({"not chain", repeat("not ", 100'000) + "a\n", Outcome::TooDeep});
    out.push_back({"await chain", repeat("await ", 100'000) + "a\n", Outcome::TooDeep});
    out.push_back({"power chain", "a" + repeat("**a", 100'000) + "\n", Outcome::TooDeep});
    out.push_back(
        {"conditional chain", "a" + repeat(" if a else a", 100'000) + "\n", Outcome::TooDeep});
    out.push_back({"lambda chain", repeat("lambda: ", 100'000) + "a\n", Outcome::TooDeep});
    out.push_back({"starred chain", repeat("*(", 100'000) + "a" + repeat(")", 100'000) + "\n",
                   Outcome::TooDeep});
    out.push_back({"calls", repeat("f(", 100'000) + repeat(")", 100'000) + "\n", Outcome::TooDeep});
    out.push_back({"subscripts", repeat("a[", 100'000) + "0" + repeat("]", 100'000) + "\n",
                   Outcome::TooDeep});
    out.push_back(
        {"f-strings", repeat("f'{", 2'000) + "a" + repeat("}'", 2'000) + "\n", Outcome::TooDeep});
    out.push_back({"sum of a million terms", "a" + repeat("+a", 1'000'000) + "\n", Outcome::Tree});
    out.push_back({"comparison chain", "a" + repeat("<a", 1'000'000) + "\n", Outcome::Tree});
    out.push_back({"boolean chain", "a" + repeat(" or a", 500'000) + "\n", Outcome::Tree});
    out.push_back({"attribute chain", "a" + repeat(".a", 1'000'000) + "\n", Outcome::Tree});
    out.push_back({"string concatenation", repeat("'a' ", 500'000) + "\n", Outcome::Tree});
    out.push_back({"nested blocks",
                   [] {
                       std::string s;
                       for (int i = 0; i < 2500; ++i)
                           s += std::string(i, ' ') + "if a:\n";
                       return s + std::string(2500, ' ') + "pass\n";
                   }(),
                   Outcome::TooDeep});
    out.push_back({"elif chain", "if a:\n    pass\n" + repeat("elif a:\n    pass\n", 100'000),
                   Outcome::Tree});
    out.push_back({"nested lists in patterns",
                   "match a:\n    case " + repeat("[", 100'000) + ":\n        pass\n",
                   Outcome::TooDeep});
    out.push_back({"250 nested parentheses", repeat("(", 250) + "a" + repeat(")", 250) + "\n",
                   Outcome::Tree});
    out.push_back(
        {"250 nested lists", repeat("[", 250) + "a" + repeat("]", 250) + "\n", Outcome::Tree});
    return out;
}

void check(const Case& c) {
    Parsed parsed = parse_module_unchecked(c.source);
    switch (c.outcome) {
        case Outcome::Tree:
            EXPECT_TRUE(parsed.errors.empty()) << c.name << ": " << parsed.errors.front().display();
            break;
        case Outcome::TooDeep:
            ASSERT_FALSE(parsed.errors.empty()) << c.name;
            EXPECT_EQ(parsed.errors.front().error.message(), NESTED_TOO_DEEPLY) << c.name;
            break;
    }
}

TEST(DeepInput, EndsWithTheDepthErrorOrATree) {
    for (const auto& c : cases())
        check(c);
}

TEST(DeepInput, EndsOnAOneMebibyteStack) {
    for (const auto& c : cases()) {
        SCOPED_TRACE(c.name);
        run_with_stack(size_t{1} << 20, [&] { check(c); });
    }
}

}  // namespace
