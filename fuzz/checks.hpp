// Properties every fuzz target checks on the writers' output. A broken
// property prints what broke and aborts, which libFuzzer reports as a crash
// and saves the input for.
#pragma once

#include <string_view>

#include "pinbook/pinbook.hpp"

namespace pinbook::fuzz {

// Stops the run with `what` on standard error.
[[noreturn]] void fail(std::string_view what, std::string_view detail = {});

// Runs render_symbol_svg, to_kicad_sym (with `symbol_name`) and
// to_pretty_json on `value`. When every string in the tree is valid UTF-8,
// also checks that all three outputs are valid UTF-8, that the SVG and KiCad
// texts end with a line feed, and that the JSON text parses back to the
// same tree (integer kinds as the tree stores them, doubles bit for bit,
// non-finite doubles as null).
void check_writers(const Value& value, std::string_view symbol_name);

// Checks the shape of a component value as the reader returns it: the seven
// keys, "_source" "pinbook", "pin_count" equal to the number of pins, at
// least one pin, and each pin with its seven keys of the right kinds.
void check_component(const Value& component);

}  // namespace pinbook::fuzz
