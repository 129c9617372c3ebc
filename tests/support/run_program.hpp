// Runs a built program in a child process and captures what it did.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pinbook::test {

struct RunResult {
    int status = -1;      // exit status, or -1 when ended by a signal
    int signal = 0;       // the signal that ended it, else 0
    std::string out;      // standard output
    std::string err;      // standard error
};

struct RunOptions {
    // Argument 0; absent means the program's path. With no_argv0 the
    // program gets an empty argument list.
    std::optional<std::string> argv0;
    bool no_argv0 = false;
    // Where standard output goes instead of being captured (e.g. /dev/full).
    std::optional<std::string> stdout_path;
};

// Runs `exe` with `args` (the arguments after argument 0, any bytes).
RunResult run_program(const std::string& exe, const std::vector<std::string>& args,
                      const RunOptions& options = {});

// Options that start the program under another argument 0.
RunOptions with_argv0(std::string name);

// A run that succeeded: status 0, nothing on standard error, `text` on
// standard output.
void expect_success(const RunResult& r, const std::string& text);

// A run that ended with an error report: status 1, nothing on standard
// output, exactly `report` on standard error.
void expect_error(const RunResult& r, const std::string& report);

// Writes `bytes` to a new file in a per-process temporary directory and
// returns its path.
std::string write_temp_file(const std::string& name, const std::vector<std::uint8_t>& bytes);
std::string write_temp_file(const std::string& name, const std::string& bytes);

// The per-process temporary directory (created on first use).
std::string temp_dir();

}  // namespace pinbook::test
