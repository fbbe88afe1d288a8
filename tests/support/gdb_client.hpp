#pragma once
// A debugger for tests of the GDB stub that knows only what the test tells it
// to say. Every wait has a generous limit, after which the connection is
// dropped (the stub then lets the machine run on) and the answer is "<none>".

#include <string>
#include <vector>

#include "common/bytes.hpp"
#include "debugger/rsp_packet.hpp"

namespace tarvel::test {

class ScriptedDebugger {
public:
    // Connects to 127.0.0.1:port, trying again for up to a minute while
    // nothing listens there yet.
    explicit ScriptedDebugger(u16 port);
    ~ScriptedDebugger() { hang_up(); }
    ScriptedDebugger(const ScriptedDebugger&) = delete;
    ScriptedDebugger& operator=(const ScriptedDebugger&) = delete;

    bool connected() const { return fd_ >= 0; }
    void send_raw(const std::string& bytes);
    void send(const std::string& payload) { send_raw(debugger::encode_packet(payload)); }
    // Sends a packet and returns the next packet received.
    std::string ask(const std::string& payload) {
        send(payload);
        return next_packet();
    }
    std::string next_packet();
    void hang_up();

private:
    int fd_ = -1;
    debugger::PacketDecoder decoder_;
    std::vector<debugger::PacketEvent> events_;
};

// A loopback port nobody listens on right now.
u16 free_loopback_port();

// Hex of a register or word as the stub sends it: its bytes in guest order.
std::string guest_hex(u32 value, bool big_endian);

}  // namespace tarvel::test
