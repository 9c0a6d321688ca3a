// What the module needs to carry the C++ runtime in (-static-libstdc++ -static-libgcc).
//
// Debian's runtime was built against a glibc newer than the systems the wheel is for: its unwinder
// asks _dl_find_object (glibc 2.35) for a frame's unwind tables, and std::random_device reads
// arc4random (glibc 2.36). The link sends both names here (--wrap), so the module loads on glibc
// 2.34, and uses the newer calls where they exist.
//
// The module's own unwinder is not the only one that runs through its frames: glibc ends a thread
// (a daemon thread taking the interpreter lock back at exit) with a forced unwind from the system's
// libgcc_s, which calls the module's personality routine, which sets registers through the
// module's copy of the unwinder. That copy sizes registers from a table it fills the first time it
// unwinds itself, so it unwinds once when the module is loaded.
#include <dlfcn.h>
#include <link.h>
#include <sys/random.h>
#include <unwind.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace {

using FindObject = int (*)(void*, dl_find_object*);

FindObject glibc_find_object() {
    // Looked up once; glibc before 2.35 has none and the search falls back to the program headers.
    static const FindObject found =
        reinterpret_cast<FindObject>(dlsym(RTLD_DEFAULT, "_dl_find_object"));
    return found;
}

struct Search {
    std::uintptr_t pc;
    dl_find_object* result;
    bool found;
};

int visit(dl_phdr_info* info, std::size_t, void* data) {
    auto* search = static_cast<Search*>(data);
    const ElfW(Phdr)* eh_frame = nullptr;
    bool contains = false;
    std::uintptr_t start = UINTPTR_MAX, end = 0;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type == PT_GNU_EH_FRAME) eh_frame = &ph;
        if (ph.p_type != PT_LOAD) continue;
        std::uintptr_t from = info->dlpi_addr + ph.p_vaddr;
        std::uintptr_t to = from + ph.p_memsz;
        if (from < start) start = from;
        if (to > end) end = to;
        if (search->pc >= from && search->pc < to) contains = true;
    }
    if (!contains) return 0;
    search->found = true;
    search->result->dlfo_flags = 0;
    search->result->dlfo_map_start = reinterpret_cast<void*>(start);
    search->result->dlfo_map_end = reinterpret_cast<void*>(end);
    search->result->dlfo_link_map = nullptr;
    search->result->dlfo_eh_frame =
        eh_frame ? reinterpret_cast<void*>(info->dlpi_addr + eh_frame->p_vaddr) : nullptr;
    return 1;
}

_Unwind_Reason_Code first_frame_only(_Unwind_Context*, void*) { return _URC_END_OF_STACK; }

__attribute__((constructor)) void prepare_unwinder() { _Unwind_Backtrace(first_frame_only, nullptr); }

}  // namespace

extern "C" {

__attribute__((visibility("hidden"))) int __wrap__dl_find_object(void* pc,
                                                                 dl_find_object* result) {
    if (FindObject find = glibc_find_object()) return find(pc, result);
    Search search{reinterpret_cast<std::uintptr_t>(pc), result, false};
    dl_iterate_phdr(visit, &search);
    return search.found ? 0 : -1;
}

__attribute__((visibility("hidden"))) std::uint32_t __wrap_arc4random() {
    std::uint32_t value = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(&value);
    std::size_t done = 0;
    while (done < sizeof value) {
        ssize_t got = getrandom(bytes + done, sizeof value - done, 0);
        if (got > 0) done += static_cast<std::size_t>(got);
        else if (got < 0 && errno != EINTR) break;  // no entropy source at all: keep what we have
    }
    return value;
}

}
