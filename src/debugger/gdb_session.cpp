#include "debugger/gdb_session.hpp"

#include <algorithm>
#include <array>

#include "debugger/rsp_packet.hpp"

namespace tarvel::debugger {

namespace {

using machine::TarvelMachine;

constexpr std::string_view kMalformed = "E01";
constexpr std::string_view kNoMemory = "E02";
constexpr std::string_view kTooLong = "E03";
constexpr std::string_view kTooManyBreakpoints = "E04";
constexpr std::string_view kRefusedValue = "E05";

constexpr std::string_view kTargetXml =
    "<?xml version=\"1.0\"?>\n"
    "<!DOCTYPE target SYSTEM \"gdb-target.dtd\">\n"
    "<target version=\"1.0\">\n"
    "<architecture>armv4t</architecture>\n"
    "<feature name=\"org.gnu.gdb.arm.core\">\n"
    "<reg name=\"r0\" bitsize=\"32\" type=\"uint32\" regnum=\"0\"/>\n"
    "<reg name=\"r1\" bitsize=\"32\" type=\"uint32\"/>\n"
    "<reg name=\"r2\" bitsize=\"32\" type=\"uint32\"/>\n"
    "<reg name=\"r3\" bitsize=\"32\" type=\"uint32\"/>\n"
    "<reg name=\"r4\" bitsize=\"32\" type=\"uint32\"/>\n"
    "<reg name=\"r5\" bitsize=\"32\" type=\"uint32\"/>\n"
    "<reg name=\"r6\" bitsize=\"32\" type=\"uint32\"/>\n"
    "<reg name=\"r7\" bitsize=\"32\" type=\"uint32\"/>\n"
    "<reg name=\"r8\" bitsize=\"32\" type=\"uint32\"/>\n"
    "<reg name=\"r9\" bitsize=\"32\" type=\"uint32\"/>\n"
    "<reg name=\"r10\" bitsize=\"32\" type=\"uint32\"/>\n"
    "<reg name=\"r11\" bitsize=\"32\" type=\"uint32\"/>\n"
    "<reg name=\"r12\" bitsize=\"32\" type=\"uint32\"/>\n"
    "<reg name=\"sp\" bitsize=\"32\" type=\"data_ptr\"/>\n"
    "<reg name=\"lr\" bitsize=\"32\"/>\n"
    "<reg name=\"pc\" bitsize=\"32\" type=\"code_ptr\"/>\n"
    "<reg name=\"cpsr\" bitsize=\"32\" regnum=\"16\"/>\n"
    "</feature>\n"
    "</target>\n";

constexpr std::string_view kSupported = "PacketSize=4000;qXfer:features:read+;QStartNoAckMode+";

// Splits "a<sep>b" at the first `sep`; false when there is none.
bool split(std::string_view text, char sep, std::string_view& head, std::string_view& tail) {
    const size_t at = text.find(sep);
    if (at == std::string_view::npos) return false;
    head = text.substr(0, at);
    tail = text.substr(at + 1);
    return true;
}

u32 register_value(const TarvelMachine& m, unsigned n) {
    return n == kCpsrRegister ? m.cpu.regs.cpsr() : m.cpu.regs.get(n);
}

// A register as the debugger reads it: four bytes in the guest's byte order.
void append_register(std::string& out, const TarvelMachine& m, unsigned n) {
    std::array<u8, 4> bytes;
    store32(bytes.data(), register_value(m, n), m.big_endian());
    append_hex(out, bytes);
}

bool parse_register_value(const TarvelMachine& m, std::string_view hex, u32& out) {
    std::vector<u8> bytes;
    if (hex.size() != 8 || !parse_hex_bytes(hex, bytes)) return false;
    out = load32(bytes.data(), m.big_endian());
    return true;
}

// Writes the CPSR first, so that r13 and r14 land in the bank of its mode.
bool store_registers(TarvelMachine& m, const std::array<std::optional<u32>, kRegisterCount>& values) {
    armv4t::RegisterFile& regs = m.cpu.regs;
    if (const auto& cpsr = values[kCpsrRegister]) {
        if (!armv4t::is_valid_mode(*cpsr)) return false;
        regs.set_cpsr(*cpsr);
    }
    for (unsigned n = 0; n < kCpsrRegister; ++n)
        if (values[n]) regs.set(n, *values[n]);
    return true;
}

// "addr,length" in hex.
bool parse_range(std::string_view text, u32& address, u32& length) {
    std::string_view a, l;
    return split(text, ',', a, l) && parse_hex_u32(a, address) && parse_hex_u32(l, length);
}

}  // namespace

std::string_view target_description() { return kTargetXml; }

bool GdbSession::is_breakpoint(u32 pc) const { return std::binary_search(breakpoints_.begin(), breakpoints_.end(), pc); }

std::string GdbSession::stop_reply(const TarvelMachine& m) const {
    std::string out = "T";
    append_hex(out, std::array<u8, 1>{stop_signal_});
    for (const unsigned n : {13u, 14u, 15u}) {
        append_hex(out, std::array<u8, 1>{static_cast<u8>(n)});
        out.push_back(':');
        append_register(out, m, n);
        out.push_back(';');
    }
    return out;
}

std::string GdbSession::read_registers(const TarvelMachine& m) const {
    std::string out;
    out.reserve(kRegisterCount * 8);
    for (unsigned n = 0; n < kRegisterCount; ++n) append_register(out, m, n);
    return out;
}

std::string GdbSession::write_registers(TarvelMachine& m, std::string_view hex) {
    if (hex.size() != kRegisterCount * 8) return std::string(kMalformed);
    std::array<std::optional<u32>, kRegisterCount> values;
    for (unsigned n = 0; n < kRegisterCount; ++n) {
        u32 value = 0;
        if (!parse_register_value(m, hex.substr(n * 8, 8), value)) return std::string(kMalformed);
        values[n] = value;
    }
    return store_registers(m, values) ? "OK" : std::string(kRefusedValue);
}

std::string GdbSession::read_register(const TarvelMachine& m, std::string_view args) const {
    u32 n = 0;
    if (!parse_hex_u32(args, n) || n >= kRegisterCount) return std::string(kMalformed);
    std::string out;
    append_register(out, m, n);
    return out;
}

std::string GdbSession::write_register(TarvelMachine& m, std::string_view args) {
    std::string_view number, hex;
    u32 n = 0, value = 0;
    if (!split(args, '=', number, hex) || !parse_hex_u32(number, n) || n >= kRegisterCount ||
        !parse_register_value(m, hex, value))
        return std::string(kMalformed);
    std::array<std::optional<u32>, kRegisterCount> values;
    values[n] = value;
    return store_registers(m, values) ? "OK" : std::string(kRefusedValue);
}

// Reads through host views, which record nothing: looking at memory must not
// change the machine (its record of unmapped accesses is saved state). A read
// that runs into unbacked memory returns the bytes before it.
std::string GdbSession::read_memory(TarvelMachine& m, std::string_view args) const {
    u32 address = 0, length = 0;
    if (!parse_range(args, address, length)) return std::string(kMalformed);
    if (length > kMaxMemoryTransfer) return std::string(kTooLong);
    std::string out;
    out.reserve(size_t{length} * 2);
    for (u32 i = 0; i < length; ++i) {
        const u8* byte = m.memory.host_read_view(address + i, 1);
        if (!byte) break;
        append_hex(out, std::span<const u8>(byte, 1));
    }
    if (out.empty() && length > 0) return std::string(kNoMemory);
    return out;
}

// All or nothing: every byte must be backed and writable before any changes.
std::string GdbSession::write_memory(TarvelMachine& m, std::string_view args, bool binary) {
    std::string_view range, data;
    u32 address = 0, length = 0;
    if (!split(args, ':', range, data) || !parse_range(range, address, length)) return std::string(kMalformed);
    if (length > kMaxMemoryTransfer) return std::string(kTooLong);
    std::vector<u8> bytes;
    if (binary) bytes.assign(data.begin(), data.end());
    else if (!parse_hex_bytes(data, bytes)) return std::string(kMalformed);
    if (bytes.size() != length) return std::string(kMalformed);
    for (u32 i = 0; i < length; ++i)
        if (!m.memory.host_write_view(address + i, 1)) return std::string(kNoMemory);
    for (u32 i = 0; i < length; ++i) *m.memory.host_write_view(address + i, 1) = bytes[i];
    return "OK";
}

// "addr,kind" with kind 2 (Thumb), 3 (32-bit Thumb) or 4 (ARM); conditions
// after ';' are not offered and ignored.
std::string GdbSession::change_breakpoint(std::string_view args, bool insert) {
    args = args.substr(0, args.find(';'));
    u32 address = 0, kind = 0;
    if (!parse_range(args, address, kind) || kind < 2 || kind > 4) return std::string(kMalformed);
    address &= ~1u;
    const auto at = std::lower_bound(breakpoints_.begin(), breakpoints_.end(), address);
    const bool present = at != breakpoints_.end() && *at == address;
    if (insert && !present) {
        if (breakpoints_.size() >= kMaxBreakpoints) return std::string(kTooManyBreakpoints);
        breakpoints_.insert(at, address);
    } else if (!insert && present) {
        breakpoints_.erase(at);
    }
    return "OK";
}

std::string GdbSession::query(std::string_view packet) {
    if (packet.starts_with("qSupported")) return std::string(kSupported);
    if (packet == "QStartNoAckMode") {
        no_ack_ = true;
        return "OK";
    }
    if (packet == "qAttached" || packet.starts_with("qAttached:")) return "1";  // quitting detaches
    if (packet.starts_with("qSymbol:")) return "OK";
    constexpr std::string_view kFeatures = "qXfer:features:read:";
    if (packet.starts_with(kFeatures)) {
        std::string_view annex, range;
        u32 offset = 0, length = 0;
        if (!split(packet.substr(kFeatures.size()), ':', annex, range) || !parse_range(range, offset, length))
            return std::string(kMalformed);
        if (annex != "target.xml") return std::string(kMalformed);
        if (length > kMaxPacketBytes / 2) length = kMaxPacketBytes / 2;
        const std::string_view xml = target_description();
        if (offset >= xml.size()) return "l";
        const std::string_view part = xml.substr(offset, length);
        return (offset + part.size() >= xml.size() ? "l" : "m") + std::string(part);
    }
    return {};
}

// vCont actions: the first one applies (the machine has one thread).
CommandOutcome GdbSession::resume_request(std::string_view actions) {
    if (actions.empty() || actions.front() != ';') return {std::string(kMalformed)};
    switch (actions[1 < actions.size() ? 1 : 0]) {
        case 'c': case 'C': return {std::nullopt, Resume::Continue};
        case 's': case 'S': return {std::nullopt, Resume::Step};
        default: return {std::string(kMalformed)};
    }
}

CommandOutcome GdbSession::handle(TarvelMachine& m, std::string_view packet) {
    if (packet.empty()) return {std::string()};
    const std::string_view args = packet.substr(1);
    switch (packet.front()) {
        case '?': return {stop_reply(m)};
        case 'g': return {read_registers(m)};
        case 'G': return {write_registers(m, args)};
        case 'p': return {read_register(m, args)};
        case 'P': return {write_register(m, args)};
        case 'm': return {read_memory(m, args)};
        case 'M': return {write_memory(m, args, false)};
        case 'X': return {write_memory(m, args, true)};
        case 'Z':
        case 'z':
            // Software and hardware breakpoints are the same thing here; no watchpoints.
            if (args.starts_with("0,") || args.starts_with("1,")) return {change_breakpoint(args.substr(2), packet[0] == 'Z')};
            return {std::string()};
        case 'c':
        case 's':
        case 'C':
        case 'S': {
            // An address to resume at follows c and s directly, C and S after the signal.
            std::string_view address = args;
            if (packet[0] == 'C' || packet[0] == 'S') {
                const size_t at = args.find(';');
                address = at == std::string_view::npos ? std::string_view() : args.substr(at + 1);
            }
            if (!address.empty()) {
                u32 pc = 0;
                if (!parse_hex_u32(address, pc)) return {std::string(kMalformed)};
                m.cpu.regs.set(15, pc);
            }
            return {std::nullopt, packet[0] == 'c' || packet[0] == 'C' ? Resume::Continue : Resume::Step};
        }
        case 'D': return {"OK", Resume::Detach};
        case 'k': return {std::nullopt, Resume::Kill};
        case 'H':
        case 'T': return {"OK"};
        case 'v':
            if (packet == "vCont?") return {"vCont;c;C;s;S"};
            if (packet.starts_with("vCont")) return resume_request(packet.substr(5));
            if (packet.starts_with("vKill")) return {"OK", Resume::Kill};
            return {std::string()};
        case 'q':
        case 'Q': return {query(packet)};
        default: return {std::string()};
    }
}

}  // namespace tarvel::debugger
