// The date and time parsers must not allocate when they succeed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "quarn/utils/isodate.h"

namespace {
thread_local size_t allocations = 0;
}  // namespace

void* operator new(size_t size) {
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

namespace {

using namespace quarn::utils;

// Allocations made while `f` runs on this thread.
template <typename F>
size_t allocations_of(F&& f) {
    const size_t before = allocations;
    f();
    return allocations - before;
}

TEST(NoAllocation, SuccessfulParses) {
    // The counter sees the message a failure builds, so zero below means none was made.
    ASSERT_GT(allocations_of([] { EXPECT_FALSE(parse_date("not a date").ok()); }), 0u);

    const std::vector<std::string> dates = {"20", "2024-01-05", "20240105", "2020-W53-7",
                                            "2024-366"};
    const std::vector<std::string> times = {"12:30:45",   "T12:30:45.5+05:30",
                                            "123045,25Z", "12.00000000125",
                                            "1230-0800",  "12:00:00." + std::string(60, '9')};
    const std::vector<std::string> datetimes = {"2024-01-05T10:30:00+05:30",
                                                "2024-01-05 10:30",
                                                " 2024-01-05 ",
                                                "Jan 5 2024",
                                                "5 January, 2024 10:30:15.25Z",
                                                "Jan 5 2024 9:30 pm",
                                                "Jan 5 2024 10:30 +05:00",
                                                "10:30"};
    const std::vector<std::string> durations = {"P1DT2H", "-PT1.5S", "P1W2DT3H4M5,5S", "P1Y"};
    for (const auto& s : dates) {
        EXPECT_EQ(allocations_of([&] { EXPECT_TRUE(parse_date(s).ok()); }), 0u) << s;
    }
    for (const auto& s : times) {
        EXPECT_EQ(allocations_of([&] { EXPECT_TRUE(parse_time(s).ok()); }), 0u) << s;
    }
    for (const auto& s : datetimes) {
        EXPECT_EQ(allocations_of([&] {
                      EXPECT_TRUE(parse_datetime_with_default_date(s, IsoDate{2000, 1, 1}).ok());
                  }),
                  0u)
            << s;
    }
    for (const auto& s : durations) {
        EXPECT_EQ(allocations_of([&] { EXPECT_TRUE(parse_duration(s).ok()); }), 0u) << s;
    }
}

}  // namespace
