// pinbook_json: prints the component value of the first component of a
// .SchLib file as pretty JSON, followed by one line feed.
//
//   pinbook-json <file.SchLib>
//
// Argument 1 is the path whatever it holds, even text that begins with a
// hyphen. Arguments after it are ignored without being looked at.
#include "exit_path.hpp"
#include "pinbook/pinbook.hpp"

namespace {

pinbook::bin::Outcome run(const pinbook::bin::Arguments& args) {
    auto component = pinbook::bin::read_component(args, "usage: pinbook-json <file.SchLib>");
    if (!component) return std::unexpected(std::move(component.error()));
    std::string text = pinbook::to_pretty_json(*component);
    text.push_back('\n');
    return text;
}

}  // namespace

int main(int argc, char** argv) { return pinbook::bin::finish(run(pinbook::bin::Arguments(argc, argv))); }
