// One outcome per key, computed once: the memo behind the parsed-file cache and the project
// index's typed records.
//
// A key's slot is found under the map's read lock, or inserted under its write lock after a
// second look (two threads racing for a new key share one slot). The map lock is released before
// the slot's own lock is taken, and the outcome, failures included, is computed under the slot's
// lock by the first caller: later callers wait for it and get a copy.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/result.h"
#include "quarn/ast/string_map.h"
#include "quarn/ast/sync.h"

namespace quarn::ast {

template <typename Value>
struct MemoSlot {
    // Absent until computed; never replaced afterwards.
    Mutex<std::optional<Result<Value>>> outcome;
};

template <typename Value>
class MemoMap {
  public:
    using Slot = MemoSlot<Value>;
    using Outcome = Result<Value>;

    // The failure texts of a poisoned map lock, and of a poisoned slot lock (followed by the key).
    MemoMap(std::string_view map_poisoned, std::string_view slot_poisoned_before_key)
        : map_poisoned_(map_poisoned), slot_poisoned_(slot_poisoned_before_key) {}

    // The outcome of `key`: computed by `compute()` the first time, under the slot's lock.
    template <typename Compute>
    Outcome get(std::string_view key, Compute&& compute) {
        std::shared_ptr<Slot> slot = slot_of(key);
        if (!slot) return Err(std::string(map_poisoned_));
        auto outcome = slot->outcome.lock();
        if (outcome.poisoned()) return Err(std::string(slot_poisoned_).append(key));
        if (!outcome->has_value()) outcome->emplace(std::forward<Compute>(compute)());
        return **outcome;
    }

    // Makes the slots of `keys` under one write lock, so that callers asking for them later only
    // ever read the map. Nothing is made when the map lock is poisoned.
    void add_slots(std::span<const std::string> keys) {
        auto map = slots_.write();
        if (map.poisoned()) return;
        map->reserve(map->size() + keys.size());
        for (const std::string& key : keys) {
            auto [found, inserted] = map->try_emplace(key, nullptr);
            if (inserted) found->second = std::make_shared<Slot>();
        }
    }

    // The map itself, read-only.
    auto read() { return slots_.read(); }

  private:
    // Null when the map lock is poisoned.
    std::shared_ptr<Slot> slot_of(std::string_view key) {
        {
            auto map = slots_.read();
            if (map.poisoned()) return nullptr;
            if (auto found = map->find(key); found != map->end()) return found->second;
        }
        auto map = slots_.write();
        if (map.poisoned()) return nullptr;
        // Another thread may have inserted the key between the two locks.
        auto [found, inserted] = map->try_emplace(std::string(key), nullptr);
        if (inserted) found->second = std::make_shared<Slot>();
        return found->second;
    }

    const std::string_view map_poisoned_;
    const std::string_view slot_poisoned_;
    RwLock<StringMap<std::shared_ptr<Slot>>> slots_;
};

}  // namespace quarn::ast
