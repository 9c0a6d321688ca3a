// Runs the definition extraction over one in-memory file.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "quarn/ast/ast_types.h"
#include "quarn/ast/memory_fs.h"
#include "quarn/ast/parser_cache.h"
#include "quarn/ast/type_parsing.h"

namespace quarn_test {

inline quarn::ast::Range range(uint32_t l1, uint32_t c1, uint32_t l2, uint32_t c2) {
    return {{l1, c1}, {l2, c2}};
}

// The records of `source` as the file `path`, or the parse failure.
inline quarn::Result<quarn::ast::ParsedAstFile> extract(const std::string& source,
                                                        const std::string& path = "/p/pkg/mod.py",
                                                        const std::string& root = "/p") {
    auto fs = std::make_shared<MemoryFileSystem>();
    fs->put(path, source);
    auto cache = quarn::ast::AstFileParserCache::with_filesystem(root, fs);
    auto parsed = cache.read_parsed_file(path);
    if (!parsed.ok()) return quarn::Err(parsed.error());
    return quarn::ast::parse_ast_file_with_feature_module(parsed->file, *parsed->statements,
                                                          cache.module_name_for_path(path));
}

// The range of a present location; an absent one fails the test.
inline ::testing::AssertionResult located_at(const std::optional<quarn::ast::Range>& location,
                                             const quarn::ast::Range& expected) {
    if (!location) return ::testing::AssertionFailure() << "no location";
    if (*location == expected) return ::testing::AssertionSuccess();
    const auto& got = *location;
    return ::testing::AssertionFailure()
           << "range (" << got.start.line << "," << got.start.character << ")-(" << got.end.line
           << "," << got.end.character << ")";
}

}  // namespace quarn_test
