// Indentation levels: a column with tab stops every 2 and a count of whitespace characters.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>

#include "rudo/python_parser/persistent_stack.h"

namespace rudo::python_parser {

struct Indentation {
    uint32_t column = 0;
    uint32_t character = 0;

    static constexpr uint32_t MAX = std::numeric_limits<uint32_t>::max();

    // Counts saturate: a line of billions of tabs must not wrap around to a small level.
    constexpr Indentation add_space() const {
        return {column == MAX ? MAX : column + 1, character == MAX ? MAX : character + 1};
    }
    constexpr Indentation add_spaces(uint32_t n) const {
        return {column > MAX - n ? MAX : column + n, character > MAX - n ? MAX : character + n};
    }
    constexpr Indentation add_tab() const {
        uint32_t cleared = column & ~uint32_t{1};
        return {cleared >= MAX - 2 ? MAX : cleared + 2, character == MAX ? MAX : character + 1};
    }
    constexpr bool is_root() const { return column == 0 && character == 0; }

    // Less, equal or greater when the column and the character count agree; nullopt when they
    // disagree (two spaces against one tab at the same column).
    enum class Order : uint8_t { Less, Equal, Greater };
    constexpr std::optional<Order> compare(Indentation other) const {
        Order by_column = column < other.column   ? Order::Less
                          : column > other.column ? Order::Greater
                                                  : Order::Equal;
        Order by_character = character < other.character   ? Order::Less
                             : character > other.character ? Order::Greater
                                                           : Order::Equal;
        if (by_column != by_character) return std::nullopt;
        return by_column;
    }

    friend constexpr bool operator==(Indentation, Indentation) = default;
};

// The open indentation levels; the root level is implicit and never stored.
class Indentations {
  public:
    Indentation current() const { return stack_.empty() ? Indentation{} : stack_.top(); }
    void push(Indentation indentation) { stack_.push(indentation); }
    void pop() { stack_.pop(); }
    bool empty() const { return stack_.empty(); }
    size_t size() const { return stack_.size(); }

  private:
    PersistentStack<Indentation> stack_;
};

}  // namespace rudo::python_parser
