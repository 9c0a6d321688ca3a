#include "quarn/ast/string_map.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using quarn::ast::OrderedMap;

std::vector<std::pair<std::string, int>> entries(const OrderedMap<int>& map) {
    return {map.begin(), map.end()};
}

// As a Python dict: first insertion fixes the place, a later value replaces the earlier in place.
TEST(OrderedMap, KeepsFirstInsertionOrderAndReplacesInPlace) {
    OrderedMap<int> map{{"b", 1}, {"a", 2}, {"b", 3}};
    map.insert_or_assign("c", 4);
    map.insert_or_assign("a", 5);
    const std::vector<std::pair<std::string, int>> expected = {{"b", 3}, {"a", 5}, {"c", 4}};
    EXPECT_EQ(entries(map), expected);
    EXPECT_EQ(map.at("a"), 5);
    EXPECT_TRUE(map.contains("c"));
    EXPECT_FALSE(map.contains("d"));
}

// A missing key is a broken invariant of the caller: a panic, never an exception of another kind.
TEST(OrderedMap, AtAMissingKeyPanics) {
    const OrderedMap<int> map{{"a", 1}};
    EXPECT_THROW((void)map.at("b"), quarn::Panic);
    EXPECT_THROW((void)OrderedMap<int>().at(""), quarn::Panic);
}

}  // namespace
