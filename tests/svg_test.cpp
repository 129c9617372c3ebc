// The SVG writer: whole documents, the pin rows of one side, the sizes that
// follow from the row count, and escaping. Every document made here must
// also be accepted by an independent XML parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pinbook/pinbook.hpp"
#include "pinbook/svg.hpp"
#include "pinbook/text.hpp"
#include "pinbook/value.hpp"
#include "support/xmllint.hpp"

namespace pinbook {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

// Renders and checks that the result is well-formed XML.
std::string render(const Value& component) {
    std::string doc = render_symbol_svg(component);
    EXPECT_EQ(test::xmllint_problems(doc), "");
    return doc;
}

std::size_t count_of(const std::string& s, char c) {
    return static_cast<std::size_t>(std::count(s.begin(), s.end(), c));
}

const std::string kEmptyDocument =
    "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 97.2 13.1\" width=\"1361\" height=\"183\" font-family=\"monospace\">\n"
    "<rect x=\"0\" y=\"0\" width=\"97.2\" height=\"13.1\" fill=\"#0d1117\"/><rect x=\"29.62\" y=\"4.00\" width=\"38.00\" height=\"5.08\" fill=\"#10212a\" stroke=\"#00b8b1\" stroke-width=\"0.25\"/>\n"
    "<text x=\"48.62\" y=\"2.80\" font-size=\"1.5\" fill=\"#00e6dc\" text-anchor=\"middle\">? (0 pins)</text>\n"
    "</svg>\n";

TEST(SvgDocument, AnyNonComponentGivesTheEmptyDrawing) {
    for (const Value& v : {Value::object(), Value(), Value::array({1, 2}), Value(5), Value("pins"),
                           Value{{"module_name", 7}}, Value{{"module_name", Value::array()}}}) {
        const std::string doc = render(v);
        EXPECT_EQ(doc, kEmptyDocument) << v.dump();
        EXPECT_EQ(count_of(doc, '\n'), 4u);
    }
}

TEST(SvgDocument, PinsThatAreNotAnArrayCountAsNone) {
    std::string expected = kEmptyDocument;
    expected.replace(expected.find("? (0"), 1, "U1");
    for (const Value& pins : {Value::object(), Value("abc"), Value(3), Value(nullptr)}) {
        EXPECT_EQ(render(Value{{"module_name", "U1"}, {"pins", pins}}), expected);
    }
}

TEST(SvgDocument, TwoPinsEachSideWithEscapedTitle) {
    const Value component = {
        {"module_name", "A<B>&C"},
        {"pins", Value::array({
            {{"number", "1"}, {"name", "RST"}, {"x", -10}, {"y", -5}},
            {{"number", "2"}, {"name", "VCC"}, {"x", -10}, {"y", 20}},
            {{"number", "3"}, {"name", "OUT"}, {"x", 30}, {"y", 0}},
            {{"number", "4"}, {"x", 2.5}, {"y", 7}},
        })},
    };
    const std::string expected =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 97.2 15.6\" width=\"1361\" height=\"219\" font-family=\"monospace\">\n"
        "<rect x=\"0\" y=\"0\" width=\"97.2\" height=\"15.6\" fill=\"#0d1117\"/><rect x=\"29.62\" y=\"4.00\" width=\"38.00\" height=\"7.62\" fill=\"#10212a\" stroke=\"#00b8b1\" stroke-width=\"0.25\"/>\n"
        "<line x1=\"29.62\" y1=\"6.54\" x2=\"22.00\" y2=\"6.54\" stroke=\"#7cb6ff\" stroke-width=\"0.18\"/><text x=\"22.60\" y=\"6.04\" font-size=\"1.0\" fill=\"#8b949e\" text-anchor=\"start\">2</text><text x=\"31.02\" y=\"6.99\" font-size=\"1.25\" fill=\"#e6edf3\" text-anchor=\"start\">VCC</text>\n"
        "<line x1=\"29.62\" y1=\"9.08\" x2=\"22.00\" y2=\"9.08\" stroke=\"#7cb6ff\" stroke-width=\"0.18\"/><text x=\"22.60\" y=\"8.58\" font-size=\"1.0\" fill=\"#8b949e\" text-anchor=\"start\">1</text><text x=\"31.02\" y=\"9.53\" font-size=\"1.25\" fill=\"#e6edf3\" text-anchor=\"start\">RST</text>\n"
        "<line x1=\"67.62\" y1=\"6.54\" x2=\"75.24\" y2=\"6.54\" stroke=\"#7cb6ff\" stroke-width=\"0.18\"/><text x=\"74.64\" y=\"6.04\" font-size=\"1.0\" fill=\"#8b949e\" text-anchor=\"end\">4</text><text x=\"66.22\" y=\"6.99\" font-size=\"1.25\" fill=\"#e6edf3\" text-anchor=\"end\"></text>\n"
        "<line x1=\"67.62\" y1=\"9.08\" x2=\"75.24\" y2=\"9.08\" stroke=\"#7cb6ff\" stroke-width=\"0.18\"/><text x=\"74.64\" y=\"8.58\" font-size=\"1.0\" fill=\"#8b949e\" text-anchor=\"end\">3</text><text x=\"66.22\" y=\"9.53\" font-size=\"1.25\" fill=\"#e6edf3\" text-anchor=\"end\">OUT</text>\n"
        "<text x=\"48.62\" y=\"2.80\" font-size=\"1.5\" fill=\"#00e6dc\" text-anchor=\"middle\">A&lt;B&gt;&amp;C (4 pins)</text>\n"
        "</svg>\n";
    EXPECT_EQ(render(component), expected);
}

TEST(SvgDocument, TitleCountsEveryElementAndAlwaysSaysPins) {
    const std::string one = render(Value{{"module_name", ""}, {"pins", Value::array({Value::object()})}});
    EXPECT_NE(one.find("text-anchor=\"middle\"> (1 pins)</text>\n</svg>\n"), std::string::npos) << one;

    // Three left, two right (one of them not even an object): five pins, three rows.
    const Value five = {{"pins", Value::array({{{"x", -1}}, {{"x", -2}}, {{"x", -3}}, {{"x", 1}}, Value(9)})}};
    const std::string doc = render(five);
    EXPECT_NE(doc.find(">? (5 pins)<"), std::string::npos);
    EXPECT_NE(doc.find("viewBox=\"0 0 97.2 18.2\" width=\"1361\" height=\"254\""), std::string::npos);
    EXPECT_NE(doc.find("height=\"10.16\" fill=\"#10212a\""), std::string::npos);
    EXPECT_EQ(count_of(doc, '\n'), 4u + 5u);
}

// The number texts of the rows, in document order.
std::vector<std::string> row_numbers(const std::string& doc) {
    std::vector<std::string> out;
    const std::string mark = "font-size=\"1.0\" fill=\"#8b949e\" text-anchor=\"";
    for (std::size_t at = doc.find(mark); at != std::string::npos; at = doc.find(mark, at + 1)) {
        const std::size_t open = doc.find('>', at) + 1;
        out.push_back(doc.substr(open, doc.find('<', open) - open));
    }
    return out;
}

TEST(SvgDocument, SidesFollowXAndRowsFollowDescendingY) {
    const Value component = {{"pins", Value::array({
        {{"number", "r0"}, {"x", 0}, {"y", 3}},
        {{"number", "l1"}, {"x", -1}, {"y", 3}},
        {{"number", "r-double"}, {"x", -5.5}, {"y", 3}},
        {{"number", "r-text"}, {"x", "-3"}, {"y", 9}},
        {{"number", "r-missing"}, {"y", 1.5}},   // a double y orders as 0
        {{"number", "l2"}, {"x", -2}, {"y", 3}},  // equal y: stays after l1
        {{"number", "l0"}, {"x", -7}, {"y", 10}},
    })}};
    const std::string doc = render(component);
    EXPECT_EQ(row_numbers(doc), (std::vector<std::string>{"l0", "l1", "l2", "r-text", "r0", "r-double", "r-missing"}));
    // The right side's row 0 is level with the left side's row 0.
    EXPECT_NE(doc.find("<line x1=\"67.62\" y1=\"6.54\""), std::string::npos);
    EXPECT_NE(doc.find("height=\"12.70\" fill=\"#10212a\""), std::string::npos);  // 4 rows
}

TEST(SvgDocument, OnlyXAndYPlaceAPin) {
    const Value plain = {{"pins", Value::array({{{"number", "1"}, {"x", -4}}, {{"number", "2"}}})}};
    Value odd = plain;
    for (Value& p : odd["pins"]) {
        p["rotation"] = 90;
        p["length"] = 100;
        p["conglomerate"] = 7;
    }
    odd["body"] = Value::array({{{"x1", -100}}});
    EXPECT_EQ(render(odd), render(plain));
}

TEST(SvgLayout, ConstantsHaveTheirExactDoubles) {
    EXPECT_EQ(svg::canvas_width, 97.24000000000001);
    EXPECT_EQ(svg::body_left, 29.620000000000005);
    EXPECT_EQ(svg::body_right, 67.62);
    EXPECT_EQ(svg::body_centre_x, 48.620000000000005);
    EXPECT_EQ(svg::body_centre_x, svg::canvas_width / 2);
    EXPECT_EQ(svg::pixel_width, 1361.3600000000001);
    EXPECT_EQ(svg::pin_length, 3 * 2.54);
}

TEST(SvgLayout, RowCountTable) {
    struct Row {
        std::size_t rows;
        const char* rect_height;
        const char* canvas_height;
        const char* pixel_height;
        double pixel_height_double;
    };
    const Row table[] = {
        {1, "5.08", "13.1", "183", 183.12},
        {2, "7.62", "15.6", "219", 218.68},
        {3, "10.16", "18.2", "254", 254.24},
        {4, "12.70", "20.7", "290", 289.8},
        {5, "15.24", "23.2", "325", 325.35999999999996},
        {10, "27.94", "35.9", "503", 503.15999999999997},
        {100, "256.54", "264.5", "3704", 3703.5600000000004},
    };
    for (const Row& r : table) {
        const svg::FrameSizes f = svg::frame_sizes(r.rows);
        EXPECT_EQ(f.pixel_height, r.pixel_height_double) << r.rows;
        EXPECT_EQ(fixed(f.body_rect_height, 2), r.rect_height) << r.rows;
        EXPECT_EQ(fixed(f.canvas_height, 1), r.canvas_height) << r.rows;
        EXPECT_EQ(fixed(f.pixel_height, 0), r.pixel_height) << r.rows;

        // The same numbers in a document with that many rows on the left.
        Value pins = Value::array();
        for (std::size_t i = 0; i < r.rows; ++i) pins.push_back({{"x", -1}});
        const std::string doc = render(Value{{"pins", pins}});
        const std::string head = std::string("viewBox=\"0 0 97.2 ") + r.canvas_height + "\" width=\"1361\" height=\"" +
                                 r.pixel_height + "\"";
        EXPECT_NE(doc.find(head), std::string::npos) << r.rows;
        EXPECT_NE(doc.find(std::string("width=\"97.2\" height=\"") + r.canvas_height + "\" fill=\"#0d1117\""),
                  std::string::npos);
        EXPECT_NE(doc.find(std::string("width=\"38.00\" height=\"") + r.rect_height + "\""), std::string::npos);
        EXPECT_EQ(count_of(doc, '\n'), 4u + r.rows);
    }
}

std::string side_text(const std::vector<Value>& pins, bool left) {
    std::vector<const Value*> side;
    for (const Value& p : pins) side.push_back(&p);
    std::string out;
    svg::render_pin_side(svg::pin_layout, side, left, out);
    return out;
}

TEST(SvgPinSide, LeftSideWithBackslashesRemovedFromNames) {
    const std::vector<Value> pins = {{{"number", "2"}, {"name", "VCC"}}, {{"number", "1"}, {"name", "R\\S\\T\\"}}};
    EXPECT_EQ(side_text(pins, true),
              "<line x1=\"29.62\" y1=\"6.54\" x2=\"22.00\" y2=\"6.54\" stroke=\"#7cb6ff\" stroke-width=\"0.18\"/><text x=\"22.60\" y=\"6.04\" font-size=\"1.0\" fill=\"#8b949e\" text-anchor=\"start\">2</text><text x=\"31.02\" y=\"6.99\" font-size=\"1.25\" fill=\"#e6edf3\" text-anchor=\"start\">VCC</text>\n"
              "<line x1=\"29.62\" y1=\"9.08\" x2=\"22.00\" y2=\"9.08\" stroke=\"#7cb6ff\" stroke-width=\"0.18\"/><text x=\"22.60\" y=\"8.58\" font-size=\"1.0\" fill=\"#8b949e\" text-anchor=\"start\">1</text><text x=\"31.02\" y=\"9.53\" font-size=\"1.25\" fill=\"#e6edf3\" text-anchor=\"start\">RST</text>\n");
}

TEST(SvgPinSide, RightSideWithMissingName) {
    const std::vector<Value> pins = {{{"number", "4"}}, {{"number", "3"}, {"name", "OUT"}}};
    EXPECT_EQ(side_text(pins, false),
              "<line x1=\"67.62\" y1=\"6.54\" x2=\"75.24\" y2=\"6.54\" stroke=\"#7cb6ff\" stroke-width=\"0.18\"/><text x=\"74.64\" y=\"6.04\" font-size=\"1.0\" fill=\"#8b949e\" text-anchor=\"end\">4</text><text x=\"66.22\" y=\"6.99\" font-size=\"1.25\" fill=\"#e6edf3\" text-anchor=\"end\"></text>\n"
              "<line x1=\"67.62\" y1=\"9.08\" x2=\"75.24\" y2=\"9.08\" stroke=\"#7cb6ff\" stroke-width=\"0.18\"/><text x=\"74.64\" y=\"8.58\" font-size=\"1.0\" fill=\"#8b949e\" text-anchor=\"end\">3</text><text x=\"66.22\" y=\"9.53\" font-size=\"1.25\" fill=\"#e6edf3\" text-anchor=\"end\">OUT</text>\n");
}

TEST(SvgPinSide, RowsAndTheirTexts) {
    EXPECT_EQ(side_text({}, true), "");
    EXPECT_EQ(side_text({}, false), "");

    // Eleven rows: row 10 sits at 31.94 (the double is 31.939999999999998).
    std::vector<Value> pins(11, Value::object());
    const std::string eleven = side_text(pins, true);
    EXPECT_EQ(count_of(eleven, '\n'), 11u);
    EXPECT_NE(eleven.find("y1=\"31.94\" x2=\"22.00\" y2=\"31.94\""), std::string::npos);
    EXPECT_NE(eleven.find("y=\"31.44\" font-size=\"1.0\""), std::string::npos);
    EXPECT_NE(eleven.find("y=\"32.39\" font-size=\"1.25\""), std::string::npos);
    EXPECT_NE(eleven.find("y1=\"11.62\""), std::string::npos);
    EXPECT_NE(eleven.find("y=\"11.12\" font-size=\"1.0\""), std::string::npos);
    EXPECT_NE(eleven.find("y=\"12.07\" font-size=\"1.25\""), std::string::npos);

    const std::string empty_texts =
        "<text x=\"22.60\" y=\"6.04\" font-size=\"1.0\" fill=\"#8b949e\" text-anchor=\"start\"></text>"
        "<text x=\"31.02\" y=\"6.99\" font-size=\"1.25\" fill=\"#e6edf3\" text-anchor=\"start\"></text>\n";
    // Texts that are not strings, and elements that are not objects, are drawn empty.
    for (const Value& p : {Value{{"number", 5}, {"name", Value::array({"x"})}}, Value(3), Value(), Value("1")}) {
        const std::string row = side_text({p}, true);
        EXPECT_TRUE(row.ends_with(empty_texts)) << row;
        EXPECT_EQ(count_of(row, '\n'), 1u);
    }

    // Backslashes leave names only; entities and other characters as esc gives them.
    const std::string row = side_text({{{"number", "1\\2&\"'"}, {"name", "\\\\"}}}, false);
    EXPECT_NE(row.find(">1\\2&amp;\"'</text>"), std::string::npos) << row;
    EXPECT_NE(row.find("text-anchor=\"end\"></text>\n"), std::string::npos) << row;
    EXPECT_NE(side_text({{{"name", "A\\&B<>"}}}, false).find(">A&amp;B&lt;&gt;</text>\n"), std::string::npos);

    // A line break in a name splits the row across lines of the document.
    const std::string split = side_text({{{"name", "a\nb"}}}, true);
    EXPECT_TRUE(split.ends_with(">a\nb</text>\n"));
}

TEST(SvgEscape, EntitiesInOnePass) {
    EXPECT_EQ(esc(""), "");
    EXPECT_EQ(esc("plain text, \"quoted\" 'x' \xC3\xA9\xE2\x82\xAC \xF0\x9F\x98\x80"),
              "plain text, \"quoted\" 'x' \xC3\xA9\xE2\x82\xAC \xF0\x9F\x98\x80");
    EXPECT_EQ(esc("a &lt; b & \"c\""), "a &amp;lt; b &amp; \"c\"");
    EXPECT_EQ(esc("<&>"), "&lt;&amp;&gt;");
    EXPECT_EQ(esc("back\\slash"), "back\\slash");
    EXPECT_EQ(esc("tab\tlf\ncr\r"), "tab\tlf\ncr\r");
}

TEST(SvgEscape, CharactersXmlForbidsBecomeReplacementCharacters) {
    for (int c = 0; c < 0x20; ++c) {
        const std::string in = std::string("a") + static_cast<char>(c) + "b";
        const bool allowed = c == '\t' || c == '\n' || c == '\r';
        EXPECT_EQ(esc(in), allowed ? in : "a" + kFffd + "b") << c;
    }
    EXPECT_EQ(esc("\xEF\xBF\xBE|\xEF\xBF\xBF"), kFffd + "|" + kFffd);  // U+FFFE, U+FFFF
    // Their neighbours stay: U+FFFD, U+FFEF, U+FEFF, U+7F and U+10FFFF.
    EXPECT_EQ(esc("\xEF\xBF\xBD\xEF\xBF\xAF\xEF\xBB\xBF\x7F\xF4\x8F\xBF\xBF"),
              "\xEF\xBF\xBD\xEF\xBF\xAF\xEF\xBB\xBF\x7F\xF4\x8F\xBF\xBF");
    // Truncated lead bytes at the end are copied, not read past.
    EXPECT_EQ(esc("x\xEF\xBF"), "x\xEF\xBF");
}

TEST(SvgEscape, ControlCharactersStillGiveAWellFormedDocument) {
    std::string every;
    for (int c = 1; c < 0x80; ++c) every.push_back(static_cast<char>(c));
    every += std::string("\0\xEF\xBF\xBE\xEF\xBF\xBF", 7);
    const Value component = {{"module_name", every},
                             {"pins", Value::array({{{"number", every}, {"name", every}, {"x", -1}},
                                                    {{"number", every}, {"name", every}}})}};
    const std::string doc = render(component);
    for (char c : doc) {
        const auto u = static_cast<unsigned char>(c);
        EXPECT_FALSE(u < 0x20 && u != '\t' && u != '\n' && u != '\r') << static_cast<int>(u);
    }
    EXPECT_EQ(doc.find("\xEF\xBF\xBE"), std::string::npos);
    EXPECT_EQ(doc.find("\xEF\xBF\xBF"), std::string::npos);
}

}  // namespace
}  // namespace pinbook
