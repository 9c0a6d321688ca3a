#include "rudo/python_ast/int.h"

#include "base/panic.h"

namespace rudo::python_ast {

quarn::Result<Int, ParseIntError> Int::from_str_radix(std::string_view digits, uint32_t radix,
                                                      std::string_view text) {
    if (radix < 2 || radix > 36) quarn::panic("from_str_radix: radix must lie in 2..36");
    if (digits.empty()) return quarn::Err(ParseIntError{IntErrorKind::Empty});
    if (digits.front() == '+') {
        digits.remove_prefix(1);
        if (digits.empty()) return quarn::Err(ParseIntError{IntErrorKind::InvalidDigit});
    }
    uint64_t value = 0;
    bool overflowed = false;
    for (char c : digits) {
        uint32_t d;
        if (c >= '0' && c <= '9') {
            d = static_cast<uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'z') {
            d = static_cast<uint32_t>(c - 'a') + 10;
        } else if (c >= 'A' && c <= 'Z') {
            d = static_cast<uint32_t>(c - 'A') + 10;
        } else {
            return quarn::Err(ParseIntError{IntErrorKind::InvalidDigit});
        }
        if (d >= radix) return quarn::Err(ParseIntError{IntErrorKind::InvalidDigit});
        // Keep validating the remaining digits once the value no longer fits.
        if (!overflowed && (__builtin_mul_overflow(value, uint64_t{radix}, &value) ||
                            __builtin_add_overflow(value, uint64_t{d}, &value))) {
            overflowed = true;
        }
    }
    if (overflowed) return Int::big(std::string(text));
    return Int::small(value);
}

}  // namespace rudo::python_ast
