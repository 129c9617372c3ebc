// The JSON text form: two-space indentation, keys in stored (byte) order,
// the fixed escape table for strings, plain decimal integers and shortest
// round-trip doubles laid out by their decimal exponent.
//
// The value tree may be nested arbitrarily deep, so the walk keeps its own
// stack of open containers instead of recursing. The same walk runs twice:
// once only counting bytes, then writing into a buffer of exactly that size,
// so the text is built in one allocation without regrowth.
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

// Bytes added to the text by each byte's escape.
constexpr std::array<std::uint8_t, 256> kEscapeExtra = [] {
    std::array<std::uint8_t, 256> extra{};
    for (int b = 0; b < 256; ++b) {
        extra[b] = kEscape[b] == 0 ? 0 : kEscape[b] == 'u' ? 5 : 1;
    }
    return extra;
}();

// True when one of the eight bytes of `w` needs an escape: below 0x20, a
// quotation mark or a backslash. Exact: no byte that passes unchanged, 0x80
// and above included, gives true.
constexpr bool word_needs_escape(std::uint64_t w) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    const std::uint64_t quote = w ^ (ones * '"');
    const std::uint64_t backslash = w ^ (ones * '\\');
    const std::uint64_t below_space = (w - ones * 0x20) & ~w;
    const std::uint64_t is_quote = (quote - ones) & ~quote;
    const std::uint64_t is_backslash = (backslash - ones) & ~backslash;
    return ((below_space | is_quote | is_backslash) & highs) != 0;
}

// The first byte from `p` to `end` that needs an escape, or `end`: eight
// bytes at a time while that many remain, then byte by byte.
const char* find_escape(const char* p, const char* const end) {
    for (; end - p >= 8; p += 8) {
        std::uint64_t w;
        std::memcpy(&w, p, sizeof w);
        if (word_needs_escape(w)) break;
    }
    while (p != end && kEscape[static_cast<unsigned char>(*p)] == 0) ++p;
    return p;
}

// Counts bytes only.
class CountingSink {
public:
    void put(char) { ++size_; }
    void put(const char* bytes, std::size_t n) { (void)bytes, size_ += n; }
    void fill(std::size_t n, char) { size_ += n; }
    void string(const std::string& text) {
        std::size_t extra = 0;
        const char* const end = text.data() + text.size();
        for (const char* p = find_escape(text.data(), end); p != end; p = find_escape(p + 1, end)) {
            extra += kEscapeExtra[static_cast<unsigned char>(*p)];
        }
        size_ += text.size() + 2 + extra;
    }
    std::size_t size() const { return size_; }

private:
    std::size_t size_ = 0;
};

// Writes into a buffer sized by the counting pass. Both passes run the same
// walk, so the sizes agree; a write past the end would be a broken
// invariant and stops the process rather than corrupt memory.
class BufferSink {
public:
    BufferSink(char* begin, std::size_t size) : cursor_(begin), end_(begin + size) {}

    void put(char c) {
        room(1);
        *cursor_++ = c;
    }
    void put(const char* bytes, std::size_t n) {
        room(n);
        std::memcpy(cursor_, bytes, n);
        cursor_ += n;
    }
    void fill(std::size_t n, char c) {
        room(n);
        std::memset(cursor_, c, n);
        cursor_ += n;
    }
    void string(const std::string& text) {
        static constexpr char kHex[] = "0123456789abcdef";
        put('"');
        const char* run = text.data();  // start of the bytes not yet copied
        const char* const end = run + text.size();
        for (const char* p = find_escape(run, end); p != end; p = find_escape(run, end)) {
            put(run, static_cast<std::size_t>(p - run));
            run = p + 1;
            const auto byte = static_cast<unsigned char>(*p);
            const char letter = kEscape[byte];
            if (letter == 'u') {
                const char six[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
                put(six, sizeof six);
            } else {
                const char two[] = {'\\', letter};
                put(two, sizeof two);
            }
        }
        put(run, static_cast<std::size_t>(end - run));
        put('"');
    }
    char* cursor() const { return cursor_; }

private:
    void room(std::size_t n) const {
        if (static_cast<std::size_t>(end_ - cursor_) < n) std::abort();
    }

    char* cursor_;
    char* end_;
};

// A string literal without its terminating NUL.
template <typename Sink, std::size_t N>
void put_literal(Sink& out, const char (&text)[N]) {
    out.put(text, N - 1);
}

template <typename Sink, typename Integer>
void write_integer(Sink& out, Integer v) {
    char buf[24];
    const auto result = std::to_chars(buf, buf + sizeof buf, v);
    out.put(buf, static_cast<std::size_t>(result.ptr - buf));
}

template <typename Sink>
void write_double(Sink& out, double v) {
    if (!std::isfinite(v)) {
        put_literal(out, "null");
        return;
    }
    if (v == 0.0) {
        if (std::signbit(v)) {
            put_literal(out, "-0.0");
        } else {
            put_literal(out, "0.0");
        }
        return;
    }
    // Shortest round-trip digits as d1[.d2...dn]e(+|-)XX[X].
    char sci[32];
    const auto result = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific);
    const char* p = sci;
    const char* const end = result.ptr;
    if (*p == '-') {
        out.put('-');
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
    const auto count = [](int k) { return static_cast<std::size_t>(k); };

    if (e >= -5 && e <= 15 && e >= n - 1) {
        out.put(digits, count(n));
        out.fill(count(e - n + 1), '0');
        put_literal(out, ".0");
    } else if (e >= 0 && e < n - 1) {
        out.put(digits, count(e + 1));
        out.put('.');
        out.put(digits + e + 1, count(n - e - 1));
    } else if (e >= -5 && e <= -1) {
        put_literal(out, "0.");
        out.fill(count(-e - 1), '0');
        out.put(digits, count(n));
    } else {
        out.put(digits[0]);
        if (n >= 2) {
            out.put('.');
            out.put(digits + 1, count(n - 1));
        }
        out.put('e');
        out.put(negative_exponent ? '-' : '+');
        write_integer(out, magnitude);
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

template <typename Sink>
class Writer {
public:
    explicit Writer(Sink& out) : out_(out) {}

    void write(const Value& root) {
        open_or_write(root);
        while (!stack_.empty()) {
            Frame& top = stack_.back();
            const std::size_t depth = stack_.size();
            const bool more = top.object ? top.member != top.members_end : top.next != top.end;
            if (!more) {
                out_.put('\n');
                indent(depth - 1);
                out_.put(top.object ? '}' : ']');
                stack_.pop_back();
                continue;
            }
            if (top.first) {
                out_.put('\n');
                top.first = false;
            } else {
                put_literal(out_, ",\n");
            }
            indent(depth);
            const Value* element;
            if (top.object) {
                out_.string(top.member->first);
                put_literal(out_, ": ");
                element = &top.member->second;
                ++top.member;
            } else {
                element = top.next++;
            }
            open_or_write(*element);  // may grow the stack: `top` is not used after this
        }
    }

private:
    void indent(std::size_t depth) { out_.fill(2 * depth, ' '); }

    // Writes a scalar or an empty container whole; opens any other container
    // and leaves its members to the loop.
    void open_or_write(const Value& v) {
        switch (v.type()) {
            case Value::value_t::object: {
                const auto& members = v.get_ref<const Object&>();
                if (members.empty()) {
                    put_literal(out_, "{}");
                    return;
                }
                Frame frame{.object = true};
                frame.member = members.begin();
                frame.members_end = members.end();
                stack_.push_back(frame);
                out_.put('{');
                return;
            }
            case Value::value_t::array: {
                const auto& elements = v.get_ref<const Array&>();
                if (elements.empty()) {
                    put_literal(out_, "[]");
                    return;
                }
                Frame frame{.object = false};
                frame.next = elements.data();
                frame.end = elements.data() + elements.size();
                stack_.push_back(frame);
                out_.put('[');
                return;
            }
            case Value::value_t::string:
                out_.string(v.get_ref<const std::string&>());
                return;
            case Value::value_t::boolean:
                if (v.get<bool>()) {
                    put_literal(out_, "true");
                } else {
                    put_literal(out_, "false");
                }
                return;
            case Value::value_t::number_unsigned:
                write_integer(out_, v.get<std::uint64_t>());
                return;
            case Value::value_t::number_integer:
                write_integer(out_, v.get<std::int64_t>());
                return;
            case Value::value_t::number_float:
                write_double(out_, v.get<double>());
                return;
            case Value::value_t::null:
            case Value::value_t::binary:     // never in our trees
            case Value::value_t::discarded:  // never in our trees
                break;
        }
        put_literal(out_, "null");
    }

    Sink& out_;
    std::vector<Frame> stack_;
};

}  // namespace

std::string to_pretty_json(const Value& value) {
    CountingSink count;
    Writer<CountingSink>(count).write(value);
    const std::size_t size = count.size();
    std::string text;
    // Reserved first so that resize_and_overwrite never reallocates: when it
    // does, libstdc++ 12 hands the callback the new capacity, not `size`.
    text.reserve(size);
    text.resize_and_overwrite(size, [&value, size](char* buffer, std::size_t) {
        BufferSink sink(buffer, size);
        Writer<BufferSink>(sink).write(value);
        if (sink.cursor() != buffer + size) std::abort();  // the passes disagree
        return size;
    });
    return text;
}

}  // namespace pinbook
