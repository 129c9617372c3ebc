// The three writers on arbitrary value trees: any tree, of any shape and
// with numbers of any kind, gives a document (the writers are total), and
// the documents keep their properties (checks.hpp).
//
// Input: one byte that picks the symbol name's source, then the tree in the
// encoding of value_codec.hpp.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "checks.hpp"
#include "value_codec.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> input(data, size);
    std::uint8_t mode = input.empty() ? 0 : input[0];
    if (!input.empty()) input = input.subspan(1);
    pinbook::Value value = pinbook::fuzz::decode_value(input);

    // The symbol name: the tree's "module_name" as the program would take
    // it, or a second decoded value's text.
    std::string name = "SYM";
    if (mode & 1) {
        pinbook::Value other = pinbook::fuzz::decode_value(input);
        if (other.is_string()) name = other.get<std::string>();
    } else if (value.is_object() && value.contains("module_name") && value["module_name"].is_string()) {
        name = value["module_name"].get<std::string>();
    }
    pinbook::fuzz::check_writers(value, name);
    return 0;
}
