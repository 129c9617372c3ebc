// parse_pinbook_bytes and parse_pinbook_path over whole libraries: the
// signature, the padding of short inputs, component discovery, the stream
// path and every message of reading.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cfb/cfb.hpp"
#include "pinbook/pinbook.hpp"
#include "support/run_program.hpp"
#include "support/schlib.hpp"

namespace pinbook {
namespace {

using test::Bytes;
using test::cfb_root;
using test::cfb_storage;
using test::cfb_stream;
using test::concat;
using test::make_schlib;
using test::pin_record;
using test::text_record;

constexpr std::size_t kPadded = 1'048'576;

// The message of a failed call, or "<value>" when it succeeded.
std::string error_of(const std::expected<Value, Error>& result) {
    return result ? std::string("<value>") : result.error().message;
}

// A library whose root holds `children`, linked in name order.
Bytes library(std::vector<test::CfbNode> children, const test::CfbOptions& options = {}) {
    return test::build_cfb(cfb_root(std::move(children)), options);
}

// A storage holding the stream "Data".
test::CfbNode storage(std::string_view name, const Bytes& data) { return cfb_storage(name, {cfb_stream("Data", data)}); }

// A stream with one pin named `pin`, so tests can tell libraries apart.
Bytes stream_with_pin(std::string_view pin) { return pin_record(0, 10, -10, 0, pin, "1"); }

// The name the component value was read from, or the error message.
std::string module_of(const Bytes& file) {
    const auto result = parse_pinbook_bytes(file);
    if (!result) return "error: " + result.error().message;
    return (*result)["module_name"].get<std::string>();
}

std::string pin_name_of(const Bytes& file) {
    const auto result = parse_pinbook_bytes(file);
    if (!result) return "error: " + result.error().message;
    return (*result)["pins"][0]["name"].get<std::string>();
}

// What the compound-file reader says about `file`, padded as the library
// pads it, for causes that must reach the message unchanged.
Bytes padded(Bytes file) {
    if (file.size() < kPadded) file.resize(kPadded, 0xFF);
    return file;
}

TEST(Reader, OpampLibrary) {
    const Bytes file = make_schlib("OPAMP", test::opamp_data_stream());
    const Bytes before = file;
    const auto value = parse_pinbook_bytes(file);
    ASSERT_TRUE(value.has_value()) << value.error().message;
    EXPECT_TRUE(test::identical(*value, test::opamp_component_value())) << value->dump();
    EXPECT_EQ(file, before);

    // Four-kilobyte sectors read the same.
    const Bytes v4 = library({storage("OPAMP", test::opamp_data_stream())}, {.version = 4});
    const auto value4 = parse_pinbook_bytes(v4);
    ASSERT_TRUE(value4.has_value()) << value4.error().message;
    EXPECT_TRUE(test::identical(*value4, test::opamp_component_value()));
}

TEST(Reader, Signature) {
    const std::string bad_magic = "not an OLE2 compound document (bad magic)";
    EXPECT_EQ(error_of(parse_pinbook_bytes({})), bad_magic);
    const Bytes seven = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A};
    EXPECT_EQ(error_of(parse_pinbook_bytes(seven)), bad_magic);

    const Bytes good = make_schlib("OPAMP", test::opamp_data_stream());
    for (int bit = 0; bit < 64; ++bit) {
        Bytes flipped = good;
        flipped[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        EXPECT_EQ(error_of(parse_pinbook_bytes(flipped)), bad_magic) << bit;
    }

    // The signature alone passes, and the open then fails on the 0xFF fill.
    const Bytes eight(good.begin(), good.begin() + 8);
    const auto cause = cfb::File::open(padded(eight));
    ASSERT_FALSE(cause.has_value());
    EXPECT_EQ(error_of(parse_pinbook_bytes(eight)), "open OLE2: " + cause.error().message);
}

TEST(Reader, ContainerOpenFailureCarriesTheCause) {
    // A sector shift of 0xFFFF is no sector size at all.
    Bytes file = make_schlib("OPAMP", test::opamp_data_stream());
    test::put_u16(file, test::cfb_header::sector_shift, 0xFFFF);
    const auto cause = cfb::File::open(padded(file));
    ASSERT_FALSE(cause.has_value());
    EXPECT_FALSE(cause.error().message.empty());
    EXPECT_EQ(error_of(parse_pinbook_bytes(file)), "open OLE2: " + cause.error().message);
}

// A library of exactly kPadded bytes whose "Data" stream fills the file's
// last sectors and ends in a pin whose number is the file's last byte.
Bytes library_ending_in(std::uint8_t last) {
    const auto build = [last](std::size_t data_size) {
        const Bytes pin = pin_record(0, 0, 0, 0, "N", std::string(1, static_cast<char>(last)));
        Bytes data;
        std::size_t remaining = data_size - pin.size();
        while (remaining > 0) {
            std::size_t chunk = std::min<std::size_t>(remaining, 60000);
            if (remaining - chunk != 0 && remaining - chunk < 5) chunk -= 10;
            Bytes skipped(chunk - 4, 0);
            skipped[0] = 7;
            data = concat({data, test::record(skipped)});
            remaining -= chunk;
        }
        data = concat({data, pin});
        return library({cfb_storage("P", {cfb_stream("Data", data, test::CfbPlacement::regular)})});
    };
    const std::size_t guess = 1'000'448;  // a multiple of 512
    const std::size_t overhead = build(guess).size() - guess;
    const Bytes file = build(kPadded - overhead);
    EXPECT_EQ(file.size(), kPadded);
    EXPECT_EQ(file.back(), last);
    return file;
}

std::string pin_number_of(const Bytes& file) {
    const auto result = parse_pinbook_bytes(file);
    if (!result) return "error: " + result.error().message;
    return (*result)["pins"][0]["number"].get<std::string>();
}

TEST(Reader, ShortInputsArePaddedWithFF) {
    const Bytes full = library_ending_in('A');
    ASSERT_EQ(full.size(), kPadded);
    // 1,048,576 bytes: read as they are.
    EXPECT_EQ(pin_number_of(full), "A");

    // 1,048,575 bytes: the missing last byte reads as 0xFF.
    const Bytes short_by_one(full.begin(), full.end() - 1);
    const Bytes before = short_by_one;
    EXPECT_EQ(pin_number_of(short_by_one), "\xEF\xBF\xBD");
    EXPECT_EQ(short_by_one, before);

    // A longer input is not cut back either.
    EXPECT_EQ(pin_number_of(concat({full, Bytes(512, 0)})), "A");
}

TEST(Reader, NoComponentStorage) {
    const std::string none = "no component storages found in SchLib";
    const Bytes data = stream_with_pin("P");
    EXPECT_EQ(error_of(parse_pinbook_bytes(library({}))), none);
    EXPECT_EQ(error_of(parse_pinbook_bytes(library({cfb_stream("Data", data), cfb_stream("FileHeader", "x")}))),
              none);
    EXPECT_EQ(error_of(parse_pinbook_bytes(library({storage("Library", data),
                                                        storage("FileVersionInfo", data),
                                                        storage("\x01Storage", data),
                                                        storage("\x01", data)}))),
              none);
}

TEST(Reader, ExcludedNamesAreExact) {
    const Bytes data = stream_with_pin("P");
    for (std::string_view name : {"library", "LIBRARY", "Library ", "FileVersionInfO", "FileVersionInfo2", "X\x01",
                                  "\xC3\x89", "\xEF\xBF\xBD"}) {
        EXPECT_EQ(module_of(library({storage(name, data)})), name);
    }
    // Excluded storages are passed over, whatever they hold.
    EXPECT_EQ(module_of(library({storage("Library", data), storage("\x01Z", data),
                                     storage("FileVersionInfo", data), storage("ZZZZZZZZZZZZZZZZ", data),
                                     cfb_stream("AB", "not a storage")})),
              "ZZZZZZZZZZZZZZZZ");
}

TEST(Reader, FirstStorageInNameOrderIsTheComponent) {
    const auto pick = [](std::string_view first, std::string_view second) {
        return pin_name_of(library({storage(first, stream_with_pin(first)),
                                        storage(second, stream_with_pin(second))}));
    };
    EXPECT_EQ(pick("B1", "a1"), "a1");
    EXPECT_EQ(pick("a1", "B1"), "a1");
    EXPECT_EQ(pick("AA", "Z"), "Z");
    EXPECT_EQ(pick("ZZ", "abc"), "ZZ");
    EXPECT_EQ(module_of(library({storage("b", stream_with_pin("b")), cfb_stream("A", "stream"),
                                     storage("c", stream_with_pin("c"))})),
              "b");
}

TEST(Reader, FirstStorageDecidesEvenWhenItFails) {
    const Bytes good = stream_with_pin("P");
    // No "Data" stream in the first storage.
    const Bytes no_stream = library({cfb_storage("A", {cfb_stream("Other", good)}), storage("B", good)});
    const auto missing = cfb::File::open(padded(no_stream))->open_stream("/A/Data");
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(error_of(parse_pinbook_bytes(no_stream)), "open /A/Data: " + missing.error().message);

    // "Data" is a storage there.
    const Bytes data_storage = library({cfb_storage("A", {cfb_storage("Data")}), storage("B", good)});
    const auto not_stream = cfb::File::open(padded(data_storage))->open_stream("/A/Data");
    ASSERT_FALSE(not_stream.has_value());
    EXPECT_EQ(error_of(parse_pinbook_bytes(data_storage)), "open /A/Data: " + not_stream.error().message);

    // The first storage's stream has no pin.
    const Bytes no_pin = library({storage("A", text_record("|RECORD=1|")), storage("B", good)});
    EXPECT_EQ(error_of(parse_pinbook_bytes(no_pin)), "no pins parsed from component A");
    EXPECT_EQ(error_of(parse_pinbook_bytes(library({storage("A", Bytes{})}))),
              "no pins parsed from component A");
}

TEST(Reader, StreamNameIsFoundWithoutRegardToCase) {
    for (std::string_view name : {"DATA", "data", "dAtA"}) {
        const Bytes file = library({cfb_storage("OPAMP", {cfb_stream(name, test::opamp_data_stream())})});
        const auto value = parse_pinbook_bytes(file);
        ASSERT_TRUE(value.has_value()) << name << ": " << value.error().message;
        EXPECT_TRUE(test::identical(*value, test::opamp_component_value())) << name;
    }
}

TEST(Reader, DotNamesAndTheEmptyNameReachTheRootStream) {
    const Bytes root_data = stream_with_pin("root");
    const Bytes inner = stream_with_pin("inner");
    for (std::string_view name : {"", "."}) {
        const Bytes with_root_data =
            library({storage(name, inner), cfb_stream("Data", root_data)});
        const auto value = parse_pinbook_bytes(with_root_data);
        ASSERT_TRUE(value.has_value()) << "'" << name << "': " << value.error().message;
        EXPECT_EQ((*value)["module_name"], name);
        EXPECT_EQ((*value)["pins"][0]["name"], "root");

        const Bytes without = library({storage(name, inner)});
        const std::string path = std::string("/").append(name).append("/Data");
        const auto cause = cfb::File::open(padded(without))->open_stream(path);
        ASSERT_FALSE(cause.has_value());
        EXPECT_EQ(error_of(parse_pinbook_bytes(without)), "open " + path + ": " + cause.error().message);
    }
    // ".." leaves the root, even when a root stream "Data" exists.
    const Bytes up = library({storage("..", inner), cfb_stream("Data", root_data)});
    const auto cause = cfb::File::open(padded(up))->open_stream("/../Data");
    ASSERT_FALSE(cause.has_value());
    EXPECT_EQ(error_of(parse_pinbook_bytes(up)), "open /../Data: " + cause.error().message);
}

TEST(Reader, StreamReadFailureIsTheCauseAlone) {
    // A stream that claims far more than its chain holds.
    std::vector<test::CfbEntry> entries =
        test::flatten_cfb(cfb_root({storage("A", test::opamp_data_stream())}), {.version = 4});
    entries[test::cfb_find(entries, "A/Data")].size = 1ull << 40;
    const Bytes file = test::build_cfb(entries, {.version = 4});
    const Bytes buffer = padded(file);
    const auto opened = cfb::File::open(buffer);
    ASSERT_TRUE(opened.has_value()) << opened.error().message;
    const auto stream = opened->open_stream("/A/Data");
    ASSERT_TRUE(stream.has_value()) << stream.error().message;
    const auto read = opened->read(*stream);
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(error_of(parse_pinbook_bytes(file)), read.error().message);
}

TEST(ReaderPath, ReadsTheFileWhole) {
    const Bytes file = make_schlib("OPAMP", test::opamp_data_stream());
    const std::string path = test::write_temp_file("opamp.SchLib", file);
    const auto value = parse_pinbook_path(path);
    ASSERT_TRUE(value.has_value()) << value.error().message;
    EXPECT_TRUE(test::identical(*value, test::opamp_component_value()));

    const std::string text = test::write_temp_file("text.SchLib", std::string("plain text, not a library"));
    EXPECT_EQ(error_of(parse_pinbook_path(text)), "not an OLE2 compound document (bad magic)");
    EXPECT_EQ(error_of(parse_pinbook_path(test::write_temp_file("empty.SchLib", std::string()))),
              "not an OLE2 compound document (bad magic)");
}

TEST(ReaderPath, ReadErrors) {
    const std::string missing = test::temp_dir() + "/no such file.SchLib";
    EXPECT_EQ(error_of(parse_pinbook_path(missing)),
              "read .SchLib " + missing + ": No such file or directory (os error 2)");
    EXPECT_EQ(error_of(parse_pinbook_path("")), "read .SchLib : No such file or directory (os error 2)");
    EXPECT_EQ(error_of(parse_pinbook_path("relative/missing")),
              "read .SchLib relative/missing: No such file or directory (os error 2)");

    const std::string dir = test::temp_dir();
    EXPECT_EQ(error_of(parse_pinbook_path(dir)), "read .SchLib " + dir + ": Is a directory (os error 21)");

    // A path that is not valid UTF-8 is shown decoded lossily.
    const std::string odd = test::temp_dir() + "/bad\xFF\xC3.SchLib";
    EXPECT_EQ(error_of(parse_pinbook_path(odd)), "read .SchLib " + test::temp_dir() +
                                                     "/bad\xEF\xBF\xBD\xEF\xBF\xBD.SchLib: No such file or "
                                                     "directory (os error 2)");
    // A path with an inner NUL cannot reach the system.
    EXPECT_EQ(error_of(parse_pinbook_path(std::string_view("a\0b", 3))),
              std::string("read .SchLib a\0b: Invalid argument (os error 22)", 48));

    const std::string not_dir = test::write_temp_file("plain", std::string("x")) + "/below";
    EXPECT_EQ(error_of(parse_pinbook_path(not_dir)), "read .SchLib " + not_dir + ": Not a directory (os error 20)");
}

#if !defined(__SANITIZE_ADDRESS__)
// Reads /dev/zero with the address space limited, reports the message on
// standard error and exits with 3 when the read failed.
[[noreturn]] void read_endless_file_with_little_memory() {
    const rlimit limit{256u << 20, 256u << 20};
    setrlimit(RLIMIT_AS, &limit);
    const auto result = parse_pinbook_path("/dev/zero");
    std::fputs(error_of(result).c_str(), stderr);
    std::exit(result ? 0 : 3);
}

TEST(ReaderPath, EndlessFileFailsWhenMemoryRunsOut) {
    // /dev/zero never ends: the read must give up with an error, not end the
    // process, once the address space is used up.
    EXPECT_EXIT(read_endless_file_with_little_memory(), ::testing::ExitedWithCode(3),
                "^read \\.SchLib /dev/zero: Cannot allocate memory \\(os error 12\\)$");
}
#endif

}  // namespace
}  // namespace pinbook
