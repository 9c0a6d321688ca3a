// The records the definition extraction reports. They are compact views: texts, lists and maps
// live in a RecordArena that the file's records (ParsedAstFile) keep alive, and a copy of a
// record is a copy of the view. Nothing in them is ever changed once written. Callers may rely
// on no order of the maps; they keep source order (keyword arguments as written, fields in
// declaration order), which Python users read most easily.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <ranges>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "base/panic.h"
#include "base/quote.h"
#include "quarn/ast/location.h"
#include "quarn/ast/record_arena.h"

namespace quarn::ast {

// A text of a record, held by the arena of its records.
using Text = std::string_view;

// A fixed list of a record, held by the arena of its records.
template <typename T>
class Items {
  public:
    using value_type = T;
    using const_iterator = const T*;
    using iterator = const T*;

    Items() = default;
    Items(const T* data, size_t size) : data_(data), size_(static_cast<uint32_t>(size)) {}

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }
    const T& operator[](size_t i) const { return data_[i]; }
    const T& front() const { return data_[0]; }
    const T& back() const { return data_[size_ - 1]; }

    template <std::ranges::sized_range R>
    friend bool operator==(const Items& a, const R& b) {
        if (a.size() != std::ranges::size(b)) return false;
        auto other = std::ranges::begin(b);
        for (const T& item : a) {
            if (!(item == *other)) return false;
            ++other;
        }
        return true;
    }

  private:
    const T* data_ = nullptr;
    uint32_t size_ = 0;
};

// Records held elsewhere (in a map or list of the same arena), listed in an order of their own.
template <typename Record>
class RecordList {
  public:
    class const_iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Record;
        using difference_type = std::ptrdiff_t;
        using pointer = const Record*;
        using reference = const Record&;

        const_iterator() = default;
        explicit const_iterator(const Record* const* at) : at_(at) {}
        const Record& operator*() const { return **at_; }
        const Record* operator->() const { return *at_; }
        const_iterator& operator++() {
            ++at_;
            return *this;
        }
        const_iterator operator++(int) { return const_iterator(at_++); }
        friend bool operator==(const const_iterator&, const const_iterator&) = default;

      private:
        const Record* const* at_ = nullptr;
    };
    using value_type = Record;
    using iterator = const_iterator;

    RecordList() = default;
    explicit RecordList(Items<const Record*> refs) : refs_(refs) {}

    size_t size() const { return refs_.size(); }
    bool empty() const { return refs_.empty(); }
    const Record& operator[](size_t i) const { return *refs_[i]; }
    const_iterator begin() const { return const_iterator(refs_.begin()); }
    const_iterator end() const { return const_iterator(refs_.end()); }

    friend bool operator==(const RecordList& a, const RecordList& b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i) {
            if (!(a[i] == b[i])) return false;
        }
        return true;
    }

  private:
    Items<const Record*> refs_;
};

// Unique text keys with their values, in the order the keys were first given.
template <typename V>
class FlatMap {
  public:
    struct Entry {
        Text first;
        V second;
        friend bool operator==(const Entry&, const Entry&) = default;
    };
    using value_type = Entry;
    using const_iterator = const Entry*;
    using iterator = const Entry*;

    FlatMap() = default;
    explicit FlatMap(Items<Entry> entries) : entries_(entries) {}

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const Entry* begin() const { return entries_.begin(); }
    const Entry* end() const { return entries_.end(); }

    // A linear search: the records' maps are small and read whole far more often.
    const Entry* find(std::string_view key) const {
        for (const Entry& entry : entries_) {
            if (entry.first == key) return &entry;
        }
        return end();
    }
    bool contains(std::string_view key) const { return find(key) != end(); }
    const V& at(std::string_view key) const {
        const Entry* found = find(key);
        if (found == end()) panic("no entry for the key " + debug_str(key));
        return found->second;
    }

    // The same entries, whatever their order.
    friend bool operator==(const FlatMap& a, const FlatMap& b) {
        if (a.size() != b.size()) return false;
        for (const Entry& entry : a) {
            const Entry* found = b.find(entry.first);
            if (found == b.end() || !(found->second == entry.second)) return false;
        }
        return true;
    }

  private:
    Items<Entry> entries_;
};

// A map being written: room for at most `capacity` entries taken once from the arena. A later
// value for a key replaces the earlier one in place, as in a Python dict; keys are found by a
// short scan while the map is small, by a hash table beyond that.
template <typename V>
class FlatMapWriter {
  public:
    using Entry = typename FlatMap<V>::Entry;

    FlatMapWriter(RecordArena& arena, size_t capacity)
        : data_(arena.array<Entry>(capacity)), capacity_(capacity) {}

    // `key` must live as long as the records (a text of the arena).
    void insert_or_assign(Text key, const V& value) {
        if (V* existing = find(key)) {
            *existing = value;
            return;
        }
        if (size_ == capacity_) panic("record map written beyond its room");
        new (&data_[size_]) Entry{key, value};
        if (index_) {
            index_->emplace(key, size_);
        } else if (size_ + 1 == SCAN) {
            index_.emplace();
            for (size_t i = 0; i <= size_; ++i)
                index_->emplace(data_[i].first, i);
        }
        ++size_;
    }
    V* find(std::string_view key) {
        if (index_) {
            const auto found = index_->find(key);
            return found == index_->end() ? nullptr : &data_[found->second].second;
        }
        for (size_t i = 0; i < size_; ++i) {
            if (data_[i].first == key) return &data_[i].second;
        }
        return nullptr;
    }
    size_t size() const { return size_; }
    FlatMap<V> done() const { return FlatMap<V>(Items<Entry>(data_, size_)); }

  private:
    static constexpr size_t SCAN = 8;
    Entry* data_;
    size_t capacity_;
    size_t size_ = 0;
    std::optional<std::unordered_map<std::string_view, size_t>> index_;
};

// A list being written into room for at most `capacity` items.
template <typename T>
class ItemsWriter {
  public:
    ItemsWriter(RecordArena& arena, size_t capacity)
        : data_(arena.array<T>(capacity)), capacity_(capacity) {}

    void push_back(const T& item) {
        if (size_ == capacity_) panic("record list written beyond its room");
        new (&data_[size_++]) T(item);
    }
    T& back() { return data_[size_ - 1]; }
    size_t size() const { return size_; }
    Items<T> done() const { return Items<T>(data_, size_); }

  private:
    T* data_;
    size_t capacity_;
    size_t size_ = 0;
};

using LocationMap = FlatMap<Range>;

// One parameter of a function.
struct FunctionArgAST {
    // Without `*` or `**`.
    Text arg_name;
    // The name through the annotation, stars included, default value excluded.
    Range arg_location;
    std::optional<Range> annotation;

    friend bool operator==(const FunctionArgAST&, const FunctionArgAST&) = default;
};

// One function definition at any depth; a resolver when it carries a resolver decorator. Every
// location of a file's records lies in the file of the records' `uri`.
struct ResolverAST {
    Text module;
    Text resolver_name;
    Range resolver_name_location;
    // Present exactly for resolvers.
    std::optional<Range> decorator_location;
    // Keyword name of the decorator call -> location of the name, and of the value.
    LocationMap kwarg_names;
    LocationMap kwargs;
    // Keyword whose value is a dict display -> string key -> location of the key, of its value.
    FlatMap<LocationMap> kwarg_dict_key_names;
    FlatMap<LocationMap> kwarg_dict_values;
    // In parameter order; a repeated name is listed each time.
    Items<Text> args_in_order;
    FlatMap<FunctionArgAST> args;
    std::optional<Range> return_annotation;
    // The `:` ending the header of a function without a return annotation.
    std::optional<Range> missing_return_annotation;
    Items<Range> return_statements;
    // From the first body statement to the end of the last one.
    std::optional<Range> body;
    // The value of the body's first top-level `return`.
    std::optional<Range> return_arg;

    friend bool operator==(const ResolverAST&, const ResolverAST&) = default;
};

// One field of a feature class.
struct FeatureFieldAST {
    Text field_name;
    Range field_name_location;
    // The comment block above the field, its lines joined with "\n".
    std::optional<Text> comment;
    // The block's lines that are neither `:owner:` nor `:tags:` lines.
    std::optional<Text> description;
    std::optional<Text> owner;
    Items<Text> tags;
    std::optional<Range> annotation;
    // The assigned value.
    std::optional<Range> feature_call;
    // Keyword name of the value call -> location of the name, and of the value.
    LocationMap kwarg_names;
    LocationMap kwargs;

    friend bool operator==(const FeatureFieldAST&, const FeatureFieldAST&) = default;
};

// One feature class.
struct FeatureClassAST {
    Text module;
    // `namespace` in the record's documented shape; the decorator's `name` keyword or the
    // snake_case class name.
    Text namespace_;
    Text class_name;
    // Dedented, from the line of the first decorator to the end of the class's last line.
    Text source;
    Range class_name_location;
    // The whole line holding the class name.
    Range class_definition_location;
    // A class without the feature decorator is no feature class, so this is never absent.
    Range decorator_location;
    LocationMap kwarg_names;
    LocationMap kwargs;
    // Field name -> the merged record of that name.
    FlatMap<FeatureFieldAST> fields;
    // One per annotated field statement, in source order: the record of `fields` when the two
    // agree (the usual case), or a record of its own.
    RecordList<FeatureFieldAST> annotations;

    friend bool operator==(const FeatureClassAST&, const FeatureClassAST&) = default;
};

static_assert(std::is_trivially_destructible_v<ResolverAST>);
static_assert(std::is_trivially_destructible_v<FeatureClassAST>);

// The typed records of one file; immutable once built and shared by the index and its callers.
// A copy shares the arena, so it shows the same records.
struct ParsedAstFile {
    // Hold every text, list and map of the records below: the arena they were written into, and
    // the file's source, which texts the source spells out as they are point into.
    std::shared_ptr<const RecordArena> arena;
    std::shared_ptr<const void> source;
    // The file's URI, which all its locations carry; absent when there are no records.
    std::optional<Uri> uri;
    Items<FeatureClassAST> feature_classes;
    // Every function definition at any depth, outer before inner, in source order otherwise.
    Items<ResolverAST> functions;
    // The entries of `functions` that carry a resolver decorator, in the same order.
    RecordList<ResolverAST> resolvers;
};

}  // namespace quarn::ast
