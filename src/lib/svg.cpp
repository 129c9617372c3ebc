// The SVG drawing of a component: a body rectangle whose height follows the
// number of pin rows, the pins in rows on its left and right, and a title.
#include "pinbook/svg.hpp"

#include <charconv>
#include <string_view>

#include "pinbook/text.hpp"
#include "pinbook/value.hpp"

namespace pinbook {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// True for the bytes that XML 1.0 forbids in a document: every C0 control
// but tab, line feed and carriage return.
constexpr bool forbidden_control(unsigned char c) {
    return c < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

// Appends `text` escaped for element content: "&", "<" and ">" become
// entities, and the characters XML 1.0 forbids (the C0 controls other than
// tab, LF and CR, and U+FFFE and U+FFFF) become U+FFFD, so that any text
// gives a document a parser accepts. With `drop_backslashes` every "\" is
// left out first (pin names mark overbars with it). The text is UTF-8.
void append_escaped(std::string& out, std::string_view text, bool drop_backslashes) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end) {
        // Copy the run of bytes that need nothing at once.
        const char* run = p;
        while (p != end) {
            const auto c = static_cast<unsigned char>(*p);
            if (c == '&' || c == '<' || c == '>' || c == 0xEF || forbidden_control(c) ||
                (c == '\\' && drop_backslashes)) {
                break;
            }
            ++p;
        }
        out.append(run, p);
        if (p == end) break;
        const auto c = static_cast<unsigned char>(*p);
        switch (c) {
            case '&': out.append("&amp;"); ++p; break;
            case '<': out.append("&lt;"); ++p; break;
            case '>': out.append("&gt;"); ++p; break;
            case '\\': ++p; break;
            case 0xEF:
                // U+FFFE is EF BF BE and U+FFFF is EF BF BF; every other
                // character led by EF is copied as it is.
                if (end - p >= 3 && static_cast<unsigned char>(p[1]) == 0xBF &&
                    (static_cast<unsigned char>(p[2]) == 0xBE || static_cast<unsigned char>(p[2]) == 0xBF)) {
                    out.append(kReplacement);
                    p += 3;
                } else {
                    out.push_back(*p);
                    ++p;
                }
                break;
            default:  // a forbidden control character
                out.append(kReplacement);
                ++p;
                break;
        }
    }
}

void append_count(std::string& out, std::size_t n) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, res.ptr);
}

// A bound on the bytes one row takes besides its escaped texts.
constexpr std::size_t kRowBytes = 320;

}  // namespace

std::string esc(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 16);
    append_escaped(out, text, false);
    return out;
}

namespace svg {

FrameSizes frame_sizes(std::size_t row_count) {
    FrameSizes f{};
    f.body_height = (static_cast<double>(row_count) * row_pitch) + row_pitch;
    f.canvas_height = 8.0 + f.body_height;
    f.pixel_height = f.canvas_height * pixel_scale;
    f.body_rect_height = (body_top + f.body_height) - body_top;
    return f;
}

void render_pin_side(const PinLayout& layout, std::span<const Value* const> side, bool left,
                     std::string& document) {
    if (side.empty()) return;

    // Everything but y is the same on every row of a side: print it once.
    const double edge_x = left ? layout.body_left : layout.body_right;
    const double outer_x = left ? layout.body_left - layout.pin_length : layout.pin_length + layout.body_right;
    const double number_x = outer_x + (left ? 0.6 : -0.6);
    const double name_x = left ? layout.name_inset + layout.body_left : layout.body_right - layout.name_inset;
    const std::string_view anchor = left ? "start" : "end";

    std::string edge_text, outer_text, number_x_text, name_x_text;
    append_fixed(edge_text, edge_x, 2);
    append_fixed(outer_text, outer_x, 2);
    append_fixed(number_x_text, number_x, 2);
    append_fixed(name_x_text, name_x, 2);

    const double first_row_y = layout.body_top + layout.row_pitch;
    for (std::size_t i = 0; i < side.size(); ++i) {
        const Value& pin = *side[i];
        const std::string_view number = string_member(pin, "number");
        const std::string_view name = string_member(pin, "name");
        const double t = static_cast<double>(i) * layout.row_pitch;
        const double row_y = t + first_row_y;
        const double number_y = row_y + (-0.5);
        const double name_y = row_y + 0.45;

        document.append("<line x1=\"").append(edge_text).append("\" y1=\"");
        const std::size_t row_y_at = document.size();
        append_fixed(document, row_y, 2);
        const std::size_t row_y_len = document.size() - row_y_at;
        document.append("\" x2=\"").append(outer_text).append("\" y2=\"");
        document.append(document, row_y_at, row_y_len);
        document.append("\" stroke=\"#7cb6ff\" stroke-width=\"0.18\"/>");

        document.append("<text x=\"").append(number_x_text).append("\" y=\"");
        append_fixed(document, number_y, 2);
        document.append("\" font-size=\"1.0\" fill=\"#8b949e\" text-anchor=\"").append(anchor).append("\">");
        append_escaped(document, number, false);
        document.append("</text>");

        document.append("<text x=\"").append(name_x_text).append("\" y=\"");
        append_fixed(document, name_y, 2);
        document.append("\" font-size=\"1.25\" fill=\"#e6edf3\" text-anchor=\"").append(anchor).append("\">");
        append_escaped(document, name, true);
        document.append("</text>\n");
    }
}

}  // namespace svg

std::string render_symbol_svg(const Value& component) {
    using namespace svg;

    const Value* module_name = lookup(component, "module_name");
    const std::string_view title =
        module_name != nullptr && module_name->is_string()
            ? std::string_view(module_name->get_ref<const std::string&>())
            : std::string_view("?");
    const Sides sides = split_sides(component);
    const FrameSizes f = frame_sizes(sides.row_count());

    std::string doc;
    doc.reserve(640 + 2 * title.size() + sides.pin_total * kRowBytes);

    std::string canvas_height_text;
    append_fixed(canvas_height_text, f.canvas_height, 1);

    doc.append("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 ");
    append_fixed(doc, canvas_width, 1);
    doc.append(" ").append(canvas_height_text).append("\" width=\"");
    append_fixed(doc, pixel_width, 0);
    doc.append("\" height=\"");
    append_fixed(doc, f.pixel_height, 0);
    doc.append("\" font-family=\"monospace\">\n");

    doc.append("<rect x=\"0\" y=\"0\" width=\"");
    append_fixed(doc, canvas_width, 1);
    doc.append("\" height=\"").append(canvas_height_text).append("\" fill=\"#0d1117\"/>");

    doc.append("<rect x=\"");
    append_fixed(doc, body_left, 2);
    doc.append("\" y=\"");
    append_fixed(doc, body_top, 2);
    doc.append("\" width=\"");
    append_fixed(doc, body_width, 2);
    doc.append("\" height=\"");
    append_fixed(doc, f.body_rect_height, 2);
    doc.append("\" fill=\"#10212a\" stroke=\"#00b8b1\" stroke-width=\"0.25\"/>\n");

    render_pin_side(pin_layout, sides.left, true, doc);
    render_pin_side(pin_layout, sides.right, false, doc);

    doc.append("<text x=\"");
    append_fixed(doc, body_centre_x, 2);
    doc.append("\" y=\"");
    append_fixed(doc, title_y, 2);
    doc.append("\" font-size=\"1.5\" fill=\"#00e6dc\" text-anchor=\"middle\">");
    append_escaped(doc, title, false);
    doc.append(" (");
    append_count(doc, sides.pin_total);
    doc.append(" pins)</text>");

    doc.append("\n</svg>\n");
    return doc;
}

}  // namespace pinbook
