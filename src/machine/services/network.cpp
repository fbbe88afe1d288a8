// The network service (group 9): the simulated connections, sends and HTTP
// requests described in network.hpp.
//
// Decisions where the platform leaves room:
// - A send with a null buffer is still a send: the length is counted and the
//   connection answers; only the data is missing, so nothing is read from
//   address 0 and the last uplink is empty. It returns 0, as does a send of
//   zero bytes (which is counted, as nothing, and answered too).
// - An HTTP request without a callback is still made: the URL is kept, the
//   answer byte allocated and counted, but no event is queued; it returns 0.
// - Closing a connection frees its slot completely. Events already queued for
//   it are still delivered: they were sent before the close.
// - The status queries (4, 19, 20, 29, 30) report 1, "available", and have
//   no effect.
// - The uplink trace line shows the first bytes as lower-case hexadecimal
//   digits without separators, two per byte.
//
// Bounds: 16 connection slots, 512 bytes of the last send, 256 bytes of URL,
// 32 pending events; answer bytes come from the guest heap, which has its own
// limit (an answer whose byte cannot be allocated is dropped).

#include "machine/services/network.hpp"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "common/utf8.hpp"
#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/service_groups.hpp"
#include "machine/trace_filter.hpp"
#include "memory/guest_strings.hpp"

namespace tarvel::machine::services {
namespace {

constexpr u8 kAnswerByte = 0x01;

u64 saturating_add(u64 a, u64 b) {
    return a > std::numeric_limits<u64>::max() - b ? std::numeric_limits<u64>::max() : a + b;
}

bool room_for_event(const TarvelMachine& m) { return m.queued_calls.size() < kMaxPendingNetworkEvents; }

void queue_event(TarvelMachine& m, u32 kind, u32 w1, u32 w2, u32 w3, u32 callback, u32 argument, u32 countdown) {
    m.queued_calls.push_back(QueuedCall{kind, w1, w2, w3, callback, argument, countdown});
}

// The answer to a send or a request: one byte 0x01 in guest memory, then the
// data event and, room permitting, the completion event a tick later.
void deliver_answer(TarvelMachine& m, u32 callback, u32 argument) {
    const u32 byte = m.heap.allocate(1);
    if (byte == 0) return;
    m.memory.write8(byte, kAnswerByte);
    m.network.downlink_bytes = saturating_add(m.network.downlink_bytes, 1);
    if (callback == 0 || !room_for_event(m)) return;
    queue_event(m, kNetEventData, byte, 1, 1, callback, argument, 1);
    if (room_for_event(m)) queue_event(m, kNetEventComplete, 0, 0, 0, callback, argument, 2);
}

u32 take_connection_id(NetworkState& net) {
    ++net.next_connection_id;
    if (net.next_connection_id == 0) net.next_connection_id = 1;
    return net.next_connection_id;
}

u32 open_connection(TarvelMachine& m) {
    const u32 callback = service_arg(m, 2);
    const u32 id_address = service_arg(m, 3);
    if (callback == 0) return 0;
    auto& slots = m.network.connections;
    const auto slot = std::find_if(slots.begin(), slots.end(), [](const NetworkConnection& c) { return !c.open; });
    if (slot == slots.end()) return 0;
    const u32 id = take_connection_id(m.network);
    *slot = NetworkConnection{id, callback, 0, true};
    if (id_address != 0) m.memory.write32(id_address, id);
    if (room_for_event(m)) queue_event(m, kNetEventOpened, 0, 0, 0, callback, 0, 1);
    return 1;
}

std::vector<u8> read_uplink(TarvelMachine& m, u32 address, u32 length) {
    std::vector<u8> bytes(std::min<u32>(length, NetworkState::kUplinkKept));
    if (!m.memory.read_bytes_into(address, bytes)) {
        // Not all in one region: what can be read, 0 elsewhere.
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = m.memory.read8(address + static_cast<u32>(i));
    }
    return bytes;
}

void trace_uplink(u32 length, const std::vector<u8>& bytes) {
    if (!trace_variable_set()) return;
    std::string head;
    const size_t shown = std::min<size_t>(bytes.size(), kUplinkTraceHead);
    for (size_t i = 0; i < shown; ++i) head += fmt::format("{:02x}", bytes[i]);
    const std::string line = fmt::format("network mock uplink len={} head={}\n", length, head);
    std::fputs(line.c_str(), stderr);
}

u32 send(TarvelMachine& m) {
    const u32 buffer = service_arg(m, 0);
    const u32 length = service_arg(m, 1);
    const u32 id = service_arg(m, 2);
    NetworkState& net = m.network;
    net.last_uplink = buffer == 0 ? std::vector<u8>() : read_uplink(m, buffer, length);
    net.uplink_bytes = saturating_add(net.uplink_bytes, length);
    const auto slot = std::find_if(net.connections.begin(), net.connections.end(),
                                   [id](const NetworkConnection& c) { return c.open && c.id == id; });
    if (slot != net.connections.end()) {
        trace_uplink(length, net.last_uplink);
        deliver_answer(m, slot->callback, slot->argument);
    }
    return buffer == 0 ? 0 : length;
}

u32 close_connection(TarvelMachine& m) {
    const u32 id = service_arg(m, 0);
    for (NetworkConnection& c : m.network.connections)
        if (c.open && c.id == id) c = NetworkConnection{};
    return 0;
}

u32 http_request(TarvelMachine& m) {
    const u32 url = service_arg(m, 0);
    const u32 callback = service_arg(m, 1);
    const u32 argument = service_arg(m, 2);
    m.network.last_url = utf8::replace_invalid(read_byte_string(m.memory, url, kUrlLimit));
    if (trace_variable_set()) {
        const std::string line = fmt::format("network mock http url={}\n", m.network.last_url);
        std::fputs(line.c_str(), stderr);
    }
    deliver_answer(m, callback, argument);
    return callback != 0 ? 1 : 0;
}

u32 reset_counters(TarvelMachine& m) {
    m.network.last_uplink.clear();
    m.network.uplink_bytes = 0;
    m.network.downlink_bytes = 0;
    return 0;
}

u32 read_counters(TarvelMachine& m) {
    const u32 uplink_out = service_arg(m, 0);
    const u32 downlink_out = service_arg(m, 1);
    const u32 uplink = static_cast<u32>(m.network.uplink_bytes);
    const u32 downlink = static_cast<u32>(m.network.downlink_bytes);
    if (uplink_out != 0) m.memory.write32(uplink_out, uplink);
    if (downlink_out != 0) m.memory.write32(downlink_out, downlink);
    return downlink;
}

u32 perform(TarvelMachine& m, u32 index) {
    switch (index) {
        case 0: return open_connection(m);
        case 1: return send(m);
        case 2: return close_connection(m);
        case 3: return http_request(m);
        case 4: case 19: case 20: case 29: case 30: return 1;
        case 35: return reset_counters(m);
        case 36: return read_counters(m);
        default: return 0;
    }
}

}  // namespace

void network_service(TarvelMachine& m, u32 index) { set_result(m, perform(m, index)); }

}  // namespace tarvel::machine::services
