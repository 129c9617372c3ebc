// A compact byte encoding of value trees for the writer fuzz target: every
// byte string decodes to some tree (so the fuzzer can mutate freely), and
// every tree the reader builds encodes to bytes that decode back to it (so
// seeds can come from real component values).
//
// The stream is a sequence of operations, one byte each plus operands:
//
//   0x00 null       0x01 true       0x02 false
//   0x03 u64 (8 bytes LE), stored unsigned
//   0x04 i64 (8 bytes LE), stored signed even when not negative
//   0x05 i16 (2 bytes LE), stored as the reader stores integers
//   0x06 double from 8 raw bytes LE (NaN and infinities included)
//   0x07 double i16 / 4
//   0x08 string: length byte, then that many raw bytes (any bytes)
//   0x0F string: 2-byte LE length, then that many raw bytes
//   0x09 string from the key dictionary (index byte)
//   0x0A open array  0x0B open object  0x0C close the innermost container
//   0x0D repeat: the last finished value appended again, count byte times
//   0x0E nest: the last finished value wrapped in arrays, 2 bytes LE times
//   anything else: a small integer (byte - 0x40, stored as the reader does)
//
// Inside an object each member starts with a key byte: 0x0C closes the
// object, an odd byte k picks dictionary key k >> 1, any other even byte k a
// raw key of the next k >> 1 bytes (one fewer above 0x0C). The value
// follows. Missing operand bytes read as 0; at the end of the input every
// open container is closed.
//
// Decoding is iterative, and the tree's cost (each node its depth + 1, each
// string its bytes too: about the size of its JSON text) is capped, so a
// short input cannot ask for an exponential amount of memory or output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "pinbook/pinbook.hpp"

namespace pinbook::fuzz {

// Upper bound on the cost of a decoded tree.
inline constexpr std::size_t max_cost = 100'000;

// Decodes one value from the front of `input` and drops the bytes it used.
Value decode_value(std::span<const std::uint8_t>& input);

// Bytes that decode_value turns back into `value` (numbers keep their kind).
std::vector<std::uint8_t> encode_value(const Value& value);

}  // namespace pinbook::fuzz
