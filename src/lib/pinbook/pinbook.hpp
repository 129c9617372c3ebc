// Public interface of the pinbook library: read the first component of a
// .SchLib symbol library and turn it into SVG, KiCad or JSON text.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace pinbook {

// A failure: one line of text, the failing step's message followed by the
// cause's text where there is one.
struct Error {
    std::string message;
};

// The value tree every writer reads: objects are std::map, ordered by bytes.
using Value = nlohmann::json;

// Reads the file at `path` whole and decodes it as parse_pinbook_bytes does.
std::expected<Value, Error> parse_pinbook_path(std::string_view path);

// Decodes the first component of a .SchLib held in memory. The bytes are only
// read, and nothing refers to them after the call.
std::expected<Value, Error> parse_pinbook_bytes(std::span<const std::uint8_t> bytes);

// One self-contained SVG document for a component value. Total: any value
// tree gives a document.
std::string render_symbol_svg(const Value& component);

// Escapes text for SVG element content.
std::string esc(std::string_view text);

// A KiCad symbol library (format 20211014) holding one symbol. Total.
std::string to_kicad_sym(const Value& component, std::string_view symbol_name);

// The JSON text form of any value tree, without a final line feed.
std::string to_pretty_json(const Value& value);

}  // namespace pinbook
