#include "support/xmllint.hpp"

#include "support/run_program.hpp"

namespace pinbook::test {

std::string xmllint_problems(const std::string& document) {
    static int counter = 0;
    const std::string path = write_temp_file("xmllint_" + std::to_string(counter++) + ".svg", document);
    const RunResult r = run_program("/usr/bin/xmllint", {"--noout", path});
    if (r.status == 0 && r.err.empty()) return {};
    return "xmllint status " + std::to_string(r.status) + ": " + r.err;
}

}  // namespace pinbook::test
