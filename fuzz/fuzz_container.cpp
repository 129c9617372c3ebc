// Structure-aware target: the fuzz input steers the test-side compound-file
// writer (random trees, names, placements, sizes, sibling-tree shapes), then
// corrupts the directory entries and the written sectors (links, types,
// sizes, start sectors, FAT and DIFAT chains, header fields) and may cut the
// file short. So nearly every input reaches the container layer past the
// signature. The file then goes through parse_pinbook_bytes and the writers,
// and, unpadded, straight through the cfb API.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cfb/cfb.hpp"
#include "checks.hpp"
#include "pinbook/pinbook.hpp"
#include "support/cfb_writer.hpp"

namespace {

using pinbook::test::Bytes;
namespace t = pinbook::test;

// Names that matter to the reader and to the directory's name order. The
// first is what a used-up input picks.
const std::array<std::u16string_view, 20> names = {
    u"OPAMP", u"Data", u"DATA", u"data", u"Library", u"FileVersionInfo", u"\x0001" u"CompObj",
    u"", u".", u"..", u"a1", u"B1", u"Z", u"AA", u"Stra\u00DFe", u"STRASSE",
    u"a/b", u"Root Entry", u"0123456789012345678901234567890", u"\u00E9\u4E2D\U0001F600",
};

// True about once in `n` draws, and false once the input is used up, so
// that running out of fuzz bytes means "no further change".
bool one_in(FuzzedDataProvider& in, int n) { return in.ConsumeIntegralInRange<int>(0, n - 1) == n - 1; }

std::u16string pick_name(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 11)) {
    case 11: {  // raw code units, unpaired surrogates and all
        std::u16string s;
        std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, 34);
        for (std::size_t i = 0; i < n; ++i) s.push_back(in.ConsumeIntegral<char16_t>());
        return s;
    }
    case 9: case 10: {  // short ASCII
        std::u16string s;
        for (char c : in.ConsumeRandomLengthString(12)) s.push_back(static_cast<unsigned char>(c));
        return s;
    }
    default: return std::u16string(names[in.ConsumeIntegralInRange<std::size_t>(0, names.size() - 1)]);
    }
}

void put_u16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void add_record(Bytes& out, const Bytes& payload) {
    put_u16(out, static_cast<std::uint16_t>(payload.size()));
    put_u16(out, 0);
    out.insert(out.end(), payload.begin(), payload.end());
}

// A "Data" stream of records: component, rectangle and pin records with
// fuzzed fields, raw payloads, and an optional end record. A used-up input
// gives one pin record.
Bytes data_stream(FuzzedDataProvider& in) {
    Bytes out;
    std::size_t records = in.ConsumeIntegralInRange<std::size_t>(1, 12);
    for (std::size_t r = 0; r < records; ++r) {
        Bytes payload;
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 3: {
            std::string text = "|RECORD=1|ComponentDescription=" + in.ConsumeRandomLengthString(20) +
                               "|PartCount=" + in.ConsumeRandomLengthString(8) + "|";
            payload.assign(text.begin(), text.end());
            break;
        }
        case 1: {
            std::string text = "|RECORD=14|Location.X=" + in.ConsumeRandomLengthString(8) +
                               "|Location.Y=" + in.ConsumeRandomLengthString(8) +
                               "|Corner.X=" + in.ConsumeRandomLengthString(8) +
                               "|Corner.Y=" + in.ConsumeRandomLengthString(8);
            payload.assign(text.begin(), text.end());
            break;
        }
        case 0: case 2: {  // pin record
            payload.assign(26, 0);
            payload[0] = 2;
            for (std::size_t i = 14; i < 21; ++i) payload[i] = in.ConsumeIntegral<std::uint8_t>();
            for (int s = 0; s < 2; ++s) {
                std::string text = in.ConsumeRandomLengthString(16);
                payload.push_back(static_cast<std::uint8_t>(text.size()));
                payload.insert(payload.end(), text.begin(), text.end());
            }
            std::size_t cut = in.ConsumeIntegralInRange<std::size_t>(1, payload.size());
            payload.resize(in.ConsumeBool() ? payload.size() : cut);
            break;
        }
        default: {
            std::string raw = in.ConsumeRandomLengthString(64);
            payload.assign(raw.begin(), raw.end());
            if (payload.empty()) payload.push_back(2);
            break;
        }
        }
        add_record(out, payload);
    }
    if (in.ConsumeBool()) out.insert(out.end(), {0, 0, 0, 0});
    // Sometimes pad the stream past the mini stream cutoff.
    if (one_in(in, 8)) out.resize(out.size() + in.ConsumeIntegralInRange<std::size_t>(0, 9000), 0);
    return out;
}

t::CfbPlacement pick_placement(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 1: return t::CfbPlacement::mini;
    case 2: return t::CfbPlacement::regular;
    default: return t::CfbPlacement::automatic;
    }
}

// A random tree, built without recursion: each storage made gets its
// children from later draws, up to a bounded number of nodes. Siblings get
// distinct names (a directory with two equal names is refused whole), and
// a used-up input gives one component storage holding a "Data" stream.
t::CfbNode random_tree(FuzzedDataProvider& in) {
    t::CfbNode root = t::cfb_root();
    struct Pending {
        t::CfbNode* storage;
        int depth;
    };
    std::vector<Pending> todo{{&root, 0}};
    std::size_t budget = 24;
    while (!todo.empty() && budget > 0) {
        Pending at = todo.back();
        todo.pop_back();
        std::size_t least = at.depth <= 1 ? 1 : 0;
        std::size_t count = in.ConsumeIntegralInRange<std::size_t>(least, std::min<std::size_t>(budget, 6));
        budget -= count;
        auto& children = at.storage->children;
        children.reserve(count);  // keeps the pointers below valid
        for (std::size_t i = 0; i < count; ++i) {
            t::CfbNode node;
            if (at.depth == 0) {
                node.is_storage = !one_in(in, 3);
            } else if (i == 0 && !one_in(in, 4)) {
                node.name = u"Data";  // a component storage's stream
            } else {
                node.is_storage = at.depth < 3 && one_in(in, 2);
            }
            if (node.name.empty()) node.name = pick_name(in);
            for (char16_t suffix = u'0'; std::any_of(children.begin(), children.end(), [&](const t::CfbNode& c) {
                     return !t::cfb_name_less(c.name, node.name) && !t::cfb_name_less(node.name, c.name);
                 });
                 ++suffix) {
                node.name += suffix;
            }
            node.placement = pick_placement(in);
            if (!node.is_storage) {
                if (!one_in(in, 3)) {
                    node.data = data_stream(in);
                } else {
                    std::string raw = in.ConsumeRandomLengthString(600);
                    node.data.assign(raw.begin(), raw.end());
                }
            }
            children.push_back(std::move(node));
        }
        for (auto& child : children)
            if (child.is_storage) todo.push_back({&child, at.depth + 1});
    }
    return root;
}

std::uint32_t pick_link(FuzzedDataProvider& in, std::size_t entries) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return t::kCfbNoStream;
    case 1: return in.ConsumeIntegral<std::uint32_t>();
    default: return in.ConsumeIntegralInRange<std::uint32_t>(0, static_cast<std::uint32_t>(entries));
    }
}

std::uint32_t pick_sector(FuzzedDataProvider& in, std::size_t sectors) {
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0: return t::kCfbEndOfChain;
    case 1: return t::kCfbFreeSect;
    case 2: return in.ConsumeIntegral<std::uint32_t>();
    case 3: return in.ConsumeIntegralInRange<std::uint32_t>(t::kCfbDifSect, t::kCfbFatSect);
    default: return in.ConsumeIntegralInRange<std::uint32_t>(0, static_cast<std::uint32_t>(sectors));
    }
}

void corrupt_entries(FuzzedDataProvider& in, std::vector<t::CfbEntry>& entries) {
    std::size_t edits = in.ConsumeIntegralInRange<std::size_t>(0, 4);
    for (std::size_t e = 0; e < edits && !entries.empty(); ++e) {
        t::CfbEntry& entry = entries[in.ConsumeIntegralInRange<std::size_t>(0, entries.size() - 1)];
        switch (in.ConsumeIntegralInRange<int>(0, 8)) {
        case 0: entry.left = pick_link(in, entries.size()); break;
        case 1: entry.right = pick_link(in, entries.size()); break;
        case 2: entry.child = pick_link(in, entries.size()); break;
        case 3: entry.type = in.ConsumeIntegralInRange<std::uint8_t>(0, 6); break;
        case 4: entry.colour = in.ConsumeIntegral<std::uint8_t>(); break;
        case 5: entry.start = pick_sector(in, 64); break;
        case 6: {
            const std::uint64_t sizes[] = {0, 1, 4095, 4096, 4097, 0xFFFFFFFF, 0x100000000ull,
                                           1ull << 63, ~0ull};
            entry.size = in.ConsumeBool() ? sizes[in.ConsumeIntegralInRange<std::size_t>(0, 8)]
                                          : in.ConsumeIntegral<std::uint64_t>();
            break;
        }
        case 7: entry.name_length = in.ConsumeIntegral<std::uint16_t>(); break;
        default: entry.name = pick_name(in); break;
        }
    }
}

void corrupt_bytes(FuzzedDataProvider& in, t::CfbBuilt& built) {
    Bytes& b = built.bytes;
    const t::CfbLayout& layout = built.layout;
    std::size_t edits = in.ConsumeIntegralInRange<std::size_t>(0, 4);
    for (std::size_t e = 0; e < edits; ++e) {
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0: {  // a FAT entry: loops, ends, jumps out of the file
            std::size_t covered = layout.fat_sectors.size() * (layout.sector_size / 4);
            std::size_t limit = std::min(covered, layout.sector_count);
            if (limit == 0) break;
            auto sector = in.ConsumeIntegralInRange<std::uint32_t>(0, static_cast<std::uint32_t>(limit - 1));
            t::put_u32(b, layout.fat_entry_offset(sector), pick_sector(in, layout.sector_count));
            break;
        }
        case 1: {  // the next link of a DIFAT sector, or the header's first one
            if (layout.difat_sectors.empty() || in.ConsumeBool()) {
                t::put_u32(b, t::cfb_header::first_difat_sector, pick_sector(in, layout.sector_count));
            } else {
                std::size_t i = in.ConsumeIntegralInRange<std::size_t>(0, layout.difat_sectors.size() - 1);
                t::put_u32(b, layout.difat_next_offset(i), pick_sector(in, layout.sector_count));
            }
            break;
        }
        case 2: {  // a header field
            const std::size_t fields[] = {
                t::cfb_header::minor_version, t::cfb_header::major_version,
                t::cfb_header::byte_order, t::cfb_header::sector_shift,
                t::cfb_header::mini_sector_shift, t::cfb_header::directory_sectors,
                t::cfb_header::fat_sectors, t::cfb_header::first_directory_sector,
                t::cfb_header::mini_cutoff, t::cfb_header::first_mini_fat_sector,
                t::cfb_header::mini_fat_sectors, t::cfb_header::difat_sectors,
                t::cfb_header::difat + 4 * in.ConsumeIntegralInRange<std::size_t>(0, 108)};
            std::size_t at = fields[in.ConsumeIntegralInRange<std::size_t>(0, std::size(fields) - 1)];
            if (at + 4 <= b.size()) {
                if (in.ConsumeBool())
                    t::put_u16(b, at, in.ConsumeIntegral<std::uint16_t>());
                else
                    t::put_u32(b, at, pick_sector(in, layout.sector_count));
            }
            break;
        }
        case 3: {  // a mini FAT entry
            std::size_t covered = layout.mini_fat_chain.size() * (layout.sector_size / 4);
            if (covered == 0) break;
            auto mini = in.ConsumeIntegralInRange<std::uint32_t>(0, static_cast<std::uint32_t>(covered - 1));
            t::put_u32(b, layout.mini_fat_entry_offset(mini), pick_sector(in, 64));
            break;
        }
        default: {  // any byte
            if (b.empty()) break;
            b[in.ConsumeIntegralInRange<std::size_t>(0, b.size() - 1)] = in.ConsumeIntegral<std::uint8_t>();
            break;
        }
        }
    }
    if (one_in(in, 6) && b.size() > 8)
        b.resize(in.ConsumeIntegralInRange<std::size_t>(8, b.size()));  // a truncated download
}

void use_cfb_directly(FuzzedDataProvider& in, const Bytes& bytes) {
    auto file = pinbook::cfb::File::open(bytes);
    if (!file) {
        if (file.error().message.empty()) pinbook::fuzz::fail("cfb error without a message");
        return;
    }
    std::vector<std::string> paths;
    for (const auto& entry : file->list_root()) {
        paths.push_back("/" + entry.name);
        paths.push_back("/" + entry.name + "/Data");
    }
    paths.push_back(in.ConsumeRandomLengthString(40));
    for (const auto& path : paths) {
        auto stream = file->open_stream(path);
        if (!stream) continue;
        auto content = file->read(*stream);
        if (content && content->size() != stream->size)
            pinbook::fuzz::fail("read gave a size other than the entry states", path);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    t::CfbOptions options;
    options.version = one_in(in, 8) ? 4 : 3;
    if (one_in(in, 8)) options.mini_cutoff = in.ConsumeIntegralInRange<std::uint32_t>(0, 8192);
    if (one_in(in, 8)) options.min_fat_sectors = in.ConsumeIntegralInRange<std::size_t>(0, 112);
    options.shuffle = in.ConsumeBool();
    options.shape = static_cast<t::CfbShape>(in.ConsumeIntegralInRange<int>(0, 2));

    t::CfbNode root = random_tree(in);
    std::vector<t::CfbEntry> entries = t::flatten_cfb(root, options);
    corrupt_entries(in, entries);
    t::CfbBuilt built = t::build_cfb_layout(entries, options);
    corrupt_bytes(in, built);

    auto parsed = pinbook::parse_pinbook_bytes(built.bytes);
    if (parsed) {
        pinbook::fuzz::check_component(*parsed);
        const auto& name = (*parsed)["module_name"];
        pinbook::fuzz::check_writers(*parsed, name.is_string() ? name.get_ref<const std::string&>() : "SYM");
    } else if (parsed.error().message.empty()) {
        pinbook::fuzz::fail("error value without a message");
    }
    use_cfb_directly(in, built.bytes);
    return 0;
}
