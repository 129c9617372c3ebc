// Arbitrary bytes as a .SchLib: parse_pinbook_bytes must return a value or
// an error for every input, and every value it returns must have the
// component shape and go through all three writers.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "checks.hpp"
#include "pinbook/pinbook.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto parsed = pinbook::parse_pinbook_bytes(std::span<const std::uint8_t>(data, size));
    if (!parsed) {
        if (parsed.error().message.empty()) pinbook::fuzz::fail("error value without a message");
        return 0;
    }
    pinbook::fuzz::check_component(*parsed);
    const auto& name = (*parsed)["module_name"];
    pinbook::fuzz::check_writers(*parsed, name.is_string() ? name.get_ref<const std::string&>() : "SYM");
    return 0;
}
