// The JSON text form: the component value's exact text, number layout, the
// escape table, indentation of nested containers, extreme integers, a round
// trip through an independent parser, and deep nesting on a small stack.
#include <gtest/gtest.h>
#include <pthread.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "pinbook/pinbook.hpp"
#include "pinbook/value.hpp"
#include "support/schlib.hpp"

namespace pinbook {
namespace {

const char* const kOpampText =
    "{\n"
    "  \"_source\": \"pinbook\",\n"
    "  \"body\": {\n"
    "    \"x1\": -20.0,\n"
    "    \"x2\": 20.0,\n"
    "    \"y1\": -30.0,\n"
    "    \"y2\": 30.0\n"
    "  },\n"
    "  \"description\": \"Op amp\",\n"
    "  \"module_name\": \"OPAMP\",\n"
    "  \"part_count\": 2,\n"
    "  \"pin_count\": 1,\n"
    "  \"pins\": [\n"
    "    {\n"
    "      \"conglomerate\": 1,\n"
    "      \"length\": 30,\n"
    "      \"name\": \"IN\",\n"
    "      \"number\": \"1\",\n"
    "      \"rotation\": 90,\n"
    "      \"x\": -10,\n"
    "      \"y\": 20\n"
    "    }\n"
    "  ]\n"
    "}";

TEST(JsonText, ComponentValueExactly) {
    EXPECT_EQ(to_pretty_json(test::opamp_component_value()), kOpampText);
}

TEST(JsonText, ComponentVariants) {
    Value c = test::opamp_component_value();
    c["body"] = nullptr;
    c["description"] = "";
    const std::string text = to_pretty_json(c);
    EXPECT_NE(text.find("\n  \"body\": null,\n  \"description\": \"\",\n  \"module_name\""),
              std::string::npos)
        << text;
    c["body"] = Value{{"x1", -0.0}, {"x2", 0.0}, {"y1", std::numeric_limits<double>::infinity()}, {"y2", 0.5}};
    EXPECT_NE(to_pretty_json(c).find(
                  "\"body\": {\n    \"x1\": -0.0,\n    \"x2\": 0.0,\n    \"y1\": null,\n    \"y2\": 0.5\n  },"),
              std::string::npos);
}

std::string number_text(double d) { return to_pretty_json(Value(d)); }

TEST(JsonText, NumberTable) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {100.0, "100.0"},
        {1e15, "1000000000000000.0"},
        {9007199254740992.0, "9007199254740992.0"},
        {1e16, "1e+16"},
        {18446744073709551616.0, "1.8446744073709552e+19"},
        {12.5, "12.5"},
        {123456.789, "123456.789"},
        {1234567890123456.75, "1234567890123456.8"},
        {0.1 + 0.2, "0.30000000000000004"},
        {0.00125, "0.00125"},
        {1e-5, "0.00001"},
        {1e-6, "1e-6"},
        {1.5e-7, "1.5e-7"},
        {std::numeric_limits<double>::denorm_min(), "5e-324"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
        {-20.0, "-20.0"},
        {-0.0, "-0.0"},
        {0.0, "0.0"},
        // Around the layout boundaries.
        {1.5, "1.5"},
        {0.5, "0.5"},
        {1.0, "1.0"},
        {1.23e15, "1230000000000000.0"},
        {1.25e16, "1.25e+16"},
        {9.999999999999998e15, "9999999999999998.0"},
        {1.2345e-5, "0.000012345"},
        {9.9e-6, "9.9e-6"},
        {-1.5e-7, "-1.5e-7"},
        {1e100, "1e+100"},
        {2.5e-100, "2.5e-100"},
        {std::numeric_limits<double>::min(), "2.2250738585072014e-308"},
        {-123.456, "-123.456"},
    };
    for (const auto& c : cases) EXPECT_EQ(number_text(c.value), c.text) << c.text;
}

TEST(JsonText, NonFiniteDoublesAreNull) {
    EXPECT_EQ(number_text(std::numeric_limits<double>::infinity()), "null");
    EXPECT_EQ(number_text(-std::numeric_limits<double>::infinity()), "null");
    EXPECT_EQ(number_text(std::numeric_limits<double>::quiet_NaN()), "null");
}

TEST(JsonText, ExtremeIntegers) {
    EXPECT_EQ(to_pretty_json(Value(std::numeric_limits<std::uint64_t>::max())), "18446744073709551615");
    EXPECT_EQ(to_pretty_json(Value(std::numeric_limits<std::int64_t>::min())), "-9223372036854775808");
    EXPECT_EQ(to_pretty_json(Value(std::numeric_limits<std::int64_t>::max())), "9223372036854775807");
    EXPECT_EQ(to_pretty_json(Value(std::uint64_t{0})), "0");
    // A non-negative value held in the signed kind has no sign either.
    EXPECT_EQ(to_pretty_json(Value(std::int64_t{0})), "0");
    EXPECT_EQ(to_pretty_json(Value(std::int64_t{7})), "7");
    EXPECT_EQ(to_pretty_json(Value(true)), "true");
    EXPECT_EQ(to_pretty_json(Value(false)), "false");
    EXPECT_EQ(to_pretty_json(Value(nullptr)), "null");
}

TEST(JsonText, EscapeTable) {
    EXPECT_EQ(to_pretty_json(Value(std::string("\x01\x09\x22\x5C\x2F\x7F"))),
              "\x22\x5C" "u0001" "\x5C\x74\x5C\x22\x5C\x5C\x2F\x7F\x22");
    EXPECT_EQ(to_pretty_json(Value(std::string("\b\t\n\f\r", 5))), R"("\b\t\n\f\r")");
    EXPECT_EQ(to_pretty_json(Value(std::string("\x00\x1b\x1f\x0b\x20", 5))), R"("\u0000\u001b\u001f\u000b ")");
    // Everything from 0x20 to 0x7F but the two escaped bytes, and any byte
    // at or above 0x80, stands for itself.
    std::string plain;
    for (int b = 0x20; b <= 0xFF; ++b) {
        if (b != '"' && b != '\\') plain.push_back(static_cast<char>(b));
    }
    EXPECT_EQ(to_pretty_json(Value(plain)), "\"" + plain + "\"");
    EXPECT_EQ(to_pretty_json(Value("Ωμ€ 😀 名前")), "\"Ωμ€ 😀 名前\"");
    // Keys follow the same table.
    EXPECT_EQ(to_pretty_json(Value{{"a\"b\n", 1}}), "{\n  \"a\\\"b\\n\": 1\n}");
}

// Strings are scanned several bytes at a time: every byte value at every
// offset of a longer string must still come out by the table.
TEST(JsonText, EscapeTableAtEveryOffset) {
    const auto escaped = [](unsigned char b) -> std::string {
        static const char* const kNamed[] = {"\\b", "\\t", "\\n", nullptr, "\\f", "\\r"};
        if (b >= 0x08 && b <= 0x0D && kNamed[b - 0x08]) return kNamed[b - 0x08];
        if (b == '"') return "\\\"";
        if (b == '\\') return "\\\\";
        if (b < 0x20) {
            char six[7];
            std::snprintf(six, sizeof six, "\\u%04x", b);
            return six;
        }
        return std::string(1, static_cast<char>(b));
    };
    for (int b = 0; b < 256; ++b) {
        for (std::size_t at = 0; at < 19; ++at) {
            std::string text(19, 'a');
            text[at] = static_cast<char>(b);
            std::string expected = "\"";
            expected.append(at, 'a');
            expected += escaped(static_cast<unsigned char>(b));
            expected.append(18 - at, 'a');
            expected += '"';
            ASSERT_EQ(to_pretty_json(Value(text)), expected) << "byte " << b << " at " << at;
        }
    }
}

TEST(JsonText, NestingAndEmptyContainers) {
    Value v = Value::object();
    v["a"] = Value::array();
    v["b"] = Value::object();
    v["c"] = Value::array({Value::array(), Value::array({1, Value::array({2})}), Value::object()});
    v["d"] = Value{{"e", Value::object()}, {"f", Value::array({Value{{"g", nullptr}}})}};
    EXPECT_EQ(to_pretty_json(v),
              "{\n"
              "  \"a\": [],\n"
              "  \"b\": {},\n"
              "  \"c\": [\n"
              "    [],\n"
              "    [\n"
              "      1,\n"
              "      [\n"
              "        2\n"
              "      ]\n"
              "    ],\n"
              "    {}\n"
              "  ],\n"
              "  \"d\": {\n"
              "    \"e\": {},\n"
              "    \"f\": [\n"
              "      {\n"
              "        \"g\": null\n"
              "      }\n"
              "    ]\n"
              "  }\n"
              "}");
    EXPECT_EQ(to_pretty_json(Value::array()), "[]");
    EXPECT_EQ(to_pretty_json(Value::object()), "{}");
}

TEST(JsonText, KeysInByteOrder) {
    Value v = Value::object();
    for (const char* key : {"b", "\xC3\xA9", "_", "B", "ab", "a", "", "~"}) v[key] = 0;
    EXPECT_EQ(to_pretty_json(v),
              "{\n  \"\": 0,\n  \"B\": 0,\n  \"_\": 0,\n  \"a\": 0,\n  \"ab\": 0,\n  \"b\": 0,\n"
              "  \"~\": 0,\n  \"\xC3\xA9\": 0\n}");
}

// ---- Random trees -------------------------------------------------------

class TreeMaker {
public:
    explicit TreeMaker(std::uint64_t seed, bool with_doubles) : rng_(seed), doubles_(with_doubles) {}

    Value tree(int depth) {
        // The root is always a container; below it about a third are, up to
        // six levels deep.
        const int kind = depth == 0 ? 7 + pick(4) : pick(depth >= 5 ? 7 : 11);
        switch (kind) {
            case 0: return nullptr;
            case 1: return pick(2) == 1;
            case 2: return int_value(signed_number());
            case 3: return std::uint64_t{rng_()};
            case 4: return doubles_ ? Value(real()) : int_value(signed_number());
            case 5:
            case 6: return text();
            case 7:
            case 8: {
                Value a = Value::array();
                for (int i = pick(6); i > 0; --i) a.push_back(tree(depth + 1));
                return a;
            }
            default: {
                Value o = Value::object();
                for (int i = pick(6); i > 0; --i) o[text()] = tree(depth + 1);
                return o;
            }
        }
    }

private:
    int pick(int n) { return static_cast<int>(rng_() % static_cast<std::uint64_t>(n)); }

    std::int64_t signed_number() {
        switch (pick(4)) {
            case 0: return static_cast<std::int64_t>(rng_());
            case 1: return std::numeric_limits<std::int64_t>::min();
            default: return static_cast<std::int64_t>(rng_() % 2001) - 1000;
        }
    }

    double real() {
        switch (pick(6)) {
            case 0: {  // any finite bit pattern, subnormals included
                double d;
                do d = std::bit_cast<double>(std::uint64_t{rng_()});
                while (!std::isfinite(d));
                return d;
            }
            case 1: return pick(2) ? 0.0 : -0.0;
            case 2: return static_cast<double>(static_cast<std::int64_t>(rng_() % 2000001) - 1000000);
            case 3: return static_cast<double>(pick(100000)) / 1000.0;
            case 4: return std::ldexp(static_cast<double>(rng_() >> 11), pick(120) - 90);
            default: return static_cast<double>(pick(9) + 1) * std::pow(10.0, pick(50) - 25);
        }
    }

    // Valid UTF-8 with control characters, quotes, backslashes and
    // characters of every encoded length.
    std::string text() {
        static const char32_t kSpecial[] = {0x00, 0x01, 0x08, 0x09, 0x0A, 0x0C, 0x0D, 0x1B, 0x1F, 0x22,
                                            0x2F, 0x5C, 0x7F, 0x80, 0xE9, 0x7FF, 0x800, 0xFFFD, 0x10000, 0x10FFFF};
        std::string s;
        for (int i = pick(8); i > 0; --i) {
            char32_t c;
            switch (pick(3)) {
                case 0: c = kSpecial[pick(sizeof kSpecial / sizeof kSpecial[0])]; break;
                case 1: c = static_cast<char32_t>(0x20 + pick(0x5F)); break;
                default:
                    do c = static_cast<char32_t>(rng_() % 0x110000);
                    while (c >= 0xD800 && c <= 0xDFFF);
            }
            append_utf8(s, c);
        }
        return s;
    }

    static void append_utf8(std::string& s, char32_t c) {
        if (c < 0x80) {
            s.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            s.push_back(static_cast<char>(0xC0 | (c >> 6)));
            s.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            s.push_back(static_cast<char>(0xE0 | (c >> 12)));
            s.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            s.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            s.push_back(static_cast<char>(0xF0 | (c >> 18)));
            s.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            s.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            s.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }

    std::mt19937_64 rng_;
    bool doubles_;
};

// Equal trees with equal kinds of number, and doubles equal bit for bit.
// (Value's own == compares 1, 1u and 1.0 as equal.)
::testing::AssertionResult same_tree(const Value& a, const Value& b) {
    if (a.type() != b.type()) {
        return ::testing::AssertionFailure() << "kinds differ: " << a.type_name() << " vs " << b.type_name();
    }
    if (a.is_number_float()) {
        const double x = a.get<double>(), y = b.get<double>();
        if (std::bit_cast<std::uint64_t>(x) != std::bit_cast<std::uint64_t>(y)) {
            return ::testing::AssertionFailure() << "doubles differ";
        }
        return ::testing::AssertionSuccess();
    }
    if (a.is_array()) {
        if (a.size() != b.size()) return ::testing::AssertionFailure() << "array sizes differ";
        for (std::size_t i = 0; i < a.size(); ++i) {
            auto r = same_tree(a[i], b[i]);
            if (!r) return r;
        }
        return ::testing::AssertionSuccess();
    }
    if (a.is_object()) {
        if (a.size() != b.size()) return ::testing::AssertionFailure() << "object sizes differ";
        for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib) {
            if (ia.key() != ib.key()) return ::testing::AssertionFailure() << "keys differ";
            auto r = same_tree(ia.value(), ib.value());
            if (!r) return r;
        }
        return ::testing::AssertionSuccess();
    }
    if (a != b) return ::testing::AssertionFailure() << "values differ";
    return ::testing::AssertionSuccess();
}

void expect_clean_lines(const std::string& text) {
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find('\t'), std::string::npos);
    EXPECT_EQ(text.find(" \n"), std::string::npos);
    EXPECT_NE(text.back(), ' ');
}

TEST(JsonText, RoundTripThroughIndependentParser) {
    TreeMaker make(20261208, true);
    for (int i = 0; i < 3000; ++i) {
        const Value tree = make.tree(0);
        const std::string text = to_pretty_json(tree);
        expect_clean_lines(text);
        const Value back = Value::parse(text);
        ASSERT_TRUE(same_tree(tree, back)) << "tree " << i << ":\n" << text;
    }
}

// Without doubles our form coincides with the library's own pretty dump,
// which makes it an independent check of layout and escapes.
TEST(JsonText, LayoutAgreesWithIndependentWriterWithoutDoubles) {
    TreeMaker make(7, false);
    for (int i = 0; i < 3000; ++i) {
        const Value tree = make.tree(0);
        ASSERT_EQ(to_pretty_json(tree), tree.dump(2, ' ', false)) << "tree " << i;
    }
}

TEST(JsonText, DoublesReadBackExactly) {
    std::mt19937_64 rng(42);
    for (int i = 0; i < 200000; ++i) {
        const double d = std::bit_cast<double>(std::uint64_t{rng()});
        if (!std::isfinite(d)) continue;
        const std::string text = number_text(d);
        ASSERT_TRUE(text.find_first_of(".e") != std::string::npos) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(std::strtod(text.c_str(), nullptr)), std::bit_cast<std::uint64_t>(d))
            << text;
    }
}

// ---- Deep nesting ---------------------------------------------------------

Value nested_arrays(int depth) {
    Value v = Value::array();
    for (int i = 1; i < depth; ++i) {
        Value outer = Value::array();
        outer.push_back(std::move(v));
        v = std::move(outer);
    }
    return v;
}

struct DeepJob {
    const Value* value;
    std::string text;
};

void* write_deep(void* arg) {
    auto* job = static_cast<DeepJob*>(arg);
    job->text = to_pretty_json(*job->value);
    return nullptr;
}

// The text of a tree n deep grows with n squared (indentation), so a very
// deep tree cannot be written whole; instead a few thousand levels are
// written on a 64 KiB stack, which no walk that recursed per level survives.
TEST(JsonText, DeepNestingOnSmallStack) {
    constexpr int kDepth = 4000;
    const Value deep = nested_arrays(kDepth);
    DeepJob job{&deep, {}};
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 64 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, write_deep, &job), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attr);

    const std::string& text = job.text;
    // Line k (0-based) of the opening half is 2k spaces and "[".
    std::size_t expected_size = 0;
    for (std::size_t k = 0; k + 1 < kDepth; ++k) expected_size += 2 * (2 * k + 1) + 2;
    expected_size += 2 * (kDepth - 1) + 2;  // the innermost "[]"
    EXPECT_EQ(text.size(), expected_size);
    EXPECT_EQ(text.substr(0, 8), "[\n  [\n  ");
    EXPECT_EQ(text.substr(text.size() - 5), "  ]\n]");
    // The innermost line follows the kDepth - 1 opening lines.
    const std::size_t innermost = std::size_t{kDepth - 1} * kDepth;
    EXPECT_EQ(text.substr(innermost - 2, 2 * kDepth + 3), "[\n" + std::string(2 * (kDepth - 1), ' ') + "[]\n");
}

}  // namespace
}  // namespace pinbook
