// The KiCad symbol library text: the whole template, the pin entries, the
// grid arithmetic at its zero crossings, and the quoting that keeps any name
// loadable. Every text made here goes through the S-expression check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pinbook/kicad.hpp"
#include "pinbook/pinbook.hpp"
#include "support/sexpr.hpp"

namespace pinbook {
namespace {

using test::parse_sexpr;
using test::Sexpr;
using test::WellFormedSexpr;

std::string kicad(const Value& component, std::string_view name) {
    std::string text = to_kicad_sym(component, name);
    EXPECT_TRUE(WellFormedSexpr(text)) << text;
    return text;
}

// The entries of one side, checked as the body of a list.
std::string side_entries(double half_height, const std::vector<const Value*>& side, PinSide flag) {
    std::string entries;
    emit_side_pins(half_height, side, flag, entries);
    EXPECT_TRUE(WellFormedSexpr("(unit\n" + entries + ")")) << entries;
    return entries;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            lines.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    EXPECT_EQ(start, text.size()) << "text does not end with a line feed";
    return lines;
}

// The y written in a pin entry's first line.
std::string pin_y(const std::string& first_line) {
    const auto at = first_line.find("(at ");
    const auto y = first_line.find(' ', at + 4) + 1;
    return first_line.substr(y, first_line.find(' ', y) - y);
}

Value pins_on(int left, int right) {
    Value pins = Value::array();
    for (int i = 0; i < left; ++i) pins.push_back({{"number", std::to_string(i).append("L")}, {"x", -10}, {"y", -i}});
    for (int i = 0; i < right; ++i) pins.push_back({{"number", std::to_string(i).append("R")}, {"x", 10}, {"y", -i}});
    return Value{{"pins", pins}};
}

const std::string kEmptySym =
    "(kicad_symbol_lib (version 20211014) (generator pinbook)\n"
    "  (symbol \"SYM\" (in_bom yes) (on_board yes)\n"
    "    (property \"Reference\" \"U\" (at 0 5.08 0) (effects (font (size 1.27 1.27))))\n"
    "    (property \"Value\" \"SYM\" (at 0 -5.08 0) (effects (font (size 1.27 1.27))))\n"
    "    (symbol \"SYM_1_1\"\n"
    "      (rectangle (start -19.05 3.81) (end 19.05 -3.81) (stroke (width 0.254) (type default)) (fill (type background)))\n"
    "    )\n"
    "  )\n"
    ")\n";

TEST(KicadText, NoPinsGivesTheBareSymbol) {
    for (const char* json : {R"({})", R"({"pins": 7})", R"({"pins": {"x": 1}})", R"({"pins": []})",
                             R"([{"x": -1}])", R"("pins")", R"(null)"}) {
        EXPECT_EQ(kicad(Value::parse(json), "SYM"), kEmptySym) << json;
    }
}

TEST(KicadText, OpampExample) {
    const Value component = Value::parse(R"({"module_name": "OPAMP", "pins": [
      {"number": "1", "name": "IN+", "x": -100, "y": 0},
      {"number": "2", "name": "IN-", "x": -100, "y": 100},
      {"number": "3", "name": "OUT", "x": 300, "y": 50},
      {"number": "4", "name": "E\\N\\", "x": 0, "y": 0},
      {"number": "5", "name": "say \"hi\"", "x": -100, "y": 100}]})");
    const Value before = component;
    EXPECT_EQ(kicad(component, "OPAMP"),
              "(kicad_symbol_lib (version 20211014) (generator pinbook)\n"
              "  (symbol \"OPAMP\" (in_bom yes) (on_board yes)\n"
              "    (property \"Reference\" \"U\" (at 0 7.62 0) (effects (font (size 1.27 1.27))))\n"
              "    (property \"Value\" \"OPAMP\" (at 0 -7.62 0) (effects (font (size 1.27 1.27))))\n"
              "    (symbol \"OPAMP_1_1\"\n"
              "      (rectangle (start -19.05 6.35) (end 19.05 -6.35) (stroke (width 0.254) (type default)) (fill (type background)))\n"
              "      (pin bidirectional line (at -24.13 3.81 0) (length 5.08)\n"
              "        (name \"IN-\" (effects (font (size 1.27 1.27)))) (number \"2\" (effects (font (size 1.27 1.27)))))\n"
              "      (pin bidirectional line (at -24.13 1.27 0) (length 5.08)\n"
              "        (name \"say 'hi'\" (effects (font (size 1.27 1.27)))) (number \"5\" (effects (font (size 1.27 1.27)))))\n"
              "      (pin bidirectional line (at -24.13 -1.27 0) (length 5.08)\n"
              "        (name \"IN+\" (effects (font (size 1.27 1.27)))) (number \"1\" (effects (font (size 1.27 1.27)))))\n"
              "      (pin bidirectional line (at 24.13 3.81 180) (length 5.08)\n"
              "        (name \"OUT\" (effects (font (size 1.27 1.27)))) (number \"3\" (effects (font (size 1.27 1.27)))))\n"
              "      (pin bidirectional line (at 24.13 1.27 180) (length 5.08)\n"
              "        (name \"~{EN}\" (effects (font (size 1.27 1.27)))) (number \"4\" (effects (font (size 1.27 1.27)))))\n"
              "    )\n"
              "  )\n"
              ")\n");
    EXPECT_EQ(component, before);
}

// H = 1.27 n + 2.54 for the row count n, the larger side's size.
TEST(KicadText, HalfHeightFollowsTheLargerSide) {
    struct Case {
        int left, right;
        const char *h, *neg_h, *ref, *val;
    };
    for (const Case& c : {Case{1, 0, "3.81", "-3.81", "5.08", "-5.08"},
                          Case{3, 1, "6.35", "-6.35", "7.62", "-7.62"},
                          Case{2, 5, "8.89", "-8.89", "10.16", "-10.16"},
                          Case{100, 7, "129.54", "-129.54", "130.81", "-130.81"}}) {
        const std::string text = kicad(pins_on(c.left, c.right), "S");
        const std::string where = std::to_string(c.left) + "/" + std::to_string(c.right);
        EXPECT_NE(text.find(std::string("(rectangle (start -19.05 ") + c.h + ") (end 19.05 " + c.neg_h + ")"),
                  std::string::npos) << where;
        EXPECT_NE(text.find(std::string("\"U\" (at 0 ") + c.ref + " 0)"), std::string::npos) << where;
        EXPECT_NE(text.find(std::string("\"S\" (at 0 ") + c.val + " 0)"), std::string::npos) << where;
    }
    // The shorter side fills the top rows, level with the other side's.
    const auto lines = lines_of(kicad(pins_on(2, 5), "S"));
    ASSERT_EQ(lines.size(), 6 + 2 * 7 + 3u);
    EXPECT_EQ(lines[6], "      (pin bidirectional line (at -24.13 6.35 0) (length 5.08)");
    EXPECT_EQ(lines[8], "      (pin bidirectional line (at -24.13 3.81 0) (length 5.08)");
    EXPECT_EQ(lines[10], "      (pin bidirectional line (at 24.13 6.35 180) (length 5.08)");
    EXPECT_EQ(lines[12], "      (pin bidirectional line (at 24.13 3.81 180) (length 5.08)");
}

TEST(KicadText, HundredRowsCrossZeroAsMinusZero) {
    const auto lines = lines_of(kicad(pins_on(3, 100), "S"));
    ASSERT_EQ(lines.size(), 6 + 2 * 103 + 3u);
    const std::size_t right0 = 6 + 2 * 3;
    EXPECT_EQ(pin_y(lines[right0]), "127.00");
    EXPECT_EQ(pin_y(lines[right0 + 2 * 49]), "2.54");
    EXPECT_EQ(pin_y(lines[right0 + 2 * 50]), "-0.00");
    EXPECT_EQ(pin_y(lines[right0 + 2 * 51]), "-2.54");
    EXPECT_EQ(pin_y(lines[right0 + 2 * 99]), "-124.46");
    // The left side's rows count from its own top.
    EXPECT_EQ(pin_y(lines[6 + 4]), "121.92");
}

TEST(KicadText, EmptyNameLeavesEmptyQuotes) {
    const std::string text = kicad(Value::object(), "");
    EXPECT_NE(text.find("  (symbol \"\" (in_bom yes)"), std::string::npos);
    EXPECT_NE(text.find("(property \"Value\" \"\" (at"), std::string::npos);
    EXPECT_NE(text.find("    (symbol \"_1_1\"\n"), std::string::npos);
}

TEST(KicadText, OnlyNegativeIntegerXGoesLeft) {
    const Value component = Value::parse(R"({"pins": [
      {"number": "d", "x": -0.5, "y": 9},
      {"number": "s", "x": "-3", "y": 8},
      {"number": "m", "y": 7},
      5,
      {"number": "L", "x": -1, "y": -4},
      {"number": "big", "x": -2, "y": 18446744073709551615}]})");
    const auto lines = lines_of(kicad(component, "S"));
    ASSERT_EQ(lines.size(), 6 + 2 * 6 + 3u);
    // Left: big first, since a y above the signed range counts as 0, then L.
    EXPECT_NE(lines[7].find("(number \"big\""), std::string::npos);
    EXPECT_NE(lines[9].find("(number \"L\""), std::string::npos);
    // Right: d, s, m by y, then the non-object with y 0 and empty texts.
    EXPECT_NE(lines[11].find("(number \"d\""), std::string::npos);
    EXPECT_NE(lines[13].find("(number \"s\""), std::string::npos);
    EXPECT_NE(lines[15].find("(number \"m\""), std::string::npos);
    EXPECT_EQ(lines[16], "      (pin bidirectional line (at 24.13 -2.54 180) (length 5.08)");
    EXPECT_EQ(lines[17],
              "        (name \"\" (effects (font (size 1.27 1.27)))) (number \"\" (effects (font (size 1.27 1.27)))))");
}

TEST(KicadPins, OverbarEntryOnTheRight) {
    const Value pin = Value::parse(R"({"number": "4", "name": "E\\N\\", "x": 0, "y": 0, "length": 99})");
    EXPECT_EQ(side_entries(6.35, {&pin}, PinSide::right),
              "      (pin bidirectional line (at 24.13 3.81 180) (length 5.08)\n"
              "        (name \"~{EN}\" (effects (font (size 1.27 1.27)))) (number \"4\" (effects (font (size 1.27 1.27)))))\n");
}

TEST(KicadPins, RowsStepDownFromTheTop) {
    const Value pin = Value::object();
    EXPECT_EQ(side_entries(6.35, {}, PinSide::left), "");
    const auto lines = lines_of(side_entries(6.35, {&pin, &pin, &pin}, PinSide::left));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "      (pin bidirectional line (at -24.13 3.81 0) (length 5.08)");
    EXPECT_EQ(lines[2], "      (pin bidirectional line (at -24.13 1.27 0) (length 5.08)");
    EXPECT_EQ(lines[4], "      (pin bidirectional line (at -24.13 -1.27 0) (length 5.08)");
    // Two rows: the second sits on zero and keeps a plain "0.00".
    EXPECT_EQ(pin_y(lines_of(side_entries(5.08, {&pin, &pin}, PinSide::right))[2]), "0.00");
    // Entries are appended after what the text already holds.
    std::string entries = "kept\n";
    emit_side_pins(3.81, std::vector<const Value*>{&pin}, PinSide::right, entries);
    EXPECT_EQ(entries.rfind("kept\n      (pin bidirectional line (at 24.13 1.27 180)", 0), 0u);
}

// The name and number as written between their quotes.
struct Texts {
    std::string name, number;
};
Texts texts_of(const Value& pin) {
    const auto parsed = parse_sexpr("(unit\n" + side_entries(3.81, {&pin}, PinSide::left) + ")");
    if (!parsed) return {};
    const auto pins = parsed->children("pin");
    if (pins.size() != 1) return {};
    const auto name = pins[0]->children("name");
    const auto number = pins[0]->children("number");
    if (name.size() != 1 || number.size() != 1) return {};
    return {name[0]->items.at(1).text, number[0]->items.at(1).text};
}

TEST(KicadPins, NameAndNumberRules) {
    const auto t = [](const char* json) { return texts_of(Value::parse(json)); };
    EXPECT_EQ(t(R"({"number": "1\"", "name": "a \"word\" here"})").number, "1'");
    EXPECT_EQ(t(R"({"number": "1\"", "name": "a \"word\" here"})").name, "a 'word' here");
    EXPECT_EQ(t(R"({"name": "A\"B\\"})").name, "~{A'B}");
    EXPECT_EQ(t(R"({"name": "\\\\\\"})").name, "~{}");
    EXPECT_EQ(t(R"({"name": "~{X} (y) \u00e9"})").name, "~{X} (y) \u00e9");
    EXPECT_EQ(t(R"({"number": "A\\B", "name": "A\\B"})").number, "A\\B");
    EXPECT_EQ(t(R"({"number": "A\\B", "name": "A\\B"})").name, "~{AB}");
    EXPECT_EQ(t(R"({"number": 5, "name": 6})").number, "");
    EXPECT_EQ(t(R"({"number": 5, "name": null})").name, "");
    EXPECT_EQ(t(R"([1, 2])").name, "");
}

// A name or number holding \, ", a line feed or a carriage return is escaped
// inside its quotes, so the file still loads and reads back as written.
TEST(KicadQuoting, SymbolNameIsEscapedInAllThreePlaces) {
    const std::string name = "A\" (x) \\ back\nline\rret";
    const std::string text = kicad(Value::object(), name);
    const std::string escaped = "A\\\" (x) \\\\ back\\nline\\rret";
    EXPECT_NE(text.find("  (symbol \"" + escaped + "\" (in_bom yes)"), std::string::npos) << text;
    EXPECT_NE(text.find("(property \"Value\" \"" + escaped + "\" (at 0 -5.08 0)"), std::string::npos);
    EXPECT_NE(text.find("    (symbol \"" + escaped + "_1_1\"\n"), std::string::npos);
    EXPECT_EQ(lines_of(text).size(), 9u);

    const auto parsed = parse_sexpr(text);
    ASSERT_TRUE(parsed);
    const auto symbols = parsed->children("symbol");
    ASSERT_EQ(symbols.size(), 1u);
    EXPECT_EQ(symbols[0]->items.at(1).text, name);
    EXPECT_EQ(symbols[0]->children("property").at(1)->items.at(2).text, name);
    EXPECT_EQ(symbols[0]->children("symbol").at(0)->items.at(1).text, name + "_1_1");
}

TEST(KicadQuoting, PinTextsAreEscapedAfterTheirRules) {
    const Value pin = Value::parse(R"({"number": "7\\", "name": "two\nlines\r"})");
    const std::string entries = side_entries(3.81, {&pin}, PinSide::left);
    EXPECT_NE(entries.find("(name \"two\\nlines\\r\" "), std::string::npos) << entries;
    EXPECT_NE(entries.find("(number \"7\\\\\" "), std::string::npos) << entries;
    EXPECT_EQ(texts_of(pin).name, "two\nlines\r");
    EXPECT_EQ(texts_of(pin).number, "7\\");

    // The overbar's backslashes are gone before escaping; line ends remain.
    const Value bar = Value::parse(R"({"number": "a\"\n\\", "name": "R\\S\n"})");
    EXPECT_EQ(texts_of(bar).name, "~{RS\n}");
    EXPECT_EQ(texts_of(bar).number, "a'\n\\");
}

TEST(KicadQuoting, EscapesOnlyTheFourBytes) {
    std::string out = "x";
    append_kicad_quoted(out, std::string_view("a\\b\"c\nd\re\tf\0g{}()~\xC3\xA9", 21));
    EXPECT_EQ(out, std::string("xa\\\\b\\\"c\\nd\\re\tf\0g{}()~\xC3\xA9", 26));
    out.clear();
    append_kicad_quoted(out, "");
    EXPECT_EQ(out, "");
}

TEST(KicadSymbolName, ArgumentThenModuleNameThenSym) {
    const Value named = Value::parse(R"({"module_name": "OPAMP"})");
    EXPECT_EQ(kicad_symbol_name(named, "given \"x\""), "given \"x\"");
    EXPECT_EQ(kicad_symbol_name(named, ""), "");
    EXPECT_EQ(kicad_symbol_name(named, std::nullopt), "OPAMP");
    EXPECT_EQ(kicad_symbol_name(Value::parse(R"({"module_name": ""})"), std::nullopt), "");
    for (const char* json : {R"({})", R"({"module_name": 5})", R"({"module_name": null})",
                             R"(["module_name"])", R"("OPAMP")"}) {
        EXPECT_EQ(kicad_symbol_name(Value::parse(json), std::nullopt), "SYM") << json;
    }
}

TEST(KicadSexprCheck, AcceptsListsAtomsAndEscapedStrings) {
    const auto parsed = parse_sexpr(" (a \"b \\\"q\\\" \\\\ \\n\" (c)\n  (d \"\"))\n");
    ASSERT_TRUE(parsed) << parsed.error();
    ASSERT_EQ(parsed->items.size(), 4u);
    EXPECT_EQ(parsed->head(), "a");
    EXPECT_EQ(parsed->items[1].kind, Sexpr::Kind::string);
    EXPECT_EQ(parsed->items[1].text, "b \"q\" \\ \n");
    EXPECT_EQ(parsed->children("d").size(), 1u);
}

TEST(KicadSexprCheck, RejectsWhatKicadWouldRefuse) {
    for (const char* bad : {"(a", "(a))", "(a \"b)", "(a \"b\nc\")", "(a \"b\rc\")", "(a \"E\\N\")",
                            "(a \"x\"y\")", "(a b\"c\")", "(a) (b)", "(a) x", "x (a)", "", "  \n",
                            "(a \"b\\", "(a \"b\\\nc\")"}) {
        EXPECT_FALSE(WellFormedSexpr(bad)) << bad;
    }
}

}  // namespace
}  // namespace pinbook
