// The records the definition extraction reports. Each owns all its data, so a copy is a deep
// copy and holds nothing of the parsed file. Callers may rely on no order of the maps; they keep
// source order (keyword arguments as written, fields in declaration order), which Python users
// read most easily.
#pragma once

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "quarn/ast/location.h"
#include "quarn/ast/string_map.h"

namespace quarn::ast {

using LocationMap = OrderedMap<Location>;

// Records of a list held elsewhere, in an order of their own; reads like a list of records.
template <typename Record>
class RecordRefs {
  public:
    class const_iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Record;
        using difference_type = std::ptrdiff_t;
        using pointer = const Record*;
        using reference = const Record&;

        const_iterator() = default;
        explicit const_iterator(typename std::vector<const Record*>::const_iterator at) : at_(at) {}
        const Record& operator*() const { return **at_; }
        const Record* operator->() const { return *at_; }
        const_iterator& operator++() {
            ++at_;
            return *this;
        }
        const_iterator operator++(int) { return const_iterator(at_++); }
        friend bool operator==(const const_iterator&, const const_iterator&) = default;

      private:
        typename std::vector<const Record*>::const_iterator at_;
    };

    size_t size() const { return refs_.size(); }
    bool empty() const { return refs_.empty(); }
    const Record& operator[](size_t i) const { return *refs_[i]; }
    const_iterator begin() const { return const_iterator(refs_.begin()); }
    const_iterator end() const { return const_iterator(refs_.end()); }

    void push_back(const Record& record) { refs_.push_back(&record); }
    // The same positions in `to`, a copy of the list `from` that these refer to.
    RecordRefs rebased(const std::vector<Record>& from, const std::vector<Record>& to) const {
        RecordRefs out;
        out.refs_.reserve(refs_.size());
        for (const Record* record : refs_)
            out.refs_.push_back(&to[static_cast<size_t>(record - from.data())]);
        return out;
    }

  private:
    std::vector<const Record*> refs_;
};

// One parameter of a function.
struct FunctionArgAST {
    // Without `*` or `**`.
    std::string arg_name;
    // The name through the annotation, stars included, default value excluded.
    Location arg_location;
    std::optional<Location> annotation;

    friend bool operator==(const FunctionArgAST&, const FunctionArgAST&) = default;
};

// One function definition at any depth; a resolver when it carries a resolver decorator.
struct ResolverAST {
    std::string module;
    std::string resolver_name;
    Location resolver_name_location;
    // Present exactly for resolvers.
    std::optional<Location> decorator_location;
    // Keyword name of the decorator call -> location of the name, and of the value.
    LocationMap kwarg_names;
    LocationMap kwargs;
    // Keyword whose value is a dict display -> string key -> location of the key, of its value.
    OrderedMap<LocationMap> kwarg_dict_key_names;
    OrderedMap<LocationMap> kwarg_dict_values;
    // In parameter order; a repeated name is listed each time.
    std::vector<std::string> args_in_order;
    OrderedMap<FunctionArgAST> args;
    std::optional<Location> return_annotation;
    // The `:` ending the header of a function without a return annotation.
    std::optional<Location> missing_return_annotation;
    std::vector<Location> return_statements;
    // From the first body statement to the end of the last one.
    std::optional<Location> body;
    // The value of the body's first top-level `return`.
    std::optional<Location> return_arg;

    friend bool operator==(const ResolverAST&, const ResolverAST&) = default;
};

// One field of a feature class.
struct FeatureFieldAST {
    std::string field_name;
    Location field_name_location;
    // The comment block above the field, its lines joined with "\n".
    std::optional<std::string> comment;
    // The block's lines that are neither `:owner:` nor `:tags:` lines.
    std::optional<std::string> description;
    std::optional<std::string> owner;
    std::vector<std::string> tags;
    std::optional<Location> annotation;
    // The assigned value.
    std::optional<Location> feature_call;
    // Keyword name of the value call -> location of the name, and of the value.
    LocationMap kwarg_names;
    LocationMap kwargs;

    friend bool operator==(const FeatureFieldAST&, const FeatureFieldAST&) = default;
};

// The annotated-field records of a class: each is the class's record of that name in `fields`
// when the two agree (the usual case), or a record of its own. Reads like a list of records; a
// copy owns every record it lists.
class FieldList {
  public:
    FieldList() = default;
    FieldList(std::initializer_list<FeatureFieldAST> records) {
        for (const FeatureFieldAST& record : records)
            push_back_own(record);
    }
    FieldList(FieldList&&) noexcept = default;
    FieldList& operator=(FieldList&&) noexcept = default;
    FieldList(const FieldList& other) {
        for (const FeatureFieldAST& record : other)
            push_back_own(record);
    }
    FieldList& operator=(const FieldList& other) {
        if (this != &other) *this = FieldList(other);
        return *this;
    }

    size_t size() const { return refs_.size(); }
    bool empty() const { return refs_.empty(); }
    const FeatureFieldAST& operator[](size_t i) const { return refs_[i]; }
    RecordRefs<FeatureFieldAST>::const_iterator begin() const { return refs_.begin(); }
    RecordRefs<FeatureFieldAST>::const_iterator end() const { return refs_.end(); }

    // `record` must outlive the list and never move: an element of the finished `fields` map.
    void push_back_shared(const FeatureFieldAST& record) { refs_.push_back(record); }
    void push_back_own(FeatureFieldAST record) {
        own_.push_back(std::make_unique<const FeatureFieldAST>(std::move(record)));
        refs_.push_back(*own_.back());
    }

    friend bool operator==(const FieldList& a, const FieldList& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

  private:
    RecordRefs<FeatureFieldAST> refs_;
    std::vector<std::unique_ptr<const FeatureFieldAST>> own_;
};

// One feature class.
struct FeatureClassAST {
    std::string module;
    // `namespace` in the record's documented shape; the decorator's `name` keyword or the
    // snake_case class name.
    std::string namespace_;
    std::string class_name;
    // Dedented, from the line of the first decorator to the end of the class's last line.
    std::string source;
    Location class_name_location;
    // The whole line holding the class name.
    Location class_definition_location;
    // A class without the feature decorator is no feature class, so this is never absent.
    Location decorator_location;
    LocationMap kwarg_names;
    LocationMap kwargs;
    // Field name -> the merged record of that name.
    OrderedMap<FeatureFieldAST> fields;
    // One per annotated field statement, in source order.
    FieldList annotations;

    friend bool operator==(const FeatureClassAST&, const FeatureClassAST&) = default;
};

// `annotations` refers into `fields` of the same record: moving one must keep its elements.
static_assert(std::is_nothrow_move_constructible_v<FeatureClassAST>);

// The typed records of one file; immutable once built and shared by the index and its callers.
struct ParsedAstFile {
    std::vector<FeatureClassAST> feature_classes;
    // Every function definition at any depth, outer before inner, in source order otherwise.
    std::vector<ResolverAST> functions;
    // The entries of `functions` that carry a resolver decorator, in the same order.
    RecordRefs<ResolverAST> resolvers;

    ParsedAstFile() = default;
    // A moved vector keeps its elements where they are, so `resolvers` stays valid.
    ParsedAstFile(ParsedAstFile&&) noexcept = default;
    ParsedAstFile& operator=(ParsedAstFile&&) noexcept = default;
    ParsedAstFile(const ParsedAstFile& other)
        : feature_classes(other.feature_classes),
          functions(other.functions),
          resolvers(other.resolvers.rebased(other.functions, functions)) {}
    ParsedAstFile& operator=(const ParsedAstFile& other) {
        if (this != &other) *this = ParsedAstFile(other);
        return *this;
    }
};

}  // namespace quarn::ast
