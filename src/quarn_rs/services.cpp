// The three service classes: the file system, the parsed-file cache and the project index. Each
// object holds one shared core value that it never changes; all mutation is the core's, under the
// core's own locks, so any thread may use one object at once with others.
#include <fmt/format.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quarn/ast/ast_filesystem.h"
#include "quarn/ast/parser_cache.h"
#include "quarn/ast/parser_cache_types.h"
#include "quarn/ast/project_index.h"
#include "quarn_rs/args.h"
#include "quarn_rs/classes.h"
#include "quarn_rs/functions.h"

namespace quarn_rs {

namespace ast = quarn::ast;

namespace {

using SharedFileSystem = std::shared_ptr<const ast::StdAstFileSystem>;

// ---- argument conversions particular to the constructors ----------------------------------

std::atomic<PyObject*> sequence_abc;

// collections.abc.Sequence, imported the first time an object fails the quick sequence check.
PyObject* sequence_type() {
    return process_object(sequence_abc, []() -> PyObject* {
        Ref abc(PyImport_ImportModule("collections.abc"));
        return abc ? PyObject_GetAttrString(abc.get(), "Sequence") : nullptr;
    });
}

bool to_text_list(PyObject* obj, std::vector<std::string>& out) {
    if (PyUnicode_Check(obj)) {
        raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(obj)) {
        PyObject* sequence = sequence_type();
        if (sequence == nullptr) return false;
        const int is_sequence = PyObject_IsInstance(obj, sequence);
        if (is_sequence < 0) return false;
        if (is_sequence == 0) {
            // Named by its type, None included ("'NoneType' object ...").
            Ref name(PyType_GetQualName(Py_TYPE(obj)));
            if (name) {
                Ref message(PyUnicode_FromFormat("'%U' object is not an instance of 'Sequence'",
                                                 name.get()));
                if (message) PyErr_SetObject(PyExc_TypeError, message.get());
            }
            return false;
        }
    }
    // The length only sizes the result, and only up to a bound: an object that cannot tell it
    // is still iterated, and one that claims more items than it yields costs nothing.
    constexpr Py_ssize_t MAX_RESERVED = 4096;
    const Py_ssize_t size = PySequence_Size(obj);
    if (size < 0) {
        PyErr_Clear();
    } else {
        out.reserve(static_cast<size_t>(std::min(size, MAX_RESERVED)));
    }
    Ref iterator(PyObject_GetIter(obj));
    if (!iterator) return false;
    while (Ref item{PyIter_Next(iterator.get())}) {
        std::string_view text;
        if (!to_text(item.get(), text)) return false;
        out.emplace_back(text);
    }
    return !PyErr_Occurred();
}

bool text_list_arg(const Args& args, size_t i, std::vector<std::string>& out) {
    return to_text_list(args.get(i), out) || args.conversion_failed(i);
}

// None or omitted: no file system. Otherwise a StdAstFileSystem object, whose file system is
// shared with the new cache or index.
bool filesystem_arg(const Args& args, size_t i, SharedFileSystem& out) {
    PyObject* obj = args.get(i);
    if (obj == nullptr || obj == Py_None) return true;
    PyTypeObject* type = std_ast_file_system_type();
    if (type == nullptr) return false;
    if (!PyObject_TypeCheck(obj, type)) {
        raise_not_instance(obj, "StdAstFileSystem");
        return args.conversion_failed(i);
    }
    out = held<SharedFileSystem>(obj);
    return true;
}

// ---- results ---------------------------------------------------------------------------------

Ref text_list(const std::vector<std::string>& texts) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(texts.size())));
    if (!list) return list;
    for (size_t i = 0; i < texts.size(); ++i) {
        Ref item = new_str(texts[i]);
        if (!item) return item;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list;
}

PyObject* files_or_os_error(const quarn::Result<std::vector<std::string>, ast::IoError>& files) {
    if (!files.ok()) return raise(PyExc_OSError, files.error().message());
    return text_list(*files).release();
}

// ---- StdAstFileSystem ------------------------------------------------------------------------

constexpr Param kFilesParam[] = {{"files"}};
constexpr Param kPathParam[] = {{"path"}};

constexpr Signature kFileSystemNew(CallKind::Constructor, "StdAstFileSystem", "__new__",
                                   kFilesParam);
constexpr Signature kFileSystemRead(CallKind::Method, "StdAstFileSystem", "read_to_string",
                                    kPathParam);
constexpr Signature kFileSystemAllFiles(CallKind::Method, "StdAstFileSystem", "all_files");

PyObject* file_system_new(PyTypeObject* type, const Args& args) {
    std::vector<std::string> files;
    if (!text_list_arg(args, 0, files)) return nullptr;
    SharedFileSystem filesystem = std::make_shared<const ast::StdAstFileSystem>(std::move(files));
    return new_holder(type, std::move(filesystem));
}

PyObject* file_system_read(PyObject* self, const Args& args) {
    std::string_view path;
    if (!args.text(0, path)) return nullptr;
    const SharedFileSystem& filesystem = held<SharedFileSystem>(self);
    auto text = without_gil([&] { return filesystem->read_to_string(path); });
    if (!text.ok()) return raise(PyExc_OSError, text.error().message());
    return new_str(*text).release();
}

PyObject* file_system_all_files(PyObject* self) {
    const SharedFileSystem& filesystem = held<SharedFileSystem>(self);
    auto files = without_gil([&] { return filesystem->all_files(); });
    return files_or_os_error(files);
}

// ---- AstFileParserCache ----------------------------------------------------------------------

constexpr Param kServiceParams[] = {{"files"}, {"project_root"}, {"filesystem", false}};

constexpr Signature kCacheNew(CallKind::Constructor, "AstFileParserCache", "__new__",
                              kServiceParams);
constexpr Signature kCacheAllFiles(CallKind::Method, "AstFileParserCache", "all_files");
constexpr Signature kCacheParsedFile(CallKind::Method, "AstFileParserCache", "get_parsed_file",
                                     kPathParam);

PyObject* cache_new(PyTypeObject* type, const Args& args) {
    std::vector<std::string> files;
    std::string_view root;
    SharedFileSystem filesystem;
    if (!text_list_arg(args, 0, files) || !args.text(1, root) ||
        !filesystem_arg(args, 2, filesystem))
        return nullptr;
    // Lists the file system and names every module with the lock held.
    ast::AstFileParserCache cache =
        filesystem ? ast::AstFileParserCache::with_filesystem(std::string(root), filesystem)
                   : ast::AstFileParserCache(std::string(root), std::move(files));
    return new_holder(type, std::move(cache));
}

PyObject* cache_all_files(PyObject* self) {
    const auto& cache = held<ast::AstFileParserCache>(self);
    auto files = without_gil([&] { return cache.all_files(); });
    return files_or_os_error(files);
}

// Module -> imported name -> local names, sorted by their bytes.
Ref imports_dict(const ast::ImportTable& imports) {
    Ref modules(PyDict_New());
    if (!modules) return modules;
    for (const auto& [module, names] : imports) {
        Ref by_name(PyDict_New());
        if (!by_name) return by_name;
        for (const auto& [name, locals] : names) {
            std::vector<std::string_view> sorted(locals.begin(), locals.end());
            std::sort(sorted.begin(), sorted.end());
            Ref list(PyList_New(static_cast<Py_ssize_t>(sorted.size())));
            if (!list) return list;
            for (size_t i = 0; i < sorted.size(); ++i) {
                Ref item = new_str(sorted[i]);
                if (!item) return item;
                PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
            }
            Ref key = new_str(name);
            if (!key || PyDict_SetItem(by_name.get(), key.get(), list.get()) < 0) return Ref();
        }
        Ref key = new_str(module);
        if (!key || PyDict_SetItem(modules.get(), key.get(), by_name.get()) < 0) return Ref();
    }
    return modules;
}

PyObject* cache_parsed_file(PyObject* self, const Args& args) {
    std::string_view path;
    if (!args.text(0, path)) return nullptr;
    const auto& cache = held<ast::AstFileParserCache>(self);
    // Python reads no statements: the cache keeps none.
    auto parsed = without_gil([&] { return cache.get_parsed_file(path); });
    if (!parsed.ok()) return raise(PyExc_ValueError, parsed.error());
    const ast::ParsedFileCache& file = **parsed;
    Ref py_path = new_str(file.path);
    Ref source = new_str(file.source);
    Ref imports = imports_dict(file.imports);
    if (!py_path || !source || !imports) return nullptr;
    return PyTuple_Pack(3, py_path.get(), source.get(), imports.get());
}

// ---- AstProjectIndex -------------------------------------------------------------------------

constexpr Param kModuleClass[] = {{"module"}, {"class_name"}};
constexpr Param kFileClass[] = {{"file_path"}, {"class_name"}};
constexpr Param kModuleResolver[] = {{"module"}, {"resolver_name"}};
constexpr Param kFileResolver[] = {{"file_path"}, {"resolver_name"}};
constexpr Param kModuleFunction[] = {{"module"}, {"function_name"}};
constexpr Param kFileFunction[] = {{"file_path"}, {"function_name"}};

constexpr const char* kIndex = "AstProjectIndex";
constexpr Signature kIndexNew(CallKind::Constructor, kIndex, "__new__", kServiceParams);
constexpr Signature kFeatureClass(CallKind::Method, kIndex, "feature_class_ast", kModuleClass);
constexpr Signature kFeatureClassInFile(CallKind::Method, kIndex, "feature_class_ast_in_file",
                                        kFileClass);
constexpr Signature kResolver(CallKind::Method, kIndex, "resolver_ast", kModuleResolver);
constexpr Signature kResolverInFile(CallKind::Method, kIndex, "resolver_ast_in_file",
                                    kFileResolver);
constexpr Signature kFunction(CallKind::Method, kIndex, "function_ast", kModuleFunction);
constexpr Signature kFunctionInFile(CallKind::Method, kIndex, "function_ast_in_file",
                                    kFileFunction);
constexpr Signature kStartIndex(CallKind::Method, kIndex, "nonblocking_start_index");

using IndexValue = ast::AstProjectIndex;

PyObject* index_new(PyTypeObject* type, const Args& args) {
    std::vector<std::string> files;
    std::string_view root;
    SharedFileSystem filesystem;  // counted up here, with the lock held
    if (!text_list_arg(args, 0, files) || !args.text(1, root) ||
        !filesystem_arg(args, 2, filesystem))
        return nullptr;
    // Building the index touches no Python object: the root is read in place from its str,
    // which the caller keeps alive.
    ast::AstProjectIndex index = without_gil([&]() {
        if (filesystem) {
            // Its result type leaves room for an error that construction never produces.
            return ast::AstProjectIndex::with_filesystem(std::string(root), std::move(files),
                                                         std::move(filesystem))
                .value();
        }
        return ast::AstProjectIndex(std::string(root), std::move(files));
    });
    return new_holder(type, std::move(index));
}

// The lookups keep the interpreter lock: the core never waits for it, so no deadlock with the
// warm-up threads, which never take it.
template <auto Lookup>
PyObject* index_lookup(PyObject* self, const Args& args) {
    std::string_view first, second;
    if (!args.text(0, first) || !args.text(1, second)) return nullptr;
    auto found = (held<IndexValue>(self).*Lookup)(first, second);
    if (!found) Py_RETURN_NONE;
    return wrap_record(std::move(found));
}

PyObject* index_start(PyObject* self) {
    held<IndexValue>(self).nonblocking_start_index();
    Py_RETURN_NONE;
}

// The memoised records are shared, never copied: they never change, and a property read builds
// new Python values from them.
constexpr auto kFeatureClassLookup = &IndexValue::shared_feature_class_ast;
constexpr auto kFeatureClassInFileLookup = &IndexValue::shared_feature_class_ast_in_file;
constexpr auto kResolverLookup = &IndexValue::shared_resolver_ast;
constexpr auto kResolverInFileLookup = &IndexValue::shared_resolver_ast_in_file;
constexpr auto kFunctionLookup = &IndexValue::shared_function_ast;
constexpr auto kFunctionInFileLookup = &IndexValue::shared_function_ast_in_file;

}  // namespace

// ---- the type objects ------------------------------------------------------------------------

PyTypeObject* std_ast_file_system_type() {
    static const FunctionDef members[] = {
        {&kFileSystemRead, &fastcall_entry<kFileSystemRead, file_system_read>},
        {&kFileSystemAllFiles, &noargs_entry<file_system_all_files>},
    };
    static MethodTable methods(members);
    static const std::string doc = kFileSystemNew.doc();
    static std::atomic<PyObject*> slot;
    return process_type(slot, TypeDescription{
                                  "builtins.StdAstFileSystem",
                                  static_cast<int>(sizeof(Holder<SharedFileSystem>)),
                                  &dealloc_holder<SharedFileSystem>,
                                  doc.c_str(),
                                  &new_entry<kFileSystemNew, file_system_new>,
                                  methods.terminated(),
                              });
}

PyTypeObject* ast_file_parser_cache_type() {
    static const FunctionDef members[] = {
        {&kCacheAllFiles, &noargs_entry<cache_all_files>},
        {&kCacheParsedFile, &fastcall_entry<kCacheParsedFile, cache_parsed_file>},
    };
    static MethodTable methods(members);
    static const std::string doc = kCacheNew.doc();
    static std::atomic<PyObject*> slot;
    return process_type(slot, TypeDescription{
                                  "builtins.AstFileParserCache",
                                  static_cast<int>(sizeof(Holder<ast::AstFileParserCache>)),
                                  &dealloc_holder<ast::AstFileParserCache>,
                                  doc.c_str(),
                                  &new_entry<kCacheNew, cache_new>,
                                  methods.terminated(),
                              });
}

PyTypeObject* ast_project_index_type() {
    static const FunctionDef members[] = {
        {&kFeatureClass, &fastcall_entry<kFeatureClass, index_lookup<kFeatureClassLookup>>},
        {&kFeatureClassInFile,
         &fastcall_entry<kFeatureClassInFile, index_lookup<kFeatureClassInFileLookup>>},
        {&kResolver, &fastcall_entry<kResolver, index_lookup<kResolverLookup>>},
        {&kResolverInFile, &fastcall_entry<kResolverInFile, index_lookup<kResolverInFileLookup>>},
        {&kFunction, &fastcall_entry<kFunction, index_lookup<kFunctionLookup>>},
        {&kFunctionInFile, &fastcall_entry<kFunctionInFile, index_lookup<kFunctionInFileLookup>>},
        {&kStartIndex, &noargs_entry<index_start>},
    };
    static MethodTable methods(members);
    static const std::string doc = kIndexNew.doc();
    static std::atomic<PyObject*> slot;
    return process_type(slot, TypeDescription{
                                  "builtins.AstProjectIndex",
                                  static_cast<int>(sizeof(Holder<IndexValue>)),
                                  &dealloc_holder<IndexValue>,
                                  doc.c_str(),
                                  &new_entry<kIndexNew, index_new>,
                                  methods.terminated(),
                              });
}

}  // namespace quarn_rs
