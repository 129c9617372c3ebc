#include "pinbook/text.hpp"

#include <charconv>
#include <cmath>

namespace pinbook {
namespace {

// Length of the well-formed UTF-8 sequence at `i`, or, when the bytes there
// are ill-formed, 0 together with the length of the maximal subpart to
// replace (at least 1).
struct Step {
    std::size_t length;
    bool valid;
};

Step utf8_step(std::string_view s, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) return {1, true};
    std::size_t need;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return {1, false};  // cannot begin a sequence
    }
    std::size_t taken = 1;
    for (std::size_t k = 0; k < need; ++k) {
        if (i + taken >= s.size()) return {taken, false};
        const auto b = static_cast<unsigned char>(s[i + taken]);
        const unsigned char first = (k == 0) ? lo : 0x80;
        const unsigned char last = (k == 0) ? hi : 0xBF;
        if (b < first || b > last) return {taken, false};
        ++taken;
    }
    return {taken, true};
}

}  // namespace

std::string lossy_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        // Copy the longest run of ASCII at once: the common case.
        std::size_t j = i;
        while (j < bytes.size() && static_cast<unsigned char>(bytes[j]) < 0x80) ++j;
        out.append(bytes.substr(i, j - i));
        i = j;
        if (i == bytes.size()) break;
        const Step step = utf8_step(bytes, i);
        if (step.valid) {
            out.append(bytes.substr(i, step.length));
        } else {
            out.append("\xEF\xBF\xBD");
        }
        i += step.length;
    }
    return out;
}

bool is_valid_utf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const Step step = utf8_step(bytes, i);
        if (!step.valid) return false;
        i += step.length;
    }
    return true;
}

void append_fixed(std::string& out, double value, int decimals) {
    // 309 integer digits at most for a finite double, plus sign, point and
    // the decimals asked for.
    char buf[330 + 20];
    if (decimals < 0) decimals = 0;
    if (decimals > 20) decimals = 20;
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    out.append(buf, res.ptr);
}

std::string fixed(double value, int decimals) {
    std::string out;
    append_fixed(out, value, decimals);
    return out;
}

}  // namespace pinbook
