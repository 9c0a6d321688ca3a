// One read and parsed file, as the parsed-file cache keeps it for the definition extraction.
#pragma once

#include <memory>
#include <memory_resource>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "quarn/ast/record_arena.h"
#include "quarn/ast/string_map.h"
#include "rudo/python_ast/nodes.h"
#include "rudo/python_trivia/comment_ranges.h"

namespace quarn::ast {

// The maps and sets of an import table: the standard ones, over the memory resource the table
// was made with (the arena of its parsed file, or the heap), so that a file's table is not
// a dozen heap blocks.
template <typename V>
using ImportMap = std::pmr::unordered_map<std::pmr::string, V, StringHash, std::equal_to<>>;
using ImportNames = std::pmr::unordered_set<std::pmr::string, StringHash, std::equal_to<>>;

// Module text -> imported name -> local names, from the top-level `from M import a [as b]`
// statements without leading dots.
using ImportTable = ImportMap<ImportMap<ImportNames>>;

// Immutable once built; shared by the cache entry and every caller that received it.
struct ParsedFileCache {
    // Holds `source` and the memory of `imports`: the cache's arena, where what it keeps of all
    // its files lies side by side (a heap block per part would cost a page fault per few files).
    // Empty for a text and a table owned elsewhere. Declared first, so it goes last.
    std::shared_ptr<const RecordArena> arena;
    // Exactly as passed to `get_parsed_file`.
    std::string path;
    // The whole file as the file system returned it; every range below points into it.
    std::string_view source;
    ImportTable imports;
    rudo::python_trivia::CommentRanges comment_ranges;
};

// A file's parse as the cache hands it to the definition extraction: the kept record, and the
// statements when this very call parsed the file. The cache keeps no statements: a tree lives
// only while its one reader builds what it needs from it.
struct FileParse {
    std::shared_ptr<const ParsedFileCache> file;
    // The module's top-level statements with the arena that holds them; the rest of the parse
    // is dropped. Absent when an earlier call parsed the file.
    std::optional<rudo::python_ast::Suite> statements;
};

// The import table of a module's top-level statements; nested blocks are never looked at. Its
// maps, sets and long texts come from `memory`, which must outlive it.
ImportTable collect_imports(std::span<const rudo::python_ast::Stmt> suite,
                            std::pmr::memory_resource* memory = std::pmr::get_default_resource());

}  // namespace quarn::ast
