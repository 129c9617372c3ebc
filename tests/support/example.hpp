// The example library bundled in examples/: made here, from the fixture
// builders, so that the project ships no file from elsewhere. A test checks
// that the committed file is exactly what example_schlib() makes; run
//   PINBOOK_WRITE_EXAMPLE=1 build/<dir>/bin/svg_program_test --gtest_filter='*Example*'
// to write it again after changing it here.
#pragma once

#include <string>

#include "support/schlib.hpp"

namespace pinbook::test {

// An 8-pin microcontroller "MCU8": pins 1-4 on the left (VCC, PA0, PA1 and an
// active-low reset drawn with an overbar), pins 5-8 on the right.
Bytes example_schlib();

// The committed file: examples/mcu8.SchLib in the source tree.
std::string example_path();

}  // namespace pinbook::test
