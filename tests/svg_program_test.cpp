// pinbook_svg as users run it: the built program, its output, error reports
// and exit statuses, and the bundled example.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pinbook/pinbook.hpp"
#include "support/example.hpp"
#include "support/run_program.hpp"
#include "support/schlib.hpp"
#include "support/xmllint.hpp"

namespace pinbook {
namespace {

using test::run_program;
using test::RunResult;

const std::string kUsage = "Error: usage: pinbook-svg <file.SchLib>\n";

std::string opamp_path() {
    static const std::string path = test::write_temp_file(
        "opamp.SchLib", test::make_schlib("OPAMP", test::opamp_data_stream()));
    return path;
}

std::string not_found(const std::string& path) {
    return "Error: read .SchLib " + path + ": " + std::strerror(ENOENT) + " (os error 2)\n";
}

void expect_failure(const RunResult& r, int status, const std::string& err) {
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, err);
}

TEST(SvgProgram, MissingPathIsAUsageError) {
    expect_failure(run_program(PINBOOK_SVG_BIN, {}), 1, kUsage);
    test::RunOptions no_argv0;
    no_argv0.no_argv0 = true;
    expect_failure(run_program(PINBOOK_SVG_BIN, {}, no_argv0), 1, kUsage);
    // The text stays the same whatever name the program runs under.
    test::RunOptions renamed;
    renamed.argv0 = "svg-tool";
    expect_failure(run_program(PINBOOK_SVG_BIN, {}, renamed), 1, kUsage);
}

TEST(SvgProgram, AnyArgumentIsAPath) {
    // An empty path and one that looks like an option go to the reader.
    expect_failure(run_program(PINBOOK_SVG_BIN, {""}), 1, not_found(""));
    expect_failure(run_program(PINBOOK_SVG_BIN, {"--help"}), 1, not_found("--help"));
    expect_failure(run_program(PINBOOK_SVG_BIN, {"-"}), 1, not_found("-"));
}

TEST(SvgProgram, ReaderErrorsAreReportedUnchanged) {
    const std::string junk = test::write_temp_file("junk.SchLib", std::string("not a library at all"));
    expect_failure(run_program(PINBOOK_SVG_BIN, {junk}), 1,
                   "Error: not an OLE2 compound document (bad magic)\n");

    const std::string pinless = test::write_temp_file(
        "pinless.SchLib",
        test::make_schlib("EMPTY", test::concat({test::text_record("|RECORD=1|PartCount=2|"), test::end_record()})));
    expect_failure(run_program(PINBOOK_SVG_BIN, {pinless, "extra"}), 1,
                   "Error: no pins parsed from component EMPTY\n");
}

TEST(SvgProgram, InvalidUtf8ArgumentStopsBeforeReading) {
    // Argument 1 names a library that exists, so only the check on taking it
    // can stop the run.
    const std::string bad =
        test::write_temp_file("opamp\xFF.SchLib", test::make_schlib("OPAMP", test::opamp_data_stream()));
    for (const RunResult& r : {run_program(PINBOOK_SVG_BIN, {bad}), run_program(PINBOOK_SVG_BIN, {bad, "x"})}) {
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(r.err.empty());
        EXPECT_FALSE(r.err.starts_with("Error: ")) << r.err;
    }
    // A bad argument 0 ends the run even before the test for a missing path.
    test::RunOptions bad_argv0;
    bad_argv0.argv0 = "pinbook_svg\xC0";
    const RunResult r = run_program(PINBOOK_SVG_BIN, {}, bad_argv0);
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(r.err.starts_with("Error: ")) << r.err;
}

TEST(SvgProgram, PrintsTheWholeDocument) {
    const std::string expected =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 97.2 13.1\" width=\"1361\" height=\"183\" font-family=\"monospace\">\n"
        "<rect x=\"0\" y=\"0\" width=\"97.2\" height=\"13.1\" fill=\"#0d1117\"/><rect x=\"29.62\" y=\"4.00\" width=\"38.00\" height=\"5.08\" fill=\"#10212a\" stroke=\"#00b8b1\" stroke-width=\"0.25\"/>\n"
        "<line x1=\"29.62\" y1=\"6.54\" x2=\"22.00\" y2=\"6.54\" stroke=\"#7cb6ff\" stroke-width=\"0.18\"/><text x=\"22.60\" y=\"6.04\" font-size=\"1.0\" fill=\"#8b949e\" text-anchor=\"start\">1</text><text x=\"31.02\" y=\"6.99\" font-size=\"1.25\" fill=\"#e6edf3\" text-anchor=\"start\">IN</text>\n"
        "<text x=\"48.62\" y=\"2.80\" font-size=\"1.5\" fill=\"#00e6dc\" text-anchor=\"middle\">OPAMP (1 pins)</text>\n"
        "</svg>\n";
    const RunResult r = run_program(PINBOOK_SVG_BIN, {opamp_path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(test::xmllint_problems(r.out), "");

    // Arguments after the path are never looked at, whatever bytes they hold.
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"more"}, {"\xFF\xFE", "-o", ""}, {"--", "\xC0\x80"}}) {
        std::vector<std::string> args{opamp_path()};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult with_extra = run_program(PINBOOK_SVG_BIN, args);
        EXPECT_EQ(with_extra.status, 0);
        EXPECT_EQ(with_extra.err, "");
        EXPECT_EQ(with_extra.out, expected);
    }
}

TEST(SvgProgram, FailedOutputWriteIsStatusTwo) {
    test::RunOptions full;
    full.stdout_path = "/dev/full";
    const RunResult r = run_program(PINBOOK_SVG_BIN, {opamp_path()}, full);
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(r.err.starts_with("Error: ")) << r.err;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(SvgProgram, BundledExampleIsMadeByTheFixtureBuilder) {
    const test::Bytes made = test::example_schlib();
    if (std::getenv("PINBOOK_WRITE_EXAMPLE") != nullptr) {
        std::ofstream out(test::example_path(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(made.data()), static_cast<std::streamsize>(made.size()));
        ASSERT_TRUE(out.good());
    }
    const std::string committed = read_file(test::example_path());
    ASSERT_EQ(committed.size(), made.size());
    EXPECT_TRUE(committed == std::string(made.begin(), made.end()));

    const RunResult r = run_program(PINBOOK_SVG_BIN, {test::example_path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const auto component = parse_pinbook_bytes(made);
    ASSERT_TRUE(component.has_value()) << component.error().message;
    EXPECT_EQ(r.out, render_symbol_svg(*component));
    EXPECT_EQ(test::xmllint_problems(r.out), "");
    // Four rows a side, the reset name without its overbar marks.
    EXPECT_NE(r.out.find(">MCU8 (8 pins)</text>"), std::string::npos);
    EXPECT_NE(r.out.find("height=\"12.70\""), std::string::npos);
    EXPECT_NE(r.out.find(">4</text><text x=\"31.02\" y=\"14.61\" font-size=\"1.25\" fill=\"#e6edf3\" "
                         "text-anchor=\"start\">RESET</text>\n"),
              std::string::npos)
        << r.out;
}

}  // namespace
}  // namespace pinbook
