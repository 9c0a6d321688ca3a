// The four record classes. Each object shares one immutable record (with the rest of its file's
// records, which the index keeps anyway; a record read through another, a field of a class,
// holds the other's object, which shares them) and never changes it. A property whose value is
// immutable (a text, a location tuple, None) makes it on the first read and hands out the same
// object afterwards; every other read builds new Python values (dicts, lists, record objects),
// so nothing a caller does to a result reaches the record.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "quarn_rs/classes.h"

namespace quarn_rs {

namespace ast = quarn::ast;

// Python strs of the short names a record tree reads over and over (the same keywords in the
// call of every field, the same tags), made once for the tree: a name read again is a reference
// taken, and a dict it goes into finds its hash made already. The record object at the root of
// a tree and the nested ones made from it share one, counted; it is used and released only with
// the interpreter lock held. It holds strs alone, so it takes no part in a reference cycle.
class TextPool {
  public:
    void acquire() { ++refs_; }
    void release() {
        if (--refs_ == 0) delete this;
    }
    // A new reference to the str of `text`, or null with an error set.
    Ref str(std::string_view text);

  private:
    ~TextPool() {
        for (PyObject* str : strs_)
            Py_XDECREF(str);
    }

    static constexpr size_t SLOTS = 64;  // a power of two
    // Never more entries, so that every probe meets an empty slot; names beyond them are made
    // anew on each read, as any other text.
    static constexpr size_t ENTRIES = 48;
    static constexpr size_t LONGEST = 32;
    size_t refs_ = 1;
    size_t used_ = 0;
    std::array<uint32_t, SLOTS> hashes_{};
    std::array<PyObject*, SLOTS> strs_{};
};

namespace {

// The strs of the ASCII characters, made once for the process: a one-letter tag or name is read
// as often as any other.
PyObject* ascii_chars() {
    static std::atomic<PyObject*> slot;
    return process_object(slot, []() -> PyObject* {
        Ref table(PyTuple_New(128));
        if (!table) return nullptr;
        for (int c = 0; c < 128; ++c) {
            PyObject* str = PyUnicode_FromOrdinal(c);
            if (str == nullptr) return nullptr;
            PyTuple_SET_ITEM(table.get(), c, str);
        }
        return table.release();
    });
}

uint64_t load_word(const char* at) {
    uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

}  // namespace

Ref TextPool::str(std::string_view text) {
    const size_t size = text.size();
    if (size == 1 && static_cast<unsigned char>(text[0]) < 128) {
        PyObject* const chars = ascii_chars();
        if (chars == nullptr) return Ref();
        return Ref::borrow(PyTuple_GET_ITEM(chars, static_cast<unsigned char>(text[0])));
    }
    if (size < 2 || size > LONGEST) return new_str(text);
    // Whole words, the last one overlapping the one before it; a name shorter than a word is
    // read as two halves that overlap the same way, or byte by byte below four.
    uint64_t seen = 0;
    uint64_t mixed = size;
    if (size >= 8) {
        for (size_t at = 0; at < size; at += 8) {
            const uint64_t word = load_word(text.data() + std::min(at, size - 8));
            seen |= word;
            mixed = (mixed ^ word) * 0x9E3779B97F4A7C15ULL;
        }
    } else {
        uint64_t word;
        if (size >= 4) {
            uint32_t low, high;
            std::memcpy(&low, text.data(), 4);
            std::memcpy(&high, text.data() + size - 4, 4);
            word = low | uint64_t{high} << 32;
        } else {
            word = uint64_t{static_cast<unsigned char>(text[0])} |
                   uint64_t{static_cast<unsigned char>(text[1])} << 8 |
                   uint64_t{static_cast<unsigned char>(text[size - 1])} << 16;
        }
        seen = word;
        mixed = (mixed ^ word) * 0x9E3779B97F4A7C15ULL;
    }
    // Only ASCII names are kept: their strs hold the same bytes, compared as they are.
    if ((seen & 0x8080808080808080ULL) != 0) return new_str(text);
    const auto hash = static_cast<uint32_t>(mixed >> 32);
    for (size_t i = hash & (SLOTS - 1);; i = (i + 1) & (SLOTS - 1)) {
        PyObject* kept = strs_[i];
        if (kept == nullptr) {
            Ref made = new_str(text);
            if (made && used_ < ENTRIES) {
                strs_[i] = Ref::borrow(made.get()).release();
                hashes_[i] = hash;
                ++used_;
            }
            return made;
        }
        if (hashes_[i] == hash && static_cast<size_t>(PyUnicode_GET_LENGTH(kept)) == text.size() &&
            std::memcmp(PyUnicode_1BYTE_DATA(kept), text.data(), text.size()) == 0)
            return Ref::borrow(kept);
    }
}

namespace {

// Python forms of the record fields. `root` is the record object that keeps alive the records a
// field belongs to: a nested record object holds a reference to it instead of a share of the
// records, which costs no atomic count; `file` turns the field's byte ranges into lines and
// characters; `pool` is the names of the record object's tree, made on first use. The two nested
// record kinds come first so that the container templates below find them.
struct Context {
    PyObject* root;
    ast::FileLines file;
    // The line of the last location read through the record objects of the tree: their
    // locations lie close together, read mostly in the source's order (the fields of a class
    // one after the other), so the next one is found from there in a step or two.
    size_t& line;
    TextPool*& pool;

    // Throws std::bad_alloc when it cannot be made.
    TextPool& names() const {
        if (pool == nullptr) pool = new TextPool();
        return *pool;
    }
};

Ref to_py(const ast::FunctionArgAST& record, const Context& context) {
    return Ref(wrap_record(record, context.root, context.file, context.line, &context.names()));
}
Ref to_py(const ast::FeatureFieldAST& record, const Context& context) {
    return Ref(wrap_record(record, context.root, context.file, context.line, &context.names()));
}

Ref to_py(const ast::Text& text, const Context&) {
    return new_str(text);
}

// The ints of the lines and characters that most locations have, made once for the process.
constexpr uint32_t SMALL_INTS = 1024;
PyObject* small_ints() {
    static std::atomic<PyObject*> slot;
    return process_object(slot, []() -> PyObject* {
        Ref table(PyTuple_New(SMALL_INTS));
        if (!table) return nullptr;
        for (uint32_t i = 0; i < SMALL_INTS; ++i) {
            PyObject* value = PyLong_FromUnsignedLong(i);
            if (value == nullptr) return nullptr;
            PyTuple_SET_ITEM(table.get(), i, value);
        }
        return table.release();
    });
}

// The tuple is filled directly: no format string to read.
Ref to_py(const ast::TextRange& bytes, const Context& context) {
    const ast::Range r = context.file.range(bytes, context.line);
    const std::array<uint32_t, 4> values = {r.start.line, r.start.character, r.end.line,
                                            r.end.character};
    PyObject* const ints = small_ints();
    if (ints == nullptr) return Ref();
    Ref tuple(PyTuple_New(4));
    if (!tuple) return tuple;
    for (size_t i = 0; i < values.size(); ++i) {
        PyObject* value;
        if (values[i] < SMALL_INTS) {
            value = PyTuple_GET_ITEM(ints, values[i]);
            Py_INCREF(value);
        } else {
            value = PyLong_FromUnsignedLong(values[i]);
            if (value == nullptr) return Ref();  // the tuple drops what was made so far
        }
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), value);
    }
    return tuple;
}

template <typename T>
Ref to_py(const std::optional<T>& value, const Context& context) {
    return value ? to_py(*value, context) : Ref::borrow(Py_None);
}

template <typename List>
Ref list_to_py(const List& items, const Context& context) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!list) return list;
    Py_ssize_t i = 0;
    for (const auto& element : items) {
        Ref item = to_py(element, context);
        if (!item) return item;  // the list drops what was made so far
        PyList_SET_ITEM(list.get(), i++, item.release());
    }
    return list;
}

template <typename T>
Ref to_py(const ast::Items<T>& items, const Context& context) {
    return list_to_py(items, context);
}

// Names (tags, parameters in order) come from the tree's pool.
Ref to_py(const ast::Items<ast::Text>& names, const Context& context) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(names.size())));
    if (!list) return list;
    TextPool& pool = context.names();
    Py_ssize_t i = 0;
    for (const ast::Text name : names) {
        Ref item = pool.str(name);
        if (!item) return item;  // the list drops what was made so far
        PyList_SET_ITEM(list.get(), i++, item.release());
    }
    return list;
}

template <typename T>
Ref to_py(const ast::RecordList<T>& items, const Context& context) {
    return list_to_py(items, context);
}

// A dict with room for `entries` without growing on the way.
Ref new_dict(size_t entries) {
#if PY_VERSION_HEX < 0x030D0000
    return Ref(_PyDict_NewPresized(static_cast<Py_ssize_t>(entries)));
#else
    (void)entries;
    return Ref(PyDict_New());
#endif
}

// Entries in the map's order, which is the source's; the keys are names of the tree's pool.
template <typename Keys>
Ref to_py(const ast::EntryMap<Keys>& map, const Context& context) {
    Ref dict = new_dict(map.size());
    if (!dict) return dict;
    TextPool& pool = context.names();
    for (const auto& [key, value] : map) {
        Ref py_key = pool.str(key);
        if (!py_key) return py_key;
        Ref py_value = to_py(value, context);
        if (!py_value || PyDict_SetItem(dict.get(), py_key.get(), py_value.get()) < 0) return Ref();
    }
    return dict;
}

template <typename Record>
using Shared = std::shared_ptr<const Record>;

// The immutable values a record object keeps once made, one slot per such property.
template <typename Record>
constexpr size_t kept_slots = 0;
template <>
constexpr size_t kept_slots<ast::ResolverAST> = 8;
template <>
constexpr size_t kept_slots<ast::FunctionArgAST> = 3;
template <>
constexpr size_t kept_slots<ast::FeatureClassAST> = 7;
template <>
constexpr size_t kept_slots<ast::FeatureFieldAST> = 7;

// Records read only through another record, which keeps them alive.
template <typename Record>
constexpr bool is_nested =
    std::is_same_v<Record, ast::FunctionArgAST> || std::is_same_v<Record, ast::FeatureFieldAST>;

// The layout of a record object: the record (shared by a root, held by `root` for a nested one),
// the names of its tree (null until one is first read), then the values made so far (null until
// a property is first read). Nothing kept refers to another object, and a root refers to none of
// the nested objects made from it, so no reference cycle forms.
template <typename Record>
struct RecordObject {
    PyObject_HEAD std::conditional_t<is_nested<Record>, const Record*, Shared<Record>> record;
    // Nested objects only: the root object read from (a new reference).
    PyObject* root;
    ast::FileLines file;
    // The tree's line of the last location read, held by the root (see Context). Read and
    // written only with the interpreter lock held.
    std::conditional_t<is_nested<Record>, size_t*, size_t> line;
    TextPool* pool;
    std::array<PyObject*, kept_slots<Record>> kept;
};

template <typename Record>
RecordObject<Record>& record_object(PyObject* self) {
    return *reinterpret_cast<RecordObject<Record>*>(self);
}

template <typename Record>
void dealloc_record(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    RecordObject<Record>& object = record_object<Record>(self);
    for (PyObject* value : object.kept)
        Py_XDECREF(value);
    if (object.pool != nullptr) object.pool->release();
    if constexpr (is_nested<Record>) {
        Py_DECREF(object.root);
    } else {
        object.record.~Shared<Record>();
    }
    type->tp_free(self);
    Py_DECREF(type);
}

// A map of named records (`args`, `fields`): the name made for the key is also the new record
// object's kept name, so reading it there makes no second string.
template <typename Record, ast::Text Record::*Name>
Ref to_py(const ast::RecordMap<Record, Name>& map, const Context& context) {
    static_assert(kept_slots<Record> > 0, "the name is the record's first kept value");
    Ref dict = new_dict(map.size());
    if (!dict) return dict;
    for (const auto& [key, record] : map) {
        Ref py_key = new_str(key);
        if (!py_key) return py_key;
        Ref py_record = to_py(record, context);
        if (!py_record) return py_record;
        record_object<Record>(py_record.get()).kept[0] = Ref::borrow(py_key.get()).release();
        if (PyDict_SetItem(dict.get(), py_key.get(), py_record.get()) < 0) return Ref();
    }
    return dict;
}

// What the fields of a `Record` object are read with.
template <typename Record>
Context context_of(PyObject* self) {
    RecordObject<Record>& object = record_object<Record>(self);
    if constexpr (is_nested<Record>) {
        return Context{object.root, object.file, *object.line, object.pool};
    } else {
        return Context{self, object.file, object.line, object.pool};
    }
}

// One read-only property per field: `Member` of the record shared by a `Record` object.
template <typename Record, auto Member>
PyObject* get_field(PyObject* self, void*) {
    return guarded([self]() -> PyObject* {
        return to_py(std::invoke(Member, *record_object<Record>(self).record),
                     context_of<Record>(self))
            .release();
    });
}

// A name that many records of a tree repeat (a field's owner) comes from the tree's pool.
Ref name_to_py(const std::optional<ast::Text>& name, const Context& context) {
    return name ? context.names().str(*name) : Ref::borrow(Py_None);
}

// The same for an immutable value, made once into the object's slot `Slot`.

template <typename Record, auto Member, size_t Slot, bool Name>
PyObject* get_kept_field(PyObject* self, void*) {
    static_assert(Slot < kept_slots<Record>);
    return guarded([self]() -> PyObject* {
        RecordObject<Record>& object = record_object<Record>(self);
        PyObject*& kept = object.kept[Slot];
        if (kept == nullptr) {
            const auto& value = std::invoke(Member, *object.record);
            if constexpr (Name) {
                kept = name_to_py(value, context_of<Record>(self)).release();
            } else {
                kept = to_py(value, context_of<Record>(self)).release();
            }
        }
        Py_XINCREF(kept);
        return kept;
    });
}

template <typename T>
constexpr bool is_immutable_field =
    std::is_same_v<T, ast::Text> || std::is_same_v<T, std::optional<ast::Text>> ||
    std::is_same_v<T, ast::TextRange> || std::is_same_v<T, std::optional<ast::TextRange>>;

template <typename Record, auto Member>
constexpr PyGetSetDef property(const char* name) {
    return PyGetSetDef{name, &get_field<Record, Member>, nullptr, "", nullptr};
}

template <typename Record, auto Member, size_t Slot, bool Name = false>
constexpr PyGetSetDef kept(const char* name) {
    using Field = std::remove_cvref_t<std::invoke_result_t<decltype(Member), const Record&>>;
    static_assert(is_immutable_field<Field>, "only immutable values are kept");
    return PyGetSetDef{name, &get_kept_field<Record, Member, Slot, Name>, nullptr, "", nullptr};
}

template <typename Record, auto Member, size_t Slot>
constexpr PyGetSetDef kept_name(const char* name) {
    return kept<Record, Member, Slot, true>(name);
}

using ast::FeatureClassAST;
using ast::FeatureFieldAST;
using ast::FunctionArgAST;
using ast::ResolverAST;

PyGetSetDef resolver_properties[] = {
    kept<ResolverAST, &ResolverAST::module, 0>("module"),
    kept<ResolverAST, &ResolverAST::resolver_name, 1>("resolver_name"),
    kept<ResolverAST, &ResolverAST::resolver_name_location, 2>("resolver_name_location"),
    kept<ResolverAST, &ResolverAST::decorator_location, 3>("decorator_location"),
    property<ResolverAST, &ResolverAST::kwarg_names>("kwarg_names"),
    property<ResolverAST, &ResolverAST::kwargs>("kwargs"),
    property<ResolverAST, &ResolverAST::kwarg_dict_key_names>("kwarg_dict_key_names"),
    property<ResolverAST, &ResolverAST::kwarg_dict_values>("kwarg_dict_values"),
    property<ResolverAST, &ResolverAST::args_in_order>("args_in_order"),
    property<ResolverAST, &ResolverAST::args>("args"),
    kept<ResolverAST, &ResolverAST::return_annotation, 4>("return_annotation"),
    kept<ResolverAST, &ResolverAST::missing_return_annotation, 5>("missing_return_annotation"),
    property<ResolverAST, &ResolverAST::return_statements>("return_statements"),
    kept<ResolverAST, &ResolverAST::body, 6>("body"),
    kept<ResolverAST, &ResolverAST::return_arg, 7>("return_arg"),
    {},
};

// A record of a named map keeps its name in slot 0 (see the map's conversion above).
PyGetSetDef function_arg_properties[] = {
    kept<FunctionArgAST, &FunctionArgAST::arg_name, 0>("arg_name"),
    kept<FunctionArgAST, &FunctionArgAST::arg_location, 1>("arg_location"),
    kept<FunctionArgAST, &FunctionArgAST::annotation, 2>("annotation"),
    {},
};

PyGetSetDef feature_class_properties[] = {
    kept<FeatureClassAST, &FeatureClassAST::module, 0>("module"),
    kept<FeatureClassAST, &FeatureClassAST::namespace_, 1>("namespace"),
    kept<FeatureClassAST, &FeatureClassAST::class_name, 2>("class_name"),
    kept<FeatureClassAST, &FeatureClassAST::source, 3>("source"),
    kept<FeatureClassAST, &FeatureClassAST::class_name_location, 4>("class_name_location"),
    kept<FeatureClassAST, &FeatureClassAST::class_definition_location, 5>(
        "class_definition_location"),
    kept<FeatureClassAST, &FeatureClassAST::decorator_location, 6>("decorator_location"),
    property<FeatureClassAST, &FeatureClassAST::kwarg_names>("kwarg_names"),
    property<FeatureClassAST, &FeatureClassAST::kwargs>("kwargs"),
    property<FeatureClassAST, &FeatureClassAST::fields>("fields"),
    property<FeatureClassAST, &FeatureClassAST::annotations>("annotations"),
    {},
};

PyGetSetDef feature_field_properties[] = {
    kept<FeatureFieldAST, &FeatureFieldAST::field_name, 0>("field_name"),
    kept<FeatureFieldAST, &FeatureFieldAST::field_name_location, 1>("field_name_location"),
    kept<FeatureFieldAST, &FeatureFieldAST::comment, 2>("comment"),
    kept<FeatureFieldAST, &FeatureFieldAST::description, 3>("description"),
    kept_name<FeatureFieldAST, &FeatureFieldAST::owner, 4>("owner"),
    property<FeatureFieldAST, &FeatureFieldAST::tags>("tags"),
    kept<FeatureFieldAST, &FeatureFieldAST::annotation, 5>("annotation"),
    kept<FeatureFieldAST, &FeatureFieldAST::feature_call, 6>("feature_call"),
    property<FeatureFieldAST, &FeatureFieldAST::kwarg_names>("kwarg_names"),
    property<FeatureFieldAST, &FeatureFieldAST::kwargs>("kwargs"),
    {},
};

template <typename Record>
TypeDescription record_type(const char* full_name, PyGetSetDef* properties) {
    return TypeDescription{full_name,
                           static_cast<int>(sizeof(RecordObject<Record>)),
                           &dealloc_record<Record>,
                           nullptr,
                           nullptr,
                           nullptr,
                           properties};
}

// The type's allocator hands out zeroed memory: every kept slot starts empty. A nested record
// object holds the root it was read from and shares its pool of names.
template <typename Record, typename Held, typename Line>
PyObject* wrap(PyTypeObject* type, Held record, PyObject* root, ast::FileLines file, Line line,
               TextPool* pool) {
    if (type == nullptr) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    RecordObject<Record>& object = record_object<Record>(self);
    if constexpr (is_nested<Record>) {
        object.record = record;
        Py_INCREF(root);
        object.root = root;
    } else {
        new (&object.record) Shared<Record>(std::move(record));
    }
    object.file = file;
    object.line = line;
    if (pool != nullptr) {
        pool->acquire();
        object.pool = pool;
    }
    return self;
}

}  // namespace

PyTypeObject* feature_field_ast_type() {
    static std::atomic<PyObject*> slot;
    return process_type(
        slot, record_type<FeatureFieldAST>("builtins.FeatureFieldAST", feature_field_properties));
}

PyTypeObject* feature_class_ast_type() {
    static std::atomic<PyObject*> slot;
    return process_type(
        slot, record_type<FeatureClassAST>("builtins.FeatureClassAST", feature_class_properties));
}

PyTypeObject* function_arg_ast_type() {
    static std::atomic<PyObject*> slot;
    return process_type(
        slot, record_type<FunctionArgAST>("builtins.FunctionArgAST", function_arg_properties));
}

PyTypeObject* resolver_ast_type() {
    static std::atomic<PyObject*> slot;
    return process_type(slot,
                        record_type<ResolverAST>("builtins.ResolverAST", resolver_properties));
}

PyObject* wrap_record(std::shared_ptr<const ResolverAST> record) {
    const ast::FileLines file = record->file;
    return wrap<ResolverAST>(resolver_ast_type(), std::move(record), nullptr, file, size_t{0},
                             nullptr);
}
PyObject* wrap_record(std::shared_ptr<const FeatureClassAST> record) {
    const ast::FileLines file = record->file;
    return wrap<FeatureClassAST>(feature_class_ast_type(), std::move(record), nullptr, file,
                                 size_t{0}, nullptr);
}
PyObject* wrap_record(const FunctionArgAST& record, PyObject* root, ast::FileLines file,
                      size_t& line, TextPool* pool) {
    return wrap<FunctionArgAST>(function_arg_ast_type(), &record, root, file, &line, pool);
}
PyObject* wrap_record(const FeatureFieldAST& record, PyObject* root, ast::FileLines file,
                      size_t& line, TextPool* pool) {
    return wrap<FeatureFieldAST>(feature_field_ast_type(), &record, root, file, &line, pool);
}

}  // namespace quarn_rs
