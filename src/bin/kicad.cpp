// pinbook_kicad: prints the first component of a .SchLib file as a KiCad
// symbol library holding one symbol.
//
//   pinbook-kicad <file.SchLib> [name]
//
// The symbol is called [name] when given, else after the component's
// "module_name", else "SYM". Arguments after [name] are ignored.
#include "exit_path.hpp"
#include "pinbook/pinbook.hpp"
#include "pinbook/kicad.hpp"

namespace {

pinbook::bin::Outcome run(const pinbook::bin::Arguments& args) {
    auto component = pinbook::bin::read_component(args, "usage: pinbook-kicad <file.SchLib> [name]");
    if (!component) return std::unexpected(std::move(component.error()));

    // The name argument is taken only now, so a bad one never hides a read
    // error.
    const std::string_view name = pinbook::kicad_symbol_name(*component, args.take(2));
    return pinbook::to_kicad_sym(*component, name);
}

}  // namespace

int main(int argc, char** argv) { return pinbook::bin::finish(run(pinbook::bin::Arguments(argc, argv))); }
