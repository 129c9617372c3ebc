// Resource bounds on hostile files: each is built with the test-side writer,
// parsed in a child process, and must give its value or its error in
// bounded time, with a peak memory within the input's size + 8 MiB of a
// baseline child that does everything but the parse.
//
// Both children are forked from this process after the input is built, so
// both start with the same resident pages; the difference of their peak
// resident sizes (wait4's ru_maxrss) is what the parse itself held at most.
// Under AddressSanitizer those figures mean nothing (shadow memory and
// quarantine), so the memory bound is then not asserted.
#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pinbook/pinbook.hpp"
#include "support/cfb_writer.hpp"
#include "support/schlib.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define PINBOOK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PINBOOK_UNDER_ASAN 1
#endif
#endif

namespace {

using namespace pinbook::test;

#ifdef PINBOOK_UNDER_ASAN
constexpr bool kMeasureMemory = false;
constexpr int kSecondsAllowed = 60;
#else
constexpr bool kMeasureMemory = true;
constexpr int kSecondsAllowed = 5;
#endif
constexpr long kSlackKiB = 8 * 1024;

// What a child reports back through its pipe.
struct Report {
    bool ok = false;
    std::string text;        // the error message, or the module name
    std::uint64_t pins = 0;  // pin_count on success
    double seconds = 0;      // time of the parse alone
};

struct Measured {
    Report report;
    long parse_rss_kib = 0;
    long baseline_rss_kib = 0;
};

// Runs one child: it parses `input` when `parse` is set, else only reads
// every page of it, and reports through a pipe. A child that outlives
// kSecondsAllowed is ended by SIGALRM, which the test reports.
Report run_child(const Bytes& input, bool parse, long& max_rss_kib) {
    // Free heap pages that are still resident would let the parse reuse
    // memory the baseline already counts; hand them back first.
    malloc_trim(0);
    int fds[2];
    if (pipe(fds) != 0) ADD_FAILURE() << "pipe: " << std::strerror(errno);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        alarm(kSecondsAllowed);
        std::string out;
        if (parse) {
            auto start = std::chrono::steady_clock::now();
            auto value = pinbook::parse_pinbook_bytes(input);
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            char head[96];
            std::snprintf(head, sizeof head, "%d %llu %.6f ", value ? 1 : 0,
                          value ? static_cast<unsigned long long>((*value)["pin_count"].get<std::uint64_t>()) : 0ull,
                          seconds);
            out = head;
            out += value ? (*value)["module_name"].get<std::string>() : value.error().message;
        } else {
            unsigned sum = 0;
            for (std::size_t i = 0; i < input.size(); i += 4096) sum += input[i];
            out = "0 0 0 baseline ";
            out += std::to_string(sum);
        }
        std::size_t done = 0;
        while (done < out.size()) {
            ssize_t n = write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0) _exit(3);
            done += static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string got;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) got.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFSIGNALED(status) ? "child ended by signal " + std::to_string(WTERMSIG(status))
                                : "child status " + std::to_string(WEXITSTATUS(status)));
    max_rss_kib = usage.ru_maxrss;

    Report r;
    int ok = 0;
    int used = 0;
    unsigned long long pins = 0;
    if (std::sscanf(got.c_str(), "%d %llu %lf %n", &ok, &pins, &r.seconds, &used) >= 3) {
        r.ok = ok == 1;
        r.pins = pins;
        r.text = got.substr(static_cast<std::size_t>(used));
    }
    return r;
}

Measured measure(const Bytes& input) {
    Measured m;
    run_child(input, false, m.baseline_rss_kib);
    m.report = run_child(input, true, m.parse_rss_kib);
    long allowed = static_cast<long>(input.size() / 1024) + kSlackKiB;
    long used = m.parse_rss_kib - m.baseline_rss_kib;
    std::printf("[ figures  ] input %zu KiB, parse %.4f s, peak above baseline %ld KiB (allowed %ld), %s: %s\n",
                input.size() / 1024, m.report.seconds, used, allowed, m.report.ok ? "value" : "error",
                m.report.text.c_str());
    EXPECT_LT(m.report.seconds, kSecondsAllowed);
    if (kMeasureMemory) {
        EXPECT_LE(used, allowed) << "peak memory above the bound";
    }
    return m;
}

// A component storage "C" whose "Data" stream holds one pin, then zeros up
// to `size` bytes (at 4096 bytes or more it lies in regular sectors).
CfbNode library_tree(std::size_t size = 2048, CfbPlacement placement = CfbPlacement::automatic) {
    Bytes data = concat({text_record("|RECORD=1|ComponentDescription=Hostile|"),
                         pin_record(0, 30, -10, 20, "IN", "1"), end_record()});
    data.resize(size, 0);
    return cfb_root({cfb_storage("C", {cfb_stream("Data", data, placement)})});
}

TEST(ResourceBounds, StreamSizeOfTwoToThe63WithOneSectorChain) {
    for (int version : {3, 4}) {
        SCOPED_TRACE("version " + std::to_string(version));
        CfbOptions options{.version = version};
        // One sector's worth in a regular sector, then the size raised.
        std::vector<CfbEntry> entries = flatten_cfb(library_tree(512, CfbPlacement::regular), options);
        entries[cfb_find(entries, "C/Data")].size = std::uint64_t{1} << 63;
        Bytes file = build_cfb(entries, options);
        Measured m = measure(file);
        // Version 3 files keep only the low 32 bits of a stream size (here
        // 0), so the stream may also read as empty; both end in an error.
        EXPECT_FALSE(m.report.ok) << m.report.text;
        EXPECT_FALSE(m.report.text.empty());
    }
}

TEST(ResourceBounds, FatChainThatLoops) {
    // The directory's chain led back from its end to its start; the stream's
    // 8-sector chain (4096 bytes: the smallest size kept out of the mini
    // stream) led back from its second sector to its first.
    {
        SCOPED_TRACE("directory chain");
        CfbBuilt built = build_cfb_layout(flatten_cfb(library_tree()));
        const auto& chain = built.layout.directory_chain;
        put_u32(built.bytes, built.layout.fat_entry_offset(chain.back()), chain.front());
        Measured m = measure(built.bytes);
        EXPECT_FALSE(m.report.ok) << m.report.text;
    }
    {
        SCOPED_TRACE("stream chain");
        std::vector<CfbEntry> entries = flatten_cfb(library_tree(8 * 512));
        std::uint32_t data = cfb_find(entries, "C/Data");
        CfbBuilt built = build_cfb_layout(entries);
        const auto& chain = built.layout.chains[data];
        ASSERT_EQ(chain.size(), 8u);
        put_u32(built.bytes, built.layout.fat_entry_offset(chain[1]), chain[0]);
        Measured m = measure(built.bytes);
        EXPECT_FALSE(m.report.ok) << m.report.text;
    }
}

TEST(ResourceBounds, DifatThatLoops) {
    // Enough FAT sectors for two DIFAT sectors; the last one leads back to
    // the first, and the header's count is raised to claim many more.
    for (bool raised_count : {false, true}) {
        SCOPED_TRACE(raised_count ? "count raised" : "count kept");
        CfbOptions options{.min_fat_sectors = 109 + 2 * 127};
        CfbBuilt built = build_cfb_layout(flatten_cfb(library_tree(), options), options);
        const auto& difat = built.layout.difat_sectors;
        ASSERT_GE(difat.size(), 2u);
        put_u32(built.bytes, built.layout.difat_next_offset(difat.size() - 1), difat.front());
        if (raised_count) put_u32(built.bytes, cfb_header::difat_sectors, 0x00FFFFFF);
        Measured m = measure(built.bytes);
        // Every FAT sector is found before the loop closes, so a reader may
        // read the file; if it does, it reads it right.
        if (m.report.ok) {
            EXPECT_EQ(m.report.text, "C");
            EXPECT_EQ(m.report.pins, 1u);
        }
    }
}

CfbNode directory_of_100000() {
    std::vector<CfbNode> children;
    children.reserve(100'000);
    children.push_back(cfb_storage("A", {cfb_stream("Data", concat({pin_record(0, 30, -10, 20, "IN", "1")}))}));
    for (int i = 1; i < 100'000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "S%06d", i);
        children.push_back(cfb_stream(std::string_view(name), Bytes{}));
    }
    return cfb_root(std::move(children));
}

TEST(ResourceBounds, DirectoryOf100000EntriesInAListShapedTree) {
    CfbNode root = directory_of_100000();
    for (CfbShape shape : {CfbShape::right_chain, CfbShape::left_chain}) {
        SCOPED_TRACE(shape == CfbShape::right_chain ? "right chain" : "left chain");
        Bytes file = build_cfb(root, {.shape = shape});
        Measured m = measure(file);
        EXPECT_TRUE(m.report.ok) << m.report.text;
        EXPECT_EQ(m.report.text, "A");
        EXPECT_EQ(m.report.pins, 1u);
    }
}

TEST(ResourceBounds, Valid64MiBLibrary) {
    // A "Data" stream of 64 MiB: a component record and 8 pins, then binary
    // records of another kind that the walk passes over.
    Bytes data = text_record("|RECORD=1|ComponentDescription=Large|");
    for (int i = 0; i < 8; ++i) {
        const std::string name(1, static_cast<char>('A' + i));
        Bytes pin = pin_record(0, 30, static_cast<std::int16_t>(i % 2 ? 40 : -40),
                               static_cast<std::int16_t>(-10 * i), name, std::to_string(i));
        data.insert(data.end(), pin.begin(), pin.end());
    }
    Bytes filler(65535, 0x5A);
    filler[0] = 5;
    Bytes skipped = record(filler);
    constexpr std::size_t size = std::size_t{64} << 20;
    while (data.size() + skipped.size() <= size) data.insert(data.end(), skipped.begin(), skipped.end());
    data.resize(size, 0);
    Bytes file = make_schlib("LARGE", data);
    ASSERT_GE(file.size(), size);
    Measured m = measure(file);
    EXPECT_TRUE(m.report.ok) << m.report.text;
    EXPECT_EQ(m.report.text, "LARGE");
    EXPECT_EQ(m.report.pins, 8u);
}

}  // namespace
