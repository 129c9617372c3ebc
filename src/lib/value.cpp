#include "pinbook/value.hpp"

#include <algorithm>
#include <limits>

namespace pinbook {

Value int_value(std::int64_t v) {
    if (v >= 0) return Value(static_cast<std::uint64_t>(v));
    return Value(v);
}

const Value* lookup(const Value& v, std::string_view key) {
    if (!v.is_object()) return nullptr;
    auto it = v.find(key);
    if (it == v.end()) return nullptr;
    return &*it;
}

std::string_view string_member(const Value& v, std::string_view key) {
    const Value* m = lookup(v, key);
    if (m == nullptr || !m->is_string()) return {};
    return m->get_ref<const std::string&>();
}

std::optional<std::int64_t> signed_view(const Value& v) {
    if (v.is_number_unsigned()) {
        auto u = v.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    if (v.is_number_integer()) return v.get<std::int64_t>();
    return std::nullopt;
}

std::size_t Sides::row_count() const {
    return std::max<std::size_t>({left.size(), right.size(), 1});
}

namespace {

std::int64_t y_key(const Value& pin) {
    const Value* y = lookup(pin, "y");
    if (y == nullptr) return 0;
    return signed_view(*y).value_or(0);
}

void order_by_descending_y(std::vector<const Value*>& side) {
    std::vector<std::pair<std::int64_t, const Value*>> keyed;
    keyed.reserve(side.size());
    for (const Value* p : side) keyed.emplace_back(y_key(*p), p);
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (std::size_t i = 0; i < side.size(); ++i) side[i] = keyed[i].second;
}

}  // namespace

Sides split_sides(const Value& component) {
    Sides sides;
    const Value* pins = lookup(component, "pins");
    if (pins == nullptr || !pins->is_array()) return sides;
    sides.pin_total = pins->size();
    for (const Value& pin : *pins) {
        const Value* x = lookup(pin, "x");
        const auto xs = x ? signed_view(*x) : std::nullopt;
        if (xs && *xs < 0) {
            sides.left.push_back(&pin);
        } else {
            sides.right.push_back(&pin);
        }
    }
    order_by_descending_y(sides.left);
    order_by_descending_y(sides.right);
    return sides;
}

}  // namespace pinbook
