#include "rudo/python_ast/dump.h"

#include <cmath>
#include <iterator>

#include "base/quote.h"

namespace rudo::python_ast::dump_detail {

void Dumper::key(std::string_view name) {
    if (compact()) {
        out_ += name;
        out_ += '=';
    } else {
        out_ += '"';
        out_ += name;
        out_ += "\": ";
    }
}

void Dumper::null() {
    out_ += compact() ? "None" : "null";
}

void Dumper::range(TextRange range) {
    if (compact()) {
        fmt::format_to(std::back_inserter(out_), "[{}..{}]", range.start(), range.end());
    } else {
        fmt::format_to(std::back_inserter(out_), "[{}, {}]", range.start(), range.end());
    }
}

void Dumper::text(std::string_view text) {
    quarn::append_json_string(out_, text);
}

// Bytes: ASCII as text; every other byte as \xNN (compact) or as the code point of the same
// value (JSON, which has no byte strings), so nothing is lost either way.
void Dumper::bytes(std::string_view bytes) {
    static constexpr char HEX[] = "0123456789abcdef";
    if (compact()) out_ += 'b';
    out_ += '"';
    for (char ch : bytes) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out_ += '\\';
            out_ += ch;
        } else if (c == '\n') {
            out_ += "\\n";
        } else if (c == '\r') {
            out_ += "\\r";
        } else if (c == '\t') {
            out_ += "\\t";
        } else if (c < 0x20 || c >= 0x7F) {
            out_ += compact() ? "\\x" : "\\u00";
            out_ += HEX[c >> 4];
            out_ += HEX[c & 0xF];
        } else {
            out_ += ch;
        }
    }
    out_ += '"';
}

void Dumper::scalar(bool value) {
    out_ += value ? "true" : "false";
}
void Dumper::scalar(int8_t value) {
    fmt::format_to(std::back_inserter(out_), "{}", value);
}
void Dumper::scalar(uint32_t value) {
    fmt::format_to(std::back_inserter(out_), "{}", value);
}

void Dumper::scalar(const Identifier& identifier) {
    if (compact()) {
        text(identifier.id.as_str());
        range(identifier.range);
    } else {
        out_ += "{\"id\": ";
        text(identifier.id.as_str());
        out_ += ", \"range\": ";
        range(identifier.range);
        out_ += '}';
    }
}

void Dumper::scalar(const DebugText& debug_text) {
    if (compact()) {
        out_ += "DebugText(leading=";
        text(debug_text.leading);
        out_ += ", trailing=";
        text(debug_text.trailing);
        out_ += ')';
    } else {
        out_ += "{\"leading\": ";
        text(debug_text.leading);
        out_ += ", \"trailing\": ";
        text(debug_text.trailing);
        out_ += '}';
    }
}

void Dumper::number(double value) {
    if (std::isfinite(value)) {
        std::string repr = fmt::format("{}", value);
        if (repr.find_first_of(".e") == std::string::npos) repr += ".0";
        out_ += repr;
    } else {
        std::string_view repr = std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf";
        if (compact()) {
            out_ += repr;
        } else {
            text(repr);
        }
    }
}

void Dumper::scalar(const NumberLiteralValue& number_value) {
    if (const Int* integer = number_value.as_int()) {
        if (const uint64_t* small = integer->as_u64()) {
            fmt::format_to(std::back_inserter(out_), "{}", *small);
        } else if (compact()) {
            out_ += *integer->as_big();
        } else {
            text(*integer->as_big());
        }
    } else if (const double* value = number_value.as_float()) {
        number(*value);
    } else if (const auto* complex = number_value.as_complex()) {
        out_ += compact() ? "Complex(real=" : "{\"real\": ";
        number(complex->real);
        out_ += compact() ? ", imag=" : ", \"imag\": ";
        number(complex->imag);
        out_ += compact() ? ")" : "}";
    }
}

void Dumper::enumerator(std::string_view name) {
    if (compact()) {
        out_ += name;
    } else {
        text(name);
    }
}

void Dumper::flag_list(const std::vector<std::string_view>& names) {
    if (compact()) {
        if (names.empty()) out_ += '0';
        for (size_t i = 0; i < names.size(); ++i) {
            if (i) out_ += '|';
            out_ += names[i];
        }
    } else {
        out_ += '[';
        for (size_t i = 0; i < names.size(); ++i) {
            if (i) out_ += ", ";
            text(names[i]);
        }
        out_ += ']';
    }
}

}  // namespace rudo::python_ast::dump_detail
