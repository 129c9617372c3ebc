// The compound-file reader on well-formed containers: listing order, path
// lookup in name order, reading mini and regular streams in both sector
// sizes, large FATs, and agreement with an independent reader (olefile).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cfb/cfb.hpp"
#include "support/cfb_writer.hpp"
#include "support/run_program.hpp"

namespace pinbook::test {
namespace {

using pinbook::cfb::File;

Bytes pattern(std::size_t n, unsigned seed) {
    Bytes b(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : b) {
        x = x * 1103515245u + 12345u;
        c = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

// The File reads from `bytes`, which must outlive it.
File open_ok(Bytes&&) = delete;
File open_ok(const Bytes& bytes) {
    auto f = File::open(bytes);
    if (!f) ADD_FAILURE() << "open failed: " << f.error().message;
    return std::move(*f);
}

std::vector<std::string> listing(const File& f) {
    std::vector<std::string> out;
    for (const auto& e : f.list_root()) out.push_back(e.name + (e.is_storage ? "/" : ""));
    return out;
}

// The stream's content; a failure is reported and gives {0xEE}.
Bytes read_path(const File& f, std::string_view path) {
    auto s = f.open_stream(path);
    if (!s) {
        ADD_FAILURE() << "open " << path << ": " << s.error().message;
        return {0xEE};
    }
    auto d = f.read(*s);
    if (!d) {
        ADD_FAILURE() << "read " << path << ": " << d.error().message;
        return {0xEE};
    }
    return *d;
}

std::string open_error(const File& f, std::string_view path) {
    auto s = f.open_stream(path);
    return s ? std::string("(opened)") : s.error().message;
}

// ------------------------------------------------------------------ listing

TEST(CfbListing, FewerCodeUnitsComeFirst) {
    Bytes f_bytes = build_cfb(cfb_root({cfb_storage("AA"), cfb_storage("Z")}));
    File f = open_ok(f_bytes);
    EXPECT_EQ(listing(f), (std::vector<std::string>{"Z/", "AA/"}));
}

TEST(CfbListing, EqualLengthsIgnoreLetterCase) {
    Bytes f_bytes = build_cfb(cfb_root({cfb_storage("B1"), cfb_storage("a1"), cfb_stream("b0", "x")}));
    File f = open_ok(f_bytes);
    EXPECT_EQ(listing(f), (std::vector<std::string>{"a1/", "b0", "B1/"}));
}

TEST(CfbListing, FullUppercaseDecidesSharpS) {
    // "ßz" uppercases to "SSZ", which comes before "ST"; a per-character
    // uppercase would keep U+00DF and put it after.
    auto root = cfb_root({cfb_storage("St"), cfb_storage("\xC3\x9Fz"), cfb_storage("Sa")});
    Bytes f_bytes = build_cfb(root);
    File f = open_ok(f_bytes);
    EXPECT_EQ(listing(f), (std::vector<std::string>{"Sa/", "\xC3\x9Fz/", "St/"}));
    EXPECT_TRUE(f.open_stream("/\xC3\x9Fz").error().message.find("storage") != std::string::npos);
}

TEST(CfbListing, ListsTheTreeInOrderEvenWhenItIsNoSearchTree) {
    // M on top, C its left sibling, Z the right sibling of C: each link is
    // in order locally, but Z sits in M's left subtree.
    std::vector<CfbEntry> e(4);
    e[0].type = kCfbRoot;
    e[0].name = u"Root Entry";
    e[0].child = 1;
    e[1].name = u"M", e[1].type = kCfbStorage, e[1].left = 2;
    e[2].name = u"C", e[2].type = kCfbStorage, e[2].right = 3;
    e[3].name = u"Z", e[3].type = kCfbStream, e[3].data = {1, 2, 3};
    Bytes f_bytes = build_cfb(e);
    File f = open_ok(f_bytes);
    EXPECT_EQ(listing(f), (std::vector<std::string>{"C/", "Z", "M/"}));
    // Lookup searches in name order, so Z is not found from M.
    EXPECT_NE(open_error(f, "/Z").find("no entry \"Z\""), std::string::npos);
}

TEST(CfbListing, ListsOnlyTheRootsDirectChildren) {
    for (auto shape : {CfbShape::balanced, CfbShape::right_chain, CfbShape::left_chain}) {
        auto root = cfb_root({cfb_storage("S", {cfb_stream("Inner", "x")}), cfb_stream("T", "y"),
                              cfb_storage("UU"), cfb_storage("")});
        Bytes f_bytes = build_cfb(root, {.shape = shape});
        File f = open_ok(f_bytes);
        EXPECT_EQ(listing(f), (std::vector<std::string>{"/", "S/", "T", "UU/"}));
    }
    Bytes empty_bytes = build_cfb(cfb_root());
    File empty = open_ok(empty_bytes);
    EXPECT_TRUE(empty.list_root().empty());
}

TEST(CfbListing, ConvertsNamesToUtf8) {
    Bytes bytes = build_cfb(cfb_root({cfb_storage("\xE2\x82\xAC" "5"), cfb_storage("\xF0\x9F\x98\x80"),
                                      cfb_storage("\x01" "Old")}));
    File f = open_ok(bytes);
    EXPECT_EQ(listing(f), (std::vector<std::string>{"\xE2\x82\xAC" "5/", "\xF0\x9F\x98\x80/", "\x01" "Old/"}));
}

// ------------------------------------------------------------------- lookup

Bytes lookup_file() {
    return build_cfb(cfb_root({
        cfb_storage("OPAMP", {cfb_stream("Data", "opamp data"), cfb_storage("Sub", {cfb_stream("Leaf", "leaf")})}),
        cfb_storage("stra\xC3\x9F" "e", {cfb_stream("Data", "street")}),
        cfb_stream("Data", "top data"),
        cfb_stream("FileHeader", "header"),
    }));
}

TEST(CfbLookup, IgnoresLetterCase) {
    Bytes bytes = lookup_file();
    File f = open_ok(bytes);
    for (auto path : {"/OPAMP/Data", "/OPAMP/DATA", "/opamp/data", "/oPaMp/dAtA"})
        EXPECT_EQ(read_path(f, path), Bytes({'o', 'p', 'a', 'm', 'p', ' ', 'd', 'a', 't', 'a'})) << path;
    EXPECT_EQ(read_path(f, "/OPAMP/SUB/leaf"), Bytes({'l', 'e', 'a', 'f'}));
}

TEST(CfbLookup, ComparesFullUppercaseForms) {
    Bytes f_bytes = lookup_file();
    File f = open_ok(f_bytes);
    EXPECT_EQ(read_path(f, "/STRA\xC3\x9F" "E/Data"), Bytes({'s', 't', 'r', 'e', 'e', 't'}));
    EXPECT_EQ(read_path(f, "/Stra\xC3\x9F" "e/Data"), Bytes({'s', 't', 'r', 'e', 'e', 't'}));
    // "STRASSE" has one code unit more than "straße", so it is another name.
    EXPECT_NE(open_error(f, "/STRASSE/Data").find("no entry \"STRASSE\" in \"/\""), std::string::npos);
}

TEST(CfbLookup, DropsEmptyAndDotComponentsAndPopsOnDotDot) {
    Bytes f_bytes = lookup_file();
    File f = open_ok(f_bytes);
    EXPECT_EQ(read_path(f, "OPAMP/Data"), read_path(f, "/OPAMP/Data"));
    EXPECT_EQ(read_path(f, "//OPAMP//./Data/"), read_path(f, "/OPAMP/Data"));
    EXPECT_EQ(read_path(f, "/OPAMP/Sub/../../OPAMP/./Data"), read_path(f, "/OPAMP/Data"));
    EXPECT_EQ(read_path(f, "//Data"), Bytes({'t', 'o', 'p', ' ', 'd', 'a', 't', 'a'}));
    EXPECT_EQ(read_path(f, "/./Data"), read_path(f, "//Data"));
    EXPECT_EQ(read_path(f, "/Nowhere/../Data"), read_path(f, "//Data"));
}

TEST(CfbLookup, FailsWithACause) {
    Bytes f_bytes = lookup_file();
    File f = open_ok(f_bytes);
    EXPECT_EQ(open_error(f, "/../Data"), "path \"/../Data\" leaves the root storage");
    EXPECT_EQ(open_error(f, "/OPAMP/../../Data"), "path \"/OPAMP/../../Data\" leaves the root storage");
    EXPECT_EQ(open_error(f, "/OPAMP/Nope"), "no entry \"Nope\" in \"/OPAMP\"");
    EXPECT_EQ(open_error(f, "/OPAMP/Sub"), "\"/OPAMP/Sub\" is a storage, not a stream");
    EXPECT_EQ(open_error(f, "/opamp"), "\"/OPAMP\" is a storage, not a stream");
    EXPECT_EQ(open_error(f, "/FileHeader/x"), "\"/FileHeader\" is a stream, not a storage, in path \"/FileHeader/x\"");
    EXPECT_EQ(open_error(f, "/"), "path \"/\" names the root storage, not a stream");
    EXPECT_EQ(open_error(f, ""), "path \"\" names the root storage, not a stream");
    EXPECT_EQ(open_error(f, "/a\nb"), "no entry \"a\\x0Ab\" in \"/\"");
    EXPECT_EQ(open_error(f, "/\xFF"), "no entry \"\xFF\" in \"/\"");
}

TEST(CfbLookup, FindsEveryChildInADeepTree) {
    std::vector<CfbNode> kids;
    for (int i = 0; i < 300; ++i) {
        std::string name = "s";
        name += std::to_string(i);
        kids.push_back(cfb_stream(name, std::to_string(i)));
    }
    for (auto shape : {CfbShape::balanced, CfbShape::right_chain, CfbShape::left_chain}) {
        Bytes f_bytes = build_cfb(cfb_root(kids), {.shape = shape});
        File f = open_ok(f_bytes);
        for (int i = 0; i < 300; ++i) {
            std::string s = std::to_string(i);
            std::string path = "/S";
            path += s;
            EXPECT_EQ(read_path(f, path), Bytes(s.begin(), s.end()));
        }
    }
}

// ------------------------------------------------------------------ reading

struct Sample {
    std::string path;
    Bytes data;
};

std::vector<Sample> samples() {
    return {{"/Empty", {}},
            {"/Tiny", pattern(1, 1)},
            {"/Mini63", pattern(63, 2)},
            {"/Mini64", pattern(64, 3)},
            {"/Mini4095", pattern(4095, 4)},
            {"/Reg4096", pattern(4096, 5)},
            {"/Reg5000", pattern(5000, 6)},
            {"/Store/Multi", pattern(70000, 7)}};
}

CfbNode sample_tree() {
    auto s = samples();
    std::vector<CfbNode> top;
    for (std::size_t i = 0; i < 7; ++i) top.push_back(cfb_stream(s[i].path.substr(1), s[i].data));
    top.push_back(cfb_storage("Store", {cfb_stream("Multi", s[7].data)}));
    return cfb_root(top);
}

TEST(CfbRead, ReadsMiniAndRegularStreamsInBothVersions) {
    for (int version : {3, 4}) {
        for (bool shuffle : {false, true}) {
            Bytes bytes = build_cfb(sample_tree(), {.version = version, .shuffle = shuffle});
            File f = open_ok(bytes);
            for (const auto& s : samples()) {
                EXPECT_EQ(read_path(f, s.path), s.data) << s.path << " v" << version << " shuffle " << shuffle;
                EXPECT_EQ(f.open_stream(s.path)->size, s.data.size());
            }
        }
    }
}

TEST(CfbRead, StreamSpanningSeveralFatSectors) {
    // 70000 bytes in 512-byte sectors: 137 sectors, more than the 128 one
    // FAT sector covers; shuffled so the chain jumps between FAT sectors.
    CfbOptions o{.version = 3, .shuffle = true};
    CfbBuilt b = build_cfb_layout(flatten_cfb(sample_tree(), o), o);
    ASSERT_GE(b.layout.fat_sectors.size(), 2u);
    File f = open_ok(b.bytes);
    EXPECT_EQ(read_path(f, "/Store/Multi"), samples()[7].data);
}

TEST(CfbRead, ViewsConsecutiveSectorsInPlaceAndCopiesTheRest) {
    for (bool shuffle : {false, true}) {
        CfbOptions o{.version = 3, .shuffle = shuffle};
        CfbBuilt b = build_cfb_layout(flatten_cfb(sample_tree(), o), o);
        File f = open_ok(b.bytes);
        auto stream = f.open_stream("/Store/Multi");
        ASSERT_TRUE(stream.has_value());
        const auto& chain = b.layout.chains[cfb_find(flatten_cfb(sample_tree(), o), "Store/Multi")];
        bool consecutive = true;
        for (std::size_t i = 1; i < chain.size(); ++i) consecutive = consecutive && chain[i] == chain[0] + i;
        if (!shuffle) {
            EXPECT_TRUE(consecutive);  // the writer lays a stream out in order
        }

        std::vector<std::uint8_t> storage;
        auto view = f.read_view(*stream, storage);
        ASSERT_TRUE(view.has_value()) << view.error().message;
        const Bytes expected = samples()[7].data;
        EXPECT_TRUE(std::equal(view->begin(), view->end(), expected.begin(), expected.end()));
        const bool in_buffer = view->data() >= b.bytes.data() && view->data() < b.bytes.data() + b.bytes.size();
        EXPECT_EQ(in_buffer, consecutive) << "shuffle " << shuffle;
        EXPECT_EQ(storage.empty(), consecutive);
    }
    // Mini streams are always gathered into the storage.
    Bytes bytes = build_cfb(sample_tree(), {.version = 4});
    File f = open_ok(bytes);
    for (const auto& s : samples()) {
        if (s.data.empty() || s.data.size() >= 4096) continue;
        auto stream = f.open_stream(s.path);
        ASSERT_TRUE(stream.has_value());
        std::vector<std::uint8_t> storage;
        auto view = f.read_view(*stream, storage);
        ASSERT_TRUE(view.has_value());
        EXPECT_EQ(view->data(), storage.data());
        EXPECT_EQ(storage, s.data) << s.path;
    }
}

TEST(CfbRead, FatBeyondTheHeadersDifat) {
    // 7.5 MB in 512-byte sectors needs about 115 FAT sectors, so FAT
    // sectors 110 on are listed in a DIFAT sector.
    Bytes big = pattern(7'500'000, 9);
    auto root = cfb_root({cfb_storage("Big", {cfb_stream("Data", big)}), cfb_stream("Small", "small")});
    for (bool shuffle : {false, true}) {
        CfbOptions o{.version = 3, .shuffle = shuffle};
        CfbBuilt b = build_cfb_layout(flatten_cfb(root, o), o);
        ASSERT_GT(b.layout.fat_sectors.size(), 109u);
        ASSERT_EQ(b.layout.difat_sectors.size(), 1u);
        File f = open_ok(b.bytes);
        EXPECT_EQ(read_path(f, "/Big/Data"), big);
        EXPECT_EQ(read_path(f, "/Small"), Bytes({'s', 'm', 'a', 'l', 'l'}));
    }
}

TEST(CfbRead, DifatSectorsListingUnneededFatSectors) {
    // 300 FAT sectors in a small file: two DIFAT sectors, most FAT sectors
    // covering no sector of the file.
    for (int version : {3, 4}) {
        CfbOptions o{.version = version, .min_fat_sectors = 300, .shuffle = true};
        CfbBuilt b = build_cfb_layout(flatten_cfb(sample_tree(), o), o);
        EXPECT_GE(b.layout.difat_sectors.size(), 1u);
        File f = open_ok(b.bytes);
        for (const auto& s : samples()) EXPECT_EQ(read_path(f, s.path), s.data) << s.path;
    }
}

TEST(CfbRead, FileInsideABufferPaddedWithFfBytes) {
    for (int version : {3, 4}) {
        Bytes bytes = build_cfb(sample_tree(), {.version = version});
        ASSERT_LT(bytes.size(), 1u << 20);
        bytes.resize(1u << 20, 0xFF);
        File f = open_ok(bytes);
        for (const auto& s : samples()) EXPECT_EQ(read_path(f, s.path), s.data) << s.path;
    }
}

TEST(CfbRead, Version3UsesTheLowHalfOfTheSize) {
    auto entries = flatten_cfb(sample_tree());
    entries[cfb_find(entries, "Reg5000")].size = 0xABCD000000000000ull + 5000;
    entries[cfb_find(entries, "Tiny")].size = 0x0000000100000001ull;
    Bytes f_bytes = build_cfb(entries);
    File f = open_ok(f_bytes);
    EXPECT_EQ(read_path(f, "/Reg5000"), samples()[6].data);
    EXPECT_EQ(read_path(f, "/Tiny"), samples()[1].data);
    EXPECT_EQ(f.open_stream("/Reg5000")->size, 5000u);
}

TEST(CfbRead, DeepSiblingTreeOpensQuickly) {
    // 100,000 children in one chain of right siblings: the tree is 100,000
    // deep. Open, list and look up the deepest entry well within a second.
    std::vector<CfbNode> kids;
    kids.reserve(100000);
    char name[16];
    for (int i = 0; i < 100000; ++i) {
        std::snprintf(name, sizeof name, "n%05d", i);
        kids.push_back(cfb_stream(std::string_view(name), Bytes{}));
    }
    kids.back().data = {7};
    for (auto shape : {CfbShape::right_chain, CfbShape::left_chain}) {
        Bytes bytes = build_cfb(cfb_root(kids), {.version = 4, .shape = shape});
        auto t0 = std::chrono::steady_clock::now();
        File f = open_ok(bytes);
        auto list = f.list_root();
        auto data = read_path(f, "/N99999");
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ASSERT_EQ(list.size(), 100000u);
        EXPECT_EQ(list.front().name, "n00000");
        EXPECT_EQ(list.back().name, "n99999");
        EXPECT_EQ(data, Bytes{7});
        // A sanitized debug build runs several times slower.
#if defined(__SANITIZE_ADDRESS__)
        EXPECT_LT(seconds, 10.0);
#else
        EXPECT_LT(seconds, 1.0);
#endif
    }
}

// ------------------------------------------------- an independent reader

// olefile's view of a file: the root's children by an in-order walk of the
// directory links, then each stream's path and content in hex.
const char* kOlefileDump = R"PY(
import sys, olefile
ole = olefile.OleFileIO(sys.argv[1], raise_defects=olefile.DEFECT_INCORRECT)
d = ole.direntries
stack, at = [], ole.root.sid_child
def push(i):
    while i != olefile.NOSTREAM:
        stack.append(i); i = d[i].sid_left
push(at)
while stack:
    i = stack.pop()
    print("L", d[i].name, "storage" if d[i].entry_type == olefile.STGTY_STORAGE else "stream")
    push(d[i].sid_right)
for p in sorted("/" + "/".join(p) for p in ole.listdir(streams=True, storages=False)):
    print("S", p, ole.openstream(p[1:]).read().hex())
)PY";

std::string hex(const Bytes& b) {
    std::string s;
    for (auto c : b) {
        s += "0123456789abcdef"[c >> 4];
        s += "0123456789abcdef"[c & 15];
    }
    return s;
}

TEST(CfbOlefile, IndependentReaderSeesTheSame) {
    if (run_program("/usr/bin/python3", {"-c", "import olefile"}).status != 0)
        GTEST_SKIP() << "/usr/bin/python3 cannot import olefile";
    std::vector<std::string> paths;
    for (const auto& s : samples()) paths.push_back(s.path);
    std::sort(paths.begin(), paths.end());
    int n = 0;
    for (int version : {3, 4}) {
        for (bool shuffle : {false, true}) {
            for (std::size_t fats : {0, 200}) {
                CfbOptions o{.version = version, .min_fat_sectors = fats, .shuffle = shuffle};
                Bytes bytes = build_cfb(sample_tree(), o);
                std::string path = write_temp_file("olefile" + std::to_string(n++) + ".cfb", bytes);
                File f = open_ok(bytes);
                std::string mine;
                for (const auto& e : f.list_root())
                    mine += "L " + e.name + (e.is_storage ? " storage\n" : " stream\n");
                for (const auto& p : paths) mine += "S " + p + " " + hex(read_path(f, p)) + "\n";
                auto r = run_program("/usr/bin/python3", {"-c", kOlefileDump, path});
                ASSERT_EQ(r.status, 0) << r.err;
                EXPECT_EQ(r.out, mine) << "version " << version << " shuffle " << shuffle << " fats " << fats;
            }
        }
    }
}

}  // namespace
}  // namespace pinbook::test
