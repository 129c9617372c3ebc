// Shared text and value helpers: lossy UTF-8, fixed-decimal numbers, the
// signed view of integers and the split of pins into sides.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>

#include "pinbook/text.hpp"
#include "pinbook/value.hpp"

namespace pinbook {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

std::string rep(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += kFffd;
    return s;
}

TEST(LossyUtf8, ReplacesEachMaximalSubpartOnce) {
    EXPECT_EQ(lossy_utf8(std::string_view("\xC3\xA9")), "\xC3\xA9");
    EXPECT_EQ(lossy_utf8(std::string_view("\xE9")), rep(1));
    EXPECT_EQ(lossy_utf8(std::string_view("\xE2\x82\x41")), rep(1) + "A");
    EXPECT_EQ(lossy_utf8(std::string_view("\xC0\x80")), rep(2));
    EXPECT_EQ(lossy_utf8(std::string_view("\xE0\x80\x80")), rep(3));
    EXPECT_EQ(lossy_utf8(std::string_view("\xED\xA0\x80")), rep(3));
    EXPECT_EQ(lossy_utf8(std::string_view("\xF4\x90\x80\x80")), rep(4));
    EXPECT_EQ(lossy_utf8(std::string_view("\xF0\x9F\x98")), rep(1));
    EXPECT_EQ(lossy_utf8(std::string_view("")), "");
    EXPECT_EQ(lossy_utf8(std::string_view("\xF0\x9F\x98\x80|x")), "\xF0\x9F\x98\x80|x");
    // An ASCII byte is never swallowed by a replacement.
    EXPECT_EQ(lossy_utf8(std::string_view("\xE2|\xF0\x9F=")), rep(1) + "|" + rep(1) + "=");
    EXPECT_EQ(lossy_utf8(std::string_view("\xFF\xF5\x80", 3)), rep(3));
    std::string nul("a\0b", 3);
    EXPECT_EQ(lossy_utf8(std::string_view(nul)), nul);
}

TEST(LossyUtf8, ValidityAgreesWithDecoding) {
    EXPECT_TRUE(is_valid_utf8(""));
    EXPECT_TRUE(is_valid_utf8("plain \xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80"));
    EXPECT_FALSE(is_valid_utf8("\xC0\x80"));
    EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));  // surrogate
    EXPECT_FALSE(is_valid_utf8("abc\xF0\x9F\x98"));
    EXPECT_FALSE(is_valid_utf8("\xFF"));
}

TEST(FixedDecimal, RoundsExactBinaryValueHalfToEven) {
    EXPECT_EQ(fixed(97.24000000000001, 1), "97.2");
    EXPECT_EQ(fixed(1361.3600000000001, 0), "1361");
    EXPECT_EQ(fixed(218.68, 0), "219");
    EXPECT_EQ(fixed(0.125, 2), "0.12");   // exact tie, even digit
    EXPECT_EQ(fixed(0.375, 2), "0.38");
    EXPECT_EQ(fixed(2.5, 0), "2");
    EXPECT_EQ(fixed(3.5, 0), "4");
    EXPECT_EQ(fixed(1.005, 2), "1.00");   // the double lies below 1.005
    EXPECT_EQ(fixed(-24.130000000000003, 2), "-24.13");
    EXPECT_EQ(fixed(-std::ldexp(1.0, -46), 2), "-0.00");
    EXPECT_EQ(fixed(-0.0, 2), "-0.00");
    EXPECT_EQ(fixed(0.0, 2), "0.00");
    EXPECT_EQ(fixed(1e21, 2), "1000000000000000000000.00");
    EXPECT_EQ(fixed(std::numeric_limits<double>::max(), 0).size(), 309u);
}

TEST(FixedDecimal, AgreesWithTheGeneralConversion) {
    // The short path must give the same text as the full conversion for
    // every magnitude and number of decimals.
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    auto reference = [](double v, int d) {
        char buf[400];
        auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, d);
        return std::string(buf, res.ptr);
    };
    for (int i = 0; i < 200000; ++i) {
        double v;
        switch (i % 4) {
            case 0: v = std::bit_cast<double>(next()); break;                        // any bits
            case 1: v = static_cast<double>(static_cast<std::int64_t>(next() % 2000001) - 1000000) / 100.0; break;
            case 2: v = static_cast<double>(static_cast<std::int64_t>(next() % 20001) - 10000) * 0.125; break;  // ties
            default: v = std::ldexp(static_cast<double>(next() >> 11), static_cast<int>(next() % 140) - 120); break;
        }
        if (!std::isfinite(v)) continue;
        const int d = static_cast<int>(next() % 5);
        ASSERT_EQ(fixed(v, d), reference(v, d)) << std::hexfloat << v << " decimals " << d;
    }
}

TEST(ValueHelpers, IntegersAndSignedView) {
    EXPECT_TRUE(int_value(0).is_number_unsigned());
    EXPECT_TRUE(int_value(5).is_number_unsigned());
    EXPECT_FALSE(int_value(-5).is_number_unsigned());
    EXPECT_EQ(int_value(-5).get<std::int64_t>(), -5);

    EXPECT_EQ(signed_view(Value(std::uint64_t{7})), 7);
    EXPECT_EQ(signed_view(Value(std::int64_t{-7})), -7);
    EXPECT_EQ(signed_view(Value(std::uint64_t{9223372036854775807ull})), 9223372036854775807ll);
    EXPECT_EQ(signed_view(Value(std::uint64_t{9223372036854775808ull})), std::nullopt);
    EXPECT_EQ(signed_view(Value(2.0)), std::nullopt);
    EXPECT_EQ(signed_view(Value("3")), std::nullopt);
    EXPECT_EQ(signed_view(Value(nullptr)), std::nullopt);

    EXPECT_EQ(lookup(Value::array(), "x"), nullptr);
    EXPECT_EQ(string_member(Value{{"name", 5}}, "name"), "");
    EXPECT_EQ(string_member(Value{{"name", "IN"}}, "name"), "IN");
}

std::vector<std::string> numbers(const std::vector<const Value*>& side) {
    std::vector<std::string> out;
    for (const Value* p : side) out.emplace_back(string_member(*p, "number"));
    return out;
}

TEST(Sides, OnlyNegativeIntegersGoLeft) {
    Value c = {{"pins", Value::array({
        {{"number", "a"}, {"x", -1}},
        {{"number", "b"}, {"x", 0}},
        {{"number", "c"}, {"x", -5.5}},
        {{"number", "d"}, {"x", "-3"}},
        {{"number", "e"}},
        Value(42),
        {{"number", "f"}, {"x", std::int64_t{-32768}}},
    })}};
    Sides s = split_sides(c);
    EXPECT_EQ(numbers(s.left), (std::vector<std::string>{"a", "f"}));
    EXPECT_EQ(numbers(s.right), (std::vector<std::string>{"b", "c", "d", "e", ""}));
    EXPECT_EQ(s.pin_total, 7u);
    EXPECT_EQ(s.row_count(), 5u);
}

TEST(Sides, StableDescendingYWithZeroForOddValues) {
    Value c = {{"pins", Value::array({
        {{"number", "1"}, {"y", 0}},
        {{"number", "2"}, {"y", 100}},
        {{"number", "3"}, {"y", 2.5}},          // counts as 0
        {{"number", "4"}, {"y", -5}},
        {{"number", "5"}, {"y", 100}},
        {{"number", "6"}},                      // counts as 0
        {{"number", "7"}, {"y", std::uint64_t{18446744073709551615ull}}},  // counts as 0
    })}};
    Sides s = split_sides(c);
    EXPECT_TRUE(s.left.empty());
    EXPECT_EQ(numbers(s.right), (std::vector<std::string>{"2", "5", "1", "3", "6", "7", "4"}));
}

TEST(Sides, NoPinsGiveOneRow) {
    for (const Value& c : {Value(), Value::object(), Value::array(), Value{{"pins", "x"}},
                           Value{{"pins", Value::object()}}}) {
        Sides s = split_sides(c);
        EXPECT_EQ(s.pin_total, 0u);
        EXPECT_EQ(s.row_count(), 1u);
    }
}

}  // namespace
}  // namespace pinbook
