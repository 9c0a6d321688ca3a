// Which sanitizer a build runs under, in one pair of macros whatever the compiler's own spelling
// (GCC defines __SANITIZE_*__, clang answers __has_feature): QUARN_ASAN is 1 in an
// AddressSanitizer build and QUARN_TSAN in a ThreadSanitizer build, each 0 otherwise. An
// AddressSanitizer build also gets the manual poisoning interface.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define QUARN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARN_ASAN 1
#endif
#endif
#ifndef QUARN_ASAN
#define QUARN_ASAN 0
#endif

#if defined(__SANITIZE_THREAD__)
#define QUARN_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUARN_TSAN 1
#endif
#endif
#ifndef QUARN_TSAN
#define QUARN_TSAN 0
#endif

#define QUARN_SANITIZED (QUARN_ASAN || QUARN_TSAN)

#if QUARN_ASAN
#include <sanitizer/asan_interface.h>
#endif
