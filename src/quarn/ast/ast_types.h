// The records the definition extraction reports. They are compact views: lists, maps and the
// texts the source does not spell out as they are live in a RecordArena, the other texts in the
// file's source, locations are byte ranges of that source; the file's records (ParsedAstFile)
// keep all of it alive, and a copy of a record is a copy of the view. Nothing in them is ever
// changed once written. Callers may rely on no order of the maps; they keep source order (keyword
// arguments as written, fields in declaration order), which Python users read most easily.
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

// A text of a record, held by the arena of its records or by their file's source.
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

// How a map reads the key and the value of its entries: a key held beside its value...
template <typename V>
struct PairKeys {
    struct Entry {
        Text first;
        V second;
        friend bool operator==(const Entry&, const Entry&) = default;
    };
    using Value = V;
    static Text key(const Entry& entry) { return entry.first; }
    static const V& value(const Entry& entry) { return entry.second; }
    static V& value(Entry& entry) { return entry.second; }
};

// ...or records that carry their own name, which is the key: no second copy of it.
template <typename Record, Text Record::*Name>
struct NamedRecords {
    using Entry = Record;
    using Value = Record;
    static Text key(const Record& record) { return record.*Name; }
    static const Record& value(const Record& record) { return record; }
    static Record& value(Record& record) { return record; }
};

// Unique text keys with their values, in the order the keys were first given.
template <typename Keys>
class EntryMap {
  public:
    using Entry = typename Keys::Entry;
    using Value = typename Keys::Value;
    // What a walk over the map yields.
    struct Item {
        Text first;
        const Value& second;
    };
    class const_iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Item;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = Item;

        const_iterator() = default;
        explicit const_iterator(const Entry* at) : at_(at) {}
        Item operator*() const { return Item{Keys::key(*at_), Keys::value(*at_)}; }
        const_iterator& operator++() {
            ++at_;
            return *this;
        }
        const_iterator operator++(int) { return const_iterator(at_++); }
        friend bool operator==(const const_iterator&, const const_iterator&) = default;

      private:
        const Entry* at_ = nullptr;
    };
    using iterator = const_iterator;

    EntryMap() = default;
    explicit EntryMap(Items<Entry> entries) : entries_(entries) {}

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const_iterator begin() const { return const_iterator(entries_.begin()); }
    const_iterator end() const { return const_iterator(entries_.end()); }

    // A scan: keys are looked up only while a map is written (see EntryMapWriter); a finished
    // map is read whole.
    const Value* find(std::string_view key) const {
        for (const Entry& entry : entries_) {
            if (Keys::key(entry) == key) return &Keys::value(entry);
        }
        return nullptr;
    }
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    const Value& at(std::string_view key) const {
        const Value* found = find(key);
        if (found == nullptr) panic("no entry for the key " + debug_str(key));
        return *found;
    }

    // The same entries, whatever their order.
    friend bool operator==(const EntryMap& a, const EntryMap& b) {
        if (a.size() != b.size()) return false;
        for (const Entry& entry : a.entries_) {
            const Value* found = b.find(Keys::key(entry));
            if (found == nullptr || !(*found == Keys::value(entry))) return false;
        }
        return true;
    }

  private:
    Items<Entry> entries_;
};

template <typename V>
using FlatMap = EntryMap<PairKeys<V>>;
template <typename Record, Text Record::*Name>
using RecordMap = EntryMap<NamedRecords<Record, Name>>;

// A map being written: room for at most `capacity` entries taken once from the arena. A later
// entry for a key replaces the earlier one in place, as in a Python dict; keys are found by a
// short scan while the map is small, by a hash table beyond that.
template <typename Keys>
class EntryMapWriter {
  public:
    using Entry = typename Keys::Entry;
    using Value = typename Keys::Value;

    EntryMapWriter(RecordArena& arena, size_t capacity)
        : data_(arena.array<Entry>(capacity)), capacity_(capacity) {}

    // The entry's key must live as long as the records (a text of the arena or the source).
    void insert_or_assign(const Entry& entry) {
        const Text key = Keys::key(entry);
        if (Entry* existing = find_entry(key)) {
            *existing = entry;
            return;
        }
        if (size_ == capacity_) panic("record map written beyond its room");
        new (&data_[size_]) Entry(entry);
        if (index_) {
            index_->emplace(key, size_);
        } else if (size_ + 1 == SCAN) {
            index_.emplace();
            for (size_t i = 0; i <= size_; ++i)
                index_->emplace(Keys::key(data_[i]), i);
        }
        ++size_;
    }
    Value* find(std::string_view key) {
        Entry* entry = find_entry(key);
        return entry ? &Keys::value(*entry) : nullptr;
    }
    size_t size() const { return size_; }
    EntryMap<Keys> done() const { return EntryMap<Keys>(Items<Entry>(data_, size_)); }

  private:
    Entry* find_entry(std::string_view key) {
        if (index_) {
            const auto found = index_->find(key);
            return found == index_->end() ? nullptr : &data_[found->second];
        }
        for (size_t i = 0; i < size_; ++i) {
            if (Keys::key(data_[i]) == key) return &data_[i];
        }
        return nullptr;
    }

    static constexpr size_t SCAN = 8;
    Entry* data_;
    size_t capacity_;
    size_t size_ = 0;
    std::optional<std::unordered_map<std::string_view, size_t>> index_;
};

template <typename V>
class FlatMapWriter : public EntryMapWriter<PairKeys<V>> {
  public:
    using EntryMapWriter<PairKeys<V>>::EntryMapWriter;
    using EntryMapWriter<PairKeys<V>>::insert_or_assign;
    // `key` must live as long as the records.
    void insert_or_assign(Text key, const V& value) { insert_or_assign({key, value}); }
};

template <typename Record, Text Record::*Name>
using RecordMapWriter = EntryMapWriter<NamedRecords<Record, Name>>;

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

// Locations are byte ranges of the file's source; a reader turns them into lines and characters
// through the file's lines (`FileLines`), which is cheaper than doing so for every location.
using LocationMap = FlatMap<TextRange>;

// The lines of the file a record lies in. It takes no part in comparisons: two records are
// equal when they say the same, whichever file holds them.
struct FileLines {
    const LocationContext* lines = nullptr;

    Range range(TextRange bytes) const { return lines->range_at(bytes); }
    // The same, read near the line of the last range read with `line`.
    Range range(TextRange bytes, size_t& line) const { return lines->range_near(bytes, line); }
    friend bool operator==(const FileLines&, const FileLines&) { return true; }
};

// One parameter of a function.
struct FunctionArgAST {
    // Without `*` or `**`.
    Text arg_name;
    // The name through the annotation, stars included, default value excluded.
    TextRange arg_location;
    std::optional<TextRange> annotation;

    friend bool operator==(const FunctionArgAST&, const FunctionArgAST&) = default;
};

// One function definition at any depth; a resolver when it carries a resolver decorator. Every
// location of a file's records lies in the file of the records' `uri`, as a byte range of its
// source that `file` turns into lines and characters.
struct ResolverAST {
    FileLines file;
    Text module;
    Text resolver_name;
    TextRange resolver_name_location;
    // Present exactly for resolvers.
    std::optional<TextRange> decorator_location;
    // Keyword name of the decorator call -> location of the name, and of the value.
    LocationMap kwarg_names;
    LocationMap kwargs;
    // Keyword whose value is a dict display -> string key -> location of the key, of its value.
    FlatMap<LocationMap> kwarg_dict_key_names;
    FlatMap<LocationMap> kwarg_dict_values;
    // In parameter order; a repeated name is listed each time.
    Items<Text> args_in_order;
    RecordMap<FunctionArgAST, &FunctionArgAST::arg_name> args;
    std::optional<TextRange> return_annotation;
    // The `:` ending the header of a function without a return annotation.
    std::optional<TextRange> missing_return_annotation;
    Items<TextRange> return_statements;
    // From the first body statement to the end of the last one.
    std::optional<TextRange> body;
    // The value of the body's first top-level `return`.
    std::optional<TextRange> return_arg;

    friend bool operator==(const ResolverAST&, const ResolverAST&) = default;
};

// What the comment block above a field says; written once per commented name of a class and
// shared by that name's records.
struct FieldComment {
    // The block's lines joined with "\n".
    std::optional<Text> comment;
    // The block's lines that are neither `:owner:` nor `:tags:` lines.
    std::optional<Text> description;
    std::optional<Text> owner;
    Items<Text> tags;

    friend bool operator==(const FieldComment&, const FieldComment&) = default;
};

// A field's comment block, or none; compared by what it says.
class FieldCommentRef {
  public:
    FieldCommentRef() = default;
    explicit FieldCommentRef(const FieldComment* block) : block_(block) {}

    const FieldComment& operator*() const {
        static constexpr FieldComment none{};
        return block_ ? *block_ : none;
    }
    friend bool operator==(const FieldCommentRef& a, const FieldCommentRef& b) { return *a == *b; }

  private:
    const FieldComment* block_ = nullptr;
};

// One field of a feature class.
struct FeatureFieldAST {
    Text field_name;
    TextRange field_name_location;
    FieldCommentRef comment_block;
    std::optional<TextRange> annotation;
    // The assigned value.
    std::optional<TextRange> feature_call;
    // Keyword name of the value call -> location of the name, and of the value.
    LocationMap kwarg_names;
    LocationMap kwargs;

    const std::optional<Text>& comment() const { return (*comment_block).comment; }
    const std::optional<Text>& description() const { return (*comment_block).description; }
    const std::optional<Text>& owner() const { return (*comment_block).owner; }
    const Items<Text>& tags() const { return (*comment_block).tags; }

    friend bool operator==(const FeatureFieldAST&, const FeatureFieldAST&) = default;
};

// One feature class.
struct FeatureClassAST {
    FileLines file;
    Text module;
    // `namespace` in the record's documented shape; the decorator's `name` keyword or the
    // snake_case class name.
    Text namespace_;
    Text class_name;
    // Dedented, from the line of the first decorator to the end of the class's last line.
    Text source;
    TextRange class_name_location;
    // The whole line holding the class name.
    TextRange class_definition_location;
    // A class without the feature decorator is no feature class, so this is never absent.
    TextRange decorator_location;
    LocationMap kwarg_names;
    LocationMap kwargs;
    // Field name -> the merged record of that name.
    RecordMap<FeatureFieldAST, &FeatureFieldAST::field_name> fields;
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
    // Where the source's lines start, to turn the records' byte ranges into positions.
    std::shared_ptr<const LocationContext> lines;
    // The file's URI, which all its locations carry; absent for a file without one, which has
    // no records.
    std::optional<Uri> uri;
    Items<FeatureClassAST> feature_classes;
    // Every function definition at any depth, outer before inner, in source order otherwise.
    Items<ResolverAST> functions;
    // The entries of `functions` that carry a resolver decorator, in the same order.
    RecordList<ResolverAST> resolvers;
};

}  // namespace quarn::ast
