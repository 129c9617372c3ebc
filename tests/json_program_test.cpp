// pinbook_json as a user runs it: arguments, error reports and exit
// statuses, and the text on standard output byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pinbook/pinbook.hpp"
#include "support/run_program.hpp"
#include "support/schlib.hpp"

namespace pinbook {
namespace {

using test::run_program;
using test::RunResult;
using test::expect_error;
using test::expect_success;

const std::string kUsage = "Error: usage: pinbook-json <file.SchLib>\n";

// The library's text for the OPAMP component and the program's line feed;
// the text itself is checked line by line in the writer's suite.
const std::string kOpampOutput = to_pretty_json(test::opamp_component_value()) + "\n";

RunResult json(const std::vector<std::string>& args, const test::RunOptions& options = {}) {
    return run_program(PINBOOK_JSON_BIN, args, options);
}

std::string opamp_library() {
    static const std::string path =
        test::write_temp_file("opamp.SchLib", test::make_schlib("OPAMP", test::opamp_data_stream()));
    return path;
}

std::string reader_report(const std::string& path) {
    const auto result = parse_pinbook_path(path);
    EXPECT_FALSE(result.has_value());
    return result ? std::string() : "Error: " + result.error().message + "\n";
}

TEST(JsonProgram, MissingPathIsAUsageError) {
    expect_error(json({}), kUsage);
    expect_error(json({}, test::with_argv0("other-name")), kUsage);
    test::RunOptions none;
    none.no_argv0 = true;
    expect_error(json({}, none), kUsage);
}

TEST(JsonProgram, OpampLibraryByteForByte) {
    const RunResult r = json({opamp_library()});
    expect_success(r, kOpampOutput);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 24);
    EXPECT_EQ(r.out.find(" \n"), std::string::npos);
    // Exactly the library's text and one line feed.
    const auto component = parse_pinbook_path(opamp_library());
    ASSERT_TRUE(component.has_value());
    EXPECT_EQ(r.out, to_pretty_json(*component) + "\n");
}

TEST(JsonProgram, EscapesAndNonAsciiReachTheOutput) {
    const test::Bytes data = test::concat({test::pin_record(0xFF, -32768, 5, -7, "\x01\x09\x22\x5C\x2F\x7F", "Ω1"),
                                           test::end_record()});
    const std::string path = test::write_temp_file("odd.SchLib", test::make_schlib("Ωμ\"x", data));
    const RunResult r = json({path});
    expect_success(r,
                   "{\n"
                   "  \"_source\": \"pinbook\",\n"
                   "  \"body\": null,\n"
                   "  \"description\": \"\",\n"
                   "  \"module_name\": \"Ωμ\\\"x\",\n"
                   "  \"part_count\": 1,\n"
                   "  \"pin_count\": 1,\n"
                   "  \"pins\": [\n"
                   "    {\n"
                   "      \"conglomerate\": 255,\n"
                   "      \"length\": -32768,\n"
                   "      \"name\": \"\\u0001\\t\\\"\\\\/\x7F\",\n"
                   "      \"number\": \"Ω1\",\n"
                   "      \"rotation\": 270,\n"
                   "      \"x\": 5,\n"
                   "      \"y\": -7\n"
                   "    }\n"
                   "  ]\n"
                   "}\n");
}

TEST(JsonProgram, ArgumentsAfterThePathAreIgnored) {
    const std::string path = opamp_library();
    expect_success(json({path, "more"}), kOpampOutput);
    expect_success(json({path, "\xFF\xFE", "x"}), kOpampOutput);
    expect_success(json({path, "", "\xC0\x80"}), kOpampOutput);
}

TEST(JsonProgram, ReaderErrorsAreReportedUnchanged) {
    // An empty argument is a path like any other, and so is one that looks
    // like an option.
    for (const std::string path : {"", "--help", "-"}) {
        const std::string report = reader_report(path);
        EXPECT_EQ(report.rfind("Error: read .SchLib " + path + ": ", 0), 0u) << report;
        expect_error(json({path}), report);
        expect_error(json({path, "\xFF"}), report);
    }
    const std::string junk = test::write_temp_file("junk.SchLib", std::string("not a library"));
    expect_error(json({junk}), "Error: not an OLE2 compound document (bad magic)\n");
    const std::string no_pins = test::write_temp_file(
        "nopins.SchLib", test::make_schlib("EMPTY", test::concat({test::text_record("|RECORD=1|"), test::end_record()})));
    expect_error(json({no_pins}), "Error: no pins parsed from component EMPTY\n");
}

TEST(JsonProgram, InvalidUtf8ArgumentsEndTheRunWithoutAReport) {
    const auto fatal = [](const RunResult& r) {
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("Error: ", 0), std::string::npos) << r.err;
    };
    fatal(json({"\xFF"}));
    fatal(json({opamp_library() + "\xE2\x82"}));
    fatal(json({}, test::with_argv0("\xFF")));  // before the test for a missing path
    fatal(json({opamp_library()}, test::with_argv0("pinbook\xC0\x80")));
}

TEST(JsonProgram, FailedWriteIsNotSuccess) {
    test::RunOptions full;
    full.stdout_path = "/dev/full";
    const RunResult r = json({opamp_library()}, full);
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.err.rfind("Error: ", 0), std::string::npos) << r.err;
}

}  // namespace
}  // namespace pinbook
