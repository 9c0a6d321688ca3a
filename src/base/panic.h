// Internal-invariant failures.
//
// A check that no input can break ends the current operation through panic(): the message is
// carried by quarn::Panic, which the extension module's boundary turns into PanicException and
// worker threads catch, so the process itself never terminates. Core code never catches it.
//
// A message says in lower case what went wrong, without a closing period ("zone name \"+05:300\"
// is too long"); a condition that does not hold goes through assertion_failed() and code that no
// input reaches through unreachable(); the texts the module documents for its invariants are kept
// word for word.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace quarn {

class Panic : public std::runtime_error {
  public:
    explicit Panic(const std::string& message) : std::runtime_error(message) {}
};

[[noreturn]] inline void panic(std::string_view message) {
    throw Panic(std::string(message));
}

// "assertion failed: {}": a condition the code relies on does not hold.
[[noreturn]] inline void assertion_failed(std::string_view condition) {
    std::string message = "assertion failed: ";
    message += condition;
    panic(message);
}

// "internal error: entered unreachable code: {}"
[[noreturn]] inline void unreachable(std::string_view detail = {}) {
    std::string message = "internal error: entered unreachable code";
    if (!detail.empty()) {
        message += ": ";
        message += detail;
    }
    panic(message);
}

}  // namespace quarn
