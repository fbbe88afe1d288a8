// Packet framing: what arrives in pieces, with noise, bad checksums or too
// many bytes comes out as whole events, and the decoder stays in step.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "debugger/rsp_packet.hpp"

namespace tarvel::debugger {
namespace {

using Kind = PacketEvent::Kind;

// "$body#cs" with the checksum of the body as given (escapes and all).
std::string framed(const std::string& body) {
    unsigned sum = 0;
    for (const unsigned char c : body) sum += c;
    static const char* digits = "0123456789abcdef";
    return "$" + body + "#" + digits[(sum >> 4) & 15] + digits[sum & 15];
}

std::vector<PacketEvent> decode(const std::string& bytes, bool byte_by_byte = false) {
    PacketDecoder decoder;
    std::vector<PacketEvent> events;
    if (!byte_by_byte) {
        decoder.feed(bytes, events);
    } else {
        for (const char c : bytes) decoder.feed(std::string_view(&c, 1), events);
    }
    return events;
}

TEST(PacketDecoder, TurnsBytesIntoEvents) {
    const std::string oversized = "$" + std::string(kMaxPacketBytes + 1, 'a') + "#00";
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<PacketEvent> events;
    };
    const std::vector<Case> cases = {
        {"plain", "$g#67", {{Kind::Packet, "g"}}},
        {"acks and interrupt", "+-\x03", {{Kind::Ack, {}}, {Kind::Nak, {}}, {Kind::Interrupt, {}}}},
        {"noise before a packet", "xyz\r\n$?#3f", {{Kind::Packet, "?"}}},
        {"wrong checksum", "$g#68$g#67", {{Kind::BadChecksum, {}}, {Kind::Packet, "g"}}},
        {"checksum not hex", "$g#6z", {{Kind::BadChecksum, {}}}},
        {"a '$' starts over", "$m0,4$g#67", {{Kind::Packet, "g"}}},
        {"escapes", framed("X0,3:}]}\x03}\x04"), {{Kind::Packet, std::string("X0,3:}#$")}}},
        {"0x03 inside a packet is data", framed("a\x03"), {{Kind::Packet, "a\x03"}}},
        {"empty packet", "$#00", {{Kind::Packet, ""}}},
        {"too long, then in step again", oversized + "$g#67", {{Kind::Oversized, {}}, {Kind::Packet, "g"}}},
        {"unfinished", "$g#6", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode(c.bytes), c.events);
        EXPECT_EQ(decode(c.bytes, true), c.events) << "byte by byte";
    }
}

TEST(PacketEncoding, EscapesWhatWouldEndOrCompressAPacket) {
    EXPECT_EQ(encode_packet("OK"), "$OK#9a");
    const std::string awkward = std::string("a$b#c}d*e\x03", 10);
    const std::string encoded = encode_packet(awkward);
    EXPECT_EQ(encoded.find_first_of("$#*", 1), encoded.size() - 3) << encoded;
    EXPECT_EQ(decode(encoded), (std::vector<PacketEvent>{{Kind::Packet, awkward}}));
}

TEST(HexFields, AcceptOnlyWhatTheyCanHold) {
    u32 value = 7;
    EXPECT_TRUE(parse_hex_u32("0", value) && value == 0);
    EXPECT_TRUE(parse_hex_u32("FFffFFff", value) && value == 0xFFFFFFFF);
    for (const char* bad : {"", "123456789", "12g", "-1", " 1"}) EXPECT_FALSE(parse_hex_u32(bad, value)) << bad;
    std::vector<u8> bytes;
    EXPECT_TRUE(parse_hex_bytes("00ff7A", bytes));
    EXPECT_EQ(bytes, (std::vector<u8>{0x00, 0xFF, 0x7A}));
    EXPECT_FALSE(parse_hex_bytes("abc", bytes));
    EXPECT_FALSE(parse_hex_bytes("0x", bytes));
    EXPECT_EQ(hex_of("Hi\n"), "48690a");
}

}  // namespace
}  // namespace tarvel::debugger
