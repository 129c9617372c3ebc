// The JSON text form: two-space indentation, keys in stored (byte) order,
// the fixed escape table for strings, plain decimal integers and shortest
// round-trip doubles laid out by their decimal exponent.
//
// The value tree may be nested arbitrarily deep, so the walk keeps its own
// stack of open containers instead of recursing.
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "pinbook/pinbook.hpp"

namespace pinbook {
namespace {

using Array = Value::array_t;
using Object = Value::object_t;

// For each byte: 0 when it stands for itself, otherwise the letter of its
// two-byte escape, or 'u' for the six-byte \u00XX form.
constexpr std::array<char, 256> kEscape = [] {
    std::array<char, 256> table{};
    for (int b = 0; b < 0x20; ++b) table[b] = 'u';
    table['\b'] = 'b';
    table['\t'] = 't';
    table['\n'] = 'n';
    table['\f'] = 'f';
    table['\r'] = 'r';
    table['"'] = '"';
    table['\\'] = '\\';
    return table;
}();

void append_string(std::string& out, const std::string& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    const char* run = text.data();
    const char* const end = run + text.size();
    for (const char* p = run; p != end; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        const char letter = kEscape[byte];
        if (letter == 0) continue;
        out.append(run, p);
        run = p + 1;
        if (letter == 'u') {
            const char six[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
            out.append(six, sizeof six);
        } else {
            const char two[] = {'\\', letter};
            out.append(two, sizeof two);
        }
    }
    out.append(run, end);
    out.push_back('"');
}

template <typename Integer>
void append_integer(std::string& out, Integer v) {
    char buf[24];
    const auto result = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, result.ptr);
}

void append_double(std::string& out, double v) {
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    if (v == 0.0) {
        out += std::signbit(v) ? "-0.0" : "0.0";
        return;
    }
    // Shortest round-trip digits as d1[.d2...dn]e(+|-)XXX.
    char sci[32];
    const auto result = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific);
    const char* p = sci;
    const char* const end = result.ptr;
    if (*p == '-') {
        out.push_back('-');
        ++p;
    }
    char digits[20];
    int n = 0;
    for (; p != end && *p != 'e'; ++p) {
        if (*p != '.') digits[n++] = *p;
    }
    ++p;  // 'e'
    const bool negative_exponent = *p == '-';
    ++p;  // the exponent's sign, always written by to_chars
    int magnitude = 0;
    for (; p != end; ++p) magnitude = magnitude * 10 + (*p - '0');
    const int e = negative_exponent ? -magnitude : magnitude;

    if (e >= -5 && e <= 15 && e >= n - 1) {
        out.append(digits, static_cast<std::size_t>(n));
        out.append(static_cast<std::size_t>(e - n + 1), '0');
        out += ".0";
    } else if (e >= 0 && e < n - 1) {
        out.append(digits, static_cast<std::size_t>(e + 1));
        out.push_back('.');
        out.append(digits + e + 1, static_cast<std::size_t>(n - e - 1));
    } else if (e >= -5 && e <= -1) {
        out += "0.";
        out.append(static_cast<std::size_t>(-e - 1), '0');
        out.append(digits, static_cast<std::size_t>(n));
    } else {
        out.push_back(digits[0]);
        if (n >= 2) {
            out.push_back('.');
            out.append(digits + 1, static_cast<std::size_t>(n - 1));
        }
        out.push_back('e');
        out.push_back(negative_exponent ? '-' : '+');
        append_integer(out, magnitude);
    }
}

// One open array or object: the members still to write.
struct Frame {
    bool object;
    bool first = true;
    const Value* next = nullptr;  // arrays
    const Value* end = nullptr;
    Object::const_iterator member{};  // objects
    Object::const_iterator members_end{};
};

class Writer {
public:
    explicit Writer(std::string& out) : out_(out) {}

    void write(const Value& root) {
        open_or_write(root);
        while (!stack_.empty()) {
            Frame& top = stack_.back();
            const std::size_t depth = stack_.size();
            const bool more = top.object ? top.member != top.members_end : top.next != top.end;
            if (!more) {
                out_.push_back('\n');
                indent(depth - 1);
                out_.push_back(top.object ? '}' : ']');
                stack_.pop_back();
                continue;
            }
            if (top.first) {
                out_.push_back('\n');
                top.first = false;
            } else {
                out_ += ",\n";
            }
            indent(depth);
            const Value* element;
            if (top.object) {
                append_string(out_, top.member->first);
                out_ += ": ";
                element = &top.member->second;
                ++top.member;
            } else {
                element = top.next++;
            }
            open_or_write(*element);  // may grow the stack: `top` is not used after this
        }
    }

private:
    void indent(std::size_t depth) { out_.append(2 * depth, ' '); }

    // Writes a scalar or an empty container whole; opens any other container
    // and leaves its members to the loop.
    void open_or_write(const Value& v) {
        switch (v.type()) {
            case Value::value_t::object: {
                const auto& members = v.get_ref<const Object&>();
                if (members.empty()) {
                    out_ += "{}";
                    return;
                }
                Frame frame{.object = true};
                frame.member = members.begin();
                frame.members_end = members.end();
                stack_.push_back(frame);
                out_.push_back('{');
                return;
            }
            case Value::value_t::array: {
                const auto& elements = v.get_ref<const Array&>();
                if (elements.empty()) {
                    out_ += "[]";
                    return;
                }
                Frame frame{.object = false};
                frame.next = elements.data();
                frame.end = elements.data() + elements.size();
                stack_.push_back(frame);
                out_.push_back('[');
                return;
            }
            case Value::value_t::string:
                append_string(out_, v.get_ref<const std::string&>());
                return;
            case Value::value_t::boolean:
                out_ += v.get<bool>() ? "true" : "false";
                return;
            case Value::value_t::number_unsigned:
                append_integer(out_, v.get<std::uint64_t>());
                return;
            case Value::value_t::number_integer:
                append_integer(out_, v.get<std::int64_t>());
                return;
            case Value::value_t::number_float:
                append_double(out_, v.get<double>());
                return;
            case Value::value_t::null:
            case Value::value_t::binary:     // never in our trees
            case Value::value_t::discarded:  // never in our trees
                out_ += "null";
                return;
        }
        out_ += "null";
    }

    std::string& out_;
    std::vector<Frame> stack_;
};

}  // namespace

std::string to_pretty_json(const Value& value) {
    std::string out;
    // A pin object takes about 200 bytes; growth beyond this is geometric.
    out.reserve(4096);
    Writer(out).write(value);
    return out;
}

}  // namespace pinbook
