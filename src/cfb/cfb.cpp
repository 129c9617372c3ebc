// The compound-file reader. It works on the caller's buffer without copying:
// the header gives the sector size, the buffer's length the sector count;
// the FAT (found through the header's DIFAT entries and the DIFAT sectors),
// the directory and the mini FAT are read at open, and the whole directory
// tree reachable from the root is checked there, so that listing and lookup
// need no further checks. Stream contents are read on demand.
//
// Every walk is iterative and every chain is followed at most once per
// sector, with a mark per sector, so that no input can loop or recurse; every
// size is checked against what the buffer can hold before anything of that
// size is allocated.
#include "cfb/cfb.hpp"

#include <unicode/ustring.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <type_traits>
#include <utility>

namespace pinbook::cfb {
namespace {

constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
constexpr std::uint32_t kMaxRegSect = 0xFFFFFFFA;  // ids from here on are markers

constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kHeaderDifat = 109;
constexpr std::size_t kEntrySize = 128;
constexpr std::size_t kMiniSectorSize = 64;
// Streams shorter than this live in the mini stream. The header states the
// cutoff too, but the format fixes it at 4096, so the header's is not used.
constexpr std::uint64_t kMiniCutoff = 4096;
constexpr std::size_t kMaxNameUnits = 31;

constexpr std::uint8_t kTypeStorage = 1;
constexpr std::uint8_t kTypeStream = 2;
constexpr std::uint8_t kTypeRoot = 5;

const std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

std::uint16_t get_u16(std::span<const std::uint8_t> b, std::size_t o) {
    return static_cast<std::uint16_t>(b[o] | (b[o + 1] << 8));
}

std::uint32_t get_u32(std::span<const std::uint8_t> b, std::size_t o) {
    return static_cast<std::uint32_t>(b[o]) | (static_cast<std::uint32_t>(b[o + 1]) << 8) |
           (static_cast<std::uint32_t>(b[o + 2]) << 16) | (static_cast<std::uint32_t>(b[o + 3]) << 24);
}

std::uint64_t get_u64(std::span<const std::uint8_t> b, std::size_t o) {
    return get_u32(b, o) | (static_cast<std::uint64_t>(get_u32(b, o + 4)) << 32);
}

// Message building without <format> (not in this compiler's library).
void append(std::string& s, std::string_view v) { s += v; }
void append(std::string& s, const char* v) { s += v; }
void append(std::string& s, const std::string& v) { s += v; }
template <class T>
    requires std::is_integral_v<T>
void append(std::string& s, T v) {
    s += std::to_string(v);
}

template <class... A>
std::string text(const A&... a) {
    std::string s;
    (append(s, a), ...);
    return s;
}

template <class... A>
std::unexpected<Error> fail(const A&... a) {
    return std::unexpected(Error{text(a...)});
}

std::string hex(std::uint32_t v, int digits) {
    static const char* d = "0123456789ABCDEF";
    std::string s = "0x";
    for (int i = digits - 1; i >= 0; --i) s += d[(v >> (4 * i)) & 0xF];
    return s;
}

// A sector id as text: the number, or the marker's name.
std::string sector_text(std::uint32_t s) {
    switch (s) {
    case kFreeSect: return "FREESECT";
    case kEndOfChain: return "ENDOFCHAIN";
    case kFatSect: return "FATSECT";
    case kDifSect: return "DIFSECT";
    default: break;
    }
    if (s > kMaxRegSect) return text("reserved id ", hex(s, 8));
    return std::to_string(s);
}

// Text for a message in double quotes: control characters, quotes and
// backslashes escaped, so that a message stays one line.
std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            out += "\\x";
            out += "0123456789ABCDEF"[u >> 4];
            out += "0123456789ABCDEF"[u & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// UTF-16 (already checked to be valid) to UTF-8.
std::string utf8_of(std::u16string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::uint32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

// UTF-8 to UTF-16; each ill-formed sequence becomes U+FFFD (such a name can
// match no directory entry, whose names are valid UTF-16).
std::u16string utf16_of(std::string_view s) {
    std::u16string out;
    std::size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = 0;
        std::size_t n = 0;
        std::uint32_t min = 0;
        if (b < 0x80) {
            out += static_cast<char16_t>(b);
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            cp = b & 0x1F, n = 2, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            cp = b & 0x0F, n = 3, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            cp = b & 0x07, n = 4, min = 0x10000;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k < n && i + k < s.size(); ++k) {
            auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) break;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (k < n || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out += u'\uFFFD';
            i += std::max<std::size_t>(1, k);
            continue;
        }
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

// The full Unicode uppercase form (ß becomes SS), root locale.
std::u16string upper(std::u16string_view s) {
    std::u16string out(s.size() * 3 + 1, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t n = u_strToUpper(out.data(), static_cast<int32_t>(out.size()), s.data(),
                                 static_cast<int32_t>(s.size()), "", &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.assign(static_cast<std::size_t>(n) + 1, u'\0');
            continue;
        }
        if (U_FAILURE(status)) break;
        out.resize(static_cast<std::size_t>(n));
        return out;
    }
    return std::u16string(s);  // not reached for valid UTF-16
}

// Name order: fewer code units first; then the uppercase forms, code point
// by code point. `ua` and `ub` are the uppercase forms of `a` and `b`.
int compare_names(std::u16string_view a, const std::u16string& ua, std::u16string_view b,
                  const std::u16string& ub) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    int c = u_strCompare(ua.data(), static_cast<int32_t>(ua.size()), ub.data(),
                         static_cast<int32_t>(ub.size()), true);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// Why a directory name is refused, or nothing.
std::optional<std::string> name_fault(std::u16string_view name) {
    if (name.size() > kMaxNameUnits)
        return text("is ", name.size(), " UTF-16 code units long, more than ", kMaxNameUnits);
    for (std::size_t i = 0; i < name.size(); ++i) {
        char16_t c = name[i];
        if (c == u'/' || c == u'\\' || c == u':' || c == u'!')
            return text("holds the character ", quoted(std::string(1, static_cast<char>(c))),
                        " at code unit ", i);
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
                ++i;
                continue;
            }
            return text("is not valid UTF-16: unpaired high surrogate ", hex(c, 4), " at code unit ", i);
        }
        if (c >= 0xDC00 && c <= 0xDFFF)
            return text("is not valid UTF-16: unpaired low surrogate ", hex(c, 4), " at code unit ", i);
    }
    return std::nullopt;
}

// Follows `table` from `start`. With `want`, takes exactly that many links
// (a longer chain is cut there) and fails when the chain ends sooner;
// without, takes the chain to its ENDOFCHAIN. Ids must be below `bound`;
// `space` and `unit` name what the ids count ("file"/"sector", ...).
std::expected<std::vector<std::uint32_t>, Error> follow(const std::vector<std::uint32_t>& table,
                                                         std::uint64_t bound, std::uint32_t start,
                                                         std::optional<std::uint64_t> want,
                                                         const std::string& what,
                                                         std::string_view space, std::string_view unit) {
    bound = std::min<std::uint64_t>(bound, table.size());
    std::vector<std::uint32_t> out;
    if (want) out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(*want, bound)));
    std::vector<bool> seen(static_cast<std::size_t>(bound), false);
    std::uint32_t at = start;
    std::optional<std::uint32_t> prev;
    while (!want || out.size() < *want) {
        if (at == kEndOfChain) {
            if (!want) break;
            return fail(what, " ends after ", out.size(), " of the ", *want, " ", unit, "s it needs");
        }
        if (at >= bound) {
            if (at >= kMaxRegSect) {
                if (prev)
                    return fail(what, " runs into ", sector_text(at), " after ", unit, " ", *prev);
                return fail(what, " starts at ", sector_text(at));
            }
            return fail(what, " leaves the ", space, " at ", unit, " ", at, " of ", bound);
        }
        if (seen[at]) return fail(what, " loops back to ", unit, " ", at);
        seen[at] = true;
        out.push_back(at);
        prev = at;
        at = table[at];
    }
    return out;
}

}  // namespace

std::u16string File::name_of(const Node& node) const {
    std::u16string out(node.name_units, u'\0');
    for (std::size_t k = 0; k < out.size(); ++k) out[k] = static_cast<char16_t>(get_u16(buffer_, node.offset + 2 * k));
    return out;
}

std::span<const std::uint8_t> File::sector(std::uint32_t id) const {
    return buffer_.subspan(sector_size_ * (static_cast<std::size_t>(id) + 1), sector_size_);
}

std::expected<File, Error> File::open(std::span<const std::uint8_t> buffer) {
    File f;
    f.buffer_ = buffer;
    if (buffer.size() < kHeaderSize)
        return fail("file is ", buffer.size(), " bytes, shorter than the ", kHeaderSize, "-byte header");
    if (!std::equal(std::begin(kSignature), std::end(kSignature), buffer.begin()))
        return fail("header signature is not D0 CF 11 E0 A1 B1 1A E1");
    const std::uint16_t major = get_u16(buffer, 0x1A);
    if (major != 3 && major != 4) return fail("header states major version ", major, ", not 3 or 4");
    const std::uint16_t order = get_u16(buffer, 0x1C);
    if (order != 0xFFFE) return fail("header byte order mark is ", hex(order, 4), ", not 0xFFFE");
    const std::uint16_t shift = get_u16(buffer, 0x1E);
    const std::uint16_t expected_shift = major == 3 ? 9 : 12;
    if (shift != expected_shift)
        return fail("header states sector shift ", shift, " for major version ", major, ", not ",
                    expected_shift);
    const std::uint16_t mini_shift = get_u16(buffer, 0x20);
    if (mini_shift != 6) return fail("header states mini sector shift ", mini_shift, ", not 6");

    const std::size_t ss = std::size_t{1} << shift;
    f.sector_size_ = ss;
    if (buffer.size() < ss)
        return fail("file is ", buffer.size(), " bytes, shorter than its ", ss, "-byte header sector");
    // Whole sectors after the header sector; a partial last sector is not
    // part of the file.
    f.sector_count_ = static_cast<std::uint32_t>(
        std::min<std::size_t>((buffer.size() - ss) / ss, kMaxRegSect));
    const std::uint32_t count = f.sector_count_;
    const std::size_t per = ss / 4;

    // DIFAT sectors: the chain from the header, each sector once. Its end
    // may be marked ENDOFCHAIN or FREESECT; the header's count of DIFAT
    // sectors is not relied on.
    std::vector<std::uint32_t> difat;
    {
        std::vector<bool> seen(count, false);
        std::uint32_t at = get_u32(buffer, 0x44);
        while (at != kEndOfChain && at != kFreeSect) {
            if (at >= count) {
                if (at >= kMaxRegSect)
                    return fail("DIFAT chain runs into ", sector_text(at), " after ", difat.size(),
                                " DIFAT sectors");
                return fail("DIFAT chain leaves the file at sector ", at, " of ", count);
            }
            if (seen[at]) return fail("DIFAT chain loops back to sector ", at);
            seen[at] = true;
            difat.push_back(at);
            at = get_u32(f.sector(at), ss - 4);
        }
    }

    // FAT: slot k of the DIFAT names the FAT sector for sectors k * per on;
    // only the slots that cover the file's sectors are read. A slot marked
    // free leaves its range free (so a header of 0xFF bytes past the real
    // FAT sectors, as in a padded file, reads as free sectors).
    f.fat_.assign(count, kFreeSect);
    const std::size_t fat_needed = (static_cast<std::size_t>(count) + per - 1) / per;
    for (std::size_t k = 0; k < fat_needed; ++k) {
        std::uint32_t id;
        if (k < kHeaderDifat) {
            id = get_u32(buffer, 0x4C + 4 * k);
        } else {
            std::size_t j = k - kHeaderDifat;
            std::size_t d = j / (per - 1);
            if (d >= difat.size()) break;
            id = get_u32(f.sector(difat[d]), 4 * (j % (per - 1)));
        }
        if (id >= kMaxRegSect) continue;
        if (id >= count)
            return fail("DIFAT entry ", k, " names FAT sector ", id, ", past the file's ", count,
                        " sectors");
        auto s = f.sector(id);
        for (std::size_t e = 0; e < per && k * per + e < count; ++e) f.fat_[k * per + e] = get_u32(s, 4 * e);
    }

    // Directory.
    auto dir_chain = follow(f.fat_, count, get_u32(buffer, 0x30), std::nullopt, "directory chain",
                            "file", "sector");
    if (!dir_chain) return std::unexpected(dir_chain.error());
    if (dir_chain->empty()) return fail("directory chain is empty");
    const bool v3 = major == 3;
    const std::size_t per_sector = ss / kEntrySize;
    f.nodes_.resize(dir_chain->size() * per_sector);
    for (std::size_t i = 0; i < f.nodes_.size(); ++i) {
        auto s = f.sector((*dir_chain)[i / per_sector]).subspan((i % per_sector) * kEntrySize, kEntrySize);
        Node& n = f.nodes_[i];
        n.offset = static_cast<std::size_t>(s.data() - buffer.data());
        // The length field counts bytes with the terminating NUL. The name
        // ends at its first NUL within that length; a name without one is
        // taken whole. A length that is odd or over 64 bytes is not used:
        // the name then ends at its first NUL in the 64-byte field.
        const std::uint16_t length = get_u16(s, 0x40);
        std::size_t limit = (length % 2 == 0 && length <= 64) ? length / 2 : 32;
        std::size_t units = 0;
        while (units < limit && get_u16(s, 2 * units) != 0) ++units;
        n.name_units = static_cast<std::uint8_t>(units);
        n.type = s[0x42];
        n.left = get_u32(s, 0x44);
        n.right = get_u32(s, 0x48);
        n.child = get_u32(s, 0x4C);
        n.start = get_u32(s, 0x74);
        n.size = v3 ? get_u32(s, 0x78) : get_u64(s, 0x78);
    }

    // The tree reachable from the root, checked in one iterative walk: each
    // entry is admitted once (a second arrival means the links loop), must
    // be a storage or a stream with an acceptable name, and each sibling
    // link must keep the name order.
    const std::size_t n = f.nodes_.size();
    if (f.nodes_[0].type != kTypeRoot)
        return fail("entry 0 has type ", f.nodes_[0].type, ", not the root storage's type 5");
    std::vector<bool> seen(n, false);
    seen[0] = true;
    auto admit = [&](std::uint32_t id, std::uint32_t from, const char* link) -> std::optional<Error> {
        if (id >= n)
            return Error{text(link, " of entry ", from, " names entry ", id, ", past the directory's ", n,
                              " entries")};
        if (seen[id])
            return Error{text(link, " of entry ", from, " leads back to entry ", id,
                              ": the directory links loop")};
        seen[id] = true;
        const Node& e = f.nodes_[id];
        if (e.type != kTypeStorage && e.type != kTypeStream)
            return Error{text("entry ", id, " (", link, " of entry ", from, ") has type ", e.type,
                              ", neither a storage nor a stream")};
        if (auto fault = name_fault(f.name_of(e))) return Error{text("name of entry ", id, " ", *fault)};
        return std::nullopt;
    };
    std::vector<std::uint32_t> stack{0};
    while (!stack.empty()) {
        std::uint32_t x = stack.back();
        stack.pop_back();
        const Node& e = f.nodes_[x];
        if (x != 0 && (e.left != kNoStream || e.right != kNoStream)) {
            // Each name is uppercased twice at most: here, and when it is
            // compared with its parent.
            const std::u16string name = f.name_of(e);
            const std::u16string name_upper = upper(name);
            auto order = [&](std::uint32_t sibling) {
                const std::u16string other = f.name_of(f.nodes_[sibling]);
                if (other.size() != name.size()) return other.size() < name.size() ? -1 : 1;
                return compare_names(other, upper(other), name, name_upper);
            };
            if (e.left != kNoStream) {
                if (auto err = admit(e.left, x, "left sibling link")) return std::unexpected(*err);
                if (order(e.left) >= 0)
                    return fail("left sibling ", e.left, " of entry ", x,
                                " does not come before it in name order");
                stack.push_back(e.left);
            }
            if (e.right != kNoStream) {
                if (auto err = admit(e.right, x, "right sibling link")) return std::unexpected(*err);
                if (order(e.right) <= 0)
                    return fail("right sibling ", e.right, " of entry ", x,
                                " does not come after it in name order");
                stack.push_back(e.right);
            }
        }
        // A stream's child link is not part of the tree and is not followed.
        if (e.type != kTypeStream && e.child != kNoStream) {
            if (auto err = admit(e.child, x, "child link")) return std::unexpected(*err);
            stack.push_back(e.child);
        }
    }

    // Mini FAT and mini stream. Faults here are kept, not reported, until a
    // stream stored in the mini stream is read.
    const std::uint32_t mini_fat_start = get_u32(buffer, 0x3C);
    if (mini_fat_start != kEndOfChain && mini_fat_start != kFreeSect) {
        auto chain = follow(f.fat_, count, mini_fat_start, std::nullopt, "mini FAT chain", "file", "sector");
        if (!chain) {
            f.mini_error_ = chain.error().message;
        } else {
            f.mini_fat_.reserve(chain->size() * per);
            for (std::uint32_t s : *chain) {
                auto sec = f.sector(s);
                for (std::size_t e = 0; e < per; ++e) f.mini_fat_.push_back(get_u32(sec, 4 * e));
            }
        }
    }
    const Node& root = f.nodes_[0];
    if (root.size > 0 && f.mini_error_.empty()) {
        const std::uint64_t room = static_cast<std::uint64_t>(count) * ss;
        if (root.size > room) {
            f.mini_error_ = text("the root entry states a mini stream of ", root.size, " bytes, more than the ",
                                 room, " bytes of the file's sectors");
        } else {
            auto chain = follow(f.fat_, count, root.start, (root.size + ss - 1) / ss,
                                text("mini stream chain (root entry, ", root.size, " bytes)"), "file", "sector");
            if (!chain) {
                f.mini_error_ = chain.error().message;
            } else {
                f.mini_stream_ = std::move(*chain);
                f.mini_stream_size_ = root.size;
            }
        }
    }
    return f;
}

std::vector<Entry> File::list_root() const {
    std::vector<Entry> out;
    std::vector<std::uint32_t> stack;
    auto push_left_chain = [&](std::uint32_t at) {
        while (at != kNoStream) {
            stack.push_back(at);
            at = nodes_[at].left;
        }
    };
    push_left_chain(nodes_[0].child);
    while (!stack.empty()) {
        std::uint32_t at = stack.back();
        stack.pop_back();
        const Node& e = nodes_[at];
        out.push_back(Entry{utf8_of(name_of(e)), e.type == kTypeStorage});
        push_left_chain(e.right);
    }
    return out;
}

std::expected<Stream, Error> File::open_stream(std::string_view path) const {
    std::vector<std::string_view> parts;
    for (std::size_t pos = 0; pos <= path.size();) {
        std::size_t slash = std::min(path.find('/', pos), path.size());
        std::string_view part = path.substr(pos, slash - pos);
        pos = slash + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (parts.empty()) return fail("path ", quoted(path), " leaves the root storage");
            parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::uint32_t at = 0;
    std::string reached = "/";
    for (std::string_view part : parts) {
        if (nodes_[at].type == kTypeStream)
            return fail(quoted(reached), " is a stream, not a storage, in path ", quoted(path));
        const std::u16string want = utf16_of(part);
        const std::u16string want_upper = upper(want);
        std::uint32_t node = nodes_[at].child;
        while (node != kNoStream) {
            const Node& e = nodes_[node];
            const std::u16string name = name_of(e);
            int c = want.size() != name.size() ? (want.size() < name.size() ? -1 : 1)
                                               : compare_names(want, want_upper, name, upper(name));
            if (c == 0) break;
            node = c < 0 ? e.left : e.right;
        }
        if (node == kNoStream) return fail("no entry ", quoted(part), " in ", quoted(reached));
        at = node;
        if (reached.size() > 1) reached += '/';
        reached += utf8_of(name_of(nodes_[at]));
    }
    if (at == 0) return fail("path ", quoted(path), " names the root storage, not a stream");
    if (nodes_[at].type != kTypeStream) return fail(quoted(reached), " is a storage, not a stream");
    return Stream{at, nodes_[at].size};
}

std::expected<std::vector<std::uint8_t>, Error> File::read(const Stream& stream) const {
    std::vector<std::uint8_t> storage;
    auto view = read_view(stream, storage);
    if (!view) return std::unexpected(view.error());
    if (view->data() != storage.data()) storage.assign(view->begin(), view->end());
    return storage;
}

std::expected<std::span<const std::uint8_t>, Error> File::read_view(const Stream& stream,
                                                                    std::vector<std::uint8_t>& storage) const {
    if (stream.entry >= nodes_.size() || nodes_[stream.entry].type != kTypeStream)
        return fail("entry ", stream.entry, " is not a stream");
    const Node& e = nodes_[stream.entry];
    if (e.size == 0) return std::span<const std::uint8_t>{};
    return e.size < kMiniCutoff ? read_mini(stream.entry, storage) : read_regular(stream.entry, storage);
}

std::expected<std::span<const std::uint8_t>, Error> File::read_regular(std::uint32_t entry,
                                                                       std::vector<std::uint8_t>& storage) const {
    const Node& e = nodes_[entry];
    const std::uint64_t room = static_cast<std::uint64_t>(sector_count_) * sector_size_;
    if (e.size > room)
        return fail("stream ", entry, " states ", e.size, " bytes, more than the ", room,
                    " bytes of the file's sectors");
    auto chain = follow(fat_, sector_count_, e.start, (e.size + sector_size_ - 1) / sector_size_,
                        text("FAT chain of stream ", entry), "file", "sector");
    if (!chain) return std::unexpected(chain.error());
    const auto size = static_cast<std::size_t>(e.size);
    // Sectors numbered one after another lie one after another in the file:
    // then the content is a plain range of the buffer.
    bool consecutive = true;
    for (std::size_t i = 1; i < chain->size() && consecutive; ++i) consecutive = (*chain)[i] == (*chain)[0] + i;
    if (consecutive) return std::span<const std::uint8_t>(sector((*chain)[0]).data(), size);
    storage.resize(size);
    std::size_t pos = 0;
    for (std::uint32_t s : *chain) {
        std::size_t n = std::min(sector_size_, size - pos);
        std::memcpy(storage.data() + pos, sector(s).data(), n);
        pos += n;
    }
    return std::span<const std::uint8_t>(storage);
}

std::expected<std::span<const std::uint8_t>, Error> File::read_mini(std::uint32_t entry,
                                                                    std::vector<std::uint8_t>& storage) const {
    const Node& e = nodes_[entry];
    if (!mini_error_.empty())
        return fail("stream ", entry, " lies in the mini stream, which cannot be read: ", mini_error_);
    if (mini_fat_.empty())
        return fail("stream ", entry, " lies in the mini stream, but the file has no mini FAT");
    if (e.size > mini_stream_size_)
        return fail("stream ", entry, " states ", e.size, " bytes, more than the mini stream's ",
                    mini_stream_size_);
    const std::uint64_t mini_sectors = (mini_stream_size_ + kMiniSectorSize - 1) / kMiniSectorSize;
    auto chain = follow(mini_fat_, mini_sectors, e.start,
                        (e.size + kMiniSectorSize - 1) / kMiniSectorSize,
                        text("mini FAT chain of stream ", entry), "mini stream", "mini sector");
    if (!chain) return std::unexpected(chain.error());
    storage.resize(static_cast<std::size_t>(e.size));
    std::size_t pos = 0;
    for (std::uint32_t m : *chain) {
        std::size_t at = static_cast<std::size_t>(m) * kMiniSectorSize;
        std::size_t n = std::min(kMiniSectorSize, storage.size() - pos);
        std::memcpy(storage.data() + pos, sector(mini_stream_[at / sector_size_]).data() + at % sector_size_, n);
        pos += n;
    }
    return std::span<const std::uint8_t>(storage);
}

}  // namespace pinbook::cfb
