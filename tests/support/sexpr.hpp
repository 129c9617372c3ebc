// A strict reader for the S-expression text that KiCad loads: balanced
// lists, bare atoms, and quoted strings with backslash escapes that never run
// across a line. Every KiCad text the suites produce goes through it, so that
// a text KiCad would refuse fails a test.
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace pinbook::test {

struct Sexpr {
    enum class Kind { list, atom, string };
    Kind kind = Kind::list;
    std::string text;            // an atom's bytes, or a string's decoded bytes
    std::vector<Sexpr> items;    // a list's elements

    bool is_list() const { return kind == Kind::list; }
    // The atom at the head of a list ("pin", "symbol", ...), else empty.
    std::string_view head() const;
    // The lists among the items whose head is `name`, in order.
    std::vector<const Sexpr*> children(std::string_view name) const;
};

// Reads exactly one top-level list, with only blanks and line ends around
// it. Inside a string only \\ \" \n \r \t are accepted as escapes, and a raw
// line feed or carriage return is an error; a string must be set off from
// neighbouring atoms by blanks or parentheses. The error names the byte
// offset and the fault.
std::expected<Sexpr, std::string> parse_sexpr(std::string_view text);

// For EXPECT_TRUE / ASSERT_TRUE: succeeds when parse_sexpr accepts the text.
::testing::AssertionResult WellFormedSexpr(std::string_view text);

}  // namespace pinbook::test
