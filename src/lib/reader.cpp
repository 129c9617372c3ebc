// The library's entry: read a .SchLib file, find its first component storage
// and decode that component's "Data" stream.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
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

// A file's bytes, read straight into memory that is not cleared first.
// Buffers of 2 MiB and more are aligned to 2 MiB and offered to the kernel for
// transparent huge pages, so that a large file costs a few dozen page faults
// rather than thousands.
class FileBytes {
public:
    FileBytes() = default;
    FileBytes(FileBytes&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    FileBytes& operator=(FileBytes&&) = delete;
    ~FileBytes() { std::free(data_); }

    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

    // Room for at least `n` bytes in all, keeping those read so far; false
    // when the memory cannot be had.
    bool reserve(std::size_t n) {
        if (n <= capacity_) return true;
        constexpr std::size_t kHugePage = 2 * 1024 * 1024;
        std::size_t capacity = n;
        void* p = nullptr;
        if (n >= kHugePage) {
            if (n > SIZE_MAX - kHugePage) return false;
            capacity = (n + kHugePage - 1) / kHugePage * kHugePage;
            p = std::aligned_alloc(kHugePage, capacity);
            if (p != nullptr) (void)::madvise(p, capacity, MADV_HUGEPAGE);  // a hint only
        } else {
            p = std::malloc(capacity);
        }
        if (p == nullptr) return false;
        if (size_ > 0) std::memcpy(p, data_, size_);
        std::free(data_);
        data_ = static_cast<std::uint8_t*>(p);
        capacity_ = capacity;
        return true;
    }

    // Reads once from `fd` into the room left; the read's result.
    ssize_t read_some(int fd) {
        const ssize_t got = ::read(fd, data_ + size_, capacity_ - size_);
        if (got > 0) size_ += static_cast<std::size_t>(got);
        return got;
    }

    bool full() const { return size_ == capacity_; }
    std::size_t capacity() const { return capacity_; }

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Reads the whole file; on failure the error number. A file larger than
// memory allows (or one without end, such as /dev/zero) fails with ENOMEM
// instead of ending the process.
std::expected<FileBytes, int> read_whole_file(const std::string& path) {
    const FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return std::unexpected(errno);
    FileBytes bytes;
    struct stat info {};
    if (::fstat(file.fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        // A hint only: the file may change size while it is read. One byte
        // more lets the read that finds the end go without growing.
        const auto size = static_cast<std::uint64_t>(info.st_size);
        if (size >= SIZE_MAX || !bytes.reserve(static_cast<std::size_t>(size) + 1)) return std::unexpected(ENOMEM);
    }
    constexpr std::size_t kChunk = 64 * 1024;
    for (;;) {
        if (bytes.full()) {
            if (bytes.capacity() > SIZE_MAX / 2 || !bytes.reserve(std::max(bytes.capacity() * 2, kChunk))) {
                return std::unexpected(ENOMEM);
            }
        }
        const ssize_t got = bytes.read_some(file.fd);
        if (got == 0) break;
        if (got < 0 && errno != EINTR) return std::unexpected(errno);
    }
    return bytes;
}

}  // namespace

std::expected<Value, Error> parse_pinbook_path(std::string_view path) {
    // The path goes to the system as a C string; an inner NUL cannot.
    if (path.find('\0') != std::string_view::npos) return std::unexpected(read_error_message(path, EINVAL));
    auto bytes = read_whole_file(std::string(path));
    if (!bytes) return std::unexpected(read_error_message(path, bytes.error()));
    return parse_pinbook_bytes(bytes->bytes());
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
    // The stream's bytes: a range of the working buffer when its sectors lie
    // in order, else a copy in `stream_bytes`.
    std::vector<std::uint8_t> stream_bytes;
    const auto data = file->read_view(*stream, stream_bytes);
    if (!data) return std::unexpected(Error{data.error().message});

    ComponentDecoder decoder;
    walk_records(*data, decoder);
    return decoder.finish(*component_name);
}

}  // namespace pinbook
