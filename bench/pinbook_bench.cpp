// In-process benchmarks of the reader and the three writers.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "fixtures.hpp"
#include "pinbook/pinbook.hpp"

namespace {

using pinbook::bench::Bytes;

void parse(benchmark::State& state, const Bytes& file) {
    for (auto _ : state) {
        auto value = pinbook::parse_pinbook_bytes(file);
        if (!value) {
            state.SkipWithError(value.error().message.c_str());
            break;
        }
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}

void BM_parse_small(benchmark::State& state) {
    static const Bytes file = pinbook::bench::small_library();
    parse(state, file);
}
BENCHMARK(BM_parse_small);

void BM_parse_1000_pins(benchmark::State& state) {
    static const Bytes file = pinbook::bench::pins_library(1000);
    parse(state, file);
}
BENCHMARK(BM_parse_1000_pins);

void BM_parse_64_MiB(benchmark::State& state) {
    static const Bytes file = pinbook::bench::large_library(64u << 20);
    parse(state, file);
}
BENCHMARK(BM_parse_64_MiB)->Unit(benchmark::kMillisecond);

const pinbook::Value& component_1000() {
    static const pinbook::Value value = pinbook::bench::pins_component(1000);
    return value;
}

void BM_svg_1000_pins(benchmark::State& state) {
    const auto& value = component_1000();
    for (auto _ : state) benchmark::DoNotOptimize(pinbook::render_symbol_svg(value));
}
BENCHMARK(BM_svg_1000_pins);

void BM_kicad_1000_pins(benchmark::State& state) {
    const auto& value = component_1000();
    for (auto _ : state) benchmark::DoNotOptimize(pinbook::to_kicad_sym(value, "BIG"));
}
BENCHMARK(BM_kicad_1000_pins);

void BM_json_1000_pins(benchmark::State& state) {
    const auto& value = component_1000();
    for (auto _ : state) benchmark::DoNotOptimize(pinbook::to_pretty_json(value));
}
BENCHMARK(BM_json_1000_pins);

// What one program run does in process for 1,000 pins: parse, then write.
template <typename Write>
void parse_and_write(benchmark::State& state, Write write) {
    static const Bytes file = pinbook::bench::pins_library(1000);
    for (auto _ : state) {
        auto value = pinbook::parse_pinbook_bytes(file);
        if (!value) std::abort();
        benchmark::DoNotOptimize(write(*value));
    }
}
void BM_parse_svg_1000_pins(benchmark::State& state) {
    parse_and_write(state, [](const pinbook::Value& v) { return pinbook::render_symbol_svg(v); });
}
BENCHMARK(BM_parse_svg_1000_pins);
void BM_parse_kicad_1000_pins(benchmark::State& state) {
    parse_and_write(state, [](const pinbook::Value& v) { return pinbook::to_kicad_sym(v, "BIG"); });
}
BENCHMARK(BM_parse_kicad_1000_pins);
void BM_parse_json_1000_pins(benchmark::State& state) {
    parse_and_write(state, [](const pinbook::Value& v) { return pinbook::to_pretty_json(v); });
}
BENCHMARK(BM_parse_json_1000_pins);

}  // namespace

BENCHMARK_MAIN();
