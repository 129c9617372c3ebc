// Pieces of the KiCad symbol library text, shared by to_kicad_sym and its
// tests.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "pinbook/pinbook.hpp"

namespace pinbook {

// The name pinbook_kicad gives the symbol: `given` unchanged when present,
// else the component's "module_name" when it is a string, else "SYM". The
// view refers to `given` or into `component`.
std::string_view kicad_symbol_name(const Value& component, std::optional<std::string_view> given);

enum class PinSide { left, right };

// Appends `text` for use between the quotes of a KiCad string: a backslash
// becomes "\\", a double quote "\"", a line feed "\n" and a carriage return
// "\r"; every other byte is copied. Without those four bytes the text is
// copied unchanged.
void append_kicad_quoted(std::string& out, std::string_view text);

// Appends two lines per element of `side` (element i is row i, row 0 the top
// row) to `entries`: a bidirectional pin at the side's x and angle and the
// row's y below `half_height`, with the element's "name" and "number".
void emit_side_pins(double half_height, std::span<const Value* const> side, PinSide flag,
                    std::string& entries);

}  // namespace pinbook
