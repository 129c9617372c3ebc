// The library's entry: read a .SchLib file, find its first component storage
// and decode that component's "Data" stream.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cfb/cfb.hpp"
#include "pinbook/component.hpp"
#include "pinbook/pinbook.hpp"
#include "pinbook/records.hpp"
#include "pinbook/text.hpp"

namespace pinbook {
namespace {

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
// Inputs shorter than this are copied and filled up to it with 0xFF: the
// container then has this many bytes of sectors, and those past the input's
// end hold 0xFF.
constexpr std::size_t kPaddedSize = 1'048'576;
constexpr std::uint8_t kFillByte = 0xFF;

// strerror_r comes in two forms: the GNU one returns the text, the POSIX one
// fills the buffer and returns a status. Overloads pick whichever is present.
[[maybe_unused]] const char* strerror_text(const char* returned, const char*) { return returned; }
[[maybe_unused]] const char* strerror_text(int status, const char* buffer) {
    return status == 0 ? buffer : "Unknown error";
}

// The operating system's description of `error`, then " (os error N)".
std::string os_error_text(int error) {
    char buffer[256] = {};
    const char* text = strerror_text(strerror_r(error, buffer, sizeof buffer), buffer);
    return lossy_utf8(std::string_view(text)) + " (os error " + std::to_string(error) + ")";
}

Error read_error_message(std::string_view path, int error) {
    return Error{"read .SchLib " + lossy_utf8(path) + ": " + os_error_text(error)};
}

Error container_open_error(const cfb::Error& cause) { return Error{"open OLE2: " + cause.message}; }

Error stream_open_error(std::string_view component_name, const cfb::Error& cause) {
    return Error{"open /" + std::string(component_name) + "/Data: " + cause.message};
}

// The entry's name when it can be a component storage: a storage whose name
// does not begin with U+0001 and is not exactly "Library" or
// "FileVersionInfo".
std::optional<std::string> component_storage_name(const cfb::Entry& entry) {
    if (!entry.is_storage) return std::nullopt;
    const std::string& name = entry.name;
    if (!name.empty() && name.front() == '\x01') return std::nullopt;
    if (name == "Library" || name == "FileVersionInfo") return std::nullopt;
    return name;
}

// Closes a descriptor when it goes out of scope.
struct FileDescriptor {
    int fd;
    ~FileDescriptor() { ::close(fd); }
};

// Reads the whole file; on failure the error number. A file larger than
// memory allows (or one without end, such as /dev/zero) fails with ENOMEM
// instead of ending the process.
std::expected<std::vector<std::uint8_t>, int> read_whole_file(const std::string& path) {
    const FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return std::unexpected(errno);
    std::vector<std::uint8_t> bytes;
    try {
        struct stat info {};
        if (::fstat(file.fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
            // A hint only: the file may change size while it is read. One
            // byte more lets the read that finds the end go without growing.
            bytes.reserve(static_cast<std::size_t>(info.st_size) + 1);
        }
        constexpr std::size_t kChunk = 64 * 1024;
        for (;;) {
            if (bytes.size() == bytes.capacity()) bytes.reserve(std::max(bytes.capacity() * 2, kChunk));
            const std::size_t old_size = bytes.size();
            bytes.resize(bytes.capacity());
            const ssize_t got = ::read(file.fd, bytes.data() + old_size, bytes.size() - old_size);
            const int error = errno;
            bytes.resize(old_size + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            if (got == 0) break;
            if (got < 0 && error != EINTR) return std::unexpected(error);
        }
    } catch (const std::bad_alloc&) {
        return std::unexpected(ENOMEM);
    } catch (const std::length_error&) {
        return std::unexpected(ENOMEM);
    }
    return bytes;
}

}  // namespace

std::expected<Value, Error> parse_pinbook_path(std::string_view path) {
    // The path goes to the system as a C string; an inner NUL cannot.
    if (path.find('\0') != std::string_view::npos) return std::unexpected(read_error_message(path, EINVAL));
    auto bytes = read_whole_file(std::string(path));
    if (!bytes) return std::unexpected(read_error_message(path, bytes.error()));
    return parse_pinbook_bytes(*bytes);
}

std::expected<Value, Error> parse_pinbook_bytes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < sizeof kSignature || !std::equal(std::begin(kSignature), std::end(kSignature), bytes.begin())) {
        return std::unexpected(Error{"not an OLE2 compound document (bad magic)"});
    }

    std::vector<std::uint8_t> padded;
    std::span<const std::uint8_t> working = bytes;
    if (bytes.size() < kPaddedSize) {
        padded.reserve(kPaddedSize);
        padded.assign(bytes.begin(), bytes.end());
        padded.resize(kPaddedSize, kFillByte);
        working = padded;
    }

    auto file = cfb::File::open(working);
    if (!file) return std::unexpected(container_open_error(file.error()));

    std::optional<std::string> component_name;
    for (const cfb::Entry& entry : file->list_root()) {
        component_name = component_storage_name(entry);
        if (component_name) break;
    }
    if (!component_name) return std::unexpected(Error{"no component storages found in SchLib"});

    const auto stream = file->open_stream("/" + *component_name + "/Data");
    if (!stream) return std::unexpected(stream_open_error(*component_name, stream.error()));
    const auto data = file->read(*stream);
    if (!data) return std::unexpected(Error{data.error().message});

    ComponentDecoder decoder;
    walk_records(*data, decoder);
    return decoder.finish(*component_name);
}

}  // namespace pinbook
