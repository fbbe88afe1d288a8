#include "debugger/rsp_packet.hpp"

namespace tarvel::debugger {

namespace {
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr u8 kInterruptByte = 0x03;
}  // namespace

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void PacketDecoder::start() {
    state_ = State::Body;
    payload_.clear();
    raw_length_ = 0;
    sum_ = 0;
    given_sum_ = 0;
}

void PacketDecoder::feed(std::span<const u8> bytes, std::vector<PacketEvent>& out) {
    using Kind = PacketEvent::Kind;
    for (const u8 byte : bytes) {
        switch (state_) {
            case State::Idle:
                if (byte == '$') start();
                else if (byte == '+') out.push_back({Kind::Ack, {}});
                else if (byte == '-') out.push_back({Kind::Nak, {}});
                else if (byte == kInterruptByte) out.push_back({Kind::Interrupt, {}});
                break;
            case State::Body:
            case State::Escape:
                if (byte == '$') {
                    start();
                    break;
                }
                if (byte == '#' && state_ == State::Body) {
                    state_ = State::Checksum1;
                    break;
                }
                sum_ = static_cast<u8>(sum_ + byte);
                // Past the limit the packet is only scanned for its end.
                if (++raw_length_ > kMaxPacketBytes) {
                    state_ = State::Body;
                    break;
                }
                if (state_ == State::Escape) {
                    payload_.push_back(static_cast<char>(byte ^ 0x20));
                    state_ = State::Body;
                } else if (byte == '}') {
                    state_ = State::Escape;
                } else {
                    payload_.push_back(static_cast<char>(byte));
                }
                break;
            case State::Checksum1:
            case State::Checksum2: {
                const int digit = hex_digit(static_cast<char>(byte));
                if (digit < 0 || given_sum_ < 0) given_sum_ = -1;
                else given_sum_ = given_sum_ * 16 + digit;
                if (state_ == State::Checksum1) {
                    state_ = State::Checksum2;
                    break;
                }
                state_ = State::Idle;
                if (raw_length_ > kMaxPacketBytes) {
                    out.push_back({Kind::Oversized, {}});
                } else if (given_sum_ != sum_) {
                    out.push_back({Kind::BadChecksum, {}});
                } else {
                    out.push_back({Kind::Packet, std::move(payload_)});
                }
                payload_.clear();
                break;
            }
        }
    }
}

std::string encode_packet(std::string_view payload) {
    std::string out;
    out.reserve(payload.size() + 4);
    out.push_back('$');
    u8 sum = 0;
    for (const char c : payload) {
        if (c == '$' || c == '#' || c == '}' || c == '*') {
            out.push_back('}');
            sum = static_cast<u8>(sum + '}');
            const char escaped = static_cast<char>(c ^ 0x20);
            out.push_back(escaped);
            sum = static_cast<u8>(sum + static_cast<u8>(escaped));
        } else {
            out.push_back(c);
            sum = static_cast<u8>(sum + static_cast<u8>(c));
        }
    }
    out.push_back('#');
    out.push_back(kHexDigits[sum >> 4]);
    out.push_back(kHexDigits[sum & 15]);
    return out;
}

void append_hex(std::string& out, std::span<const u8> bytes) {
    for (const u8 b : bytes) {
        out.push_back(kHexDigits[b >> 4]);
        out.push_back(kHexDigits[b & 15]);
    }
}

std::string hex_of(std::string_view text) {
    std::string out;
    append_hex(out, std::span<const u8>(reinterpret_cast<const u8*>(text.data()), text.size()));
    return out;
}

bool parse_hex_u32(std::string_view text, u32& out) {
    if (text.empty() || text.size() > 8) return false;
    u32 value = 0;
    for (const char c : text) {
        const int digit = hex_digit(c);
        if (digit < 0) return false;
        value = value << 4 | static_cast<u32>(digit);
    }
    out = value;
    return true;
}

bool parse_hex_bytes(std::string_view text, std::vector<u8>& out) {
    if (text.size() % 2) return false;
    out.clear();
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = hex_digit(text[i]);
        const int low = hex_digit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        out.push_back(static_cast<u8>(high << 4 | low));
    }
    return true;
}

}  // namespace tarvel::debugger
