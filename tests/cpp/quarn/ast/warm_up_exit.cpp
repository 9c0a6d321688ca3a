// Starts the warm-up over every .py file of a folder and returns from main at once, so that the
// process exits while the workers run: with the index still held ("keep", as an interpreter that
// never frees it) or dropped ("drop").
#include <dirent.h>

#include <string>
#include <vector>

#include "quarn/ast/project_index.h"

// Reachable for the whole run, as a module global of an interpreter would be.
const quarn::ast::AstProjectIndex* kept_index = nullptr;

// The "keep" index is never freed, as an interpreter that exits without freeing it, and workers
// may still hold their handles at exit: neither is a leak of the index's own making.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";
}

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::string root = argv[1];
    std::vector<std::string> files;
    DIR* dir = ::opendir(root.c_str());
    if (!dir) return 3;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 3 && name.ends_with(".py")) files.push_back(root + "/" + name);
    }
    ::closedir(dir);
    if (std::string(argv[2]) == "keep") {
        kept_index = new quarn::ast::AstProjectIndex(root, files);
        kept_index->nonblocking_start_index();
    } else {
        const quarn::ast::AstProjectIndex index(root, files);
        index.nonblocking_start_index();
    }
    return 0;
}
