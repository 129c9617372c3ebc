// A reader of MS-CFB (OLE2 compound file) containers held in memory.
//
// It knows nothing of what the streams hold. It offers what a caller needs to
// find and read one stream: open a buffer, list the root storage's children
// in directory order, open a stream by path, read it whole. Every failure is
// an Error whose message says what was found and where.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pinbook::cfb {

struct Error {
    std::string message;
};

// One direct child of the root storage.
struct Entry {
    std::string name;  // UTF-8, converted from the directory's UTF-16 name
    bool is_storage = false;
};

// A stream found by open_stream; valid for the File that returned it.
struct Stream {
    std::uint32_t entry = 0;  // directory index
    std::uint64_t size = 0;   // size the directory entry states
};

class File {
public:
    // Opens the container over `buffer`, which must outlive the File. The
    // whole buffer is the file: its sector count follows from its length.
    static std::expected<File, Error> open(std::span<const std::uint8_t> buffer);

    // The root storage's direct children in listing order: an in-order walk
    // of the root's sibling tree.
    std::vector<Entry> list_root() const;

    // Finds a stream by a "/"-separated path; empty and "." components are
    // dropped, ".." goes up one level and fails at the root.
    std::expected<Stream, Error> open_stream(std::string_view path) const;

    // The stream's whole content, of the size its directory entry states.
    std::expected<std::vector<std::uint8_t>, Error> read(const Stream& stream) const;

private:
    File() = default;
    // Layout filled in by the implementation.
};

}  // namespace pinbook::cfb
