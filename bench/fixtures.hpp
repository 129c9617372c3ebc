// The libraries and values the benchmarks and the resource tests measure,
// all built with the test-side fixture builders.
#pragma once

#include <cstddef>

#include "pinbook/pinbook.hpp"
#include "support/schlib.hpp"

namespace pinbook::bench {

using test::Bytes;

// A small library (one component, one pin): shorter than the padded size,
// so parsing it takes the padding path.
Bytes small_library();

// A library whose component has `pins` pins, half on each side, with a
// component record and a body.
Bytes pins_library(std::size_t pins);

// A valid library of about `bytes` bytes (at least 1 MiB), in 512-byte
// sectors: its component's "Data" stream holds a component record, 8 pins
// and then records of other kinds that the reader walks over, up to the
// size. The value it gives is small, so what parsing costs is reading and
// walking the stream.
Bytes large_library(std::size_t bytes);

// The component value of pins_library(pins).
Value pins_component(std::size_t pins);

}  // namespace pinbook::bench
