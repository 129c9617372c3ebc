// Reading helpers over the value tree, and the split of a component's pins
// into the left and right side that both drawing writers use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "pinbook/pinbook.hpp"

namespace pinbook {

// An integer as the value tree stores it: unsigned when not negative, signed
// otherwise.
Value int_value(std::int64_t v);

// The member `key` of an object; null when `v` is not an object or lacks it.
const Value* lookup(const Value& v, std::string_view key);

// The text of member `key` when it is a string, else empty.
std::string_view string_member(const Value& v, std::string_view key);

// The signed 64-bit view of an integer: absent for doubles, non-numbers and
// unsigned values above the signed range.
std::optional<std::int64_t> signed_view(const Value& v);

// The elements of "pins" split by side and put in row order: elements whose
// "x" is a negative integer go left, all others right; each side is stably
// ordered by descending "y" (its signed view, else 0).
struct Sides {
    std::vector<const Value*> left;
    std::vector<const Value*> right;
    std::size_t pin_total = 0;  // every element of "pins", of any kind

    // The larger side's size; 1 when both are empty.
    std::size_t row_count() const;
};
Sides split_sides(const Value& component);

}  // namespace pinbook
