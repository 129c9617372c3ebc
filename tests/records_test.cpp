// The record walk of a "Data" stream, `field` and `read_pstr`.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pinbook/records.hpp"
#include "support/schlib.hpp"

namespace pinbook {
namespace {

using test::Bytes;
using test::bytes_of;
using test::concat;
using test::record;
using test::text_record;

// Notes every record handed over, in order, as "kind:content".
struct Trace final : RecordHandler {
    std::vector<std::string> calls;
    void component_record(std::string_view text) override { calls.push_back("component:" + std::string(text)); }
    void rectangle_record(std::string_view text) override { calls.push_back("rectangle:" + std::string(text)); }
    void pin_record(std::span<const std::uint8_t> payload) override {
        calls.push_back("pin:" + std::to_string(payload.size()));
    }
};

std::vector<std::string> walk(const Bytes& stream) {
    Trace trace;
    walk_records(stream, trace);
    return trace.calls;
}

using Calls = std::vector<std::string>;

TEST(RecordWalk, WorkedStreamStopsAtLengthZero) {
    const Bytes stream = {0x0B, 0x00, 0x12, 0x34, 0x7C, 0x52, 0x45, 0x43, 0x4F, 0x52, 0x44, 0x3D,
                          0x34, 0x35, 0x7C, 0x03, 0x00, 0x00, 0x00, 0x05, 0xAA, 0xBB, 0x00, 0x00,
                          0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00};
    ASSERT_EQ(stream.size(), 35u);
    EXPECT_EQ(walk(stream), Calls{});

    // The pin-like record after the zero length is reached once the zero
    // length is gone: the walk itself is what stopped.
    Bytes without_end(stream.begin(), stream.begin() + 22);
    without_end.insert(without_end.end(), stream.begin() + 26, stream.end());
    EXPECT_EQ(walk(without_end), Calls{"pin:5"});
}

TEST(RecordWalk, EndsWhenFewerThanFourBytesRemain) {
    const Bytes pin = record(Bytes{2, 9});
    EXPECT_EQ(walk(concat({pin, Bytes{0x01, 0x00, 0x00}})), Calls{"pin:2"});
    EXPECT_EQ(walk(concat({pin, pin})), (Calls{"pin:2", "pin:2"}));
    for (std::size_t n = 0; n < 4; ++n) EXPECT_EQ(walk(Bytes(n, 0x02)), Calls{}) << n;
    // A record that ends exactly at the end of the stream is visited.
    EXPECT_EQ(walk(pin), Calls{"pin:2"});
}

TEST(RecordWalk, OverrunningPayloadIsNotVisited) {
    EXPECT_EQ(walk(Bytes{0x0A, 0x00, 0x00, 0x00, 2, 0, 0, 0, 0}), Calls{});
    const Bytes pin = record(Bytes{2});
    EXPECT_EQ(walk(concat({pin, Bytes{0x20, 0x00, 0x00, 0x00, 2, 0, 0, 0}, pin})), Calls{"pin:1"});
}

TEST(RecordWalk, LengthIsLittleEndianAndSpareBytesAreIgnored) {
    Bytes payload(300, 0);
    payload[0] = 2;
    const Bytes r = record(payload, 0xFFFF);
    EXPECT_EQ(r[0], 0x2C);
    EXPECT_EQ(r[1], 0x01);
    EXPECT_EQ(walk(r), Calls{"pin:300"});
    EXPECT_EQ(walk(concat({record(payload, 0x0000), record(Bytes{2}, 0x1234)})), (Calls{"pin:300", "pin:1"}));
    // The largest length a header can hold.
    Bytes largest(65535, 0);
    largest[0] = 2;
    EXPECT_EQ(walk(record(largest)), Calls{"pin:65535"});
}

TEST(RecordWalk, KindComesFromTheFirstPayloadByte) {
    // "|" makes a text record even when what follows is not text.
    EXPECT_EQ(walk(record(bytes_of("|RECORD=1|\xFF\xFE"))), Calls{"component:|RECORD=1|\xEF\xBF\xBD\xEF\xBF\xBD"});
    // Without the leading "|" it is a binary record of type 'R'.
    EXPECT_EQ(walk(text_record("RECORD=1|")), Calls{});
    EXPECT_EQ(walk(record(Bytes{3, 0, 0})), Calls{});
    EXPECT_EQ(walk(record(Bytes{0x02})), Calls{"pin:1"});
}

TEST(RecordWalk, RecordValueSelectsTheKind) {
    const auto kind = [](std::string_view text) {
        const Calls calls = walk(text_record(text));
        if (calls.empty()) return std::string("skipped");
        return calls[0].substr(0, calls[0].find(':'));
    };
    EXPECT_EQ(kind("|RECORD=1|"), "component");
    EXPECT_EQ(kind("|RECORD=14|"), "rectangle");
    EXPECT_EQ(kind("|RECORD= 1\t|"), "component");
    EXPECT_EQ(kind("|RECORD=14\xE3\x80\x80|"), "rectangle");
    EXPECT_EQ(kind("|RECORD=01|"), "skipped");
    EXPECT_EQ(kind("|RECORD=1.0|"), "skipped");
    EXPECT_EQ(kind("|RECORD=+1|"), "skipped");
    EXPECT_EQ(kind("|RECORD=14.0|"), "skipped");
    EXPECT_EQ(kind("|RECORD=45|"), "skipped");
    EXPECT_EQ(kind("|NAME=x|"), "skipped");
    EXPECT_EQ(kind(std::string_view("|RECORD=1\0", 10)), "skipped");
    EXPECT_EQ(kind("|RECORD=1\xFF"), "skipped");
    EXPECT_EQ(kind("|RECORD=45|RECORD=1|"), "skipped");
    EXPECT_EQ(kind("|RECORD=1|RECORD=45|"), "component");
    EXPECT_EQ(kind("| RECORD=1|"), "skipped");
    EXPECT_EQ(kind("|record=1|"), "skipped");
}

TEST(RecordWalk, TextIsTheWholeDecodedPayload) {
    const std::string text("|RECORD=14|Corner.X=1|\0", 23);
    EXPECT_EQ(walk(text_record(text)), Calls{"rectangle:" + text});
}

TEST(Field, FirstPieceStartingWithKeyWins) {
    EXPECT_EQ(field("|A=1|B=2|A=3|", "A"), "1");
    EXPECT_EQ(field("|A=1|B=2|", "B"), "2");
    EXPECT_EQ(field("|A=1|B=2|", "C"), std::nullopt);
    EXPECT_EQ(field("|A=|B=2|", "A"), "");
    EXPECT_EQ(field("|A=a=b|", "A"), "a=b");
    EXPECT_EQ(field("|A|A=2|", "A"), "2");         // a piece without "=" never matches
    EXPECT_EQ(field("|AB=1|A=2|", "A"), "2");      // the key must end at "="
    EXPECT_EQ(field("|XA=1|", "A"), std::nullopt);  // ... and start the piece
    EXPECT_EQ(field("| A=1|", "A"), std::nullopt);
    EXPECT_EQ(field("|a=1|", "A"), std::nullopt);
    EXPECT_EQ(field("A=0|A=1", "A"), "0");  // the piece before the first "|" counts
    EXPECT_EQ(field("|B=1|A=last", "A"), "last");
    EXPECT_EQ(field("", "A"), std::nullopt);
    EXPECT_EQ(field("|A= in side |", "A"), "in side");
}

TEST(Field, TrimsExactlyTheWhiteSpaceCharacters) {
    const std::string_view white[] = {
        "\t", "\n", "\v", "\f", "\r", " ", "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\x80",
        "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86",
        "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9",
        "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80",
    };
    ASSERT_EQ(std::size(white), 25u);
    for (std::string_view ws : white) {
        const std::string record = "|K=" + std::string(ws) + "v" + std::string(ws) + std::string(ws) + "|";
        EXPECT_EQ(field(record, "K"), "v") << record;
    }
    std::string all;
    for (std::string_view ws : white) all += ws;
    EXPECT_EQ(field("|K=" + all + "v w" + all, "K"), "v w");
    EXPECT_EQ(field("|K=" + all, "K"), "");

    const std::string_view kept[] = {
        std::string_view("\0", 1), "\x1C", "\x1F", "\xE1\xA0\x8E", "\xE2\x80\x8B", "\xEF\xBB\xBF", "\xEF\xBF\xBD",
        "\xC2\x84", "\xE2\x80\x8C",
    };
    for (std::string_view k : kept) {
        const std::string value = std::string(k) + "v" + std::string(k);
        EXPECT_EQ(field("|K= " + value + " |", "K"), value);
    }
}

TEST(ReadPstr, CursorRules) {
    Bytes payload(26, 0);
    std::size_t cursor = 26;
    EXPECT_EQ(read_pstr(payload, cursor), "");
    EXPECT_EQ(read_pstr(payload, cursor), "");
    EXPECT_EQ(cursor, 26u);
    cursor = 100;
    EXPECT_EQ(read_pstr(payload, cursor), "");
    EXPECT_EQ(cursor, 100u);

    // Length 5 with only 3 bytes after it: empty, cursor past the length byte;
    // the next call reads its length from the byte after it.
    payload.insert(payload.end(), {5, 2, 'A', 'B'});
    cursor = 26;
    EXPECT_EQ(read_pstr(payload, cursor), "");
    EXPECT_EQ(cursor, 27u);
    EXPECT_EQ(read_pstr(payload, cursor), "AB");
    EXPECT_EQ(cursor, payload.size());  // ends exactly at the end

    const Bytes zero = {0, 1, 'x'};
    cursor = 0;
    EXPECT_EQ(read_pstr(zero, cursor), "");
    EXPECT_EQ(cursor, 1u);
    EXPECT_EQ(read_pstr(zero, cursor), "x");
    EXPECT_EQ(cursor, 3u);
}

TEST(ReadPstr, DecodesLossily) {
    const Bytes data = {4, 'a', 0xE2, 0x82, 'b', 255};
    std::size_t cursor = 0;
    EXPECT_EQ(read_pstr(data, cursor), "a\xEF\xBF\xBD" "b");
    Bytes full(256, 'z');
    full[0] = 255;
    cursor = 0;
    EXPECT_EQ(read_pstr(full, cursor), std::string(255, 'z'));
    EXPECT_EQ(cursor, 256u);
}

}  // namespace
}  // namespace pinbook
