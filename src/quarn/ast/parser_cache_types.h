// One read and parsed file, as the parsed-file cache keeps it for the definition extraction.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "quarn/ast/string_map.h"
#include "rudo/python_ast/nodes.h"
#include "rudo/python_trivia/comment_ranges.h"

namespace quarn::ast {

// Module text -> imported name -> local names, from the top-level `from M import a [as b]`
// statements without leading dots.
using ImportTable = StringMap<StringMap<StringSet>>;

// Immutable once built; shared by the cache entry and every caller that received it.
struct ParsedFileCache {
    // Exactly as passed to `get_parsed_file`.
    std::string path;
    // The whole file as the file system returned it; every range below points into it.
    std::string source;
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
