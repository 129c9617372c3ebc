#include "checks.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "pinbook/text.hpp"

namespace pinbook::fuzz {

void fail(std::string_view what, std::string_view detail) {
    std::fprintf(stderr, "fuzz check failed: %.*s\n", static_cast<int>(what.size()), what.data());
    if (!detail.empty()) {
        // Enough to see the fault without flooding the log.
        std::string_view shown = detail.substr(0, 4000);
        std::fprintf(stderr, "%.*s\n", static_cast<int>(shown.size()), shown.data());
    }
    std::abort();
}

namespace {

bool strings_valid(const Value& root) {
    std::vector<const Value*> todo{&root};
    while (!todo.empty()) {
        const Value& v = *todo.back();
        todo.pop_back();
        if (v.is_string()) {
            if (!is_valid_utf8(v.get_ref<const std::string&>())) return false;
        } else if (v.is_array()) {
            for (const auto& e : v) todo.push_back(&e);
        } else if (v.is_object()) {
            for (const auto& [key, member] : v.get_ref<const Value::object_t&>()) {
                if (!is_valid_utf8(key)) return false;
                todo.push_back(&member);
            }
        }
    }
    return true;
}

// True when `parsed`, read back from the JSON text of `original`, holds the
// same tree. A non-negative integer stored signed comes back unsigned, and a
// non-finite double comes back null; everything else keeps kind and bits.
bool round_trips(const Value& original, const Value& parsed) {
    std::vector<std::pair<const Value*, const Value*>> todo{{&original, &parsed}};
    while (!todo.empty()) {
        auto [a, b] = todo.back();
        todo.pop_back();
        switch (a->type()) {
        case Value::value_t::null:
            if (!b->is_null()) return false;
            break;
        case Value::value_t::boolean:
            if (!b->is_boolean() || b->get<bool>() != a->get<bool>()) return false;
            break;
        case Value::value_t::number_unsigned:
            if (!b->is_number_unsigned() || b->get<std::uint64_t>() != a->get<std::uint64_t>())
                return false;
            break;
        case Value::value_t::number_integer: {
            std::int64_t i = a->get<std::int64_t>();
            if (i >= 0) {
                if (!b->is_number_unsigned() || b->get<std::uint64_t>() != std::uint64_t(i))
                    return false;
            } else if (!b->is_number_integer() || b->is_number_unsigned() ||
                       b->get<std::int64_t>() != i) {
                return false;
            }
            break;
        }
        case Value::value_t::number_float: {
            double d = a->get<double>();
            if (!std::isfinite(d)) {
                if (!b->is_null()) return false;
            } else if (!b->is_number_float() ||
                       std::bit_cast<std::uint64_t>(b->get<double>()) !=
                           std::bit_cast<std::uint64_t>(d)) {
                return false;
            }
            break;
        }
        case Value::value_t::string:
            if (!b->is_string() || *b != *a) return false;
            break;
        case Value::value_t::array:
            if (!b->is_array() || b->size() != a->size()) return false;
            for (std::size_t i = 0; i < a->size(); ++i) todo.push_back({&(*a)[i], &(*b)[i]});
            break;
        case Value::value_t::object: {
            if (!b->is_object() || b->size() != a->size()) return false;
            const auto& am = a->get_ref<const Value::object_t&>();
            const auto& bm = b->get_ref<const Value::object_t&>();
            for (auto ia = am.begin(), ib = bm.begin(); ia != am.end(); ++ia, ++ib) {
                if (ia->first != ib->first) return false;
                todo.push_back({&ia->second, &ib->second});
            }
            break;
        }
        default: return false;
        }
    }
    return true;
}

bool ends_with_line_feed(const std::string& s) { return !s.empty() && s.back() == '\n'; }

}  // namespace

void check_writers(const Value& value, std::string_view symbol_name) {
    std::string svg = render_symbol_svg(value);
    std::string kicad = to_kicad_sym(value, symbol_name);
    std::string json = to_pretty_json(value);

    if (!strings_valid(value) || !is_valid_utf8(symbol_name)) return;
    if (!is_valid_utf8(svg)) fail("SVG output is not valid UTF-8", svg);
    if (!ends_with_line_feed(svg)) fail("SVG output does not end with a line feed", svg);
    if (!is_valid_utf8(kicad)) fail("KiCad output is not valid UTF-8", kicad);
    if (!ends_with_line_feed(kicad)) fail("KiCad output does not end with a line feed", kicad);
    if (!is_valid_utf8(json)) fail("JSON output is not valid UTF-8", json);
    if (!json.empty() && json.back() == '\n') fail("JSON output ends with a line feed", json);
    Value parsed = Value::parse(json, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded()) fail("JSON output does not parse", json);
    if (!round_trips(value, parsed)) fail("JSON output does not read back to the same tree", json);
}

namespace {

bool is_int_of_kind(const Value& v, std::int64_t low, std::int64_t high) {
    if (v.is_number_unsigned()) return v.get<std::uint64_t>() <= std::uint64_t(std::max<std::int64_t>(high, 0));
    if (v.is_number_integer()) {
        std::int64_t i = v.get<std::int64_t>();
        return i < 0 && i >= low;  // non-negative integers are stored unsigned
    }
    return false;
}

bool has_keys(const Value& v, std::initializer_list<std::string_view> keys) {
    if (!v.is_object() || v.size() != keys.size()) return false;
    for (std::string_view k : keys)
        if (!v.contains(k)) return false;
    return true;
}

}  // namespace

void check_component(const Value& c) {
    std::string shown = c.dump(1, ' ', true, Value::error_handler_t::replace);
    if (!has_keys(c, {"_source", "body", "description", "module_name", "part_count", "pin_count", "pins"}))
        fail("component value lacks or adds keys", shown);
    if (c["_source"] != "pinbook") fail("\"_source\" is not \"pinbook\"", shown);
    const Value& body = c["body"];
    if (!body.is_null()) {
        if (!has_keys(body, {"x1", "x2", "y1", "y2"})) fail("body lacks or adds keys", shown);
        for (const auto& corner : body)
            if (!corner.is_null() && !corner.is_number_float()) fail("body number is not a double", shown);
    }
    if (!c["description"].is_string() || !c["module_name"].is_string())
        fail("description or module_name is not text", shown);
    if (!is_int_of_kind(c["part_count"], INT64_MIN, INT64_MAX))
        fail("part_count is not an integer of the stored kind", shown);
    const Value& pins = c["pins"];
    if (!pins.is_array() || pins.empty()) fail("pins is not a non-empty array", shown);
    if (!c["pin_count"].is_number_unsigned() || c["pin_count"].get<std::uint64_t>() != pins.size())
        fail("pin_count differs from the number of pins", shown);
    for (const auto& pin : pins) {
        if (!has_keys(pin, {"conglomerate", "length", "name", "number", "rotation", "x", "y"}))
            fail("pin lacks or adds keys", shown);
        if (!is_int_of_kind(pin["conglomerate"], 0, 255)) fail("conglomerate out of range", shown);
        if (!pin["rotation"].is_number_unsigned() ||
            pin["rotation"].get<std::uint64_t>() != (pin["conglomerate"].get<std::uint64_t>() & 3) * 90)
            fail("rotation does not follow the conglomerate byte", shown);
        for (const char* key : {"length", "x", "y"})
            if (!is_int_of_kind(pin[key], -32768, 32767)) fail("pin number out of 16-bit range", shown);
        if (!pin["name"].is_string() || !pin["number"].is_string()) fail("pin name or number is not text", shown);
        if (!is_valid_utf8(pin["name"].get_ref<const std::string&>()) ||
            !is_valid_utf8(pin["number"].get_ref<const std::string&>()))
            fail("pin text is not valid UTF-8", shown);
    }
    if (!is_valid_utf8(c["description"].get_ref<const std::string&>()) ||
        !is_valid_utf8(c["module_name"].get_ref<const std::string&>()))
        fail("description or module_name is not valid UTF-8", shown);
}

}  // namespace pinbook::fuzz
