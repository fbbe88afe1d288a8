#pragma once
// Framing of the GDB remote serial protocol: "$payload#cs" packets with a
// two-digit checksum (the sum of the payload bytes as sent, modulo 256),
// '}' escapes (the next byte XOR 0x20), the acknowledgements '+' and '-', and
// the interrupt byte 0x03. The decoder takes bytes as they arrive and never
// holds more than one packet of kMaxPacketBytes; it knows nothing of sockets.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.hpp"

namespace tarvel::debugger {

// The largest packet body (as sent, escapes included) the stub takes; announced
// to the debugger as PacketSize.
inline constexpr size_t kMaxPacketBytes = 0x4000;

struct PacketEvent {
    enum class Kind : u8 {
        Packet,       // a whole packet with a good checksum; payload holds it unescaped
        Ack,          // '+'
        Nak,          // '-': the other side wants the last packet again
        Interrupt,    // 0x03 outside a packet
        BadChecksum,  // a whole packet whose checksum is wrong or not hex
        Oversized,    // a packet longer than kMaxPacketBytes (its bytes were dropped)
    };
    Kind kind = Kind::Packet;
    std::string payload;

    friend bool operator==(const PacketEvent&, const PacketEvent&) = default;
};

class PacketDecoder {
public:
    // Appends the events completed by `bytes` to `out`. Bytes outside packets
    // other than '+', '-' and 0x03 are line noise and dropped; a '$' inside a
    // packet starts the packet over.
    void feed(std::span<const u8> bytes, std::vector<PacketEvent>& out);
    void feed(std::string_view bytes, std::vector<PacketEvent>& out) {
        feed(std::span<const u8>(reinterpret_cast<const u8*>(bytes.data()), bytes.size()), out);
    }

private:
    enum class State : u8 { Idle, Body, Escape, Checksum1, Checksum2 };
    void start();

    State state_ = State::Idle;
    std::string payload_;
    size_t raw_length_ = 0;
    u8 sum_ = 0;
    int given_sum_ = 0;  // -1 once a checksum digit was not hex
};

// "$<escaped payload>#<checksum>". '$', '#', '}' and '*' (which would read as
// run-length encoding) are escaped.
std::string encode_packet(std::string_view payload);

// ---- Hex as the protocol writes it.
void append_hex(std::string& out, std::span<const u8> bytes);
std::string hex_of(std::string_view text);
// Value of one hex digit, or -1.
int hex_digit(char c);
// A whole field of 1 to 8 hex digits; false for anything else.
bool parse_hex_u32(std::string_view text, u32& out);
// Pairs of hex digits to bytes; false when the length is odd or a digit is not hex.
bool parse_hex_bytes(std::string_view text, std::vector<u8>& out);

}  // namespace tarvel::debugger
