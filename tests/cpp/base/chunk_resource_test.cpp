// The chunk cache: released chunks serve later requests of their size or less, the cache stays
// within its bounds, cached memory is poisoned under AddressSanitizer, and a forked child uses
// the cache although another thread was busy in it at the fork.
#include "base/chunk_resource.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "base/sanitizer.h"

namespace {

using quarn::Chunk;
using quarn::ChunkResource;

constexpr size_t KiB = size_t{1} << 10;

// Each case starts from an empty cache.
class ChunkCache : public ::testing::Test {
  protected:
    void SetUp() override { ChunkResource::release_cache(); }
    void TearDown() override { ChunkResource::release_cache(); }
};

TEST_F(ChunkCache, AReleasedChunkServesTheNextRequestOfItsSizeOrLess) {
    struct Case {
        size_t first, second;  // sizes taken, the first given back before the second
        size_t least;          // what the second request is content with
        bool reused;           // the second is the first chunk (mapped ones only)
        size_t second_size;    // the size of the second chunk
        size_t cached_after;   // what the cache holds once the second is taken
    };
    const Case cases[] = {
        {256 * KiB, 256 * KiB, 0, true, 256 * KiB, 0},
        // Rounded up to whole pages, and served by the same chunk.
        {200 * KiB + 1, 200 * KiB + 100, 0, true, 204 * KiB, 0},
        // A larger chunk is cut: the request gets its pages, the rest stays cached.
        {512 * KiB, 128 * KiB, 0, true, 128 * KiB, 384 * KiB},
        // A rest too small to keep stays with the chunk.
        {136 * KiB, 128 * KiB, 0, true, 136 * KiB, 0},
        {128 * KiB, 256 * KiB, 0, false, 256 * KiB, 128 * KiB},
        // A smaller chunk serves a request content with that much, and is not cut.
        {128 * KiB, 256 * KiB, 64 * KiB, true, 128 * KiB, 0},
        {128 * KiB, 256 * KiB, 192 * KiB, false, 256 * KiB, 128 * KiB},
        // Small requests come from malloc and never meet the cache, even just below the size
        // that is mapped.
        {256 * KiB, 8 * KiB, 0, false, 8 * KiB, 256 * KiB},
        {ChunkResource::MAPPED - 1, ChunkResource::MAPPED - 1, 0, false, ChunkResource::MAPPED - 1,
         0},
        {ChunkResource::MAPPED, ChunkResource::MAPPED, 0, true, ChunkResource::MAPPED, 0},
        {ChunkResource::MAPPED - 1, ChunkResource::MAPPED, 0, false, ChunkResource::MAPPED, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << " then " << c.second);
        ChunkResource::release_cache();
        const size_t in_use = ChunkResource::bytes_in_use();
        const Chunk first = ChunkResource::take(c.first);
        std::memset(first.data, 0xab, c.first);
        ChunkResource::give_back(first);
        EXPECT_EQ(ChunkResource::bytes_in_use(), in_use);
        const Chunk second = ChunkResource::take(c.second, c.least);
        EXPECT_EQ(first.mapped, c.first >= ChunkResource::MAPPED);
        EXPECT_EQ(second.mapped, c.second >= ChunkResource::MAPPED);
        if (first.mapped && second.mapped) {
            EXPECT_EQ(second.data == first.data, c.reused);
        }
        EXPECT_EQ(second.size, c.second_size);
        EXPECT_EQ(ChunkResource::bytes_cached(), c.cached_after);
        EXPECT_EQ(ChunkResource::bytes_in_use(), in_use + second.size);
        std::memset(second.data, 0xcd, second.size);
        ChunkResource::give_back(second);
    }
}

TEST_F(ChunkCache, TheSmallestFittingChunkIsTaken) {
    const Chunk big = ChunkResource::take(1024 * KiB);
    const Chunk fit = ChunkResource::take(192 * KiB);
    const Chunk small = ChunkResource::take(128 * KiB);
    for (const Chunk& c : {big, fit, small})
        ChunkResource::give_back(c);
    const Chunk taken = ChunkResource::take(184 * KiB);
    EXPECT_EQ(taken.data, fit.data);
    EXPECT_EQ(taken.size, 192 * KiB);
    EXPECT_EQ(ChunkResource::bytes_cached(), (1024 + 128) * KiB);
    ChunkResource::give_back(taken);
}

TEST_F(ChunkCache, KeepsNoMoreThanItsBytesAndSlots) {
    struct Case {
        size_t chunk, count;
        size_t cached;
    };
    const Case cases[] = {
        // Bound by bytes: 8 MiB of 1 MiB chunks.
        {1024 * KiB, 12, ChunkResource::CACHE_BYTES},
        // Bound by slots: 64 chunks of 64 KiB are 4 MiB.
        {64 * KiB, 100, ChunkResource::CACHE_SLOTS * 64 * KiB},
        {ChunkResource::MAPPED, 100, ChunkResource::CACHE_SLOTS * ChunkResource::MAPPED},
        // A chunk larger than the whole cache is never kept.
        {ChunkResource::CACHE_BYTES + 64 * KiB, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " chunks of " << c.chunk);
        ChunkResource::release_cache();
        std::vector<Chunk> chunks;
        for (size_t i = 0; i < c.count; ++i)
            chunks.push_back(ChunkResource::take(c.chunk));
        for (const Chunk& chunk : chunks)
            ChunkResource::give_back(chunk);
        EXPECT_EQ(ChunkResource::bytes_cached(), c.cached);
        // What is kept is whole and usable again.
        std::vector<Chunk> again;
        for (size_t i = 0; i < c.count; ++i) {
            again.push_back(ChunkResource::take(c.chunk));
            std::memset(again.back().data, 1, c.chunk);
        }
        EXPECT_EQ(ChunkResource::bytes_cached(), 0u);
        for (const Chunk& chunk : again)
            ChunkResource::give_back(chunk);
    }
}

TEST_F(ChunkCache, ShrinkingGivesBackTheUnusedEnd) {
    struct Case {
        size_t size, used;
        size_t kept;
        size_t cached;
    };
    const Case cases[] = {
        {1024 * KiB, 100 * KiB + 1, 104 * KiB, 920 * KiB},
        // A mapped chunk keeps at least the mapping size.
        {128 * KiB, 10, 16 * KiB, 112 * KiB},
        {40 * KiB, 10, 16 * KiB, 24 * KiB},
        {40 * KiB, 16 * KiB + 1, 20 * KiB, 20 * KiB},
        // Under four pages are not worth it.
        {256 * KiB, 244 * KiB + 1, 256 * KiB, 0},
        // Malloc'd chunks stay as they are.
        {8 * KiB, 10, 8 * KiB, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " using " << c.used);
        ChunkResource::release_cache();
        const size_t in_use = ChunkResource::bytes_in_use();
        Chunk chunk = ChunkResource::take(c.size);
        std::memset(chunk.data, 7, chunk.size);
        chunk.size = ChunkResource::shrink(chunk, c.used);
        EXPECT_EQ(chunk.size, c.kept);
        EXPECT_EQ(ChunkResource::bytes_cached(), c.cached);
        EXPECT_EQ(ChunkResource::bytes_in_use(), in_use + c.kept);
        std::memset(chunk.data, 8, chunk.size);
        ChunkResource::give_back(chunk);
        EXPECT_EQ(ChunkResource::bytes_in_use(), in_use);
    }
}

TEST_F(ChunkCache, ThreadsTakeAndGiveBackSideBySide) {
    std::vector<std::thread> threads;
    std::atomic<int> bad{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&bad, t] {
            for (int i = 0; i < 2000; ++i) {
                const size_t bytes = (64 + 16 * ((i + t) % 8)) * KiB;
                const Chunk chunk = ChunkResource::take(bytes);
                // Nobody else writes into a chunk while it is taken.
                auto* words = static_cast<int*>(chunk.data);
                const size_t n = bytes / sizeof(int);
                words[0] = t;
                words[n - 1] = i;
                std::this_thread::yield();
                if (words[0] != t || words[n - 1] != i) ++bad;
                ChunkResource::give_back(chunk);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_LE(ChunkResource::bytes_cached(), ChunkResource::CACHE_BYTES);
}

// A child of fork() reuses what the parent cached, although another thread was taking and giving
// back chunks when the process forked.
TEST_F(ChunkCache, AForkedChildUsesTheCacheWhileAnotherThreadWasInIt) {
    const Chunk kept = ChunkResource::take(256 * KiB);
    std::memset(kept.data, 0x5a, kept.size);
    ChunkResource::give_back(kept);
    std::atomic<bool> stop{false};
    std::thread busy([&stop] {
        while (!stop.load()) {
            const Chunk chunk = ChunkResource::take(512 * KiB);
            static_cast<char*>(chunk.data)[0] = 1;
            ChunkResource::give_back(chunk);
        }
    });
    for (int round = 0; round < 5; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(20);  // a hang ends the child
            const Chunk again = ChunkResource::take(256 * KiB);
            // The parent's chunk, with its bytes (the busy thread only ever fits a larger one).
            const bool same = again.data == kept.data;
            const bool filled =
                same && static_cast<unsigned char*>(again.data)[kept.size - 1] == 0x5a;
            std::memset(again.data, 1, again.size);
            ChunkResource::give_back(again);
            _exit(filled ? 0 : 3);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    stop = true;
    busy.join();
}

#if QUARN_ASAN
TEST_F(ChunkCache, ACachedChunkIsPoisoned) {
    const Chunk chunk = ChunkResource::take(256 * KiB);
    auto* bytes = static_cast<volatile char*>(chunk.data);
    bytes[100] = 1;
    ChunkResource::give_back(chunk);
    EXPECT_DEATH(bytes[100] = 2, "use-after-poison");
    // Taken again, it is usable.
    const Chunk again = ChunkResource::take(256 * KiB);
    ASSERT_EQ(again.data, chunk.data);
    bytes[100] = 3;
    ChunkResource::give_back(again);
}
#endif

}  // namespace
