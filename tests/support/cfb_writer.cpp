#include "support/cfb_writer.hpp"

#include <unicode/ustring.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <utility>

namespace pinbook::test {
namespace {

constexpr std::size_t kEntrySize = 128;
constexpr std::size_t kMiniSectorSize = 64;
constexpr std::size_t kHeaderDifat = 109;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "cfb_writer: %s\n", what.c_str());
    std::abort();
}

std::size_t ceil_div(std::size_t a, std::size_t b) { return (a + b - 1) / b; }

std::u16string upper(const std::u16string& s) {
    std::u16string out(s.size() * 3 + 4, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = u_strToUpper(out.data(), static_cast<int32_t>(out.size()), s.data(),
                             static_cast<int32_t>(s.size()), "", &status);
    if (U_FAILURE(status)) fail("u_strToUpper failed");
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// Links the sibling tree of `kids` (entry indices) and returns its top.
std::uint32_t link_siblings(std::vector<CfbEntry>& entries, std::vector<std::uint32_t> kids,
                            CfbShape shape) {
    if (kids.empty()) return kCfbNoStream;
    // Sort by (length, uppercase form), the uppercase forms made once.
    std::vector<std::pair<std::size_t, std::u16string>> keys;
    for (std::uint32_t k : kids) keys.emplace_back(k, upper(entries[k].name));
    std::stable_sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
        const auto& na = entries[a.first].name;
        const auto& nb = entries[b.first].name;
        if (na.size() != nb.size()) return na.size() < nb.size();
        return u_strCompare(a.second.data(), static_cast<int32_t>(a.second.size()), b.second.data(),
                            static_cast<int32_t>(b.second.size()), true) < 0;
    });
    for (std::size_t i = 0; i < kids.size(); ++i) kids[i] = static_cast<std::uint32_t>(keys[i].first);
    switch (shape) {
    case CfbShape::right_chain:
        for (std::size_t i = 0; i + 1 < kids.size(); ++i) entries[kids[i]].right = kids[i + 1];
        return kids.front();
    case CfbShape::left_chain:
        for (std::size_t i = 1; i < kids.size(); ++i) entries[kids[i]].left = kids[i - 1];
        return kids.back();
    case CfbShape::balanced:
        break;
    }
    std::function<std::uint32_t(std::size_t, std::size_t)> build = [&](std::size_t lo,
                                                                        std::size_t hi) {
        if (lo >= hi) return kCfbNoStream;
        std::size_t mid = lo + (hi - lo) / 2;
        std::uint32_t l = build(lo, mid);
        std::uint32_t r = build(mid + 1, hi);
        entries[kids[mid]].left = l;
        entries[kids[mid]].right = r;
        return kids[mid];
    };
    return build(0, kids.size());
}

void flatten_into(const CfbNode& node, std::uint32_t index, std::vector<CfbEntry>& entries,
                  const CfbOptions& options) {
    std::vector<std::uint32_t> kids;
    for (const CfbNode& c : node.children) {
        auto i = static_cast<std::uint32_t>(entries.size());
        CfbEntry e;
        e.name = c.name;
        e.type = c.is_storage ? kCfbStorage : kCfbStream;
        e.data = c.data;
        e.placement = c.placement;
        entries.push_back(std::move(e));
        kids.push_back(i);
        if (c.is_storage) flatten_into(c, i, entries, options);
    }
    std::uint32_t top = link_siblings(entries, kids, options.shape);
    entries[index].child = top;
}

}  // namespace

std::u16string cfb_utf16(std::string_view s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        std::uint32_t cp;
        std::size_t n;
        if (b < 0x80) {
            cp = b;
            n = 1;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            n = 2;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            n = 3;
        } else {
            cp = b & 0x07;
            n = 4;
        }
        if (i + n > s.size()) fail("cfb_utf16: truncated UTF-8");
        for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

bool cfb_name_less(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    std::u16string ua = upper(a), ub = upper(b);
    return u_strCompare(ua.data(), static_cast<int32_t>(ua.size()), ub.data(),
                        static_cast<int32_t>(ub.size()), true) < 0;
}

CfbNode cfb_storage(std::u16string name, std::vector<CfbNode> children) {
    CfbNode n;
    n.is_storage = true;
    n.name = std::move(name);
    n.children = std::move(children);
    return n;
}

CfbNode cfb_storage(std::string_view name, std::vector<CfbNode> children) {
    return cfb_storage(cfb_utf16(name), std::move(children));
}

CfbNode cfb_stream(std::u16string name, Bytes data, CfbPlacement placement) {
    CfbNode n;
    n.name = std::move(name);
    n.data = std::move(data);
    n.placement = placement;
    return n;
}

CfbNode cfb_stream(std::string_view name, Bytes data, CfbPlacement placement) {
    return cfb_stream(cfb_utf16(name), std::move(data), placement);
}

CfbNode cfb_stream(std::string_view name, std::string_view data, CfbPlacement placement) {
    return cfb_stream(cfb_utf16(name), Bytes(data.begin(), data.end()), placement);
}

CfbNode cfb_root(std::vector<CfbNode> children) {
    return cfb_storage(u"Root Entry", std::move(children));
}

std::vector<CfbEntry> flatten_cfb(const CfbNode& root, const CfbOptions& options) {
    std::vector<CfbEntry> entries(1);
    entries[0].name = root.name;
    entries[0].type = kCfbRoot;
    flatten_into(root, 0, entries, options);
    return entries;
}

std::uint32_t cfb_find(const std::vector<CfbEntry>& entries, std::string_view path) {
    std::uint32_t at = 0;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t slash = path.find('/', pos);
        if (slash == std::string_view::npos) slash = path.size();
        std::u16string want = cfb_utf16(path.substr(pos, slash - pos));
        pos = slash + 1;
        std::vector<std::uint32_t> stack{entries.at(at).child};
        std::vector<bool> seen(entries.size());
        std::uint32_t found = kCfbNoStream;
        while (!stack.empty() && found == kCfbNoStream) {
            std::uint32_t i = stack.back();
            stack.pop_back();
            if (i >= entries.size() || seen[i]) continue;
            seen[i] = true;
            if (entries[i].name == want) found = i;
            stack.push_back(entries[i].left);
            stack.push_back(entries[i].right);
        }
        if (found == kCfbNoStream) fail("cfb_find: no entry " + std::string(path));
        at = found;
    }
    return at;
}

std::size_t CfbLayout::sector_offset(std::uint32_t sector) const {
    return header_size + static_cast<std::size_t>(sector) * sector_size;
}

std::size_t CfbLayout::fat_entry_offset(std::uint32_t sector) const {
    std::size_t per = sector_size / 4;
    std::size_t which = sector / per;
    if (which >= fat_sectors.size()) fail("fat_entry_offset: no FAT sector for that entry");
    return sector_offset(fat_sectors[which]) + (sector % per) * 4;
}

std::size_t CfbLayout::mini_fat_entry_offset(std::uint32_t mini_sector) const {
    std::size_t per = sector_size / 4;
    std::size_t which = mini_sector / per;
    if (which >= mini_fat_chain.size()) fail("mini_fat_entry_offset: no mini FAT sector");
    return sector_offset(mini_fat_chain[which]) + (mini_sector % per) * 4;
}

std::size_t CfbLayout::entry_offset(std::uint32_t entry) const {
    std::size_t per = sector_size / kEntrySize;
    std::size_t which = entry / per;
    if (which >= directory_chain.size()) fail("entry_offset: no directory sector");
    return sector_offset(directory_chain[which]) + (entry % per) * kEntrySize;
}

std::size_t CfbLayout::difat_next_offset(std::size_t i) const {
    return sector_offset(difat_sectors.at(i)) + sector_size - 4;
}

void put_u16(Bytes& b, std::size_t o, std::uint16_t v) {
    if (o + 2 > b.size()) fail("put_u16 outside the file");
    b[o] = static_cast<std::uint8_t>(v);
    b[o + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put_u32(Bytes& b, std::size_t o, std::uint32_t v) {
    if (o + 4 > b.size()) fail("put_u32 outside the file");
    for (int k = 0; k < 4; ++k) b[o + k] = static_cast<std::uint8_t>(v >> (8 * k));
}

void put_u64(Bytes& b, std::size_t o, std::uint64_t v) {
    if (o + 8 > b.size()) fail("put_u64 outside the file");
    for (int k = 0; k < 8; ++k) b[o + k] = static_cast<std::uint8_t>(v >> (8 * k));
}

CfbBuilt build_cfb_layout(const std::vector<CfbEntry>& entries, const CfbOptions& options) {
    if (entries.empty()) fail("build_cfb_layout: no entries");
    if (options.version != 3 && options.version != 4) fail("build_cfb_layout: version 3 or 4");
    CfbBuilt built;
    CfbLayout& L = built.layout;
    const std::size_t ss = options.version == 3 ? 512 : 4096;
    const std::size_t per = ss / 4;
    L.sector_size = ss;
    L.header_size = ss;
    const std::size_t n = entries.size();
    L.chains.assign(n, {});
    L.in_mini.assign(n, false);

    // Mini placement and the mini stream.
    std::vector<bool> has_data(n, false);
    std::size_t mini_total = 0;  // mini sectors
    for (std::size_t i = 0; i < n; ++i) {
        const CfbEntry& e = entries[i];
        if (e.type != kCfbStream || e.data.empty()) continue;
        has_data[i] = true;
        bool mini = e.placement == CfbPlacement::mini ||
                    (e.placement == CfbPlacement::automatic && e.data.size() < options.mini_cutoff);
        L.in_mini[i] = mini;
        if (mini) {
            std::size_t k = ceil_div(e.data.size(), kMiniSectorSize);
            for (std::size_t s = 0; s < k; ++s) L.chains[i].push_back(static_cast<std::uint32_t>(mini_total + s));
            mini_total += k;
        }
    }

    // Regular sector counts in logical order: directory, mini FAT, mini
    // stream, streams.
    const std::size_t dir_sectors = std::max<std::size_t>(1, ceil_div(n * kEntrySize, ss));
    const std::size_t minifat_sectors = ceil_div(mini_total * 4, ss);
    const std::size_t ministream_sectors = ceil_div(mini_total * kMiniSectorSize, ss);
    std::size_t data_sectors = dir_sectors + minifat_sectors + ministream_sectors;
    for (std::size_t i = 0; i < n; ++i)
        if (has_data[i] && !L.in_mini[i]) data_sectors += ceil_div(entries[i].data.size(), ss);

    auto difat_for = [&](std::size_t f) {
        return f > kHeaderDifat ? ceil_div(f - kHeaderDifat, per - 1) : 0;
    };
    std::size_t fat = 1;
    while (fat * per < data_sectors + fat + difat_for(fat)) ++fat;
    fat = std::max(fat, options.min_fat_sectors);
    const std::size_t difat = difat_for(fat);
    const std::size_t total = data_sectors + fat + difat;
    L.sector_count = total;

    // Logical sector i is written at physical id perm[i].
    std::vector<std::uint32_t> perm(total);
    std::iota(perm.begin(), perm.end(), 0u);
    if (options.shuffle) {
        std::uint64_t state = 0x9E3779B97F4A7C15ull;
        for (std::size_t i = total; i > 1; --i) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            std::swap(perm[i - 1], perm[(state >> 33) % i]);
        }
    }
    std::size_t next = 0;
    auto take = [&](std::size_t count) {
        std::vector<std::uint32_t> c;
        for (std::size_t k = 0; k < count; ++k) c.push_back(perm[next++]);
        return c;
    };
    L.fat_sectors = take(fat);
    L.difat_sectors = take(difat);
    L.directory_chain = take(dir_sectors);
    L.mini_fat_chain = take(minifat_sectors);
    L.mini_stream_chain = take(ministream_sectors);
    L.chains[0] = L.mini_stream_chain;
    for (std::size_t i = 0; i < n; ++i)
        if (has_data[i] && !L.in_mini[i]) L.chains[i] = take(ceil_div(entries[i].data.size(), ss));

    Bytes& out = built.bytes;
    out.assign(L.header_size + total * ss, 0);

    // FAT.
    std::vector<std::uint32_t> fatv(fat * per, kCfbFreeSect);
    for (auto s : L.fat_sectors) fatv[s] = kCfbFatSect;
    for (auto s : L.difat_sectors) fatv[s] = kCfbDifSect;
    auto chain_fat = [&](const std::vector<std::uint32_t>& c) {
        for (std::size_t k = 0; k < c.size(); ++k)
            fatv[c[k]] = k + 1 < c.size() ? c[k + 1] : kCfbEndOfChain;
    };
    chain_fat(L.directory_chain);
    chain_fat(L.mini_fat_chain);
    chain_fat(L.mini_stream_chain);
    for (std::size_t i = 1; i < n; ++i)
        if (has_data[i] && !L.in_mini[i]) chain_fat(L.chains[i]);
    for (std::size_t k = 0; k < fatv.size(); ++k)
        put_u32(out, L.sector_offset(L.fat_sectors[k / per]) + (k % per) * 4, fatv[k]);

    // Mini FAT and mini stream.
    std::vector<std::uint32_t> minifat(minifat_sectors * per, kCfbFreeSect);
    for (std::size_t i = 1; i < n; ++i) {
        if (!L.in_mini[i]) continue;
        const auto& c = L.chains[i];
        for (std::size_t k = 0; k < c.size(); ++k)
            minifat[c[k]] = k + 1 < c.size() ? c[k + 1] : kCfbEndOfChain;
        for (std::size_t b = 0; b < entries[i].data.size(); ++b) {
            std::size_t pos = c[b / kMiniSectorSize] * kMiniSectorSize + b % kMiniSectorSize;
            out[L.sector_offset(L.mini_stream_chain[pos / ss]) + pos % ss] = entries[i].data[b];
        }
    }
    for (std::size_t k = 0; k < minifat.size(); ++k)
        put_u32(out, L.sector_offset(L.mini_fat_chain[k / per]) + (k % per) * 4, minifat[k]);

    // Regular stream data.
    for (std::size_t i = 1; i < n; ++i) {
        if (!has_data[i] || L.in_mini[i]) continue;
        const auto& d = entries[i].data;
        for (std::size_t b = 0; b < d.size(); ++b)
            out[L.sector_offset(L.chains[i][b / ss]) + b % ss] = d[b];
    }

    // DIFAT sectors: per - 1 entries, then the next DIFAT sector.
    for (std::size_t k = 0; k < difat; ++k) {
        std::size_t base = L.sector_offset(L.difat_sectors[k]);
        for (std::size_t j = 0; j + 1 < per; ++j) {
            std::size_t idx = kHeaderDifat + k * (per - 1) + j;
            put_u32(out, base + j * 4, idx < fat ? L.fat_sectors[idx] : kCfbFreeSect);
        }
        put_u32(out, base + ss - 4, k + 1 < difat ? L.difat_sectors[k + 1] : kCfbEndOfChain);
    }

    // Directory.
    const std::size_t dir_slots = dir_sectors * ss / kEntrySize;
    for (std::size_t i = 0; i < dir_slots; ++i) {
        std::size_t o = L.entry_offset(static_cast<std::uint32_t>(i));
        if (i >= n) {
            put_u32(out, o + cfb_dir::left, kCfbNoStream);
            put_u32(out, o + cfb_dir::right, kCfbNoStream);
            put_u32(out, o + cfb_dir::child, kCfbNoStream);
            continue;
        }
        const CfbEntry& e = entries[i];
        std::size_t units = std::min<std::size_t>(e.name.size(), 32);
        for (std::size_t k = 0; k < units; ++k) put_u16(out, o + 2 * k, e.name[k]);
        put_u16(out, o + cfb_dir::name_length,
                e.name_length ? *e.name_length : static_cast<std::uint16_t>((e.name.size() + 1) * 2));
        out[o + cfb_dir::type] = e.type;
        out[o + cfb_dir::colour] = e.colour;
        put_u32(out, o + cfb_dir::left, e.left);
        put_u32(out, o + cfb_dir::right, e.right);
        put_u32(out, o + cfb_dir::child, e.child);
        std::uint32_t start = 0;
        std::uint64_t size = 0;
        if (i == 0) {
            start = mini_total ? L.mini_stream_chain.front() : kCfbEndOfChain;
            size = mini_total * kMiniSectorSize;
        } else if (e.type == kCfbStream) {
            start = has_data[i] ? L.chains[i].front() : kCfbEndOfChain;
            size = e.data.size();
        }
        put_u32(out, o + cfb_dir::start, e.start ? *e.start : start);
        put_u64(out, o + cfb_dir::size, e.size ? *e.size : size);
    }

    // Header.
    static constexpr std::uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(std::begin(sig), std::end(sig), out.begin());
    put_u16(out, cfb_header::minor_version, 0x003E);
    put_u16(out, cfb_header::major_version, static_cast<std::uint16_t>(options.version));
    put_u16(out, cfb_header::byte_order, 0xFFFE);
    put_u16(out, cfb_header::sector_shift, options.version == 3 ? 9 : 12);
    put_u16(out, cfb_header::mini_sector_shift, 6);
    put_u32(out, cfb_header::directory_sectors,
            options.version == 3 ? 0 : static_cast<std::uint32_t>(dir_sectors));
    put_u32(out, cfb_header::fat_sectors, static_cast<std::uint32_t>(fat));
    put_u32(out, cfb_header::first_directory_sector, L.directory_chain.front());
    put_u32(out, cfb_header::mini_cutoff, options.mini_cutoff);
    put_u32(out, cfb_header::first_mini_fat_sector,
            minifat_sectors ? L.mini_fat_chain.front() : kCfbEndOfChain);
    put_u32(out, cfb_header::mini_fat_sectors, static_cast<std::uint32_t>(minifat_sectors));
    put_u32(out, cfb_header::first_difat_sector, difat ? L.difat_sectors.front() : kCfbEndOfChain);
    put_u32(out, cfb_header::difat_sectors, static_cast<std::uint32_t>(difat));
    for (std::size_t k = 0; k < kHeaderDifat; ++k)
        put_u32(out, cfb_header::difat + 4 * k, k < fat ? L.fat_sectors[k] : kCfbFreeSect);
    return built;
}

Bytes build_cfb(const std::vector<CfbEntry>& entries, const CfbOptions& options) {
    return build_cfb_layout(entries, options).bytes;
}

Bytes build_cfb(const CfbNode& root, const CfbOptions& options) {
    return build_cfb_layout(flatten_cfb(root, options), options).bytes;
}

}  // namespace pinbook::test
