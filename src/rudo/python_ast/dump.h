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

// Where a streamed dump goes, in pieces of about 64 KiB.
class DumpSink {
  public:
    virtual void write(std::string_view text) = 0;

  protected:
    ~DumpSink() = default;
};

class Dumper {
  public:
    enum class Mode { Compact, Json };
    explicit Dumper(Mode mode, DumpSink* sink = nullptr) : mode_(mode), sink_(sink) {}

    // The whole text, or with a sink what is left after the last full piece was written.
    template <typename T>
    std::string run(const T& root) {
        value(root);
        drain();
        return std::move(out_);
    }

  private:
    static constexpr size_t PIECE = size_t{64} << 10;

    struct Item {
        std::string_view name;
        void (*emit)(Dumper&, const void*);
        const void* ptr;
    };
    // An open list or record whose items are items_[begin, end); `next` is the one to write.
    // Each frame's items lie above its parent's, so the items form one stack.
    struct Frame {
        size_t begin;
        size_t next;
        size_t end;
        std::string_view close;
        bool separator;
    };

    template <typename T>
    static void emit(Dumper& d, const void* ptr) {
        d.value(*static_cast<const T*>(ptr));
    }
    static void emit_bytes(Dumper& d, const void* ptr) {
        d.bytes(*static_cast<const NodeText*>(ptr));
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
        const size_t begin = items_.size();
        for (const T& element : items)
            items_.push_back(item("", element));
        open(begin, "[", "]", false);
    }

    template <typename Node>
    void record(const Node& node) {
        const size_t begin = items_.size();
        for_each_field(node, [&](std::string_view name, const auto& field) {
            if (compact() && elided(field)) return;
            if constexpr (std::is_same_v<Node, BytesLiteral>) {
                if (name == "value") {
                    items_.push_back(Item{name, &emit_bytes, &field});
                    return;
                }
            }
            items_.push_back(item(name, field));
        });
        if (compact()) {
            out_ += Node::KIND;
            if constexpr (HasRange<Node>) range(node.range);
            // A compact record without fields is its kind and range alone.
            if (items_.size() > begin) open(begin, "(", ")", false);
        } else {
            out_ += "{\"_type\": \"";
            out_ += Node::KIND;
            out_ += '"';
            if constexpr (HasRange<Node>) {
                out_ += ", \"range\": ";
                range(node.range);
            }
            open(begin, "", "}", true);
        }
    }

    // Writes `open_text` and the items pushed since `begin` (through drain), then `close`.
    void open(size_t begin, std::string_view open_text, std::string_view close, bool separator) {
        out_ += open_text;
        if (items_.size() == begin) {
            out_ += close;
            return;
        }
        frames_.push_back(Frame{begin, begin, items_.size(), close, separator});
    }

    void drain() {
        while (!frames_.empty()) {
            Frame& frame = frames_.back();
            if (frame.next == frame.end) {
                out_ += frame.close;
                items_.resize(frame.begin);
                frames_.pop_back();
                continue;
            }
            const Item current = items_[frame.next++];
            if (frame.separator) out_ += ", ";
            frame.separator = true;
            if (!current.name.empty()) key(current.name);
            current.emit(*this, current.ptr);  // may push a frame: `frame` is stale after this
            if (sink_ != nullptr && out_.size() >= PIECE) {
                sink_->write(out_);
                out_.clear();
            }
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
    void scalar(const NodeText& value) { text(value); }
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
    DumpSink* sink_;
    std::string out_;
    std::vector<Item> items_;
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

using dump_detail::DumpSink;

// The same JSON form written to `sink` as it is made, so that a large tree never sits in memory
// as one text.
template <typename T>
void dump_json(const T& node, DumpSink& sink) {
    const std::string rest = dump_detail::Dumper(dump_detail::Dumper::Mode::Json, &sink).run(node);
    if (!rest.empty()) sink.write(rest);
}

}  // namespace rudo::python_ast
