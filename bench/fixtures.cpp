#include "fixtures.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace pinbook::bench {
namespace {

Bytes pin_records(std::size_t pins) {
    Bytes out;
    for (std::size_t i = 0; i < pins; ++i) {
        auto row = static_cast<std::int16_t>(i / 2);
        auto x = static_cast<std::int16_t>(i % 2 ? 60 : -60);
        auto y = static_cast<std::int16_t>(10000 - 10 * row);
        Bytes pin = test::pin_record(static_cast<std::uint8_t>(i % 2 ? 0 : 2), 30, x, y,
                                     "SIG" + std::to_string(i), std::to_string(i + 1));
        out.insert(out.end(), pin.begin(), pin.end());
    }
    return out;
}

Bytes component_records(std::size_t pins) {
    return test::concat({
        test::text_record("|RECORD=1|ComponentDescription=Benchmark part|PartCount=1|"),
        test::text_record("|RECORD=14|Location.X=-50|Location.Y=-5000|Corner.X=50|Corner.Y=10010|"),
        pin_records(pins)});
}

}  // namespace

Bytes small_library() { return test::make_schlib("OPAMP", test::opamp_data_stream()); }

Bytes pins_library(std::size_t pins) {
    return test::make_schlib("BIG", test::concat({component_records(pins), test::end_record()}));
}

Bytes large_library(std::size_t bytes) {
    Bytes data = component_records(8);
    // Binary records of type 5, which the walk passes over whole.
    Bytes filler(65535, 0x5A);
    filler[0] = 5;
    Bytes record = test::record(filler);
    std::size_t target = bytes > (1u << 20) ? bytes - (64u << 10) : (1u << 20);
    while (data.size() + record.size() <= target) data.insert(data.end(), record.begin(), record.end());
    data.resize(target, 0);  // zeros: a record of length 0, which ends the walk
    return test::make_schlib("LARGE", data);
}

Value pins_component(std::size_t pins) {
    auto value = parse_pinbook_bytes(pins_library(pins));
    if (!value) std::abort();
    return *value;
}

}  // namespace pinbook::bench
