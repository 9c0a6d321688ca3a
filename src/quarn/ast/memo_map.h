// One outcome per key, computed once: the memo behind the parsed-file cache and the project
// index's typed records.
//
// A key's slot is found under the map's read lock, or inserted under its write lock after a
// second look (two threads racing for a new key share one slot). The map lock is released before
// the slot is claimed. The first caller claims the slot and computes the outcome, failures
// included, holding no lock; later callers wait for it and get a copy.
//
// What the memo keeps is what the key's content decides. A failure of the moment (no memory, no
// file descriptor left) leaves the slot as though never computed, for the next caller to try
// again; so does a claim whose thread is missing, as in the child of a fork.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "base/result.h"
#include "quarn/ast/fork_gate.h"
#include "quarn/ast/string_map.h"
#include "quarn/ast/sync.h"

namespace quarn::ast {

// Thrown by a computation whose failure says nothing about the key, with the text a caller
// reports; the slot is left open.
class TransientFailure : public std::runtime_error {
  public:
    explicit TransientFailure(const std::string& message) : std::runtime_error(message) {}
};

template <typename Value>
class MemoSlot {
  public:
    using Outcome = Result<Value>;

    // The outcome, computed by `compute()` if nobody has. A TransientFailure or an allocation
    // failure leaves the slot open and is thrown on; any other exception poisons the slot, and
    // later callers get `poisoned` followed by the key.
    template <typename Compute>
    Outcome get(std::string_view key, std::string_view poisoned, Compute&& compute) {
        uint32_t now = state_.load(std::memory_order_acquire);
        for (;;) {
            if (now == kDone) return *outcome_;
            if (now == kPoisoned) return Err(std::string(poisoned).append(key));
            const uint32_t mine = claim();
            if (now == kOpen || (is_claim(now) && now != mine)) {
                if (state_.compare_exchange_weak(now, mine, std::memory_order_acquire)) break;
                continue;
            }
            {
                const fork_gate::Parked parked;
                state_.wait(now, std::memory_order_acquire);
            }
            now = state_.load(std::memory_order_acquire);
        }
        std::optional<Outcome> computed;
        try {
            computed.emplace(std::forward<Compute>(compute)());
        } catch (const TransientFailure&) {
            finish(kOpen);
            throw;
        } catch (const std::bad_alloc&) {
            finish(kOpen);
            throw;
        } catch (...) {
            finish(kPoisoned);
            throw;
        }
        // Moving a result allocates nothing.
        outcome_ = std::move(computed);
        finish(kDone);
        return *outcome_;
    }

  private:
    static constexpr uint32_t kOpen = 0;
    static constexpr uint32_t kDone = 1;
    static constexpr uint32_t kPoisoned = 2;
    // A claim is 3 in the low bits and the fork generation it was made in above them: a claim of
    // an older generation belongs to a thread this process does not have.
    static bool is_claim(uint32_t state) { return (state & 3) == 3; }
    static uint32_t claim() { return (fork_gate::generation() << 2) | 3; }

    void finish(uint32_t state) {
        state_.store(state, std::memory_order_release);
        state_.notify_all();
    }

    std::atomic<uint32_t> state_{kOpen};
    // Written once, by the claiming thread, before the state says done.
    std::optional<Outcome> outcome_;
};

template <typename Value>
class MemoMap {
  public:
    using Slot = MemoSlot<Value>;
    using Outcome = Result<Value>;

    // The failure texts of a poisoned map lock, and of a poisoned slot (followed by the key).
    MemoMap(std::string_view map_poisoned, std::string_view slot_poisoned_before_key)
        : map_poisoned_(map_poisoned), slot_poisoned_(slot_poisoned_before_key) {}

    // The outcome of `key`: computed by `compute()` the first time, see MemoSlot::get.
    template <typename Compute>
    Outcome get(std::string_view key, Compute&& compute) {
        std::shared_ptr<Slot> slot = slot_of(key);
        if (!slot) return Err(std::string(map_poisoned_));
        return slot->get(key, slot_poisoned_, std::forward<Compute>(compute));
    }

    // Makes the slots of `keys` under one write lock, so that callers asking for them later only
    // ever read the map. Nothing is made when the map lock is poisoned.
    void add_slots(std::span<const std::string> keys) {
        // Running out of memory here leaves the map as it was, and its lock unpoisoned.
        bool out_of_memory = false;
        {
            auto map = slots_.write();
            if (map.poisoned()) return;
            try {
                map->reserve(map->size() + keys.size());
                for (const std::string& key : keys) {
                    auto [found, inserted] = map->try_emplace(key, nullptr);
                    if (inserted) found->second = std::make_shared<Slot>();
                }
            } catch (const std::bad_alloc&) {
                out_of_memory = true;
            }
            if (out_of_memory) std::erase_if(*map, [](const auto& entry) { return !entry.second; });
        }
        if (out_of_memory) throw std::bad_alloc();
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
        // Allocated before the write lock: running out of memory under it would poison the map.
        auto fresh = std::make_shared<Slot>();
        std::string owned(key);
        std::shared_ptr<Slot> slot;
        {
            auto map = slots_.write();
            if (map.poisoned()) return nullptr;
            try {
                // Another thread may have inserted the key between the two locks.
                slot = map->try_emplace(std::move(owned), std::move(fresh)).first->second;
            } catch (const std::bad_alloc&) {
                // An insertion that fails leaves the map as it was.
            }
        }
        if (!slot) throw std::bad_alloc();
        return slot;
    }

    const std::string_view map_poisoned_;
    const std::string_view slot_poisoned_;
    RwLock<StringMap<std::shared_ptr<Slot>>> slots_;
};

}  // namespace quarn::ast
