// The memory of the records and the maps and lists written into it.
#include "quarn/ast/ast_types.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using quarn::ast::FlatMap;
using quarn::ast::FlatMapWriter;
using quarn::ast::ItemsWriter;
using quarn::ast::RecordArena;

std::vector<std::pair<std::string, int>> entries(const FlatMap<int>& map) {
    std::vector<std::pair<std::string, int>> out;
    for (const auto& [key, value] : map)
        out.emplace_back(key, value);
    return out;
}

// As a Python dict: first insertion fixes the place, a later value replaces the earlier in place;
// the same past the size where keys are found through a hash table.
TEST(FlatMapWriter, KeepsFirstInsertionOrderAndReplacesInPlace) {
    for (const size_t extra : {size_t{0}, size_t{20}}) {
        SCOPED_TRACE(extra);
        const auto arena = RecordArena::for_file();
        std::vector<std::string> keys;
        for (size_t k = 0; k < extra; ++k)
            keys.push_back(std::string("k").append(std::to_string(k)));
        FlatMapWriter<int> writer(*arena, 5 + extra);
        writer.insert_or_assign("b", 1);
        writer.insert_or_assign("a", 2);
        for (const std::string& key : keys)
            writer.insert_or_assign(arena->text(key), 0);
        writer.insert_or_assign("b", 3);
        writer.insert_or_assign("c", 4);
        writer.insert_or_assign("a", 5);
        const FlatMap<int> map = writer.done();
        std::vector<std::pair<std::string, int>> expected = {{"b", 3}, {"a", 5}};
        for (const std::string& key : keys)
            expected.emplace_back(key, 0);
        expected.emplace_back("c", 4);
        EXPECT_EQ(entries(map), expected);
        EXPECT_EQ(map.at("a"), 5);
        EXPECT_TRUE(map.contains("c"));
        EXPECT_FALSE(map.contains("d"));
    }
}

// A missing key or a write past the room taken is a broken invariant of the caller: a panic.
TEST(FlatMapWriter, MisuseIsAPanic) {
    const auto arena = RecordArena::for_file();
    FlatMapWriter<int> writer(*arena, 1);
    writer.insert_or_assign("a", 1);
    writer.insert_or_assign("a", 2);
    EXPECT_THROW(writer.insert_or_assign("b", 3), quarn::Panic);
    EXPECT_THROW((void)writer.done().at("b"), quarn::Panic);
    EXPECT_THROW((void)FlatMap<int>().at(""), quarn::Panic);
    ItemsWriter<int> list(*arena, 0);
    EXPECT_THROW(list.push_back(1), quarn::Panic);
}

// Threads writing into one arena at once each get memory of their own, small and large requests
// alike, and every text stays as written until the arena goes.
TEST(RecordArena, ThreadsWriteApartAndTextsStay) {
    for (const bool index : {true, false}) {
        const auto arena = index ? RecordArena::for_index() : RecordArena::for_file();
        constexpr int THREADS = 4;
        constexpr int TEXTS = 2000;
        std::vector<std::vector<std::string_view>> written(THREADS);
        std::vector<std::thread> threads;
        for (int t = 0; t < THREADS; ++t) {
            threads.emplace_back([&, t] {
                for (int k = 0; k < TEXTS; ++k) {
                    // Every 500th text is larger than a slab.
                    const size_t size = k % 500 == 0 ? 40000 : 1 + k % 37;
                    written[t].push_back(
                        arena->text(std::string(size, static_cast<char>('a' + t))));
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        for (int t = 0; t < THREADS; ++t) {
            for (int k = 0; k < TEXTS; ++k) {
                const size_t size = k % 500 == 0 ? 40000 : 1 + k % 37;
                ASSERT_EQ(written[t][k], std::string(size, static_cast<char>('a' + t)));
            }
        }
        EXPECT_GE(arena->bytes_reserved(), size_t{THREADS} * 4 * 40000);
    }
}

// A request of more than half a chunk takes a block of its own: the current chunk's room is
// left to the slabs after it instead of being given up for a new chunk.
TEST(RecordArena, ALargeRequestLeavesTheChunkToTheRequestsAfterIt) {
    // Chunks of 4 KiB, slabs of 1 KiB; texts are aligned to 1.
    RecordArena arena(4096, 1024);
    const std::string_view first = arena.text(std::string(100, 'a'));
    EXPECT_EQ(arena.bytes_reserved(), 4096u);
    const std::string_view large = arena.text(std::string(3500, 'b'));
    EXPECT_EQ(arena.bytes_reserved(), 4096u + 3501u);
    // Two more requests still fit in the first chunk.
    const std::string_view second = arena.text(std::string(1000, 'c'));
    const std::string_view third = arena.text(std::string(1000, 'd'));
    EXPECT_EQ(arena.bytes_reserved(), 4096u + 3501u);
    EXPECT_EQ(first, std::string(100, 'a'));
    EXPECT_EQ(large, std::string(3500, 'b'));
    EXPECT_EQ(second, std::string(1000, 'c'));
    EXPECT_EQ(third, std::string(1000, 'd'));
}

// Two arenas used in turn by one thread never hand out each other's memory.
TEST(RecordArena, ArenasUsedInTurnStayApart) {
    auto first = RecordArena::for_file();
    const auto second = RecordArena::for_file();
    const std::string_view a = first->text("first");
    const std::string_view b = second->text("second");
    const std::string_view c = first->text("third");
    first.reset();
    const std::string_view d = second->text("fourth");
    EXPECT_EQ(b, "second");
    EXPECT_EQ(d, "fourth");
    EXPECT_NE(a.data(), c.data());
}

}  // namespace
