#include "quarn/ast/sync.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "base/panic.h"

namespace {

using quarn::ast::Mutex;
using quarn::ast::RwLock;

TEST(Mutex, APanicWhileHeldPoisonsItForGood) {
    Mutex<int> mutex(1);
    EXPECT_FALSE(mutex.lock().poisoned());
    try {
        auto guard = mutex.lock();
        *guard = 2;
        quarn::panic("failed mid-update");
    } catch (const quarn::Panic&) {
    }
    EXPECT_TRUE(mutex.is_poisoned());
    // The lock was released: taking it again does not wait, and tells about the failure.
    for (int i = 0; i < 2; ++i) {
        auto guard = mutex.lock();
        EXPECT_TRUE(guard.poisoned());
        EXPECT_EQ(*guard, 2);
    }
}

TEST(Mutex, APanicCaughtInsideTheHolderDoesNotPoison) {
    Mutex<int> mutex;
    {
        auto guard = mutex.lock();
        try {
            quarn::panic("handled");
        } catch (const quarn::Panic&) {
        }
    }
    // A guard taken and dropped while an older exception unwinds is not failed by it.
    struct LocksWhenDestroyed {
        Mutex<int>& mutex;
        ~LocksWhenDestroyed() { *mutex.lock() = 3; }
    };
    try {
        LocksWhenDestroyed locks{mutex};
        throw std::runtime_error("unwinds through the destructor");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(*mutex.lock(), 3);
    EXPECT_FALSE(mutex.is_poisoned());
}

TEST(RwLock, OnlyAWriterThatFailsPoisons) {
    RwLock<int> lock(7);
    try {
        auto reader = lock.read();
        quarn::panic("reader failed");
    } catch (const quarn::Panic&) {
    }
    EXPECT_FALSE(lock.is_poisoned());
    try {
        auto writer = lock.write();
        *writer = 8;
        quarn::panic("writer failed");
    } catch (const quarn::Panic&) {
    }
    EXPECT_TRUE(lock.read().poisoned());
    EXPECT_TRUE(lock.write().poisoned());
    EXPECT_EQ(*lock.read(), 8);
}

TEST(Mutex, SerialisesItsHolders) {
    Mutex<long> counter(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i)
                ++*counter.lock();
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(*counter.lock(), 80000);
}

}  // namespace
