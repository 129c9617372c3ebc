// pinbook_kicad as a user runs it: arguments, the choice of symbol name,
// error reports and exit statuses, and the text on standard output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pinbook/pinbook.hpp"
#include "support/run_program.hpp"
#include "support/schlib.hpp"
#include "support/sexpr.hpp"

namespace pinbook {
namespace {

using test::run_program;
using test::RunResult;
using test::expect_error;
using test::expect_success;
using test::WellFormedSexpr;

const std::string kUsage = "Error: usage: pinbook-kicad <file.SchLib> [name]\n";

RunResult kicad(const std::vector<std::string>& args, const test::RunOptions& options = {}) {
    RunResult r = run_program(PINBOOK_KICAD_BIN, args, options);
    if (r.status == 0) {
        EXPECT_TRUE(WellFormedSexpr(r.out)) << r.out;
    }
    return r;
}

std::string library(const std::string& file, std::string_view storage) {
    return test::write_temp_file(file, test::make_schlib(storage, test::opamp_data_stream()));
}

// What the library writes for the file's component under `name`.
std::string expected_text(const std::string& path, std::string_view name) {
    auto component = parse_pinbook_path(path);
    EXPECT_TRUE(component.has_value());
    return component ? to_kicad_sym(*component, name) : std::string();
}

TEST(KicadProgram, MissingPathIsAUsageError) {
    expect_error(kicad({}), kUsage);
    expect_error(kicad({}, test::with_argv0("other-name")), kUsage);
    test::RunOptions none;
    none.no_argv0 = true;
    expect_error(kicad({}, none), kUsage);
}

TEST(KicadProgram, OnlyAPathNamesTheSymbolAfterTheStorage) {
    const std::string path = library("opamp.SchLib", "OPAMP");
    const RunResult r = kicad({path});
    expect_success(r, expected_text(path, "OPAMP"));
    EXPECT_EQ(r.out,
              "(kicad_symbol_lib (version 20211014) (generator pinbook)\n"
              "  (symbol \"OPAMP\" (in_bom yes) (on_board yes)\n"
              "    (property \"Reference\" \"U\" (at 0 5.08 0) (effects (font (size 1.27 1.27))))\n"
              "    (property \"Value\" \"OPAMP\" (at 0 -5.08 0) (effects (font (size 1.27 1.27))))\n"
              "    (symbol \"OPAMP_1_1\"\n"
              "      (rectangle (start -19.05 3.81) (end 19.05 -3.81) (stroke (width 0.254) (type default)) (fill (type background)))\n"
              "      (pin bidirectional line (at -24.13 1.27 0) (length 5.08)\n"
              "        (name \"IN\" (effects (font (size 1.27 1.27)))) (number \"1\" (effects (font (size 1.27 1.27)))))\n"
              "    )\n"
              "  )\n"
              ")\n");
    // A storage name KiCad could not read raw comes out escaped.
    const std::string odd = library("odd.SchLib", "Q\"(x) y");
    const RunResult q = kicad({odd});
    expect_success(q, expected_text(odd, "Q\"(x) y"));
    EXPECT_NE(q.out.find("(symbol \"Q\\\"(x) y\" (in_bom"), std::string::npos) << q.out;
}

TEST(KicadProgram, ArgumentTwoIsTheNameUnchanged) {
    const std::string path = library("named.SchLib", "OPAMP");
    for (const std::string name : {"U7 amp", "", "-h", "a \"q\" (b) \\c\nd"}) {
        expect_success(kicad({path, name}), expected_text(path, name));
    }
    EXPECT_NE(kicad({path, ""}).out.find("    (symbol \"_1_1\"\n"), std::string::npos);
}

TEST(KicadProgram, ArgumentsAfterTheNameAreIgnored) {
    const std::string path = library("extra.SchLib", "OPAMP");
    const std::string text = expected_text(path, "N");
    expect_success(kicad({path, "N", "more"}), text);
    expect_success(kicad({path, "N", "\xFF\xFE", "x"}), text);
}

TEST(KicadProgram, ReaderErrorWinsWhateverArgumentTwoHolds) {
    const std::string missing = test::temp_dir() + "/no-such.SchLib";
    const std::string junk = test::write_temp_file("junk.SchLib", std::string("not a library"));
    for (const std::string& path : {missing, junk}) {
        const auto err = parse_pinbook_path(path);
        ASSERT_FALSE(err.has_value());
        const std::string report = "Error: " + err.error().message + "\n";
        expect_error(kicad({path}), report);
        expect_error(kicad({path, "NAME"}), report);
        expect_error(kicad({path, "\xC0\x80"}), report);
        expect_error(kicad({path, "\xFF", "\xFF"}), report);
    }
}

TEST(KicadProgram, InvalidUtf8ArgumentsEndTheRunWithoutAReport) {
    const std::string path = library("utf8.SchLib", "OPAMP");
    const auto fatal = [](const RunResult& r) {
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("Error: ", 0), std::string::npos) << r.err;
    };
    fatal(kicad({path, "\xFF"}));
    fatal(kicad({path, "ok\xE2\x82"}));
    fatal(kicad({std::string("\xFF") + path}));
    fatal(kicad({}, test::with_argv0("\xFF")));  // before the test for a missing path
}

TEST(KicadProgram, FailedWriteIsNotSuccess) {
    const std::string path = library("full.SchLib", "OPAMP");
    test::RunOptions full;
    full.stdout_path = "/dev/full";
    const RunResult r = kicad({path}, full);
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.err.rfind("Error: ", 0), std::string::npos) << r.err;
}

}  // namespace
}  // namespace pinbook
