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

// The positions of a present location of `file`'s records; an absent one fails the test.
inline ::testing::AssertionResult located_at(const quarn::ast::ParsedAstFile& file,
                                             const std::optional<quarn::ast::TextRange>& location,
                                             const quarn::ast::Range& expected) {
    if (!location) return ::testing::AssertionFailure() << "no location";
    if (!file.lines) return ::testing::AssertionFailure() << "no lines to read the location by";
    const quarn::ast::Range got = file.lines->range_at(*location);
    if (got == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "range (" << got.start.line << "," << got.start.character << ")-(" << got.end.line
           << "," << got.end.character << ")";
}

inline ::testing::AssertionResult located_at(const quarn::Result<quarn::ast::ParsedAstFile>& file,
                                             const std::optional<quarn::ast::TextRange>& location,
                                             const quarn::ast::Range& expected) {
    if (!file.ok()) return ::testing::AssertionFailure() << file.error();
    return located_at(*file, location, expected);
}

}  // namespace quarn_test
