// Builders for .SchLib test fixtures: the records of a component's "Data"
// stream, and whole libraries around such a stream.
//
//   Bytes data = concat({text_record("|RECORD=1|ComponentDescription=Amp|"),
//                        pin_record(1, 30, -10, 20, "IN", "1"), end_record()});
//   Bytes file = make_schlib("OPAMP", data);
//   auto value = pinbook::parse_pinbook_bytes(file);
//
//   Bytes two = make_schlib_with({component_storage("B1", data), component_storage("a1", data)});
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pinbook/pinbook.hpp"
#include "support/cfb_writer.hpp"

namespace pinbook::test {

using Bytes = std::vector<std::uint8_t>;

// The pieces joined in order.
Bytes concat(std::initializer_list<Bytes> pieces);

// Bytes of a string, unchanged (embedded NULs included).
Bytes bytes_of(std::string_view text);

// One record: payload length (2 bytes little-endian, the payload must be at
// most 65,535 bytes), the two header bytes `spare` (low byte first; the
// reader ignores them), then the payload.
Bytes record(std::span<const std::uint8_t> payload, std::uint16_t spare = 0);

// A text record whose payload is exactly `text` (write the leading "|"
// yourself, e.g. "|RECORD=1|PartCount=2|").
Bytes text_record(std::string_view text);

// A pin record (type 2) of 26 + 2 + name + number bytes: conglomerate byte at
// 14, length at 15, x at 17, y at 19 (little-endian), then the name and the
// number as length-prefixed strings from offset 26 (each at most 255 bytes).
Bytes pin_record(std::uint8_t conglomerate, std::int16_t length, std::int16_t x, std::int16_t y,
                 std::string_view name, std::string_view number);

// The header 00 00 00 00: a record of length zero, which ends the walk.
Bytes end_record();

// The 166-byte "Data" stream of the OPAMP component: a component record
// (" Op amp ", part count 2), one pin (IN / 1, x -10, y 20, length 30,
// conglomerate 1), a rectangle record (-20, -30, 20, 30) and an end record.
Bytes opamp_data_stream();

// The component value that opamp_data_stream() gives in a storage "OPAMP".
Value opamp_component_value();

// True when both trees hold the same values of the same kinds: unlike ==, it
// tells unsigned from signed integers and from doubles, and -0.0 from 0.0.
bool identical(const Value& a, const Value& b);

// A .SchLib holding one storage `component_name` with the stream "Data".
Bytes make_schlib(std::string_view component_name, std::span<const std::uint8_t> data_stream);

// One child of the root of a library built by make_schlib_with.
struct LibraryEntry {
    std::string name;  // UTF-8
    bool is_storage = true;
    // A storage's streams, each a name and a content, e.g. {"Data", bytes}.
    std::vector<std::pair<std::string, Bytes>> streams;
    // A stream's content (when is_storage is false).
    Bytes content;
};

// A storage `name` holding one stream "Data" with `data_stream`.
LibraryEntry component_storage(std::string_view name, std::span<const std::uint8_t> data_stream);

// A library whose root holds `entries`, written as a well-formed directory:
// each sibling tree a search tree in name order, so the reader lists the
// entries in name order whatever order they are given in. For anything
// stranger (sub-storages, version 4, broken links) use cfb_writer.hpp.
Bytes make_schlib_with(const std::vector<LibraryEntry>& entries);

}  // namespace pinbook::test
