// Maps and sets keyed by owned texts that can be searched with a string_view.
#pragma once

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/panic.h"
#include "base/quote.h"

namespace quarn::ast {

struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

template <typename V>
using StringMap = std::unordered_map<std::string, V, StringHash, std::equal_to<>>;

using StringSet = std::unordered_set<std::string, StringHash, std::equal_to<>>;

}  // namespace quarn::ast

namespace quarn::ast {

// Unique text keys in the order they were first inserted; a later value for a key replaces the
// earlier one in place, as in a Python dict. One flat vector searched linearly: the records'
// maps hold a handful of entries and are built once.
template <typename V>
class OrderedMap {
  public:
    using value_type = std::pair<std::string, V>;
    using const_iterator = typename std::vector<value_type>::const_iterator;

    OrderedMap() = default;
    OrderedMap(std::initializer_list<value_type> items) {
        for (const value_type& item : items)
            insert_or_assign(item.first, item.second);
    }

    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }

    const_iterator find(std::string_view key) const {
        return std::find_if(items_.begin(), items_.end(),
                            [key](const value_type& item) { return item.first == key; });
    }
    bool contains(std::string_view key) const { return find(key) != end(); }
    const V& at(std::string_view key) const {
        const auto found = find(key);
        if (found == end()) panic("no entry for the key " + debug_str(key));
        return found->second;
    }
    V* find_value(std::string_view key) {
        for (value_type& item : items_) {
            if (item.first == key) return &item.second;
        }
        return nullptr;
    }

    void reserve(size_t n) { items_.reserve(n); }
    void insert_or_assign(std::string_view key, V value) {
        if (V* existing = find_value(key)) {
            *existing = std::move(value);
        } else {
            items_.emplace_back(std::string(key), std::move(value));
        }
    }
    // Appends an entry whose key the map does not hold yet.
    void emplace_back_new(std::string key, V value) {
        items_.emplace_back(std::move(key), std::move(value));
    }
    // The value of the entry at `position`, in the map's order.
    const V& value_at(size_t position) const { return items_[position].second; }
    // The same entries, whatever their order.
    friend bool operator==(const OrderedMap& a, const OrderedMap& b) {
        if (a.size() != b.size()) return false;
        for (const value_type& item : a.items_) {
            const auto found = b.find(item.first);
            if (found == b.end() || !(found->second == item.second)) return false;
        }
        return true;
    }

  private:
    std::vector<value_type> items_;
};

}  // namespace quarn::ast
