// Turns the component, rectangle and pin records of one "Data" stream into the
// component value.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "pinbook/pinbook.hpp"
#include "pinbook/records.hpp"

namespace pinbook {

// "PartCount" values: an optional sign, then one or more ASCII digits, nothing
// else; the value must fit a signed 64-bit integer.
std::optional<std::int64_t> parse_integer(std::string_view text);

// Rectangle values: an optional sign, then a decimal number (digits, an
// optional "." and digits, at least one digit in all, an optional exponent)
// or one of inf, infinity, nan in any case. Correctly rounded to nearest,
// ties to even, whatever the number of digits; the exponent's value stops
// growing once it reaches 65,536.
std::optional<double> parse_float(std::string_view text);

// The decoding state of one component while its records are walked.
class ComponentDecoder final : public RecordHandler {
public:
    ComponentDecoder();

    void component_record(std::string_view text) override;
    void rectangle_record(std::string_view text) override;
    void pin_record(std::span<const std::uint8_t> payload) override;

    // The component value, or "no pins parsed from component {name}" when no
    // pin record was applied. The decoder is spent afterwards.
    std::expected<Value, Error> finish(std::string_view component_name);

private:
    std::string description_;
    std::int64_t part_count_ = 1;
    Value body_;  // null until a rectangle record is applied
    Value pins_;  // array of pin objects, in record order
};

}  // namespace pinbook
