#include "exit_path.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "pinbook/text.hpp"

namespace pinbook::bin {
namespace {

// Writes all of `bytes` to `fd`; false on the first failed write.
bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

constexpr int kStatusError = 1;
constexpr int kStatusFatal = 2;

}  // namespace

std::optional<std::string_view> Arguments::take(int i) const {
    if (i < 0 || i >= argc_ || argv_[i] == nullptr) return std::nullopt;
    std::string_view arg(argv_[i]);
    if (!is_valid_utf8(arg)) {
        std::string line = "pinbook: argument " + std::to_string(i) + " is not valid UTF-8\n";
        (void)write_all(STDERR_FILENO, line);
        std::_Exit(kStatusFatal);
    }
    return arg;
}

std::expected<Value, Error> read_component(const Arguments& args, std::string_view usage) {
    const auto program = args.take(0);
    const auto path = args.take(1);
    if (!program || !path) return std::unexpected(Error{std::string(usage)});
    return parse_pinbook_path(*path);
}

int finish(const Outcome& outcome) {
    if (!outcome) {
        std::string report = "Error: " + outcome.error().message + "\n";
        (void)write_all(STDERR_FILENO, report);  // a failed report changes nothing
        return kStatusError;
    }
    if (!write_all(STDOUT_FILENO, *outcome)) {
        int err = errno;
        std::string line = std::string("pinbook: cannot write standard output: ") + std::strerror(err) + "\n";
        (void)write_all(STDERR_FILENO, line);
        return kStatusFatal;
    }
    return 0;
}

}  // namespace pinbook::bin
