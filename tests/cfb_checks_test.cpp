// The compound-file reader on damaged and unusual containers: what the open
// refuses, what it tolerates, and that no damage makes it crash, loop or
// allocate beyond the buffer; each failure names what it found and where.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "cfb/cfb.hpp"
#include "support/cfb_writer.hpp"

namespace pinbook::test {
namespace {

using pinbook::cfb::File;

// The base container: 0 root, 1 A (storage), 2 Data (100 bytes, mini
// stream), 3 Big (5000 bytes, regular sectors), 4 B (10 bytes, mini).
// Sibling trees: B on top with A as its left sibling; Data on top with Big
// as its left sibling.
constexpr std::uint32_t kA = 1, kData = 2, kBig = 3, kB = 4;

Bytes filled(std::size_t n, std::uint8_t first) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(first + i * 13);
    return b;
}

std::vector<CfbEntry> base_entries(const CfbOptions& o = {}) {
    auto e = flatten_cfb(cfb_root({cfb_storage("A", {cfb_stream("Data", filled(100, 1)),
                                                      cfb_stream("Big", filled(5000, 2))}),
                                   cfb_stream("B", filled(10, 3))}),
                         o);
    // The indices and links the tests rely on.
    if (cfb_find(e, "A") != kA || cfb_find(e, "A/Data") != kData || cfb_find(e, "A/Big") != kBig ||
        cfb_find(e, "B") != kB || e[0].child != kB || e[kB].left != kA || e[kA].child != kData ||
        e[kData].left != kBig)
        ADD_FAILURE() << "base layout changed";
    return e;
}

std::string open_error(const Bytes& bytes) {
    auto f = File::open(bytes);
    return f ? std::string("(opened)") : f.error().message;
}

std::string open_error(const std::vector<CfbEntry>& e, const CfbOptions& o = {}) {
    return open_error(build_cfb(e, o));
}

// Opens, finds `path` and reads it: the content, or the read's error
// prefixed with "read: " (a failed open or lookup is a test failure).
std::string read_result(const Bytes& bytes, std::string_view path) {
    auto f = File::open(bytes);
    if (!f) return "open: " + f.error().message;
    auto s = f->open_stream(path);
    if (!s) return "open_stream: " + s.error().message;
    auto d = f->read(*s);
    if (!d) return "read: " + d.error().message;
    return std::string(d->begin(), d->end());
}

std::string as_text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// ------------------------------------------------------------- refusals

TEST(CfbRefuses, NamesOverThirtyOneCodeUnits) {
    auto e = base_entries();
    e[kB].name = std::u16string(31, u'b');
    EXPECT_EQ(open_error(e), "(opened)");
    e[kB].name = std::u16string(32, u'b');  // length field 66
    EXPECT_EQ(open_error(e), "name of entry 4 is 32 UTF-16 code units long, more than 31");
    e[kB].name_length = 64;  // fits the field exactly, no NUL
    EXPECT_EQ(open_error(e), "name of entry 4 is 32 UTF-16 code units long, more than 31");
    e[kB].name_length = 0xFFFF;
    EXPECT_EQ(open_error(e), "name of entry 4 is 32 UTF-16 code units long, more than 31");
}

TEST(CfbRefuses, NamesHoldingSeparators) {
    for (char16_t c : {u'/', u'\\', u':', u'!'}) {
        auto e = base_entries();
        e[kBig].name = std::u16string(u"Bi") + c;
        std::string shown = c == u'\\' ? "\\\\" : std::string(1, static_cast<char>(c));
        EXPECT_EQ(open_error(e), "name of entry 3 holds the character \"" + shown + "\" at code unit 2");
    }
}

TEST(CfbRefuses, NamesThatAreNotUtf16) {
    auto e = base_entries();
    e[kB].name = u"B\xD83D";  // high surrogate at the end
    EXPECT_EQ(open_error(e), "name of entry 4 is not valid UTF-16: unpaired high surrogate 0xD83D at code unit 1");
    e[kB].name = std::u16string(u"\xD83Dx");
    EXPECT_EQ(open_error(e), "name of entry 4 is not valid UTF-16: unpaired high surrogate 0xD83D at code unit 0");
    e[kB].name = std::u16string(u"x\xDE00");
    EXPECT_EQ(open_error(e), "name of entry 4 is not valid UTF-16: unpaired low surrogate 0xDE00 at code unit 1");
    e[kB].name = std::u16string(u"\xDE00\xD83D");  // a pair in the wrong order
    EXPECT_EQ(open_error(e), "name of entry 4 is not valid UTF-16: unpaired low surrogate 0xDE00 at code unit 0");
    e[kB].name = u"\xD83D\xDE00";  // a valid pair
    EXPECT_EQ(open_error(e), "(opened)");
}

TEST(CfbRefuses, ReachableEntriesThatAreNeitherStorageNorStream) {
    for (std::uint8_t type : {0, 3, 4, 5, 6, 0xFF}) {
        auto e = base_entries();
        e[kBig].type = type;
        EXPECT_EQ(open_error(e), "entry 3 (left sibling link of entry 2) has type " + std::to_string(type) +
                                     ", neither a storage nor a stream");
    }
    auto e = base_entries();
    e[0].type = kCfbStorage;
    EXPECT_EQ(open_error(e), "entry 0 has type 1, not the root storage's type 5");
}

TEST(CfbRefuses, SiblingsOutOfNameOrder) {
    auto e = base_entries();
    e[kA].name = u"b";  // equal to B without regard to case: not strictly before
    EXPECT_EQ(open_error(e), "left sibling 1 of entry 4 does not come before it in name order");
    e = base_entries();
    e[kA].name = u"AA";  // longer, so after B
    EXPECT_EQ(open_error(e), "left sibling 1 of entry 4 does not come before it in name order");
    e = base_entries();
    std::swap(e[kData].left, e[kData].right);  // Big as the right sibling of Data
    EXPECT_EQ(open_error(e), "right sibling 3 of entry 2 does not come after it in name order");
    e = base_entries();
    e[kData].left = kCfbNoStream;
    e[kData].right = kBig;
    e[kBig].name = u"DATA";
    EXPECT_EQ(open_error(e), "right sibling 3 of entry 2 does not come after it in name order");
}

TEST(CfbRefuses, SiblingOrderUsesTheFullUppercase) {
    // "ßz" (SSZ) comes before "St"; with "ßz" as the right sibling of "St"
    // the tree is out of order, although U+00DF sorts after 'S' by itself.
    std::vector<CfbEntry> e(3);
    e[0].type = kCfbRoot, e[0].child = 1;
    e[1].name = u"St", e[1].type = kCfbStorage, e[1].right = 2;
    e[2].name = u"\u00DFz", e[2].type = kCfbStorage;
    EXPECT_EQ(open_error(e), "right sibling 2 of entry 1 does not come after it in name order");
    e[1].right = kCfbNoStream, e[1].left = 2;
    EXPECT_EQ(open_error(e), "(opened)");
}

TEST(CfbRefuses, LoopsInSiblingAndChildLinks) {
    auto e = base_entries();
    e[kA].right = kB;  // B's left is A: each link is in order, together a loop
    EXPECT_EQ(open_error(e), "right sibling link of entry 1 leads back to entry 4: the directory links loop");
    e = base_entries();
    e[kA].child = kA;
    EXPECT_EQ(open_error(e), "child link of entry 1 leads back to entry 1: the directory links loop");
    e = base_entries();
    e[kBig].right = 0;
    EXPECT_EQ(open_error(e), "right sibling link of entry 3 leads back to entry 0: the directory links loop");
    e = base_entries();
    e[kData].child = kA;  // a stream's child link is not part of the tree
    EXPECT_EQ(open_error(e), "(opened)");
    // Two storages sharing one subtree.
    e = flatten_cfb(cfb_root({cfb_storage("P", {cfb_stream("Data", "x")}), cfb_storage("Q")}));
    e[cfb_find(e, "Q")].child = e[cfb_find(e, "P")].child;
    EXPECT_EQ(open_error(e), "child link of entry 1 leads back to entry 2: the directory links loop");
}

TEST(CfbRefuses, LinksPastTheDirectory) {
    auto e = base_entries();
    e[kA].child = 1000;  // the directory's 512-byte sectors hold 4 entries each: 2 sectors, 8 entries
    EXPECT_EQ(open_error(e), "child link of entry 1 names entry 1000, past the directory's 8 entries");
    e = base_entries();
    e[kData].left = kCfbEndOfChain;
    EXPECT_EQ(open_error(e), "left sibling link of entry 2 names entry 4294967294, past the directory's 8 entries");
    e = base_entries();
    e[0].child = 8;
    EXPECT_EQ(open_error(e), "child link of entry 0 names entry 8, past the directory's 8 entries");
}

// -------------------------------------------------------------- tolerated

TEST(CfbLenient, HeaderCountsThatDisagreeWithTheChains) {
    for (int version : {3, 4}) {
        CfbOptions o{.version = version};
        Bytes b = build_cfb(base_entries(o), o);
        put_u32(b, cfb_header::directory_sectors, 77);
        put_u32(b, cfb_header::fat_sectors, 99);
        put_u32(b, cfb_header::mini_fat_sectors, 0);
        put_u32(b, cfb_header::difat_sectors, 5);
        put_u32(b, cfb_header::mini_cutoff, 16);
        EXPECT_EQ(read_result(b, "/A/Data"), as_text(filled(100, 1)));
        EXPECT_EQ(read_result(b, "/A/Big"), as_text(filled(5000, 2)));
        EXPECT_EQ(read_result(b, "/B"), as_text(filled(10, 3)));
    }
}

TEST(CfbLenient, NamesWithoutTheirTerminatingNul) {
    auto e = base_entries();
    e[kData].name_length = 8;  // "Data" counted without its NUL
    e[kBig].name = u"BigXYZ";  // the length field keeps the first three units
    e[kBig].name_length = 6;
    e[kB].name_length = 0x1234;  // unusable length: the name ends at its NUL
    e[kA].name_length = 3;       // odd length: likewise
    Bytes b = build_cfb(e);
    EXPECT_EQ(read_result(b, "/A/Data"), as_text(filled(100, 1)));
    EXPECT_EQ(read_result(b, "/A/Big"), as_text(filled(5000, 2)));
    EXPECT_EQ(read_result(b, "/B"), as_text(filled(10, 3)));
    // 31 units filling the field up to its last unit, with no NUL counted.
    e = base_entries();
    e[kB].name = std::u16string(31, u'q');
    e[kB].name_length = 62;
    b = build_cfb(e);
    EXPECT_EQ(read_result(b, "/" + std::string(31, 'Q')), as_text(filled(10, 3)));
}

TEST(CfbLenient, AnyRootNameColoursAndUnreachableJunk) {
    auto e = base_entries();
    e[0].name = u"Wurzel";
    for (auto& x : e) x.colour = 0;  // every node red
    e[kA].colour = 7;
    e[0].left = 3;  // the root's sibling links are not followed
    e[0].right = 99;
    // An entry that no link reaches may hold anything.
    CfbEntry junk;
    junk.name = u"bad/name:\xD800";
    junk.type = 9;
    junk.left = junk.right = junk.child = 12345;
    e.push_back(junk);
    Bytes b = build_cfb(e);
    EXPECT_EQ(read_result(b, "/A/Big"), as_text(filled(5000, 2)));
    auto f = File::open(b);
    ASSERT_TRUE(f);
    ASSERT_EQ(f->list_root().size(), 2u);
    EXPECT_EQ(f->list_root()[0].name, "A");
}

TEST(CfbLenient, ChainsLongerThanTheSizeAndDifatEndingInFreeSect) {
    CfbOptions o{.min_fat_sectors = 150};
    CfbBuilt built = build_cfb_layout(base_entries(o), o);
    Bytes& b = built.bytes;
    const CfbLayout& L = built.layout;
    // Big's last sector links on into the directory instead of ending.
    put_u32(b, L.fat_entry_offset(L.chains[kBig].back()), L.directory_chain.front());
    // Data's last mini sector links on to B's first.
    put_u32(b, L.mini_fat_entry_offset(L.chains[kData].back()), L.chains[kB].front());
    put_u32(b, L.difat_next_offset(0), kCfbFreeSect);
    EXPECT_EQ(read_result(b, "/A/Big"), as_text(filled(5000, 2)));
    EXPECT_EQ(read_result(b, "/A/Data"), as_text(filled(100, 1)));
}

TEST(CfbLenient, MiniStreamFaultsOnlyMatterToMiniStreams) {
    Bytes b = build_cfb(base_entries());
    put_u32(b, cfb_header::first_mini_fat_sector, 5000);
    EXPECT_EQ(read_result(b, "/A/Big"), as_text(filled(5000, 2)));
    EXPECT_EQ(read_result(b, "/B"),
              "read: stream 4 lies in the mini stream, which cannot be read: mini FAT chain leaves the file at "
              "sector 5000 of 15");
    put_u32(b, cfb_header::first_mini_fat_sector, kCfbEndOfChain);
    EXPECT_EQ(read_result(b, "/A/Big"), as_text(filled(5000, 2)));
    EXPECT_EQ(read_result(b, "/B"), "read: stream 4 lies in the mini stream, but the file has no mini FAT");
}

// ----------------------------------------------------------- robustness

TEST(CfbRobust, HeadersThatCannotBeRead) {
    Bytes good = build_cfb(base_entries());
    EXPECT_EQ(open_error(Bytes{}), "file is 0 bytes, shorter than the 512-byte header");
    EXPECT_EQ(open_error(Bytes(good.begin(), good.begin() + 511)), "file is 511 bytes, shorter than the 512-byte header");
    Bytes b = good;
    b[7] ^= 1;
    EXPECT_EQ(open_error(b), "header signature is not D0 CF 11 E0 A1 B1 1A E1");
    // The signature, then 0xFF bytes up to 1 MiB: a padded 8-byte file.
    b.assign(1u << 20, 0xFF);
    std::copy(good.begin(), good.begin() + 8, b.begin());
    EXPECT_EQ(open_error(b), "header states major version 65535, not 3 or 4");
    b = good;
    put_u16(b, cfb_header::byte_order, 0xFEFF);
    EXPECT_EQ(open_error(b), "header byte order mark is 0xFEFF, not 0xFFFE");
    b = good;
    put_u16(b, cfb_header::sector_shift, 12);
    EXPECT_EQ(open_error(b), "header states sector shift 12 for major version 3, not 9");
    b = good;
    put_u16(b, cfb_header::mini_sector_shift, 7);
    EXPECT_EQ(open_error(b), "header states mini sector shift 7, not 6");
    Bytes v4 = build_cfb(base_entries({.version = 4}), {.version = 4});
    EXPECT_EQ(open_error(Bytes(v4.begin(), v4.begin() + 4095)),
              "file is 4095 bytes, shorter than its 4096-byte header sector");
}

TEST(CfbRobust, DamagedDifat) {
    CfbOptions o{.min_fat_sectors = 400};  // three DIFAT sectors
    CfbBuilt built = build_cfb_layout(base_entries(o), o);
    const CfbLayout& L = built.layout;
    ASSERT_EQ(L.difat_sectors.size(), 3u);
    Bytes b = built.bytes;
    put_u32(b, L.difat_next_offset(2), L.difat_sectors[0]);
    EXPECT_EQ(open_error(b), "DIFAT chain loops back to sector " + std::to_string(L.difat_sectors[0]));
    b = built.bytes;
    put_u32(b, L.difat_next_offset(0), L.difat_sectors[0]);
    EXPECT_EQ(open_error(b), "DIFAT chain loops back to sector " + std::to_string(L.difat_sectors[0]));
    b = built.bytes;
    put_u32(b, L.difat_next_offset(1), 100000);
    EXPECT_EQ(open_error(b), "DIFAT chain leaves the file at sector 100000 of " + std::to_string(L.sector_count));
    b = built.bytes;
    put_u32(b, L.difat_next_offset(1), kCfbFatSect);
    EXPECT_EQ(open_error(b), "DIFAT chain runs into FATSECT after 2 DIFAT sectors");
    b = built.bytes;
    put_u32(b, cfb_header::difat, 70000);
    EXPECT_EQ(open_error(b), "DIFAT entry 0 names FAT sector 70000, past the file's " +
                                 std::to_string(L.sector_count) + " sectors");
}

TEST(CfbRobust, DamagedDirectoryChain) {
    CfbBuilt built = build_cfb_layout(base_entries());
    const CfbLayout& L = built.layout;
    ASSERT_EQ(L.directory_chain.size(), 2u);
    const std::string count = std::to_string(L.sector_count);
    Bytes b = built.bytes;
    put_u32(b, L.fat_entry_offset(L.directory_chain[1]), L.directory_chain[0]);
    EXPECT_EQ(open_error(b), "directory chain loops back to sector " + std::to_string(L.directory_chain[0]));
    b = built.bytes;
    put_u32(b, cfb_header::first_directory_sector, 4000);
    EXPECT_EQ(open_error(b), "directory chain leaves the file at sector 4000 of " + count);
    b = built.bytes;
    put_u32(b, cfb_header::first_directory_sector, kCfbEndOfChain);
    EXPECT_EQ(open_error(b), "directory chain is empty");
    b = built.bytes;
    put_u32(b, cfb_header::first_directory_sector, kCfbFreeSect);
    EXPECT_EQ(open_error(b), "directory chain starts at FREESECT");
    b = built.bytes;
    put_u32(b, L.fat_entry_offset(L.directory_chain[0]), kCfbFreeSect);
    EXPECT_EQ(open_error(b), "directory chain runs into FREESECT after sector " + std::to_string(L.directory_chain[0]));
}

TEST(CfbRobust, DamagedStreamChains) {
    CfbBuilt built = build_cfb_layout(base_entries());
    const CfbLayout& L = built.layout;
    const auto& big = L.chains[kBig];  // 10 sectors
    ASSERT_EQ(big.size(), 10u);
    const std::string count = std::to_string(L.sector_count);
    Bytes b = built.bytes;
    put_u32(b, L.fat_entry_offset(big[5]), big[2]);
    EXPECT_EQ(read_result(b, "/A/Big"), "read: FAT chain of stream 3 loops back to sector " + std::to_string(big[2]));
    b = built.bytes;
    put_u32(b, L.fat_entry_offset(big[5]), 812);
    EXPECT_EQ(read_result(b, "/A/Big"), "read: FAT chain of stream 3 leaves the file at sector 812 of " + count);
    b = built.bytes;
    put_u32(b, L.fat_entry_offset(big[5]), kCfbFreeSect);
    EXPECT_EQ(read_result(b, "/A/Big"),
              "read: FAT chain of stream 3 runs into FREESECT after sector " + std::to_string(big[5]));
    b = built.bytes;
    put_u32(b, L.fat_entry_offset(big[5]), kCfbEndOfChain);
    EXPECT_EQ(read_result(b, "/A/Big"), "read: FAT chain of stream 3 ends after 6 of the 10 sectors it needs");
    // Mini chains.
    const auto& data = L.chains[kData];  // 2 mini sectors
    b = built.bytes;
    put_u32(b, L.mini_fat_entry_offset(data[0]), data[0]);
    EXPECT_EQ(read_result(b, "/A/Data"),
              "read: mini FAT chain of stream 2 loops back to mini sector " + std::to_string(data[0]));
    b = built.bytes;
    put_u32(b, L.mini_fat_entry_offset(data[0]), 50);
    EXPECT_EQ(read_result(b, "/A/Data"), "read: mini FAT chain of stream 2 leaves the mini stream at mini sector 50 of 3");
    b = built.bytes;
    put_u32(b, L.entry_offset(kData) + cfb_dir::start, kCfbEndOfChain);
    EXPECT_EQ(read_result(b, "/A/Data"), "read: mini FAT chain of stream 2 ends after 0 of the 2 mini sectors it needs");
}

TEST(CfbRobust, SizesFarBeyondTheChains) {
    // A size of 2^64 - 1 is refused before anything is allocated.
    CfbOptions v4{.version = 4};
    auto e = base_entries(v4);
    e[kBig].size = ~0ull;
    Bytes b = build_cfb(e, v4);
    const std::string room4 = std::to_string((b.size() - 4096));
    EXPECT_EQ(read_result(b, "/A/Big"),
              "read: stream 3 states 18446744073709551615 bytes, more than the " + room4 +
                  " bytes of the file's sectors");
    // Version 3 keeps the low 32 bits: 4294967295.
    e = base_entries();
    e[kBig].size = ~0ull;
    b = build_cfb(e);
    EXPECT_EQ(read_result(b, "/A/Big"), "read: stream 3 states 4294967295 bytes, more than the " +
                                            std::to_string(b.size() - 512) + " bytes of the file's sectors");
    // Within the file, but beyond the chain.
    e = base_entries();
    e[kBig].size = 6000;
    b = build_cfb(e);
    EXPECT_EQ(read_result(b, "/A/Big"), "read: FAT chain of stream 3 ends after 10 of the 12 sectors it needs");
    // A mini stream larger than the root's chain, and one beyond the file.
    e = base_entries();
    e[0].size = 6400;
    b = build_cfb(e);
    EXPECT_EQ(read_result(b, "/A/Big"), as_text(filled(5000, 2)));
    EXPECT_EQ(read_result(b, "/B"),
              "read: stream 4 lies in the mini stream, which cannot be read: mini stream chain (root entry, 6400 "
              "bytes) ends after 1 of the 13 sectors it needs");
    e[0].size = ~0ull;
    b = build_cfb(e, {.version = 3});
    EXPECT_EQ(read_result(b, "/B"),
              "read: stream 4 lies in the mini stream, which cannot be read: the root entry states a mini stream of "
              "4294967295 bytes, more than the " + std::to_string(b.size() - 512) + " bytes of the file's sectors");
    // A mini stream stream larger than the mini stream.
    e = base_entries();
    e[kB].size = 4000;
    b = build_cfb(e);
    EXPECT_EQ(read_result(b, "/B"), "read: stream 4 states 4000 bytes, more than the mini stream's 192");
}

TEST(CfbRobust, ForeignStreamHandle) {
    Bytes b = build_cfb(base_entries());
    auto f = File::open(b);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->read({.entry = 999, .size = 5}).error().message, "entry 999 is not a stream");
    EXPECT_EQ(f->read({.entry = kA, .size = 5}).error().message, "entry 1 is not a stream");
}

// Opens `bytes` and, when that works, lists, looks up and reads every
// listed entry and a few fixed paths; any outcome but a crash is fine.
std::size_t exercise(const Bytes& bytes) {
    auto f = File::open(bytes);
    if (!f) return f.error().message.size();
    std::size_t total = 0;
    for (const auto& e : f->list_root()) {
        for (const std::string& p : {"/" + e.name, "/" + e.name + "/Data", "/" + e.name + "/Big"}) {
            auto s = f->open_stream(p);
            if (!s) continue;
            auto d = f->read(*s);
            total += d ? d->size() : d.error().message.size();
        }
    }
    return total;
}

TEST(CfbRobust, TruncatedFiles) {
    for (int version : {3, 4}) {
        CfbOptions o{.version = version, .shuffle = true};
        Bytes good = build_cfb(base_entries(o), o);
        for (std::size_t n = 0; n <= good.size(); n += version == 3 ? 64 : 512) {
            Bytes b(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
            exercise(b);
            b.resize(1u << 20, 0xFF);  // as the library pads short inputs
            exercise(b);
        }
    }
}

TEST(CfbRobust, RandomDamageNeverCrashesOrHangs) {
    // Overwrite bytes of the header, FAT, directory and mini FAT sectors at
    // random; each damaged file must be handled quickly whatever it holds.
    std::uint64_t state = 12345;
    auto next = [&] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(state >> 33);
    };
    for (int version : {3, 4}) {
        CfbOptions o{.version = version, .min_fat_sectors = version == 3 ? 120u : 0u};
        CfbBuilt built = build_cfb_layout(base_entries(o), o);
        const CfbLayout& L = built.layout;
        std::vector<std::size_t> regions{0};
        for (auto s : L.fat_sectors)
            if (regions.size() < 4) regions.push_back(L.sector_offset(s));
        for (auto s : L.difat_sectors) regions.push_back(L.sector_offset(s));
        for (auto s : L.directory_chain) regions.push_back(L.sector_offset(s));
        for (auto s : L.mini_fat_chain) regions.push_back(L.sector_offset(s));
        for (int round = 0; round < 1500; ++round) {
            Bytes b = built.bytes;
            int edits = 1 + static_cast<int>(next() % 4);
            for (int k = 0; k < edits; ++k) {
                std::size_t base = regions[next() % regions.size()];
                std::size_t at = base + (next() % (version == 3 ? 512 : 4096)) / 4 * 4;
                if (at + 4 > b.size()) continue;
                static const std::uint32_t picks[] = {0, 1, 2, 3, 4, 7, 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD,
                                                      0xFFFFFFFC, 0x7FFFFFFF, 100000};
                std::uint32_t v = next() % 2 ? picks[next() % std::size(picks)] : next();
                put_u32(b, at, v);
            }
            exercise(b);
        }
    }
}

TEST(CfbRobust, LargeBufferOfZerosOrFfBytesIsLinear) {
    // A valid header over 64 MiB of zeros: every FAT entry names sector 0,
    // so the directory chain loops at once; of 0xFF bytes, it ends free.
    Bytes head = build_cfb(base_entries());
    for (std::uint8_t fill : {0x00, 0xFF}) {
        Bytes b(64u << 20, fill);
        std::copy(head.begin(), head.begin() + 512, b.begin());
        put_u32(b, cfb_header::first_directory_sector, 3);
        for (std::size_t k = 0; k < 109; ++k) put_u32(b, cfb_header::difat + 4 * k, static_cast<std::uint32_t>(k));
        auto t0 = std::chrono::steady_clock::now();
        std::string err = open_error(b);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_EQ(err, fill == 0 ? "directory chain loops back to sector 0" : "directory chain runs into FREESECT after sector 3");
        EXPECT_LT(seconds, 0.5);
    }
}

}  // namespace
}  // namespace pinbook::test
