// The number grammars, the three component record kinds and the component
// value built from them.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "pinbook/component.hpp"
#include "support/schlib.hpp"

namespace pinbook {
namespace {

using test::Bytes;
using test::concat;
using test::identical;
using test::pin_record;
using test::text_record;

TEST(IntegerGrammar, AcceptsSignedDecimalInRange) {
    EXPECT_EQ(parse_integer("+5"), 5);
    EXPECT_EQ(parse_integer("-3"), -3);
    EXPECT_EQ(parse_integer("007"), 7);
    EXPECT_EQ(parse_integer("-0"), 0);
    EXPECT_EQ(parse_integer("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(parse_integer("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(parse_integer("0000000000000000000000000009"), 9);
}

TEST(IntegerGrammar, RefusesEverythingElse) {
    for (std::string_view text :
         {"", "+", "-", "9223372036854775808", "-9223372036854775809", "18446744073709551616",
          "99999999999999999999999", "1.0", "1e3", "0x10", "1 000", "1_000", "++1", "+-1", " 1", "1 ",
          "\xD9\xA1" /* ARABIC-INDIC DIGIT ONE */}) {
        EXPECT_EQ(parse_integer(text), std::nullopt) << text;
    }
    EXPECT_EQ(parse_integer(std::string_view("2\0", 2)), std::nullopt);
}

double parsed(std::string_view text) {
    const auto v = parse_float(text);
    EXPECT_TRUE(v.has_value()) << text;
    return v.value_or(-12345.0);
}

TEST(FloatGrammar, AcceptedForms) {
    EXPECT_EQ(parsed("12"), 12.0);
    EXPECT_EQ(parsed("-3.25"), -3.25);
    EXPECT_EQ(parsed("1."), 1.0);
    EXPECT_EQ(parsed(".5"), 0.5);
    EXPECT_EQ(parsed("+2"), 2.0);
    EXPECT_EQ(parsed("1e3"), 1000.0);
    EXPECT_EQ(parsed("2.5E-4"), 2.5e-4);
    EXPECT_EQ(parsed("1e+3"), 1000.0);
    EXPECT_EQ(parsed("007.50"), 7.5);
    EXPECT_EQ(parsed("0.1"), 0.1);
    EXPECT_EQ(parsed("-.0e0"), 0.0);
    EXPECT_TRUE(std::signbit(parsed("-0")));
    EXPECT_TRUE(std::signbit(parsed("-0.000e99999")));
    EXPECT_FALSE(std::signbit(parsed("0")));
    EXPECT_EQ(parsed("inf"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parsed("INF"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parsed("-Infinity"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(parsed("+iNfInItY"), std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(parsed("NaN")));
    EXPECT_TRUE(std::signbit(parsed("-nan")));
}

TEST(FloatGrammar, RefusedForms) {
    for (std::string_view text : {"", "+", "-", ".", "e5", "1e", "1e+", "1.5.2", "0x10", "1,5", "1_000", "++1", "+-1",
                                  "infin", "nan(1)", "infinityy", "in", "+.", ".e1", " 1", "1 ", "1e1.5", "1e--1",
                                  "1f", "1d", "\xEF\xBC\x91" /* FULLWIDTH DIGIT ONE */}) {
        EXPECT_EQ(parse_float(text), std::nullopt) << text;
    }
    EXPECT_EQ(parse_float(std::string_view("1\0", 2)), std::nullopt);
    EXPECT_EQ(parse_float(std::string_view("inf\0", 4)), std::nullopt);
}

TEST(FloatGrammar, RoundsCorrectlyAtTheEdges) {
    EXPECT_EQ(parsed("1e-400"), 0.0);
    EXPECT_FALSE(std::signbit(parsed("1e-400")));
    EXPECT_TRUE(std::signbit(parsed("-1e-400")));
    EXPECT_EQ(parsed("1e400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parsed("-1e400"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(parsed("1.7976931348623157e308"), std::numeric_limits<double>::max());
    EXPECT_EQ(parsed("1.7976931348623159e308"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parsed("4.9e-324"), std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(parsed("2.5e-324"), std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(parsed("2.4e-324"), 0.0);
    EXPECT_EQ(parsed("2.2250738585072011e-308"), 0x0.fffffffffffffp-1022);

    // Exactly half of the smallest subnormal ties to even (zero); any nonzero
    // digit however far behind breaks the tie upwards.
    const std::string half =
        "2."
        "4703282292062327208828439643411068618252990130716238221279284125033775363510437593264991818081799618989828234772"
        "2858865463328355177969898199387398005390939063150356595155702263922908583924491051844359318028499365361525003193"
        "7045767824921936562366986365848075700158576926990370631192827955855133292783433840935197801553124659726357957462"
        "2766465272827220056374006485499977096599470454020828166226237857393450736339007967761930577506740176324673600968"
        "9513405355374585166611342237666786041621596804619144672918403005300575308490487653917113865916462395249126236538"
        "8187963623937328042389101867234849766823508986338858792562830275599565752445550725518931369083625477918694866799"
        "4968324049705821028513185451396213837722826145437693412532098591327667236328125";
    EXPECT_EQ(parsed(half + "e-324"), 0.0);
    EXPECT_EQ(parsed(half + "0000000000000000000000000000000000001e-324"), std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(parsed("0." + std::string(5000, '0') + half.substr(0, 1) + half.substr(2) + "1e4677"),
              std::numeric_limits<double>::denorm_min());

    // 1 + 2^-53 is halfway between 1 and its successor: ties to even (1),
    // pushed up by a digit a thousand places later.
    const std::string one_and_half_ulp = "1.00000000000000011102230246251565404236316680908203125";
    EXPECT_EQ(parsed(one_and_half_ulp), 1.0);
    EXPECT_EQ(parsed(one_and_half_ulp + std::string(1000, '0') + "1"), std::nextafter(1.0, 2.0));
    EXPECT_EQ(parsed(std::string(1000, '9') + "e-1000"), 1.0);
    EXPECT_EQ(parsed(std::string(1000, '1') + "e-999"), 1.1111111111111112);
}

TEST(FloatGrammar, ExponentStopsGrowingAtTheCap) {
    // The exponent's digits 6,5,5,3,6 reach 65,536; the rest are passed over.
    const std::string tiny = "0." + std::string(65540, '0') + "1";
    EXPECT_EQ(parsed(tiny + "e655369999"), 1e-5);
    EXPECT_EQ(parsed(tiny + "e65536"), 1e-5);
    EXPECT_EQ(parsed(tiny + "e65535"), 1e-6);
    EXPECT_EQ(parsed("1e" + std::string(10000, '9')), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parsed("1e-" + std::string(10000, '9')), 0.0);
    std::string big(65601, '0');
    big[0] = '1';
    big += "e-655369";
    EXPECT_EQ(parsed(big), 1e64);
}

TEST(FloatGrammar, AgreesWithTheCLibraryOnRandomDecimals) {
    // strtod is correctly rounded too; on texts of the grammar both must give
    // the same bits. Zeros are spread around to exercise the normalisation.
    std::mt19937_64 random(20261208);
    const auto digits = [&](std::size_t max) {
        std::string out(random() % (max + 1), '0');
        for (char& c : out) c = static_cast<char>('0' + (random() % 3 == 0 ? 0 : random() % 10));
        return out;
    };
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        if (random() % 3 == 0) text += (random() % 2) ? "-" : "+";
        const std::size_t scale = random() % 4 == 0 ? 40 : 800;
        std::string whole = digits(scale), fraction;
        const bool point = random() % 2;
        if (point) fraction = digits(scale);
        if (whole.empty() && fraction.empty()) whole.push_back('0');
        text += whole;
        if (point) {
            text += '.';
            text += fraction;
        }
        if (random() % 2) {
            text += (random() % 2) ? "e" : "E";
            const int sign = random() % 3;
            if (sign == 1) text += "-";
            if (sign == 2) text += "+";
            text += std::to_string(random() % 1200);
        }
        const double expected = std::strtod(text.c_str(), nullptr);
        const auto got = parse_float(text);
        ASSERT_TRUE(got.has_value()) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(*got), std::bit_cast<std::uint64_t>(expected)) << text;
    }
}

// Decodes one stream as the reader does, for the component "C".
std::expected<Value, Error> decode(const Bytes& stream, std::string_view name = "C") {
    ComponentDecoder decoder;
    walk_records(stream, decoder);
    return decoder.finish(name);
}

// The message of a failed decoding, or "<value>" when it succeeded.
std::string error_of(const std::expected<Value, Error>& result) {
    return result ? std::string("<value>") : result.error().message;
}

const Bytes kPin = pin_record(0, 0, 0, 0, "P", "1");

TEST(ComponentValue, OpampStream) {
    const Bytes stream = test::opamp_data_stream();
    ASSERT_EQ(stream.size(), 166u);
    const auto value = decode(stream, "OPAMP");
    ASSERT_TRUE(value.has_value()) << value.error().message;
    EXPECT_TRUE(identical(*value, test::opamp_component_value())) << value->dump();
    EXPECT_EQ(value->dump(),
              R"({"_source":"pinbook","body":{"x1":-20.0,"x2":20.0,"y1":-30.0,"y2":30.0},"description":"Op amp",)"
              R"("module_name":"OPAMP","part_count":2,"pin_count":1,"pins":[{"conglomerate":1,"length":30,)"
              R"("name":"IN","number":"1","rotation":90,"x":-10,"y":20}]})");
    EXPECT_TRUE((*value)["pins"][0]["x"].is_number_integer() && !(*value)["pins"][0]["x"].is_number_unsigned());
    EXPECT_TRUE((*value)["pins"][0]["y"].is_number_unsigned());
    EXPECT_TRUE((*value)["pin_count"].is_number_unsigned());
}

TEST(ComponentValue, NoPinsFails) {
    const Bytes opamp = test::opamp_data_stream();
    // Records 1 and 3 only.
    Bytes without_pin(opamp.begin(), opamp.begin() + 57);
    without_pin.insert(without_pin.end(), opamp.begin() + 92, opamp.end());
    ASSERT_EQ(without_pin.size(), 131u);
    EXPECT_EQ(error_of(decode(without_pin, "OPAMP")), "no pins parsed from component OPAMP");
    for (std::size_t n = 0; n < 4; ++n) {
        EXPECT_EQ(error_of(decode(Bytes(opamp.begin(), opamp.begin() + n), "OPAMP")),
                  "no pins parsed from component OPAMP");
    }
    // A pin after the walk has ended does not count.
    EXPECT_FALSE(decode(concat({test::end_record(), kPin})).has_value());
    EXPECT_EQ(error_of(decode(concat({text_record("|RECORD=1|")}), "")), "no pins parsed from component ");
}

Value decoded(const Bytes& stream) {
    auto value = decode(stream);
    EXPECT_TRUE(value.has_value());
    return value.value_or(Value());
}

TEST(ComponentRecord, DescriptionAndPartCount) {
    const std::string unclosed("|RECORD=1|ComponentDescription= Op amp |PartCount=2\0", 52);
    EXPECT_EQ(decoded(concat({text_record(unclosed), kPin}))["part_count"], 1);

    const Value reset = decoded(concat({text_record("|RECORD=1|ComponentDescription=First|PartCount=4|"),
                                        text_record("|RECORD=1|"), kPin}));
    EXPECT_EQ(reset["description"], "");
    EXPECT_EQ(reset["part_count"], 1);

    const Value last = decoded(concat({text_record("|RECORD=1|ComponentDescription=A|PartCount=4|"), kPin,
                                       text_record("|RECORD=1|ComponentDescription=B|PartCount=5|")}));
    EXPECT_EQ(last["description"], "B");
    EXPECT_EQ(last["part_count"], 5);

    const Value defaults = decoded(kPin);
    EXPECT_EQ(defaults["description"], "");
    EXPECT_TRUE(defaults["part_count"].is_number_unsigned());
    EXPECT_EQ(defaults["part_count"], 1);
    EXPECT_TRUE(defaults["body"].is_null());

    const auto count = [](std::string_view text) {
        return decoded(concat({text_record("|RECORD=1|PartCount=" + std::string(text) + "|"), kPin}))["part_count"];
    };
    EXPECT_TRUE(identical(count("-3"), Value(std::int64_t{-3})));
    EXPECT_TRUE(identical(count(" 7 "), Value(std::uint64_t{7})));
    EXPECT_TRUE(identical(count("-9223372036854775808"), Value(std::numeric_limits<std::int64_t>::min())));
    EXPECT_TRUE(identical(count("9223372036854775807"), Value(std::uint64_t{9223372036854775807u})));
    EXPECT_TRUE(identical(count("9223372036854775808"), Value(std::uint64_t{1})));
    EXPECT_TRUE(identical(count("1 000"), Value(std::uint64_t{1})));

    const Value description = decoded(concat({text_record("|RECORD=1|ComponentDescription=\xE2\x80\x83x\xC3\xA9 \xFF|"), kPin}));
    EXPECT_EQ(description["description"], "x\xC3\xA9 \xEF\xBF\xBD");
}

Bytes rectangle(std::string_view x1, std::string_view y1, std::string_view x2, std::string_view y2) {
    return text_record("|RECORD=14|Location.X=" + std::string(x1) + "|Location.Y=" + std::string(y1) +
                       "|Corner.X=" + std::string(x2) + "|Corner.Y=" + std::string(y2) + "|");
}

TEST(RectangleRecord, BodyFromTheLastCompleteRecord) {
    const Value nonfinite = decoded(concat({rectangle("1e400", "INF", "-infinity", "nan"), kPin}))["body"];
    ASSERT_TRUE(nonfinite.is_object());
    for (const char* key : {"x1", "y1", "x2", "y2"}) EXPECT_TRUE(nonfinite[key].is_null()) << key;

    const Value mixed = decoded(concat({rectangle("1.", ".5", "-0", "1e-400"), kPin}))["body"];
    EXPECT_TRUE(identical(mixed, Value({{"x1", 1.0}, {"y1", 0.5}, {"x2", -0.0}, {"y2", 0.0}}))) << mixed.dump();

    EXPECT_TRUE(decoded(concat({rectangle("1", "2", "3", "abc"), kPin}))["body"].is_null());
    for (std::string_view bad : {"1e", ".", ""}) {
        EXPECT_TRUE(decoded(concat({rectangle(bad, "2", "3", "4"), kPin}))["body"].is_null()) << bad;
    }

    const Value second = decoded(concat({rectangle("1", "2", "3", "4"), rectangle("5", "6", "7", "8"), kPin}))["body"];
    EXPECT_TRUE(identical(second, Value({{"x1", 5.0}, {"y1", 6.0}, {"x2", 7.0}, {"y2", 8.0}})));

    const Value kept = decoded(concat({rectangle("1", "2", "3", "4"),
                                       text_record("|RECORD=14|Location.X=5|Location.Y=6|Corner.Y=8|"),
                                       rectangle("5", "6", "x", "8"), kPin}))["body"];
    EXPECT_TRUE(identical(kept, Value({{"x1", 1.0}, {"y1", 2.0}, {"x2", 3.0}, {"y2", 4.0}})));

    // Corners are taken as written, and the first of repeated keys counts.
    const Value swapped = decoded(concat(
        {text_record("|RECORD=14|Corner.Y=-1|Corner.X=-2|Location.Y= 9 |Location.X=8|Corner.X=100|"), kPin}))["body"];
    EXPECT_TRUE(identical(swapped, Value({{"x1", 8.0}, {"y1", 9.0}, {"x2", -2.0}, {"y2", -1.0}})));
}

// A pin record payload of exactly `n` bytes whose bytes after the type byte
// are `fill`.
Bytes pin_payload(std::size_t n, std::uint8_t fill) {
    Bytes p(n, fill);
    p[0] = 2;
    return test::record(p);
}

TEST(PinRecord, FieldsReadOnlyWhenPresent) {
    const Value short14 = decoded(pin_payload(14, 0x11));
    EXPECT_EQ(short14["pin_count"], 1);
    EXPECT_TRUE(identical(short14["pins"][0], Value({{"conglomerate", 0u}, {"length", 0u}, {"name", ""},
                                                     {"number", ""}, {"rotation", 0u}, {"x", 0u}, {"y", 0u}})));
    const auto pin = [](std::size_t n) { return decoded(pin_payload(n, 0xFF))["pins"][0]; };
    EXPECT_EQ(pin(15)["conglomerate"], 255);
    EXPECT_EQ(pin(15)["rotation"], 270);
    EXPECT_EQ(pin(16)["length"], 0);
    EXPECT_EQ(pin(17)["length"], -1);
    EXPECT_EQ(pin(18)["x"], 0);
    EXPECT_EQ(pin(19)["x"], -1);
    EXPECT_EQ(pin(20)["y"], 0);
    EXPECT_EQ(pin(20)["name"], "");
    EXPECT_EQ(pin(21)["y"], -1);
    EXPECT_EQ(pin(26)["name"], "");
    EXPECT_EQ(pin(26)["number"], "");
    EXPECT_EQ(pin(1)["conglomerate"], 0);
}

TEST(PinRecord, NumbersAndRotation) {
    const auto pin = [](std::uint8_t conglomerate, std::int16_t length) {
        return decoded(pin_record(conglomerate, length, -32768, 32767, "", ""))["pins"][0];
    };
    EXPECT_EQ(pin(0x06, 0)["rotation"], 180);
    EXPECT_EQ(pin(0x06, 0)["conglomerate"], 6);
    EXPECT_EQ(pin(0x04, 0)["rotation"], 0);
    EXPECT_EQ(pin(0x04, 0)["conglomerate"], 4);
    EXPECT_EQ(pin(0x01, 0)["rotation"], 90);
    EXPECT_TRUE(identical(pin(0, -32768)["length"], Value(std::int64_t{-32768})));
    EXPECT_TRUE(identical(pin(0, 32767)["length"], Value(std::uint64_t{32767})));
    EXPECT_TRUE(identical(pin(0, 0)["x"], Value(std::int64_t{-32768})));
    EXPECT_TRUE(identical(pin(0, 0)["y"], Value(std::uint64_t{32767})));
    const Value all_ones = pin(0xFF, -1);
    for (const auto& [key, value] : all_ones.items()) {
        if (value.is_number()) {
            EXPECT_TRUE(value.is_number_integer()) << key;
        }
    }
}

TEST(PinRecord, Strings) {
    // Byte 26 of a 40-byte payload is 200: the name runs past the payload, so
    // the number is read from offset 27.
    Bytes p(40, 0);
    p[0] = 2;
    p[26] = 200;
    p[27] = 3;
    p[28] = 'A';
    p[29] = 0xC3;
    p[30] = 0x28;
    const Value pin = decoded(test::record(p))["pins"][0];
    EXPECT_EQ(pin["name"], "");
    EXPECT_EQ(pin["number"], "A\xEF\xBF\xBD(");

    // A number that runs past the payload is empty; the name is kept.
    Bytes q = pin_record(0, 0, 0, 0, "NAME", "");
    q.back() = 9;  // number length 9 with nothing after it
    const Value named = decoded(q)["pins"][0];
    EXPECT_EQ(named["name"], "NAME");
    EXPECT_EQ(named["number"], "");

    // Bytes after the number are not read.
    Bytes r = pin_record(0, 0, 0, 0, "N", "7");
    r.insert(r.end(), {0xFF, 0xFF, 0xFF});
    r[0] = static_cast<std::uint8_t>(r.size() - 4);
    EXPECT_EQ(decoded(r)["pins"][0]["number"], "7");
}

TEST(PinRecord, EveryRecordCountsInOrder) {
    const Bytes a = pin_record(1, 10, -5, 3, "A", "1");
    const Bytes b = pin_record(2, 20, 5, -3, "B", "2");
    const Value value = decoded(concat({a, text_record("|RECORD=1|"), b, test::record(Bytes{7, 1}), a}));
    EXPECT_EQ(value["pin_count"], 3);
    ASSERT_EQ(value["pins"].size(), 3u);
    EXPECT_EQ(value["pins"][0]["name"], "A");
    EXPECT_EQ(value["pins"][1]["name"], "B");
    EXPECT_EQ(value["pins"][2], value["pins"][0]);
}

}  // namespace
}  // namespace pinbook
