// Internal pieces of the SVG writer: the fixed layout of the drawing, the
// sizes that follow from the number of pin rows, and the writer of one side's
// pin rows. render_symbol_svg in pinbook.hpp is the public entry.
//
// Every value is an IEEE double, and every step below is one rounded double
// operation in the grouping written (no fused multiply-add: the build sets
// -ffp-contract=off). The grouping decides the last bits, so keep it.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "pinbook/pinbook.hpp"

namespace pinbook::svg {

inline constexpr double row_pitch = 2.54;
inline constexpr double body_top = 4.0;
inline constexpr double body_width = 38.0;
inline constexpr double pin_length = 7.62;
inline constexpr double name_inset = 1.4;
inline constexpr double title_y = 2.8;
inline constexpr double pixel_scale = 14.0;
// The body plus, on each side, a pin and a margin of 22.
inline constexpr double canvas_width = 38.0 + 2 * (22.0 + 7.62);
inline constexpr double body_left = (canvas_width - 38.0) / 2;
inline constexpr double body_right = body_left + 38.0;
inline constexpr double body_centre_x = body_left + 19.0;
inline constexpr double pixel_width = canvas_width * 14.0;

// The sizes that depend on the number of rows.
struct FrameSizes {
    double body_height;
    double canvas_height;     // 4 above the body, 4 below it
    double pixel_height;
    double body_rect_height;  // the body's bottom edge less its top edge
};
FrameSizes frame_sizes(std::size_t row_count);

// What render_pin_side needs of the layout.
struct PinLayout {
    double body_top;
    double row_pitch;
    double body_left;
    double pin_length;
    double name_inset;
    double body_right;
};
inline constexpr PinLayout pin_layout{body_top, row_pitch, body_left, pin_length, name_inset, body_right};

// Appends one line per element of `side` (row 0 first): the pin line, the
// number and the name. `left` mirrors the drawing for the left side. An empty
// side appends nothing.
void render_pin_side(const PinLayout& layout, std::span<const Value* const> side, bool left,
                     std::string& document);

}  // namespace pinbook::svg
