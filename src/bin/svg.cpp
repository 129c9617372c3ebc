// pinbook_svg: draws the first component of a .SchLib file as one SVG
// document on standard output.
//
//   pinbook-svg <file.SchLib>
//
// Argument 1 is the path whatever it holds, even text that begins with a
// hyphen. Arguments after it are ignored without being looked at.
#include "exit_path.hpp"
#include "pinbook/pinbook.hpp"

namespace {

pinbook::bin::Outcome run(const pinbook::bin::Arguments& args) {
    auto component = pinbook::bin::read_component(args, "usage: pinbook-svg <file.SchLib>");
    if (!component) return std::unexpected(std::move(component.error()));
    return pinbook::render_symbol_svg(*component);
}

}  // namespace

int main(int argc, char** argv) { return pinbook::bin::finish(run(pinbook::bin::Arguments(argc, argv))); }
