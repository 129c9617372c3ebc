#include "pinbook/component.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <utility>

#include "pinbook/value.hpp"

namespace pinbook {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// ASCII case-insensitive equality with a lower-case word.
bool equals_word(std::string_view text, std::string_view lower_word) {
    if (text.size() != lower_word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower_word[i]) return false;
    }
    return true;
}

// Past this decimal exponent of the leading digit every value is infinite,
// below its negation every value rounds to zero, whatever digits follow
// (the finite doubles span about 4.9e-324 to 1.8e308). from_chars decides
// everything in between.
constexpr std::int64_t kDecimalExponentLimit = 400;
constexpr std::int64_t kExponentCap = 65536;

// Two-byte little-endian two's complement field at `offset`, or 0 when the
// payload does not hold both bytes.
std::int64_t signed16_at(std::span<const std::uint8_t> payload, std::size_t offset) {
    if (payload.size() < offset + 2) return 0;
    const auto bits = static_cast<std::uint16_t>(payload[offset] | (payload[offset + 1] << 8));
    return static_cast<std::int16_t>(bits);
}

constexpr std::size_t kConglomerateOffset = 14;
constexpr std::size_t kLengthOffset = 15;
constexpr std::size_t kXOffset = 17;
constexpr std::size_t kYOffset = 19;
constexpr std::size_t kNameOffset = 26;

Value body_number(double v) {
    if (!std::isfinite(v)) return Value(nullptr);
    return Value(v);
}

}  // namespace

std::optional<std::int64_t> parse_integer(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size()) return std::nullopt;
    // Accumulate the magnitude as unsigned so that the minimum, whose
    // magnitude is one above the maximum, is reachable.
    constexpr std::uint64_t kMaxMagnitude = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1;
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (!is_digit(text[i])) return std::nullopt;
        const auto d = static_cast<std::uint64_t>(text[i] - '0');
        if (magnitude > (kMaxMagnitude - d) / 10) return std::nullopt;
        magnitude = magnitude * 10 + d;
    }
    if (negative) {
        // 0 - magnitude in unsigned arithmetic, then the two's complement view.
        return static_cast<std::int64_t>(0 - magnitude);
    }
    if (magnitude == kMaxMagnitude) return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
}

std::optional<double> parse_float(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        i = 1;
    }
    const auto signed_result = [negative](double magnitude) { return negative ? -magnitude : magnitude; };

    const std::string_view word = text.substr(i);
    if (equals_word(word, "inf") || equals_word(word, "infinity")) {
        return signed_result(std::numeric_limits<double>::infinity());
    }
    if (equals_word(word, "nan")) return signed_result(std::numeric_limits<double>::quiet_NaN());

    const std::size_t int_begin = i;
    while (i < text.size() && is_digit(text[i])) ++i;
    const std::string_view int_digits = text.substr(int_begin, i - int_begin);
    std::string_view frac_digits;
    if (i < text.size() && text[i] == '.') {
        const std::size_t frac_begin = ++i;
        while (i < text.size() && is_digit(text[i])) ++i;
        frac_digits = text.substr(frac_begin, i - frac_begin);
    }
    if (int_digits.empty() && frac_digits.empty()) return std::nullopt;

    std::int64_t exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool exponent_negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            exponent_negative = text[i] == '-';
            ++i;
        }
        const std::size_t exp_begin = i;
        for (; i < text.size() && is_digit(text[i]); ++i) {
            if (exponent < kExponentCap) exponent = exponent * 10 + (text[i] - '0');
        }
        if (i == exp_begin) return std::nullopt;
        if (exponent_negative) exponent = -exponent;
    }
    if (i != text.size()) return std::nullopt;

    // Normalise to d.ddd...e<exp> with a nonzero leading digit, so that the
    // exponent handed on is small whatever the text held.
    std::size_t first = 0;  // index of the first nonzero digit in int+frac
    const std::size_t digit_count = int_digits.size() + frac_digits.size();
    const auto digit_at = [&](std::size_t k) {
        return k < int_digits.size() ? int_digits[k] : frac_digits[k - int_digits.size()];
    };
    while (first < digit_count && digit_at(first) == '0') ++first;
    if (first == digit_count) return signed_result(0.0);

    const std::int64_t decimal_exponent =
        static_cast<std::int64_t>(int_digits.size()) - static_cast<std::int64_t>(first) - 1 + exponent;
    if (decimal_exponent > kDecimalExponentLimit) return signed_result(std::numeric_limits<double>::infinity());
    if (decimal_exponent < -kDecimalExponentLimit) return signed_result(0.0);

    std::string normal;
    normal.reserve(digit_count - first + 8);
    normal.push_back(digit_at(first));
    normal.push_back('.');
    if (first + 1 < int_digits.size()) normal.append(int_digits.substr(first + 1));
    const std::size_t frac_from = first + 1 > int_digits.size() ? first + 1 - int_digits.size() : 0;
    if (frac_from < frac_digits.size()) normal.append(frac_digits.substr(frac_from));
    normal.push_back('e');
    normal.append(std::to_string(decimal_exponent));

    double magnitude = 0;
    const auto [end, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), magnitude);
    if (ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone when it overflows or underflows.
        magnitude = decimal_exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc() || end != normal.data() + normal.size()) {
        return std::nullopt;  // unreachable: the text was validated above
    }
    return signed_result(magnitude);
}

ComponentDecoder::ComponentDecoder() : body_(nullptr), pins_(Value::array()) {}

void ComponentDecoder::component_record(std::string_view text) {
    description_ = std::string(field_view(text, "ComponentDescription").value_or(std::string_view()));
    part_count_ = 1;
    if (const auto count = field_view(text, "PartCount")) {
        if (const auto parsed = parse_integer(*count)) part_count_ = *parsed;
    }
}

void ComponentDecoder::rectangle_record(std::string_view text) {
    std::optional<double> values[4];
    constexpr std::string_view keys[4] = {"Location.X", "Location.Y", "Corner.X", "Corner.Y"};
    for (int k = 0; k < 4; ++k) {
        const auto value = field_view(text, keys[k]);
        if (!value) return;
        values[k] = parse_float(*value);
        if (!values[k]) return;
    }
    Value body = Value::object();
    body["x1"] = body_number(*values[0]);
    body["y1"] = body_number(*values[1]);
    body["x2"] = body_number(*values[2]);
    body["y2"] = body_number(*values[3]);
    body_ = std::move(body);
}

void ComponentDecoder::pin_record(std::span<const std::uint8_t> payload) {
    const std::uint8_t conglomerate = payload.size() > kConglomerateOffset ? payload[kConglomerateOffset] : 0;
    std::size_t cursor = kNameOffset;
    std::string name = read_pstr(payload, cursor);
    std::string number = read_pstr(payload, cursor);

    // The keys go in already in byte order, so each lands at the end of the
    // map without a search.
    Value pin = Value::object();
    auto& members = pin.get_ref<Value::object_t&>();
    auto put = [&members](std::string_view key, Value value) {
        members.emplace_hint(members.end(), key, std::move(value));
    };
    put("conglomerate", int_value(conglomerate));
    put("length", int_value(signed16_at(payload, kLengthOffset)));
    put("name", std::move(name));
    put("number", std::move(number));
    put("rotation", int_value((conglomerate & 3) * 90));
    put("x", int_value(signed16_at(payload, kXOffset)));
    put("y", int_value(signed16_at(payload, kYOffset)));
    pins_.push_back(std::move(pin));
}

std::expected<Value, Error> ComponentDecoder::finish(std::string_view component_name) {
    if (pins_.empty()) {
        return std::unexpected(Error{"no pins parsed from component " + std::string(component_name)});
    }
    Value component = Value::object();
    component["_source"] = "pinbook";
    component["body"] = std::move(body_);
    component["description"] = std::move(description_);
    component["module_name"] = std::string(component_name);
    component["part_count"] = int_value(part_count_);
    component["pin_count"] = Value(static_cast<std::uint64_t>(pins_.size()));
    component["pins"] = std::move(pins_);
    return component;
}

}  // namespace pinbook
