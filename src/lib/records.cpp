#include "pinbook/records.hpp"

#include "pinbook/text.hpp"

namespace pinbook {
namespace {

constexpr std::size_t kHeaderSize = 4;
constexpr std::uint8_t kTextRecordLead = 0x7C;  // '|'
constexpr std::uint8_t kPinRecordType = 2;

// The UTF-8 forms of the White_Space characters that are not ASCII:
// U+0085, U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F,
// U+3000.
constexpr std::string_view kWideWhiteSpace[] = {
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81",
    "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86",
    "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8",
    "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80",
};

bool is_ascii_white_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Length in bytes of the white-space character that `text` starts with, or 0.
std::size_t leading_white_space(std::string_view text) {
    if (text.empty()) return 0;
    if (is_ascii_white_space(text.front())) return 1;
    for (std::string_view ws : kWideWhiteSpace) {
        if (text.starts_with(ws)) return ws.size();
    }
    return 0;
}

// Length in bytes of the white-space character that `text` ends with, or 0.
// In UTF-8 a lead byte never appears as a continuation byte, so a matching
// suffix is a whole character.
std::size_t trailing_white_space(std::string_view text) {
    if (text.empty()) return 0;
    if (is_ascii_white_space(text.back())) return 1;
    for (std::string_view ws : kWideWhiteSpace) {
        if (text.ends_with(ws)) return ws.size();
    }
    return 0;
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
    while (std::size_t n = leading_white_space(text)) text.remove_prefix(n);
    while (std::size_t n = trailing_white_space(text)) text.remove_suffix(n);
    return text;
}

std::optional<std::string_view> field_view(std::string_view record, std::string_view key) {
    // Pieces run from one '|' to the next; the piece before the first '|'
    // counts as well, so the search starts at offset 0.
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = record.find('|', start);
        const std::size_t end = (bar == std::string_view::npos) ? record.size() : bar;
        std::string_view piece = record.substr(start, end - start);
        if (piece.size() > key.size() && piece.starts_with(key) && piece[key.size()] == '=') {
            return trim_white_space(piece.substr(key.size() + 1));
        }
        if (bar == std::string_view::npos) return std::nullopt;
        start = bar + 1;
    }
}

std::optional<std::string> field(std::string_view record, std::string_view key) {
    if (auto value = field_view(record, key)) return std::string(*value);
    return std::nullopt;
}

std::string read_pstr(std::span<const std::uint8_t> data, std::size_t& cursor) {
    if (cursor >= data.size()) return {};
    const std::size_t length = data[cursor];
    ++cursor;
    if (length > data.size() - cursor) return {};
    const std::size_t begin = cursor;
    cursor += length;
    return lossy_utf8(data.subspan(begin, length));
}

void walk_records(std::span<const std::uint8_t> stream, RecordHandler& handler) {
    const std::size_t size = stream.size();
    std::size_t position = 0;
    while (size - position >= kHeaderSize) {
        const std::size_t length =
            static_cast<std::size_t>(stream[position]) | (static_cast<std::size_t>(stream[position + 1]) << 8);
        if (length == 0) return;
        if (length > size - position - kHeaderSize) return;
        const auto payload = stream.subspan(position + kHeaderSize, length);
        position += kHeaderSize + length;

        if (payload[0] == kTextRecordLead) {
            const std::string text = lossy_utf8(payload);
            const auto kind = field_view(text, "RECORD");
            if (kind == "1") {
                handler.component_record(text);
            } else if (kind == "14") {
                handler.rectangle_record(text);
            }
        } else if (payload[0] == kPinRecordType) {
            handler.pin_record(payload);
        }
    }
}

}  // namespace pinbook
