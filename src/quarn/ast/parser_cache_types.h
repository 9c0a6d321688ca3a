// One read and parsed file, as the parsed-file cache keeps it for the definition extraction.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quarn/ast/record_arena.h"
#include "quarn/ast/string_map.h"
#include "rudo/python_ast/nodes.h"
#include "rudo/python_trivia/comment_ranges.h"

namespace quarn::ast {

// Module text -> imported name -> local names, from the top-level `from M import a [as b]`
// statements without leading dots.
using ImportTable = StringMap<StringMap<StringSet>>;

// Immutable once built; shared by the cache entry and every caller that received it.
struct ParsedFileCache {
    // Holds `source`: the cache's arena, where the kept texts of all its files lie side by side
    // (a heap block per file would cost a page fault per few files). Empty for a text owned
    // elsewhere.
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

// The import table of a module's top-level statements; nested blocks are never looked at.
ImportTable collect_imports(std::span<const rudo::python_ast::Stmt> suite);

}  // namespace quarn::ast
