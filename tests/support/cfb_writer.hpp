// A test-side writer of MS-CFB (OLE2 compound file) containers, so that every
// container a test reads is built in the test itself.
//
// Two layers:
//
// 1. A tree description (CfbNode) for well-formed files. The writer sorts
//    each storage's children in the directory's name order and links them as
//    a balanced search tree (all nodes black), or as a chain when asked:
//
//      using namespace pinbook::test;
//      Bytes file = build_cfb(cfb_root({
//          cfb_storage("OPAMP", {cfb_stream("Data", data)}),
//          cfb_stream("FileHeader", "...")}));
//      Bytes v4 = build_cfb(root, {.version = 4});
//
// 2. Raw directory entries (CfbEntry): flatten_cfb() turns a tree into
//    entries whose every field (links, colour, type, size, start sector,
//    name and its length field) a test may then overwrite, and
//    build_cfb_layout() lays them out and reports where everything went
//    (CfbLayout), so a test can patch bytes afterwards (looping chains,
//    chains leaving the file, bad header fields, ...):
//
//      std::vector<CfbEntry> e = flatten_cfb(root);
//      e[cfb_find(e, "OPAMP/Data")].size = ~0ull;
//      CfbBuilt built = build_cfb_layout(e);
//      put_u32(built.bytes, built.layout.fat_entry_offset(s), s);  // loop
//
// Streams below the mini cutoff (4096 bytes) go to the mini stream unless
// their placement says otherwise. Sectors are written in this order unless
// shuffled: FAT sectors, DIFAT sectors, directory, mini FAT, mini stream,
// then each regular stream in entry order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pinbook::test {

using Bytes = std::vector<std::uint8_t>;

// Special sector and entry ids.
inline constexpr std::uint32_t kCfbNoStream = 0xFFFFFFFF;  // no sibling/child
inline constexpr std::uint32_t kCfbFreeSect = 0xFFFFFFFF;
inline constexpr std::uint32_t kCfbEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kCfbFatSect = 0xFFFFFFFD;
inline constexpr std::uint32_t kCfbDifSect = 0xFFFFFFFC;

// Byte offsets of the header fields.
namespace cfb_header {
inline constexpr std::size_t signature = 0x00;
inline constexpr std::size_t minor_version = 0x18;
inline constexpr std::size_t major_version = 0x1A;
inline constexpr std::size_t byte_order = 0x1C;
inline constexpr std::size_t sector_shift = 0x1E;
inline constexpr std::size_t mini_sector_shift = 0x20;
inline constexpr std::size_t directory_sectors = 0x28;
inline constexpr std::size_t fat_sectors = 0x2C;
inline constexpr std::size_t first_directory_sector = 0x30;
inline constexpr std::size_t mini_cutoff = 0x38;
inline constexpr std::size_t first_mini_fat_sector = 0x3C;
inline constexpr std::size_t mini_fat_sectors = 0x40;
inline constexpr std::size_t first_difat_sector = 0x44;
inline constexpr std::size_t difat_sectors = 0x48;
inline constexpr std::size_t difat = 0x4C;  // 109 entries of 4 bytes
}  // namespace cfb_header

// Byte offsets of the fields of a 128-byte directory entry.
namespace cfb_dir {
inline constexpr std::size_t name = 0x00;  // 64 bytes of UTF-16LE
inline constexpr std::size_t name_length = 0x40;
inline constexpr std::size_t type = 0x42;
inline constexpr std::size_t colour = 0x43;
inline constexpr std::size_t left = 0x44;
inline constexpr std::size_t right = 0x48;
inline constexpr std::size_t child = 0x4C;
inline constexpr std::size_t start = 0x74;
inline constexpr std::size_t size = 0x78;
}  // namespace cfb_dir

// Directory entry types.
inline constexpr std::uint8_t kCfbUnallocated = 0;
inline constexpr std::uint8_t kCfbStorage = 1;
inline constexpr std::uint8_t kCfbStream = 2;
inline constexpr std::uint8_t kCfbRoot = 5;

enum class CfbPlacement {
    automatic,  // mini stream when the data is shorter than the cutoff
    mini,       // mini stream whatever the size
    regular,    // regular sectors whatever the size
};

// ---------------------------------------------------------------- tree layer

struct CfbNode {
    bool is_storage = false;
    std::u16string name;  // UTF-16 code units, any (also invalid UTF-16)
    Bytes data;           // a stream's content
    std::vector<CfbNode> children;  // a storage's children, in any order
    CfbPlacement placement = CfbPlacement::automatic;
};

// A storage or stream named by UTF-8 text (converted to UTF-16), or by raw
// UTF-16 code units (for unpaired surrogates and the like).
CfbNode cfb_storage(std::string_view name, std::vector<CfbNode> children = {});
CfbNode cfb_storage(std::u16string name, std::vector<CfbNode> children = {});
CfbNode cfb_stream(std::string_view name, Bytes data,
                   CfbPlacement placement = CfbPlacement::automatic);
CfbNode cfb_stream(std::string_view name, std::string_view data,
                   CfbPlacement placement = CfbPlacement::automatic);
CfbNode cfb_stream(std::u16string name, Bytes data,
                   CfbPlacement placement = CfbPlacement::automatic);

// The root storage ("Root Entry") holding `children`.
CfbNode cfb_root(std::vector<CfbNode> children = {});

// ----------------------------------------------------------------- raw layer

// One directory entry as written. Entry 0 is the root.
struct CfbEntry {
    std::u16string name;  // the first 32 code units are written
    // The name length field; absent: (units + 1) * 2, the terminating NUL
    // included. A NUL follows the name when it has fewer than 32 units.
    std::optional<std::uint16_t> name_length;
    std::uint8_t type = kCfbStream;
    std::uint8_t colour = 1;  // 0 red, 1 black
    std::uint32_t left = kCfbNoStream;
    std::uint32_t right = kCfbNoStream;
    std::uint32_t child = kCfbNoStream;
    Bytes data;  // content of a stream entry (ignored for other types)
    CfbPlacement placement = CfbPlacement::automatic;
    // Written instead of what the layout computes.
    std::optional<std::uint32_t> start;
    std::optional<std::uint64_t> size;  // v3 writes the whole 8 bytes too
};

enum class CfbShape {
    balanced,     // middle of the sorted children on top
    right_chain,  // first child on top, each next one its right sibling
    left_chain,   // last child on top, each previous one its left sibling
};

struct CfbOptions {
    int version = 3;  // 3: 512-byte sectors; 4: 4096-byte sectors
    std::uint32_t mini_cutoff = 4096;  // written to the header and used for placement
    std::size_t min_fat_sectors = 0;   // at least this many FAT sectors (> 109: DIFAT sectors)
    bool shuffle = false;  // write the sectors in a scrambled (fixed) order
    CfbShape shape = CfbShape::balanced;  // sibling trees made by flatten_cfb
};

// The tree as raw entries: the root first, then each node in depth-first
// pre-order of the description (children in the order given), with links of
// sibling trees in name order (shape from `options`).
std::vector<CfbEntry> flatten_cfb(const CfbNode& root, const CfbOptions& options = {});

// Index of the entry at a "/"-separated path of UTF-8 names, found through
// the child/left/right links by exact name; aborts the test program when
// missing.
std::uint32_t cfb_find(const std::vector<CfbEntry>& entries, std::string_view path);

// Where the writer put things.
struct CfbLayout {
    std::size_t sector_size = 512;
    std::size_t header_size = 512;  // sector 0 starts here (4096 in v4)
    std::vector<std::uint32_t> fat_sectors;    // in FAT order
    std::vector<std::uint32_t> difat_sectors;  // in chain order
    std::vector<std::uint32_t> directory_chain;
    std::vector<std::uint32_t> mini_fat_chain;
    std::vector<std::uint32_t> mini_stream_chain;  // the root's chain
    // Per entry: its chain of sectors (regular) or mini sectors (mini).
    std::vector<std::vector<std::uint32_t>> chains;
    std::vector<bool> in_mini;
    std::size_t sector_count = 0;

    std::size_t sector_offset(std::uint32_t sector) const;
    // File offset of FAT[sector] (the FAT sector holding it must exist).
    std::size_t fat_entry_offset(std::uint32_t sector) const;
    std::size_t mini_fat_entry_offset(std::uint32_t mini_sector) const;
    // File offset of directory entry `entry`.
    std::size_t entry_offset(std::uint32_t entry) const;
    // File offset of the "next DIFAT sector" field of DIFAT sector i.
    std::size_t difat_next_offset(std::size_t i) const;
};

struct CfbBuilt {
    Bytes bytes;
    CfbLayout layout;
};

CfbBuilt build_cfb_layout(const std::vector<CfbEntry>& entries, const CfbOptions& options = {});
Bytes build_cfb(const std::vector<CfbEntry>& entries, const CfbOptions& options = {});
Bytes build_cfb(const CfbNode& root, const CfbOptions& options = {});

// Little-endian stores into a built file (for corruption after layout).
void put_u16(Bytes& bytes, std::size_t offset, std::uint16_t value);
void put_u32(Bytes& bytes, std::size_t offset, std::uint32_t value);
void put_u64(Bytes& bytes, std::size_t offset, std::uint64_t value);

// UTF-8 to UTF-16 (valid input expected) and the writer's name order:
// fewer code units first, then full uppercase forms by code point.
std::u16string cfb_utf16(std::string_view utf8);
bool cfb_name_less(const std::u16string& a, const std::u16string& b);

}  // namespace pinbook::test
