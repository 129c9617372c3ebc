#include "value_codec.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "pinbook/value.hpp"

namespace pinbook::fuzz {
namespace {

enum Op : std::uint8_t {
    op_null = 0x00,
    op_true = 0x01,
    op_false = 0x02,
    op_u64 = 0x03,
    op_i64 = 0x04,
    op_i16 = 0x05,
    op_double = 0x06,
    op_quarter = 0x07,
    op_string = 0x08,
    op_word = 0x09,
    op_array = 0x0A,
    op_object = 0x0B,
    op_close = 0x0C,
    op_repeat = 0x0D,
    op_nest = 0x0E,
    op_long_string = 0x0F,
};
constexpr int small_bias = 0x40;

// An even key byte other than op_close gives a raw key: k >> 1 bytes below
// op_close, (k >> 1) - 1 above it (0 to 126 bytes in all).
std::size_t raw_key_length(std::uint8_t k) { return k < op_close ? k >> 1 : (k >> 1) - 1; }
std::uint8_t raw_key_byte(std::size_t length) {
    return static_cast<std::uint8_t>(length < (op_close >> 1) ? length << 1 : (length + 1) << 1);
}

// Keys and texts the writers look for, so mutations reach their branches.
constexpr std::array<std::string_view, 22> dictionary = {
    "_source", "body", "description", "module_name", "part_count", "pin_count",
    "pins", "conglomerate", "length", "name", "number", "rotation",
    "x", "y", "x1", "x2", "y1", "y2", "", "pinbook", "<&>\"'", "Data",
};

class Cursor {
public:
    explicit Cursor(std::span<const std::uint8_t>& input) : input_(input) {}
    bool empty() const { return input_.empty(); }
    std::uint8_t byte() {
        if (input_.empty()) return 0;
        std::uint8_t b = input_[0];
        input_ = input_.subspan(1);
        return b;
    }
    std::uint64_t little_endian(int count) {
        std::uint64_t v = 0;
        for (int i = 0; i < count; ++i) v |= std::uint64_t{byte()} << (8 * i);
        return v;
    }
    std::string text(std::size_t count) {
        count = std::min(count, input_.size());
        std::string s(reinterpret_cast<const char*>(input_.data()), count);
        input_ = input_.subspan(count);
        return s;
    }

private:
    std::span<const std::uint8_t>& input_;
};

struct Frame {
    Value container;
    std::string key;
    bool have_key = false;
};

// The cost of `v` placed at `depth`: each node costs its depth + 1 (about
// the indentation it gets in the JSON text) and a string its bytes too.
// Counting stops once above `limit`.
std::size_t cost_of(const Value& v, std::size_t depth, std::size_t limit) {
    std::size_t cost = 0;
    std::vector<std::pair<const Value*, std::size_t>> todo{{&v, depth}};
    while (!todo.empty() && cost <= limit) {
        auto [at, d] = todo.back();
        todo.pop_back();
        cost += d + 1;
        if (at->is_string()) cost += at->get_ref<const std::string&>().size();
        if (at->is_array() || at->is_object())
            for (const auto& child : *at) todo.push_back({&child, d + 1});
    }
    return cost;
}

std::size_t node_count(const Value& v) {
    std::size_t count = 0;
    std::vector<const Value*> todo{&v};
    while (!todo.empty()) {
        const Value* at = todo.back();
        todo.pop_back();
        ++count;
        if (at->is_array() || at->is_object())
            for (const auto& child : *at) todo.push_back(&child);
    }
    return count;
}

}  // namespace

Value decode_value(std::span<const std::uint8_t>& input) {
    Cursor in(input);
    std::vector<Frame> stack;
    std::size_t cost = 0;  // of everything decoded so far, at most max_cost

    for (;;) {
        Value done;
        bool finished = false;
        Frame* top = stack.empty() ? nullptr : &stack.back();

        if (top && top->container.is_object() && !top->have_key && !in.empty()) {
            std::uint8_t k = in.byte();
            if (k != op_close) {
                top->key = (k & 1) ? std::string(dictionary[(k >> 1) % dictionary.size()])
                                   : in.text(raw_key_length(k));
                top->have_key = true;
                continue;
            }
            done = std::move(top->container);
            stack.pop_back();
            finished = true;
        } else if (in.empty()) {
            if (!top) return Value();
            done = std::move(top->container);
            stack.pop_back();
            finished = true;
        } else {
            std::uint8_t op = in.byte();
            finished = true;
            switch (op) {
            case op_null: break;
            case op_true: done = true; break;
            case op_false: done = false; break;
            case op_u64: done = std::uint64_t{in.little_endian(8)}; break;
            case op_i64: done = static_cast<std::int64_t>(in.little_endian(8)); break;
            case op_i16:
                done = int_value(static_cast<std::int16_t>(in.little_endian(2)));
                break;
            case op_double: done = std::bit_cast<double>(in.little_endian(8)); break;
            case op_quarter:
                done = static_cast<std::int16_t>(in.little_endian(2)) / 4.0;
                break;
            case op_string: done = in.text(in.byte()); break;
            case op_long_string: done = in.text(in.little_endian(2)); break;
            case op_word: done = std::string(dictionary[in.byte() % dictionary.size()]); break;
            case op_array:
            case op_object:
                if (cost + stack.size() + 1 > max_cost) break;  // a null instead
                cost += stack.size() + 1;
                stack.push_back(Frame{op == op_array ? Value::array() : Value::object(), {}, false});
                continue;
            case op_close:
                if (!top) break;  // a null at the top level
                done = std::move(top->container);
                stack.pop_back();
                break;
            case op_repeat:
            case op_nest: {
                std::size_t times = op == op_repeat ? in.byte() : in.little_endian(2);
                if (!top || !top->container.is_array() || top->container.empty() || times == 0)
                    continue;
                Value& last = top->container.back();
                std::size_t depth = stack.size();  // of `last`
                std::size_t budget = max_cost - cost;
                if (op == op_repeat) {
                    std::size_t each = cost_of(last, depth, budget);
                    times = std::min(times, budget / each);
                    cost += times * each;
                    Value copy = last;
                    for (std::size_t i = 0; i < times; ++i) top->container.push_back(copy);
                } else {
                    // Each wrap deepens every node of `last` by one and adds
                    // an array: at most (size + depth + times) per wrap.
                    std::size_t size = node_count(last);
                    times = std::min(times, budget / (size + depth + times + 1));
                    cost += times * (size + depth + times + 1);
                    Value inner = std::move(last);
                    for (std::size_t i = 0; i < times; ++i) {
                        Value wrap = Value::array();
                        wrap.push_back(std::move(inner));
                        inner = std::move(wrap);
                    }
                    last = std::move(inner);
                }
                continue;
            }
            default: done = int_value(int{op} - small_bias); break;
            }
            std::size_t each = stack.size() + 1 +
                               (done.is_string() ? done.get_ref<const std::string&>().size() : 0);
            if (cost + each > max_cost) done = Value();
            cost += std::min(each, max_cost - cost);
        }

        if (!finished) continue;
        if (stack.empty()) return done;
        Frame& parent = stack.back();
        if (parent.container.is_array()) {
            parent.container.push_back(std::move(done));
        } else {
            parent.container[parent.key] = std::move(done);
            parent.have_key = false;
        }
    }
}

namespace {

void put_le(std::vector<std::uint8_t>& out, std::uint64_t v, int count) {
    for (int i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void put_text(std::vector<std::uint8_t>& out, std::string_view s) {
    out.insert(out.end(), s.begin(), s.end());
}

void encode_scalar(std::vector<std::uint8_t>& out, const Value& v) {
    switch (v.type()) {
    case Value::value_t::null: out.push_back(op_null); break;
    case Value::value_t::boolean: out.push_back(v.get<bool>() ? op_true : op_false); break;
    case Value::value_t::number_unsigned: {
        std::uint64_t u = v.get<std::uint64_t>();
        if (u <= 0xFF - small_bias) {
            out.push_back(static_cast<std::uint8_t>(u + small_bias));
        } else if (u <= 0x7FFF) {
            out.push_back(op_i16);
            put_le(out, u, 2);
        } else {
            out.push_back(op_u64);
            put_le(out, u, 8);
        }
        break;
    }
    case Value::value_t::number_integer: {
        std::int64_t i = v.get<std::int64_t>();
        if (i < 0 && i >= -32768) {
            out.push_back(op_i16);
            put_le(out, static_cast<std::uint64_t>(i), 2);
        } else {
            out.push_back(op_i64);
            put_le(out, static_cast<std::uint64_t>(i), 8);
        }
        break;
    }
    case Value::value_t::number_float:
        out.push_back(op_double);
        put_le(out, std::bit_cast<std::uint64_t>(v.get<double>()), 8);
        break;
    case Value::value_t::string: {
        const auto& s = v.get_ref<const std::string&>();
        auto word = std::find(dictionary.begin(), dictionary.end(), s);
        if (word != dictionary.end()) {
            out.push_back(op_word);
            out.push_back(static_cast<std::uint8_t>(word - dictionary.begin()));
        } else if (s.size() <= 0xFF) {
            out.push_back(op_string);
            out.push_back(static_cast<std::uint8_t>(s.size()));
            put_text(out, s);
        } else {
            std::string_view cut = std::string_view(s).substr(0, 0xFFFF);
            out.push_back(op_long_string);
            put_le(out, cut.size(), 2);
            put_text(out, cut);
        }
        break;
    }
    default: out.push_back(op_null); break;
    }
}

void encode_key(std::vector<std::uint8_t>& out, const std::string& key) {
    auto word = std::find(dictionary.begin(), dictionary.end(), key);
    if (word != dictionary.end()) {
        out.push_back(static_cast<std::uint8_t>(((word - dictionary.begin()) << 1) | 1));
        return;
    }
    std::string_view cut = std::string_view(key).substr(0, 126);
    out.push_back(raw_key_byte(cut.size()));
    put_text(out, cut);
}

}  // namespace

std::vector<std::uint8_t> encode_value(const Value& value) {
    std::vector<std::uint8_t> out;
    // Each step either writes a value (with its key, inside an object) or
    // closes a container.
    struct Step {
        const Value* value;
        const std::string* key;
    };
    std::vector<Step> todo{{&value, nullptr}};
    while (!todo.empty()) {
        Step step = todo.back();
        todo.pop_back();
        if (step.key) encode_key(out, *step.key);
        if (!step.value) {
            out.push_back(op_close);
            continue;
        }
        const Value& v = *step.value;
        if (v.is_array() || v.is_object()) {
            out.push_back(v.is_array() ? op_array : op_object);
            todo.push_back({nullptr, nullptr});
            std::vector<Step> members;
            if (v.is_array()) {
                for (const auto& element : v) members.push_back({&element, nullptr});
            } else {
                for (const auto& [key, member] : v.get_ref<const Value::object_t&>())
                    members.push_back({&member, &key});
            }
            todo.insert(todo.end(), members.rbegin(), members.rend());
        } else {
            encode_scalar(out, v);
        }
    }
    return out;
}

}  // namespace pinbook::fuzz
