#include "support/example.hpp"

namespace pinbook::test {

namespace {

// A text record as libraries store it: the fields, then a NUL byte.
Bytes text_with_nul(std::string fields) {
    fields.push_back('\0');
    return text_record(fields);
}

}  // namespace

Bytes example_schlib() {
    // Left pins point left (conglomerate 2: rotation 180), right pins right.
    const Bytes data = concat({
        text_with_nul("|RECORD=1|ComponentDescription=8-pin microcontroller|PartCount=2|"),
        pin_record(2, 30, -60, 30, "VCC", "1"),
        pin_record(2, 30, -60, 10, "PA0", "2"),
        pin_record(2, 30, -60, -10, "PA1", "3"),
        pin_record(2, 30, -60, -30, "R\\E\\S\\E\\T\\", "4"),
        pin_record(0, 30, 60, -30, "PB0", "5"),
        pin_record(0, 30, 60, -10, "PB1", "6"),
        pin_record(0, 30, 60, 10, "PB2", "7"),
        pin_record(0, 30, 60, 30, "GND", "8"),
        text_with_nul("|RECORD=14|Location.X=-30|Location.Y=-40|Corner.X=30|Corner.Y=40|"),
        end_record(),
    });
    LibraryEntry header;
    header.name = "FileHeader";
    header.is_storage = false;
    header.content = bytes_of("|HEADER=pinbook example library|Weight=1|");
    return make_schlib_with({header, component_storage("MCU8", data)});
}

std::string example_path() { return std::string(PINBOOK_SOURCE_DIR) + "/examples/mcu8.SchLib"; }

}  // namespace pinbook::test
