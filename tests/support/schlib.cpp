#include "support/schlib.hpp"

#include <cmath>
#include <stdexcept>
#include <utility>

namespace pinbook::test {
namespace {

void put16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put_pstr(Bytes& out, std::string_view text) {
    if (text.size() > 255) throw std::invalid_argument("pin string longer than 255 bytes");
    out.push_back(static_cast<std::uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

Bytes concat(std::initializer_list<Bytes> pieces) {
    Bytes out;
    for (const Bytes& piece : pieces) out.insert(out.end(), piece.begin(), piece.end());
    return out;
}

Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes record(std::span<const std::uint8_t> payload, std::uint16_t spare) {
    if (payload.size() > 0xFFFF) throw std::invalid_argument("record payload longer than 65535 bytes");
    Bytes out;
    out.reserve(4 + payload.size());
    put16(out, static_cast<std::uint16_t>(payload.size()));
    put16(out, spare);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes text_record(std::string_view text) { return record(bytes_of(text)); }

Bytes pin_record(std::uint8_t conglomerate, std::int16_t length, std::int16_t x, std::int16_t y,
                 std::string_view name, std::string_view number) {
    Bytes payload(14, 0);
    payload[0] = 2;
    payload.push_back(conglomerate);
    put16(payload, static_cast<std::uint16_t>(length));
    put16(payload, static_cast<std::uint16_t>(x));
    put16(payload, static_cast<std::uint16_t>(y));
    payload.resize(26, 0);
    put_pstr(payload, name);
    put_pstr(payload, number);
    return record(payload);
}

Bytes end_record() { return Bytes(4, 0); }

Bytes opamp_data_stream() {
    return concat({
        text_record(std::string_view("|RECORD=1|ComponentDescription= Op amp |PartCount=2|\0", 53)),
        pin_record(1, 30, -10, 20, "IN", "1"),
        text_record(std::string_view("|RECORD=14|Location.X=-20|Location.Y=-30|Corner.X=20|Corner.Y=30|\0", 66)),
        end_record(),
    });
}

Value opamp_component_value() {
    Value pin = Value::object();
    pin["conglomerate"] = 1u;
    pin["length"] = 30u;
    pin["name"] = "IN";
    pin["number"] = "1";
    pin["rotation"] = 90u;
    pin["x"] = -10;
    pin["y"] = 20u;
    Value body = Value::object();
    body["x1"] = -20.0;
    body["y1"] = -30.0;
    body["x2"] = 20.0;
    body["y2"] = 30.0;
    Value component = Value::object();
    component["_source"] = "pinbook";
    component["body"] = body;
    component["description"] = "Op amp";
    component["module_name"] = "OPAMP";
    component["part_count"] = 2u;
    component["pin_count"] = 1u;
    component["pins"] = Value::array({pin});
    return component;
}

Bytes make_schlib(std::string_view component_name, std::span<const std::uint8_t> data_stream) {
    return make_schlib_with({component_storage(component_name, data_stream)});
}

LibraryEntry component_storage(std::string_view name, std::span<const std::uint8_t> data_stream) {
    LibraryEntry entry;
    entry.name = std::string(name);
    entry.streams.emplace_back("Data", Bytes(data_stream.begin(), data_stream.end()));
    return entry;
}

Bytes make_schlib_with(const std::vector<LibraryEntry>& entries) {
    std::vector<CfbNode> children;
    for (const LibraryEntry& entry : entries) {
        if (!entry.is_storage) {
            children.push_back(cfb_stream(entry.name, entry.content));
            continue;
        }
        std::vector<CfbNode> streams;
        for (const auto& [name, content] : entry.streams) streams.push_back(cfb_stream(name, content));
        children.push_back(cfb_storage(entry.name, std::move(streams)));
    }
    return build_cfb(cfb_root(std::move(children)));
}

bool identical(const Value& a, const Value& b) {
    if (a.type() != b.type()) return false;
    switch (a.type()) {
        case Value::value_t::object: {
            if (a.size() != b.size()) return false;
            for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib) {
                if (ia.key() != ib.key() || !identical(*ia, *ib)) return false;
            }
            return true;
        }
        case Value::value_t::array: {
            if (a.size() != b.size()) return false;
            for (std::size_t i = 0; i < a.size(); ++i) {
                if (!identical(a[i], b[i])) return false;
            }
            return true;
        }
        case Value::value_t::number_float: {
            const double x = a.get<double>(), y = b.get<double>();
            if (std::isnan(x) || std::isnan(y)) return std::isnan(x) && std::isnan(y);
            return x == y && std::signbit(x) == std::signbit(y);
        }
        default:
            return a == b;
    }
}

}  // namespace pinbook::test
