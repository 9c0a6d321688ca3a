#include "quarn/ast/project_index.h"

#include <sched.h>

#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <type_traits>

#include <fmt/format.h>

#include "base/panic.h"
#include "quarn/ast/fork_gate.h"
#include "quarn/ast/parse_source.h"
#include "quarn/ast/type_parsing.h"
#include "quarn/utils/namespace.h"

namespace quarn::ast {
namespace {

using Outcome = Result<std::shared_ptr<const ParsedAstFile>>;

Outcome typed_file(AstProjectIndexInner& inner, std::string_view path) {
    // Lock order: this entry, then the parsed-file cache's own locks.
    return inner.typed_entries.get(path, [&]() -> Outcome {
        auto parse = inner.parser_cache.read_parsed_file(path);
        if (!parse.ok()) return Err(std::move(parse).error());
        const ParsedFileCache& file = *parse->file;
        if (!parse->statements) {
            // The cache hands the statements to the call that parses the file and keeps none.
            // This entry is computed again only when an earlier computation left it open (it ran
            // short of memory, or a fork left its thread behind): the kept text parsed then, so
            // it parses the same now.
            auto again = parse_source(file.source);
            if (!again.ok()) return Err(fmt::format("Failed to parse {}: {}", path, again.error()));
            parse->statements.emplace(std::move(again->suite));
        }
        return std::make_shared<const ParsedAstFile>(parse_ast_file_with_feature_module(
            file, *parse->statements, inner.parser_cache.module_name_for_path(path)));
    });
}

// Nobody waits for a warm-up thread, yet each is joined once it has ended (when the next warm-up
// starts, or at exit): a thread's own storage is then released after it, never beside it. This
// also counts the workers inside a file, so that exit can wait for them. Never destroyed:
// workers may still read it while the process tears down.
struct WarmUpRegistry {
    std::mutex mutex;
    std::condition_variable idle;
    // Workers inside a file, and workers not yet ended.
    size_t busy = 0;
    size_t live = 0;
    bool stopping = false;
    uint64_t next_id = 0;
    std::map<uint64_t, std::thread> running;
    std::vector<std::thread> ended;
};

// Replaced only in the child of a fork, where no other thread runs; atomic all the same, since
// the parent's workers read it up to the fork.
std::atomic<WarmUpRegistry*>& registry_slot() {
    static std::atomic<WarmUpRegistry*> instance{new WarmUpRegistry};
    return instance;
}

WarmUpRegistry& registry() {
    return *registry_slot().load(std::memory_order_acquire);
}

// In the child of a fork: the parent's workers do not exist here, so they are neither waited for
// nor joined. Their registry is left as it is (its threads must not be touched) for a new one.
void forget_workers_after_fork() {
    registry_slot().store(new WarmUpRegistry, std::memory_order_release);
}

bool enter_file() {
    WarmUpRegistry& r = registry();
    const std::lock_guard lock(r.mutex);
    if (r.stopping) return false;
    ++r.busy;
    return true;
}

void leave_file() {
    WarmUpRegistry& r = registry();
    const std::lock_guard lock(r.mutex);
    // Only the exit handler waits for the files in progress.
    if (--r.busy == 0 && r.stopping) r.idle.notify_all();
}

void end_worker(uint64_t id) {
    WarmUpRegistry& r = registry();
    const std::lock_guard lock(r.mutex);
    if (auto found = r.running.find(id); found != r.running.end()) {
        r.ended.push_back(std::move(found->second));
        r.running.erase(found);
    }
    if (--r.live == 0) r.idle.notify_all();
}

// Joins the threads that have ended; they finish at once.
void join_ended() {
    std::vector<std::thread> ended;
    {
        WarmUpRegistry& r = registry();
        const std::lock_guard lock(r.mutex);
        ended.swap(r.ended);
    }
    for (std::thread& thread : ended) {
        if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
    }
}

void warm_up_files(const std::vector<std::string>& files,
                   const std::weak_ptr<AstProjectIndexInner>& weak_inner,
                   const std::weak_ptr<const void>& users, size_t workers, size_t worker) {
    for (size_t k = worker; k < files.size(); k += workers) {
        // Files in progress pause inside their parse instead.
        fork_gate::checkpoint();
        // Once every handle on the index is gone, the worker stops instead of parsing the rest
        // of the project; the other workers' own handles do not count.
        if (users.expired()) return;
        if (!enter_file()) return;
        {
            // A handle only while a file is processed.
            std::shared_ptr<AstProjectIndexInner> inner = weak_inner.lock();
            if (!inner) {
                leave_file();
                return;
            }
            try {
                (void)typed_file(*inner, files[k]);
            } catch (...) {
                // The failure stays with the file (its entry is poisoned), or, when it was a
                // failure of the moment, the file is left to later lookups; the next file is
                // unaffected.
            }
            try {
                inner.reset();
            } catch (...) {
            }
        }
        leave_file();
    }
}

void warm_up(uint64_t id, std::shared_ptr<const std::vector<std::string>> files,
             std::weak_ptr<AstProjectIndexInner> weak_inner, std::weak_ptr<const void> users,
             size_t workers, size_t worker) {
    {
        // Left after the worker has recorded its end.
        const fork_gate::Enlisted enlisted;
        try {
            warm_up_files(*files, weak_inner, users, workers, worker);
            files.reset();
            weak_inner.reset();
        } catch (...) {
            // Nothing may reach std::terminate from a worker.
        }
        end_worker(id);
    }
}

// The statics a worker touches are built before the exit handler is registered, so the handler
// runs before any of them is destroyed.
void register_exit_handler() {
    static std::once_flag once;
    std::call_once(once, [] {
        prepare_process();
        std::atexit(stop_warm_up_threads);
    });
}

}  // namespace

void prepare_process() {
    static std::once_flag once;
    std::call_once(once, [] {
        (void)registry();
        // Each snake-case pattern is built on its first possible match.
        for (const char* name : {"WarmUpStatics", "x__Y", "aB", "HTTPResponse"}) {
            (void)quarn::utils::to_snake_case(name);
        }
        (void)quarn::utils::build_namespaced_name("a", "B");
        // The identifier's ligature builds the NFKC normaliser, and dropping the tree the
        // iterative destruction's state.
        (void)parse_source(
            "@d\nclass A(B):\n    x: int = f(a=1)  # c\n    def g(self): return f'{x}'\n"
            "\xEF\xAC\x81 = [[1]]\n");
        // Before a fork, workers that have ended are joined: a thread's teardown may hold the
        // allocator's locks.
        fork_gate::install(&join_ended, &forget_workers_after_fork);
    });
}

void stop_warm_up_threads() {
    {
        WarmUpRegistry& r = registry();
        std::unique_lock lock(r.mutex);
        r.stopping = true;
        // Workers between two files see the flag and end at once.
        r.idle.wait(lock, [&] { return r.busy == 0 && r.live == 0; });
    }
    join_ended();
}

void detail::start_warm_up(const AstProjectIndex& index, size_t parallelism) {
    if (index.files_->empty()) return;
    if (index.inner_->started.exchange(true)) return;
    register_exit_handler();
    join_ended();
    const size_t workers = std::max<size_t>(1, std::min(index.files_->size(), parallelism));
    // Every slot exists before the workers start: they then only ever read the two maps.
    index.inner_->typed_entries.add_slots(*index.files_);
    index.inner_->parser_cache.inner()->entries.add_slots(*index.files_);
    const std::weak_ptr<AstProjectIndexInner> weak = index.inner_;
    const std::weak_ptr<const void> users = index.users_;
    WarmUpRegistry& r = registry();
    for (size_t i = 0; i < workers; ++i) {
        // The registry lock is held until the thread is recorded, so that it cannot end first.
        const std::lock_guard lock(r.mutex);
        const uint64_t id = r.next_id++;
        try {
            r.running.emplace(id, std::thread(warm_up, id, index.files_, weak, users, workers, i));
        } catch (const std::system_error& error) {
            panic(fmt::format("failed to spawn thread: {}", error.what()));
        }
        ++r.live;
    }
}

namespace detail {
void wait_for_warm_up_threads() {
    {
        WarmUpRegistry& r = registry();
        std::unique_lock lock(r.mutex);
        r.idle.wait(lock, [&] { return r.live == 0; });
    }
    join_ended();
}

size_t available_parallelism() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<size_t>(count);
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? hardware : 1;
}
}  // namespace detail

AstProjectIndex::AstProjectIndex(std::shared_ptr<const std::vector<std::string>> files,
                                 std::shared_ptr<AstProjectIndexInner> inner,
                                 std::shared_ptr<const StringMap<std::vector<size_t>>> positions)
    : files_(std::move(files)),
      inner_(std::move(inner)),
      module_positions_(std::move(positions)),
      users_(std::make_shared<const int>(0)) {}

AstProjectIndex::AstProjectIndex(std::string project_root, std::vector<std::string> files)
    : AstProjectIndex(*with_filesystem(std::move(project_root), files,
                                       std::make_shared<StdAstFileSystem>(files))) {}

Result<AstProjectIndex> AstProjectIndex::with_filesystem(
    std::string project_root, std::vector<std::string> files,
    std::shared_ptr<const AstFileSystem> filesystem) {
    auto cache =
        AstFileParserCache::with_filesystem(std::move(project_root), std::move(filesystem));
    // Every record of a file carries the file's module name, which depends only on its path: a
    // module lookup needs only the files of that module.
    auto positions = std::make_shared<StringMap<std::vector<size_t>>>();
    for (size_t k = 0; k < files.size(); ++k) {
        (*positions)[cache.module_name_for_path(files[k])].push_back(k);
    }
    return AstProjectIndex(std::make_shared<const std::vector<std::string>>(std::move(files)),
                           std::make_shared<AstProjectIndexInner>(std::move(cache)),
                           std::move(positions));
}

Result<std::shared_ptr<const ParsedAstFile>> AstProjectIndex::get_parsed_ast_file(
    std::string_view path) const {
    try {
        return typed_file(*inner_, path);
    } catch (const TransientFailure& failure) {
        // Answers this caller only; the entry stays open.
        return Err(std::string(failure.what()));
    }
}

std::span<const size_t> AstProjectIndex::positions_of(std::string_view module) const {
    const auto found = module_positions_->find(module);
    if (found == module_positions_->end()) return {};
    return found->second;
}

namespace {

using FilePtr = std::shared_ptr<const ParsedAstFile>;

// The record inside the file's shared records, which it keeps alive.
template <typename Record>
SharedRecord<Record> inside(const FilePtr& file, const Record& record) {
    return SharedRecord<Record>(file, &record);
}

template <typename Records, typename Field>
auto first_in(const FilePtr& file, const Records& records, Field name_of, std::string_view name)
    -> SharedRecord<std::remove_cvref_t<decltype(*records.begin())>> {
    for (const auto& record : records) {
        if (record.*name_of == name) return inside(file, record);
    }
    return nullptr;
}

template <typename Record>
std::optional<Record> copy_of(const SharedRecord<Record>& found) {
    if (!found) return std::nullopt;
    return *found;
}

}  // namespace

template <typename List>
SharedRecord<ResolverAST> AstProjectIndex::first_function_of_module(
    std::string_view module, std::string_view name, List ParsedAstFile::*list) const {
    for (const size_t k : positions_of(module)) {
        const auto file = get_parsed_ast_file((*files_)[k]);
        if (!file.ok()) continue;
        for (const ResolverAST& record : (**file).*list) {
            if (record.module == module && record.resolver_name == name) {
                return inside(*file, record);
            }
        }
    }
    return nullptr;
}

SharedRecord<ResolverAST> AstProjectIndex::shared_function_ast(
    std::string_view module, std::string_view function_name) const {
    return first_function_of_module(module, function_name, &ParsedAstFile::functions);
}

SharedRecord<ResolverAST> AstProjectIndex::shared_resolver_ast(
    std::string_view module, std::string_view resolver_name) const {
    return first_function_of_module(module, resolver_name, &ParsedAstFile::resolvers);
}

SharedRecord<FeatureClassAST> AstProjectIndex::shared_feature_class_ast(
    std::string_view module, std::string_view class_name) const {
    for (const size_t k : positions_of(module)) {
        const auto file = get_parsed_ast_file((*files_)[k]);
        if (!file.ok()) continue;
        // Only the first class of that name in each file counts.
        for (const FeatureClassAST& record : (*file)->feature_classes) {
            if (record.class_name != class_name) continue;
            if (record.module == module) return inside(*file, record);
            break;
        }
    }
    return nullptr;
}

SharedRecord<ResolverAST> AstProjectIndex::shared_function_ast_in_file(
    std::string_view file_path, std::string_view function_name) const {
    const auto file = get_parsed_ast_file(file_path);
    if (!file.ok()) return nullptr;
    return first_in(*file, (*file)->functions, &ResolverAST::resolver_name, function_name);
}

SharedRecord<ResolverAST> AstProjectIndex::shared_resolver_ast_in_file(
    std::string_view file_path, std::string_view resolver_name) const {
    const auto file = get_parsed_ast_file(file_path);
    if (!file.ok()) return nullptr;
    return first_in(*file, (*file)->resolvers, &ResolverAST::resolver_name, resolver_name);
}

SharedRecord<FeatureClassAST> AstProjectIndex::shared_feature_class_ast_in_file(
    std::string_view file_path, std::string_view class_name) const {
    const auto file = get_parsed_ast_file(file_path);
    if (!file.ok()) return nullptr;
    return first_in(*file, (*file)->feature_classes, &FeatureClassAST::class_name, class_name);
}

std::optional<ResolverAST> AstProjectIndex::function_ast(std::string_view module,
                                                         std::string_view function_name) const {
    return copy_of(shared_function_ast(module, function_name));
}

std::optional<ResolverAST> AstProjectIndex::resolver_ast(std::string_view module,
                                                         std::string_view resolver_name) const {
    return copy_of(shared_resolver_ast(module, resolver_name));
}

std::optional<FeatureClassAST> AstProjectIndex::feature_class_ast(
    std::string_view module, std::string_view class_name) const {
    return copy_of(shared_feature_class_ast(module, class_name));
}

std::optional<ResolverAST> AstProjectIndex::function_ast_in_file(
    std::string_view file_path, std::string_view function_name) const {
    return copy_of(shared_function_ast_in_file(file_path, function_name));
}

std::optional<ResolverAST> AstProjectIndex::resolver_ast_in_file(
    std::string_view file_path, std::string_view resolver_name) const {
    return copy_of(shared_resolver_ast_in_file(file_path, resolver_name));
}

std::optional<FeatureClassAST> AstProjectIndex::feature_class_ast_in_file(
    std::string_view file_path, std::string_view class_name) const {
    return copy_of(shared_feature_class_ast_in_file(file_path, class_name));
}

void AstProjectIndex::nonblocking_start_index() const {
    detail::start_warm_up(*this, detail::available_parallelism());
}

}  // namespace quarn::ast
