// Writes the libraries that scripts/bench times the programs on:
//   pinbook_bench_files DIR  ->  DIR/small.SchLib, DIR/pins1000.SchLib, DIR/large.SchLib
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "fixtures.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pinbook_bench_files DIR\n");
        return 2;
    }
    std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    auto write = [&](const char* name, const pinbook::bench::Bytes& bytes) {
        std::ofstream out(dir / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return static_cast<bool>(out);
    };
    bool ok = write("small.SchLib", pinbook::bench::small_library()) &&
              write("pins1000.SchLib", pinbook::bench::pins_library(1000)) &&
              write("large.SchLib", pinbook::bench::large_library(64u << 20));
    if (!ok) std::fprintf(stderr, "pinbook_bench_files: cannot write to %s\n", dir.c_str());
    return ok ? 0 : 1;
}
