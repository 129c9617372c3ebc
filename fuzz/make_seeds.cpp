// Writes the seed corpora of the three fuzz targets, all made with the
// project's own fixture builders:
//
//   fuzz_seeds DIR   ->  DIR/parse/*, DIR/container/*, DIR/writers/*
//
// parse: .SchLib files of many shapes (one or several components, version 4
// sectors, mini and regular streams, chain-shaped sibling trees, shuffled
// sectors, excluded storage names, odd records); writers: those files'
// component values and some odd trees in the codec's encoding; container:
// byte strings from a fixed pseudo-random sequence (the target builds the
// file from them).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/cfb_writer.hpp"
#include "support/schlib.hpp"
#include "value_codec.hpp"

namespace fs = std::filesystem;
using pinbook::test::Bytes;
namespace t = pinbook::test;

namespace {

void write(const fs::path& dir, const std::string& name, const Bytes& bytes) {
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", (dir / name).c_str());
        std::exit(1);
    }
}

Bytes pins(int count) {
    Bytes out;
    for (int i = 0; i < count; ++i) {
        auto side = static_cast<std::int16_t>(i % 2 ? 40 : -40);
        auto y = static_cast<std::int16_t>(100 - 10 * i);
        Bytes pin = t::pin_record(static_cast<std::uint8_t>(i), 30, side, y, "P" + std::to_string(i),
                                  std::to_string(i + 1));
        out.insert(out.end(), pin.begin(), pin.end());
    }
    return out;
}

std::vector<std::pair<std::string, Bytes>> libraries() {
    std::vector<std::pair<std::string, Bytes>> out;
    Bytes opamp = t::opamp_data_stream();
    out.emplace_back("opamp", t::make_schlib("OPAMP", opamp));
    out.emplace_back("mcu16", t::make_schlib("MCU16", t::concat({
        t::text_record("|RECORD=1|ComponentDescription=Micro \xC2\xB5" "C|PartCount=1|"),
        t::text_record("|RECORD=14|Location.X=-50|Location.Y=-90|Corner.X=50|Corner.Y=90|"),
        pins(16), t::end_record()})));
    out.emplace_back("odd_records", t::make_schlib("ODD", t::concat({
        t::text_record("|RECORD=1 |PartCount=-9223372036854775808|ComponentDescription=\xFF\xFE"),
        t::text_record("|RECORD=14|Location.X=1e308|Location.Y=-0|Corner.X=nan|Corner.Y=.5"),
        t::record(t::bytes_of("RECORD=1")), t::pin_record(255, -1, -32768, 32767, "", ""),
        t::record(t::bytes_of(std::string("\x02\x00\x00", 3)))})));
    out.emplace_back("several", t::make_schlib_with({
        t::component_storage("b1", opamp), t::component_storage("A1", opamp),
        {"Library", true, {{"Data", opamp}}, {}}, {"FileHeader", false, {}, t::bytes_of("HEADER")},
        {"\x01" "Comp", true, {}, {}}}));
    out.emplace_back("no_pins", t::make_schlib("EMPTY", t::concat({t::text_record("|RECORD=1|")})));

    t::CfbNode tree = t::cfb_root({t::cfb_storage("REG", {t::cfb_stream("Data", t::concat({opamp, pins(150)}))}),
                                   t::cfb_storage("Library", {t::cfb_stream("Data", opamp, t::CfbPlacement::regular)})});
    out.emplace_back("v4", t::build_cfb(tree, {.version = 4}));
    out.emplace_back("shuffled", t::build_cfb(tree, {.shuffle = true}));
    out.emplace_back("left_chain", t::build_cfb(tree, {.shape = t::CfbShape::left_chain}));
    out.emplace_back("right_chain", t::build_cfb(tree, {.shape = t::CfbShape::right_chain}));
    out.emplace_back("difat", t::build_cfb(tree, {.min_fat_sectors = 110}));
    out.emplace_back("mini_regular", t::build_cfb(t::cfb_root({t::cfb_storage(
        "M", {t::cfb_stream("Data", opamp, t::CfbPlacement::regular)})})));
    out.emplace_back("signature_only", Bytes{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    fs::path dir = argv[1];

    for (const auto& [name, bytes] : libraries()) {
        write(dir / "parse", name, bytes);
        auto value = pinbook::parse_pinbook_bytes(bytes);
        if (value) {
            Bytes encoded{0};  // mode 0: the symbol name from "module_name"
            Bytes tree = pinbook::fuzz::encode_value(*value);
            encoded.insert(encoded.end(), tree.begin(), tree.end());
            write(dir / "writers", name, encoded);
        }
    }

    // Odd trees for the writers: numbers of every kind where the writers
    // expect small integers, texts that need escaping, a deep nest.
    pinbook::Value odd = {
        {"module_name", "<a&b>\"'\x01\x7F"},
        {"pins", {
            {{"x", -1.5}, {"y", std::int64_t{5}}, {"name", 7}, {"number", nullptr}},
            {{"x", std::int64_t{-3}}, {"y", std::uint64_t{18446744073709551615ull}}, {"name", "\\\"\n"}},
            {{"x", std::numeric_limits<double>::quiet_NaN()}, {"y", -0.0}},
            "not a pin", nullptr, {1, 2, 3}}},
        {"body", {{"x1", 1e300}, {"y1", 5e-324}}}};
    Bytes encoded{1};  // mode 1: a second value names the symbol
    Bytes tree = pinbook::fuzz::encode_value(odd);
    encoded.insert(encoded.end(), tree.begin(), tree.end());
    Bytes name = pinbook::fuzz::encode_value("sym \"name\"");
    encoded.insert(encoded.end(), name.begin(), name.end());
    write(dir / "writers", "odd", encoded);
    write(dir / "writers", "nest", Bytes{0, 0x0A, 0x0A, 0x41, 0x0E, 0xFF, 0x0F, 0x0D, 0x10});

    std::mt19937 random(20261208);
    for (int i = 0; i < 16; ++i) {
        Bytes bytes(64u << (i % 6));
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
        write(dir / "container", "random" + std::to_string(i), bytes);
    }
    return 0;
}
