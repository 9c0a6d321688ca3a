// Text dumps of syntax-tree nodes for tests and tools.
//
// dump(node): a compact one-line form for test expectations, such as
//   ExprBinOp[0..5](left=ExprName[0..1](id="a", ctx=Load), op=Add, right=...)
// where absent optional fields, empty lists and empty string flags are left out and an
// identifier shows as "f"[4..5].
//
// dump_json(node): {"_type": kind, "range": [start, end], field: value, ...} with every field
// in declaration order: lists as arrays, absent optionals as null, enumerations by name,
// identifiers as {"id": ..., "range": [...]}.
//
// Both walk the tree with an explicit stack, so a tree of any depth can be dumped.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "rudo/python_ast/nodes.h"

namespace rudo::python_ast {

namespace dump_detail {

template <typename T>
struct IsBox : std::false_type {};
template <typename T>
struct IsBox<Box<T>> : std::true_type {};
template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};
template <typename T>
struct IsList : std::false_type {};
template <typename T, typename A>
struct IsList<std::vector<T, A>> : std::true_type {};
template <>
struct IsList<Suite> : std::true_type {};
template <typename T>
struct IsList<Seq<T>> : std::true_type {};
template <typename T>
struct IsVariant : std::false_type {};
template <typename... Ts>
struct IsVariant<std::variant<Ts...>> : std::true_type {};

template <typename T>
concept Record = requires(const T& node) {
    T::KIND;
    for_each_field(node, [](std::string_view, const auto&) {});
};
template <typename T>
concept HasRange = requires(const T& node) {
    node.range;
};
template <typename T>
concept Kinds = requires(const T& node) {
    node.as_variant();
};

class Dumper {
  public:
    enum class Mode { Compact, Json };
    explicit Dumper(Mode mode) : mode_(mode) {}

    template <typename T>
    std::string run(const T& root) {
        value(root);
        drain();
        return std::move(out_);
    }

  private:
    struct Item {
        std::string_view name;
        void (*emit)(Dumper&, const void*);
        const void* ptr;
    };
    struct Frame {
        std::vector<Item> items{};
        size_t next = 0;
        std::string_view open;   // written before the first item
        std::string_view close;  // written at the end when opened
        bool opened = false;
        bool separator = false;
    };

    template <typename T>
    static void emit(Dumper& d, const void* ptr) {
        d.value(*static_cast<const T*>(ptr));
    }
    static void emit_bytes(Dumper& d, const void* ptr) {
        d.bytes(*static_cast<const NodeString*>(ptr));
    }
    template <typename T>
    static Item item(std::string_view name, const T& value) {
        return Item{name, &emit<T>, &value};
    }

    bool compact() const { return mode_ == Mode::Compact; }

    template <typename T>
    static bool elided(const T& value) {
        if constexpr (IsBox<T>::value) {
            return !value;
        } else if constexpr (IsOptional<T>::value) {
            return !value.has_value();
        } else if constexpr (IsList<T>::value) {
            return value.empty();
        } else if constexpr (std::is_base_of_v<StringNodeFlags<T>, T>) {
            return value.bits() == 0;
        } else {
            return false;
        }
    }

    template <typename T>
    void value(const T& v) {
        if constexpr (IsBox<T>::value) {
            if (v) {
                value(*v);
            } else {
                null();
            }
        } else if constexpr (IsOptional<T>::value) {
            if (v) {
                value(*v);
            } else {
                null();
            }
        } else if constexpr (IsList<T>::value) {
            list(v);
        } else if constexpr (Kinds<T>) {
            std::visit([&](const auto& node) { value(node); }, v.as_variant());
        } else if constexpr (IsVariant<T>::value) {
            std::visit([&](const auto& node) { value(node); }, v);
        } else if constexpr (std::is_same_v<T, FStringPart>) {
            std::visit([&](const auto& part) { value(part); }, v);
        } else if constexpr (std::is_same_v<T, StringLiteralValue> ||
                             std::is_same_v<T, BytesLiteralValue> ||
                             std::is_same_v<T, FStringValue> || std::is_same_v<T, TStringValue>) {
            if (v.is_implicit_concatenated()) {
                list(v.parts());
            } else {
                value(v.parts()[0]);
            }
        } else if constexpr (Record<T>) {
            record(v);
        } else {
            scalar(v);
        }
    }

    template <typename List>
    void list(const List& items) {
        using T = std::decay_t<decltype(*items.begin())>;
        Frame frame{.open = "[", .close = "]"};
        frame.items.reserve(items.size());
        for (const T& element : items)
            frame.items.push_back(item("", element));
        out_ += '[';
        frame.opened = true;
        if (frame.items.empty()) {
            out_ += ']';
            return;
        }
        frames_.push_back(std::move(frame));
    }

    template <typename Node>
    void record(const Node& node) {
        Frame frame;
        for_each_field(node, [&](std::string_view name, const auto& field) {
            if (compact() && elided(field)) return;
            if constexpr (std::is_same_v<Node, BytesLiteral>) {
                if (name == "value") {
                    frame.items.push_back(Item{name, &emit_bytes, &field});
                    return;
                }
            }
            frame.items.push_back(item(name, field));
        });
        if (compact()) {
            out_ += Node::KIND;
            if constexpr (HasRange<Node>) range(node.range);
            frame.open = "(";
            frame.close = ")";
        } else {
            out_ += "{\"_type\": \"";
            out_ += Node::KIND;
            out_ += '"';
            if constexpr (HasRange<Node>) {
                out_ += ", \"range\": ";
                range(node.range);
            }
            frame.opened = true;
            frame.separator = true;
            frame.close = "}";
        }
        if (frame.items.empty()) {
            if (frame.opened) out_ += frame.close;
            return;
        }
        frames_.push_back(std::move(frame));
    }

    void drain() {
        while (!frames_.empty()) {
            Frame& frame = frames_.back();
            if (frame.next == frame.items.size()) {
                if (frame.opened) out_ += frame.close;
                frames_.pop_back();
                continue;
            }
            Item current = frame.items[frame.next++];
            if (!frame.opened) {
                out_ += frame.open;
                frame.opened = true;
            }
            if (frame.separator) out_ += ", ";
            frame.separator = true;
            if (!current.name.empty()) key(current.name);
            current.emit(*this, current.ptr);  // may push a frame: `frame` is stale after this
        }
    }

    void key(std::string_view name);
    void null();
    void range(TextRange range);
    void text(std::string_view text);
    void bytes(std::string_view bytes);
    void scalar(bool value);
    void scalar(int8_t value);
    void scalar(uint32_t value);
    void scalar(BoolOp value) { enumerator(name(value)); }
    void scalar(CmpOp value) { enumerator(name(value)); }
    void scalar(Operator value) { enumerator(name(value)); }
    void scalar(UnaryOp value) { enumerator(name(value)); }
    void scalar(ExprContext value) { enumerator(name(value)); }
    void scalar(Singleton value) { enumerator(name(value)); }
    void scalar(const NodeString& value) { text(value); }
    void scalar(const Name& value) { text(value.as_str()); }
    void scalar(const Identifier& identifier);
    void scalar(const DebugText& debug_text);
    void scalar(const NumberLiteralValue& number);
    void scalar(StringLiteralFlags flags) { flag_list(flag_names(flags)); }
    void scalar(BytesLiteralFlags flags) { flag_list(flag_names(flags)); }
    void scalar(FStringFlags flags) { flag_list(flag_names(flags)); }
    void scalar(TStringFlags flags) { flag_list(flag_names(flags)); }
    void enumerator(std::string_view name);
    void flag_list(const std::vector<std::string_view>& names);
    void number(double value);

    Mode mode_;
    std::string out_;
    std::vector<Frame> frames_;
};

}  // namespace dump_detail

// The compact one-line form of any node, kind set or list of nodes.
template <typename T>
std::string dump(const T& node) {
    return dump_detail::Dumper(dump_detail::Dumper::Mode::Compact).run(node);
}

// The JSON form of any node, kind set or list of nodes.
template <typename T>
std::string dump_json(const T& node) {
    return dump_detail::Dumper(dump_detail::Dumper::Mode::Json).run(node);
}

}  // namespace rudo::python_ast
