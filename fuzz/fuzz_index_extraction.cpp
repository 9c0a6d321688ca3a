// Any bytes as one project file through the index's extraction: no crash or sanitizer report,
// every location inside the text and on the file's URI, names found where their locations say,
// and the resolvers exactly the decorated functions.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf8.h"
#include "quarn/ast/parse_source.h"
#include "quarn/ast/parser_cache_types.h"
#include "quarn/ast/type_parsing.h"
#include "stack_runner.h"

namespace {

using namespace quarn::ast;

constexpr std::string_view PATH = "/fuzz/pkg/mod.py";
constexpr std::string_view MODULE = "pkg.mod";

[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "%s: %.*s\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

bool is_ascii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// The text's lines, counted independently of the index's own line table: a line ends after
// "\n", "\r\n" or a lone "\r"; columns count Unicode scalar values (bytes that do not continue
// a character), and a leading byte-order mark takes no column.
class Lines {
  public:
    explicit Lines(std::string_view text) : text_(text) {
        size_t start = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
        starts_.push_back(start);
        for (size_t i = start; i < text.size(); ++i) {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            if (text[i] == '\n' || text[i] == '\r') starts_.push_back(i + 1);
        }
    }

    // The byte offset of a position, or nothing when the position lies outside the text: past
    // the last line, or past the end of its line and its line break.
    std::optional<size_t> offset(Position position) const {
        if (position.line >= starts_.size()) return std::nullopt;
        const size_t end =
            position.line + 1 < starts_.size() ? starts_[position.line + 1] : text_.size();
        size_t at = starts_[position.line];
        for (uint32_t column = 0; column < position.character; ++column) {
            if (at >= end) return std::nullopt;
            ++at;
            while (at < end && (static_cast<unsigned char>(text_[at]) & 0xC0) == 0x80)
                ++at;
        }
        return at;
    }

  private:
    std::string_view text_;
    std::vector<size_t> starts_;
};

class Checker {
  public:
    Checker(std::string_view text, FileLines file) : text_(text), lines_(text), file_(file) {}

    // The text a location covers.
    std::string_view at(const TextRange& bytes, std::string_view what) const {
        const Range location = file_.range(bytes);
        const auto start = lines_.offset(location.start);
        const auto end = lines_.offset(location.end);
        if (!start || !end) fail("location outside the text", what);
        if (*start > *end) fail("inverted location", what);
        return text_.substr(*start, *end - *start);
    }

    void optional(const std::optional<TextRange>& location, std::string_view what) const {
        if (location) (void)at(*location, what);
    }

    // A name's location covers the name as written, whenever normalisation cannot change it.
    void name(const TextRange& location, std::string_view name, std::string_view what) const {
        const std::string_view written = at(location, what);
        if (is_ascii(written) && written != name) fail("name not where its location says", name);
    }

    void keywords(const LocationMap& names, const LocationMap& values) const {
        for (const auto& [keyword, location] : names)
            name(location, keyword, "keyword name");
        for (const auto& [keyword, location] : values) {
            (void)at(location, "keyword value");
            if (!names.contains(keyword)) fail("keyword value without its name", keyword);
        }
    }

    void function(const ResolverAST& f) const {
        if (f.module != MODULE) fail("function of another module", f.module);
        name(f.resolver_name_location, f.resolver_name, "function name");
        optional(f.decorator_location, "decorator");
        keywords(f.kwarg_names, f.kwargs);
        for (const auto& [keyword, keys] : f.kwarg_dict_key_names)
            for (const auto& [key, location] : keys)
                (void)at(location, "dict key");
        for (const auto& [keyword, values] : f.kwarg_dict_values)
            for (const auto& [key, location] : values)
                (void)at(location, "dict value");
        for (const std::string_view arg : f.args_in_order)
            if (!f.args.contains(arg)) fail("parameter without its record", arg);
        for (const auto& [arg_name, arg] : f.args) {
            if (arg.arg_name != arg_name) fail("parameter under another name", arg_name);
            // From the stars through the annotation.
            const std::string_view written = at(arg.arg_location, "parameter");
            if (is_ascii(written) && written.find(arg_name) == std::string_view::npos)
                fail("parameter location without its name", arg_name);
            optional(arg.annotation, "parameter annotation");
        }
        optional(f.return_annotation, "return annotation");
        if (f.missing_return_annotation && at(*f.missing_return_annotation, "header colon") != ":")
            fail("missing return annotation is not a colon", f.resolver_name);
        for (const TextRange& location : f.return_statements)
            (void)at(location, "return statement");
        optional(f.body, "body");
        optional(f.return_arg, "return value");
    }

    void field(const FeatureFieldAST& field) const {
        name(field.field_name_location, field.field_name, "field name");
        optional(field.annotation, "field annotation");
        optional(field.feature_call, "field value");
        keywords(field.kwarg_names, field.kwargs);
    }

    void feature_class(const FeatureClassAST& c) const {
        if (c.module != MODULE) fail("feature class of another module", c.module);
        name(c.class_name_location, c.class_name, "class name");
        (void)at(c.class_definition_location, "class line");
        (void)at(c.decorator_location, "class decorator");
        keywords(c.kwarg_names, c.kwargs);
        for (const auto& [field_name, merged] : c.fields) {
            if (merged.field_name != field_name) fail("field under another name", field_name);
            field(merged);
        }
        for (const FeatureFieldAST& annotated : c.annotations) {
            field(annotated);
            if (!c.fields.contains(annotated.field_name))
                fail("annotated field missing from the fields", annotated.field_name);
        }
    }

  private:
    std::string_view text_;
    Lines lines_;
    FileLines file_;
};

void check_extraction(std::string_view text) {
    // The file system hands the index valid UTF-8 only.
    if (!quarn::is_valid_utf8(text)) return;
    auto parsed = parse_source(text);
    if (!parsed.ok()) {
        if (parsed.error().find(" at byte range ") == std::string::npos)
            fail("syntax error without its range", parsed.error());
        return;
    }
    auto kept = std::make_shared<ParsedFileCache>();
    ParsedFileCache& file = *kept;
    file.path = std::string(PATH);
    file.source = text;
    file.imports = collect_imports(parsed->suite);
    file.comment_ranges = std::move(parsed->comment_ranges);

    const ParsedAstFile records = parse_ast_file_with_feature_module(kept, parsed->suite, MODULE);
    const std::optional<Uri> uri = file_uri_for_path(PATH);
    if (!uri) fail("no URI for an absolute path", PATH);
    if (!records.functions.empty() || !records.feature_classes.empty()) {
        if (!records.uri || !(*records.uri == *uri)) fail("records of another URI", PATH);
    }
    if (!records.lines) fail("records without their lines", PATH);
    const Checker checker(file.source, FileLines{records.lines.get()});
    for (const ResolverAST& f : records.functions)
        checker.function(f);
    for (const FeatureClassAST& c : records.feature_classes)
        checker.feature_class(c);

    // The resolvers are the decorated functions, in the same order.
    size_t next = 0;
    for (const ResolverAST& f : records.functions) {
        if (!f.decorator_location) continue;
        if (next >= records.resolvers.size() || !(records.resolvers[next] == f))
            fail("resolvers differ from the decorated functions", f.resolver_name);
        ++next;
    }
    if (next != records.resolvers.size()) fail("a resolver that is no decorated function");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto body = [text] { check_extraction(text); };
    quarn_fuzz::StackRunner::instance().run(body);
    return 0;
}
