// Text helpers shared by the reader and the writers.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pinbook {

// Decodes bytes as UTF-8, replacing each maximal subpart of an ill-formed
// sequence by one U+FFFD.
std::string lossy_utf8(std::string_view bytes);
inline std::string lossy_utf8(std::span<const std::uint8_t> bytes) {
    return lossy_utf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// True when the bytes are well-formed UTF-8 throughout.
bool is_valid_utf8(std::string_view bytes);

// Appends `value` with exactly `decimals` digits after the point: the exact
// binary value rounded half-to-even, no exponent, "-" kept on negative values
// that print as zero ("-0.00"). With 0 decimals no point is written.
void append_fixed(std::string& out, double value, int decimals);
std::string fixed(double value, int decimals);

}  // namespace pinbook
