// The KiCad symbol library text (format 20211014): one symbol, one unit, a
// body rectangle centred on the origin and one horizontal pin per element of
// "pins", placed by side and row alone.
#include "pinbook/kicad.hpp"

#include <algorithm>

#include "pinbook/text.hpp"
#include "pinbook/value.hpp"

namespace pinbook {
namespace {

// The grid, in millimetres. Every constant is the double nearest to the
// decimal written, and the formulas below keep their grouping: the last bits
// decide the sign printed at a zero.
constexpr double kRowPitch = 2.54;
constexpr double kHalfHeightFactor = 0.5;
constexpr double kBodyHalfWidth = 19.05;
constexpr double kPinLength = 5.08;
constexpr double kPropertyOffset = 1.27;

// Room for one pin entry without its name and number.
constexpr std::size_t kPinEntrySize = 200;
// Room for the fixed part of the library text without the symbol name.
constexpr std::size_t kFrameSize = 520;

constexpr std::string_view kFont = " (effects (font (size 1.27 1.27))))";

// The number as written: double quotes turned into apostrophes.
std::string number_text(std::string_view number) {
    std::string out(number);
    std::replace(out.begin(), out.end(), '"', '\'');
    return out;
}

// The name as written: a name holding a backslash loses its backslashes and
// is drawn with an overbar ("~{...}"); double quotes become apostrophes.
std::string name_text(std::string_view name) {
    const bool overbar = name.find('\\') != std::string_view::npos;
    std::string out;
    out.reserve(name.size() + 3);
    if (overbar) out += "~{";
    for (char c : name) {
        if (c == '\\') continue;
        out += (c == '"') ? '\'' : c;
    }
    if (overbar) out += '}';
    return out;
}

}  // namespace

std::string_view kicad_symbol_name(const Value& component, std::optional<std::string_view> given) {
    if (given) return *given;
    const Value* module = lookup(component, "module_name");
    if (module != nullptr && module->is_string()) return module->get_ref<const std::string&>();
    return "SYM";
}

void append_kicad_quoted(std::string& out, std::string_view text) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* escape = nullptr;
        switch (text[i]) {
            case '\\': escape = "\\\\"; break;
            case '"': escape = "\\\""; break;
            case '\n': escape = "\\n"; break;
            case '\r': escape = "\\r"; break;
            default: continue;
        }
        out.append(text.substr(start, i - start));
        out.append(escape);
        start = i + 1;
    }
    out.append(text.substr(start));
}

void emit_side_pins(double half_height, std::span<const Value* const> side, PinSide flag,
                    std::string& entries) {
    const bool left = flag == PinSide::left;
    const double pin_x = left ? (-kBodyHalfWidth) - kPinLength : kBodyHalfWidth + kPinLength;
    // What stays the same along the side is formatted once.
    std::string at = "      (pin bidirectional line (at ";
    append_fixed(at, pin_x, 2);
    at += ' ';
    std::string tail = left ? " 0" : " 180";
    tail += ") (length ";
    append_fixed(tail, kPinLength, 2);
    tail += ")\n        (name \"";
    const double top = half_height - kRowPitch;
    for (std::size_t i = 0; i < side.size(); ++i) {
        const Value& pin = *side[i];
        const double row_y = top - static_cast<double>(i) * kRowPitch;
        entries += at;
        append_fixed(entries, row_y, 2);
        entries += tail;
        append_kicad_quoted(entries, name_text(string_member(pin, "name")));
        entries += '"';
        entries += kFont;
        entries += " (number \"";
        append_kicad_quoted(entries, number_text(string_member(pin, "number")));
        entries += '"';
        entries += kFont;
        entries += ")\n";
    }
}

std::string to_kicad_sym(const Value& component, std::string_view symbol_name) {
    const Sides sides = split_sides(component);
    const double n = static_cast<double>(sides.row_count());
    const double half_height = (n * kRowPitch) * kHalfHeightFactor + kRowPitch;
    const double reference_y = kPropertyOffset + half_height;
    const double value_y = (-kPropertyOffset) - half_height;
    const double bottom_y = -half_height;

    std::string name;
    append_kicad_quoted(name, symbol_name);

    std::string out;
    out.reserve(kFrameSize + 3 * name.size() + sides.pin_total * kPinEntrySize);
    out += "(kicad_symbol_lib (version 20211014) (generator pinbook)\n  (symbol \"";
    out += name;
    out += "\" (in_bom yes) (on_board yes)\n    (property \"Reference\" \"U\" (at 0 ";
    append_fixed(out, reference_y, 2);
    out += " 0) (effects (font (size 1.27 1.27))))\n    (property \"Value\" \"";
    out += name;
    out += "\" (at 0 ";
    append_fixed(out, value_y, 2);
    out += " 0) (effects (font (size 1.27 1.27))))\n    (symbol \"";
    out += name;
    out += "_1_1\"\n      (rectangle (start ";
    append_fixed(out, -kBodyHalfWidth, 2);
    out += ' ';
    append_fixed(out, half_height, 2);
    out += ") (end ";
    append_fixed(out, kBodyHalfWidth, 2);
    out += ' ';
    append_fixed(out, bottom_y, 2);
    out += ") (stroke (width 0.254) (type default)) (fill (type background)))\n";
    emit_side_pins(half_height, sides.left, PinSide::left, out);
    emit_side_pins(half_height, sides.right, PinSide::right, out);
    out += "    )\n  )\n)\n";
    return out;
}

}  // namespace pinbook
