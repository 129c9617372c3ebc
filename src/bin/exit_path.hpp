// What the three programs share: taking arguments as text and the one exit
// path that prints the document or the error report and sets the status.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "pinbook/pinbook.hpp"

namespace pinbook::bin {

class Arguments {
public:
    Arguments(int argc, char** argv) : argc_(argc), argv_(argv) {}

    // Argument `i` as text, absent when missing. An argument that is not
    // valid UTF-8 ends the run at once: a line on standard error that is not
    // an error report, and status 2.
    std::optional<std::string_view> take(int i) const;

private:
    int argc_;
    char** argv_;
};

// Takes argument 0 and then argument 1, the library's path, and reads the
// first component there. Without either argument the error is `usage`;
// later arguments are not looked at.
std::expected<Value, Error> read_component(const Arguments& args, std::string_view usage);

// The complete document a program prints, or the error it ends with.
using Outcome = std::expected<std::string, Error>;

// Writes the document to standard output (status 0; status 2 when the write
// fails), or "Error: ", the message and a line feed to standard error
// (status 1, whether or not that write succeeds). Returns the status.
int finish(const Outcome& outcome);

}  // namespace pinbook::bin
