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
    // Version 3 (512-byte sectors) and 4 (4096-byte sectors). The whole tree
    // reachable from the root is checked here: refused are names over 31
    // UTF-16 code units, holding / \ : or !, or not valid UTF-16; entries
    // that are neither storage nor stream; left siblings not strictly before
    // and right siblings not strictly after their entry in name order; loops
    // and links past the directory. Tolerated are header counts that differ
    // from the chains found, names without a terminating NUL, any root name,
    // any colours, and junk in entries no link reaches. Faults of the mini
    // FAT or mini stream are reported when a stream stored there is read.
    static std::expected<File, Error> open(std::span<const std::uint8_t> buffer);

    // The root storage's direct children in listing order: an in-order walk
    // of the root's sibling tree.
    std::vector<Entry> list_root() const;

    // Finds a stream by a "/"-separated path; empty and "." components are
    // dropped, ".." goes up one level and fails at the root. Each component
    // is found by descending the sibling tree in name order: fewer UTF-16
    // code units first, then the full Unicode uppercase forms (so "data"
    // finds "Data", and "ß" compares as "SS").
    std::expected<Stream, Error> open_stream(std::string_view path) const;

    // The stream's whole content, of the size its directory entry states.
    std::expected<std::vector<std::uint8_t>, Error> read(const Stream& stream) const;

    // The same content without a copy where it can be had: a view into the
    // buffer when the stream's sectors lie back to back in the file, else a
    // view of `storage`, into which the content is copied. The view lives as
    // long as the buffer and `storage`.
    std::expected<std::span<const std::uint8_t>, Error> read_view(const Stream& stream,
                                                                  std::vector<std::uint8_t>& storage) const;

private:
    // One directory entry, as much of it as the reader uses. The name stays
    // in the buffer (read through name_of), which keeps this record at
    // about a third of the entry's 128 bytes.
    struct Node {
        std::size_t offset = 0;  // of the entry in the buffer
        std::uint64_t size = 0;  // version 3: the low 32 bits already taken
        std::uint32_t left = 0xFFFFFFFF;
        std::uint32_t right = 0xFFFFFFFF;
        std::uint32_t child = 0xFFFFFFFF;
        std::uint32_t start = 0;
        std::uint8_t name_units = 0;
        std::uint8_t type = 0;
    };

    File() = default;

    std::u16string name_of(const Node& node) const;

    std::span<const std::uint8_t> sector(std::uint32_t id) const;
    // The first `count` sectors of the FAT chain from `start`, or why not.
    std::expected<std::vector<std::uint32_t>, Error> regular_chain(std::uint32_t start,
                                                                   std::uint64_t count,
                                                                   const std::string& what) const;
    std::expected<std::span<const std::uint8_t>, Error> read_mini(std::uint32_t entry,
                                                                  std::vector<std::uint8_t>& storage) const;
    std::expected<std::span<const std::uint8_t>, Error> read_regular(std::uint32_t entry,
                                                                     std::vector<std::uint8_t>& storage) const;

    std::span<const std::uint8_t> buffer_;
    std::size_t sector_size_ = 512;
    std::uint32_t sector_count_ = 0;  // whole sectors after the header
    std::vector<std::uint32_t> fat_;  // one entry per sector of the file
    std::vector<std::uint32_t> mini_fat_;
    std::vector<std::uint32_t> mini_stream_;  // sectors of the root's chain
    std::uint64_t mini_stream_size_ = 0;
    // Why the mini FAT or the mini stream cannot be used; reported when a
    // stream stored in them is read, so files that never need them open.
    std::string mini_error_;
    std::vector<Node> nodes_;
};

}  // namespace pinbook::cfb
