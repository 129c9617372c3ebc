#include "pinbook/text.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

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

namespace {

// Exact fixed-decimal text for moderate magnitudes with few decimals, without
// the general conversion: value = m * 2^e, so value * 10^d rounded to an
// integer is (m * 10^d) shifted right by -e with the remainder deciding the
// rounding (half-to-even). False where the quotient would not fit.
bool append_fixed_fast(std::string& out, double value, int decimals) {
    static constexpr std::uint64_t kPow10[] = {1, 10, 100, 1000, 10000};
    if (decimals > 4) return false;
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const bool negative = (bits >> 63) != 0;
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    if (biased == 0x7FF) return false;  // infinity or NaN
    const std::uint64_t m = biased == 0 ? fraction : (fraction | (std::uint64_t{1} << 52));
    const int e = biased == 0 ? -1074 : biased - 1075;

    __extension__ typedef unsigned __int128 u128;
    const u128 scaled = static_cast<u128>(m) * kPow10[decimals];  // below 2^67
    u128 q;
    if (e >= 0) {
        if (e > 8) return false;
        q = scaled << e;
    } else if (-e >= 120) {
        q = 0;  // far below half a unit of the last decimal
    } else {
        const int s = -e;
        q = scaled >> s;
        const u128 rem = scaled - (q << s);
        const u128 half = static_cast<u128>(1) << (s - 1);
        if (rem > half || (rem == half && (q & 1) != 0)) ++q;
    }
    if (q >= static_cast<u128>(10'000'000'000'000'000'000ull)) return false;

    char digits[24];
    auto res = std::to_chars(digits, digits + sizeof digits, static_cast<std::uint64_t>(q));
    std::size_t n = static_cast<std::size_t>(res.ptr - digits);
    const auto d = static_cast<std::size_t>(decimals);
    if (negative) out.push_back('-');
    if (n <= d) {
        out.push_back('0');
        if (d > 0) {
            out.push_back('.');
            out.append(d - n, '0');
            out.append(digits, n);
        }
    } else {
        out.append(digits, n - d);
        if (d > 0) {
            out.push_back('.');
            out.append(digits + (n - d), d);
        }
    }
    return true;
}

}  // namespace

void append_fixed(std::string& out, double value, int decimals) {
    if (decimals < 0) decimals = 0;
    if (decimals > 20) decimals = 20;
    if (append_fixed_fast(out, value, decimals)) return;
    // 309 integer digits at most for a finite double, plus sign, point and
    // the decimals asked for.
    char buf[330 + 20];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    out.append(buf, res.ptr);
}

std::string fixed(double value, int decimals) {
    std::string out;
    append_fixed(out, value, decimals);
    return out;
}

}  // namespace pinbook
