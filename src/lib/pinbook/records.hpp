// The record layer of a component's "Data" stream: the walk that divides the
// stream into records, `field` for text records and `read_pstr` for the
// length-prefixed strings of binary records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pinbook {

// Receives the records the walk recognises, in stream order. Each record is
// handled completely before the walk reads the next header.
class RecordHandler {
public:
    // A text record whose "RECORD" field is "1"; `text` is the whole payload,
    // decoded, the leading "|" and any trailing byte included.
    virtual void component_record(std::string_view text) = 0;
    // A text record whose "RECORD" field is "14".
    virtual void rectangle_record(std::string_view text) = 0;
    // A binary record of type 2: its payload in place, first byte 2.
    virtual void pin_record(std::span<const std::uint8_t> payload) = 0;

protected:
    ~RecordHandler() = default;
};

// Walks the stream from its first byte: each record is a 2-byte little-endian
// payload length, 2 ignored bytes and the payload. The walk ends when fewer
// than 4 bytes remain for a header, at a length of 0, or at a payload that
// would run past the end (that record is not visited). Never fails.
void walk_records(std::span<const std::uint8_t> stream, RecordHandler& handler);

// The text with the White_Space characters (the 25 of Unicode's property)
// removed from both ends. `text` is expected to be UTF-8.
std::string_view trim_white_space(std::string_view text);

// The value of the first "|"-separated piece of `record` that starts with
// key + "=", trimmed; absent when no piece does. The view points into
// `record`.
std::optional<std::string_view> field_view(std::string_view record, std::string_view key);

// field_view's value as a text of its own.
std::optional<std::string> field(std::string_view record, std::string_view key);

// Reads the string with a one-byte length prefix at `cursor` in `data`:
// - cursor at or past the end: empty text, cursor unchanged;
// - string running past the end: empty text, cursor moved past the length byte;
// - otherwise: the bytes as lossy UTF-8, cursor moved past them.
std::string read_pstr(std::span<const std::uint8_t> data, std::size_t& cursor);

}  // namespace pinbook
