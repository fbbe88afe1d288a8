// The stub on a real loopback socket, driven by a scripted debugger on a
// second thread while the test's thread runs guest code: breakpoints and
// steps in ARM and Thumb code of either byte order, and an interrupt and a
// kill in a loop that never ends by itself.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "debugger/gdb_server.hpp"
#include "debugger/rsp_packet.hpp"
#include "machine/cpu_bridge.hpp"
#include "support/test_machine.hpp"
#include "support/thumb_program.hpp"

namespace tarvel::debugger {
namespace {

using machine::TarvelMachine;
constexpr u32 kBase = machine::kDefaultCodeBase;

// A debugger that knows only what the test tells it to say. Every wait has a
// generous limit, after which the connection is dropped (the stub then lets
// the machine run on) and the transcript shows what was missing.
class ScriptedDebugger {
public:
    explicit ScriptedDebugger(u16 port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval limit{60, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) hang_up();
    }
    ~ScriptedDebugger() { hang_up(); }

    void send_raw(const std::string& bytes) {
        if (fd_ >= 0) ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    // Sends a packet and returns the next packet received ("<none>" if none came).
    std::string ask(const std::string& payload) {
        send_raw(encode_packet(payload));
        return next_packet();
    }
    std::string next_packet() {
        while (fd_ >= 0) {
            for (size_t i = 0; i < events_.size(); ++i) {
                if (events_[i].kind != PacketEvent::Kind::Packet) continue;
                std::string payload = events_[i].payload;
                events_.erase(events_.begin(), events_.begin() + static_cast<long>(i) + 1);
                return payload;
            }
            char buffer[1024];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) hang_up();
            else decoder_.feed(std::string_view(buffer, static_cast<size_t>(n)), events_);
        }
        return "<none>";
    }
    void hang_up() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
    PacketDecoder decoder_;
    std::vector<PacketEvent> events_;
};

std::string guest_hex(u32 value, bool big_endian) {
    u8 bytes[4];
    store32(bytes, value, big_endian);
    std::string out;
    append_hex(out, bytes);
    return out;
}

std::string pc_field(u32 pc, bool big_endian) { return "0f:" + guest_hex(pc, big_endian) + ";"; }

// Three additions and a return: r0 = 1, 3, 6.
std::vector<u8> counting_code(bool thumb, bool big_endian) {
    std::vector<u8> code;
    if (thumb) {
        for (const u16 h : {0x2001, 0x3002, 0x3003, 0x4770}) {  // movs r0,#1; adds r0,#2; adds r0,#3; bx lr
            code.resize(code.size() + 2);
            store16(code.data() + code.size() - 2, h, big_endian);
        }
    } else {
        for (const u32 w : {0xE3A00001u, 0xE2800002u, 0xE2800003u, 0xE12FFF1Eu}) {
            code.resize(code.size() + 4);
            store32(code.data() + code.size() - 4, w, big_endian);
        }
    }
    return code;
}

TEST(GdbServer, BreaksAndStepsInArmAndThumbCode) {
    for (const bool thumb : {true, false}) {
        for (const bool big : {false, true}) {
            SCOPED_TRACE(std::string(thumb ? "Thumb " : "ARM ") + (big ? "big-endian" : "little-endian"));
            test::Layout layout;
            layout.big_endian = big;
            TarvelMachine m = test::make_machine(counting_code(thumb, big), layout);
            auto server = GdbServer::listen(0);
            ASSERT_TRUE(server) << server.error().to_string();
            GdbServer& gdb = **server;

            const u32 width = thumb ? 2 : 4;
            const u32 third = kBase + 2 * width;
            std::vector<std::string> heard;
            std::thread debugger([&] {
                ScriptedDebugger d(gdb.port());
                d.send_raw("+");
                heard.push_back(d.ask("QStartNoAckMode"));
                heard.push_back(d.ask("?"));
                heard.push_back(d.ask(fmt::format("Z0,{:x},{}", third, width)));
                heard.push_back(d.ask("c"));
                heard.push_back(d.ask("p0"));
                heard.push_back(d.ask("s"));
                heard.push_back(d.ask("p0"));
                heard.push_back(d.ask(fmt::format("z0,{:x},{}", third, width)));
                heard.push_back(d.ask("c"));
            });
            gdb.wait_for_debugger();
            Status ran;
            {
                machine::ScopedExecutionMonitor watch(gdb.monitor());
                ran = machine::call_guest(m, kBase | (thumb ? 1 : 0), 0, 0, 0, 1000);
            }
            gdb.after_frame(m, AppState::Ended);
            debugger.join();

            EXPECT_TRUE(ran);
            EXPECT_EQ(m.cpu.regs.r[0], 6u);
            const std::vector<std::string> expected = {
                "OK",
                "T05 " + pc_field(kBase, big),           // waiting at the first instruction
                "OK",
                "T05 " + pc_field(third, big), guest_hex(3, big),          // before the third
                "T05 " + pc_field(third + width, big), guest_hex(6, big),  // one step later
                "OK",
                "W00",                                   // the application ended
            };
            ASSERT_EQ(heard.size(), expected.size());
            for (size_t i = 0; i < heard.size(); ++i) {
                if (expected[i].starts_with("T05 ")) {
                    EXPECT_TRUE(heard[i].starts_with("T05")) << i << ": " << heard[i];
                    EXPECT_NE(heard[i].find(expected[i].substr(4)), std::string::npos) << i << ": " << heard[i];
                } else {
                    EXPECT_EQ(heard[i], expected[i]) << i;
                }
            }
            // Watched or not, the machine ends the same, and breakpoints never
            // touched its memory.
            TarvelMachine plain = test::make_machine(counting_code(thumb, big), layout);
            ASSERT_TRUE(machine::call_guest(plain, kBase | (thumb ? 1 : 0), 0, 0, 0, 1000));
            EXPECT_EQ(m.cpu.regs.slots(), plain.cpu.regs.slots());
            EXPECT_EQ(m.instruction_count, plain.instruction_count);
            EXPECT_EQ(m.recent_pcs.to_vector(), plain.recent_pcs.to_vector());
            EXPECT_EQ(m.memory.read_bytes(kBase, 4 * width), plain.memory.read_bytes(kBase, 4 * width));
        }
    }
}

TEST(GdbServer, InterruptHaltsARunningLoopAndKillEndsIt) {
    test::ThumbProgram program(kBase);
    program.label("loop");
    program.adds(0, 1);
    program.b_back("loop");
    TarvelMachine m = test::make_machine(program.finish(), test::Layout{});
    auto server = GdbServer::listen(0);
    ASSERT_TRUE(server);
    GdbServer& gdb = **server;

    std::vector<std::string> heard;
    std::thread debugger([&] {
        ScriptedDebugger d(gdb.port());
        heard.push_back(d.ask("QStartNoAckMode"));
        d.send_raw(encode_packet("vCont;c"));
        d.send_raw("\x03");  // the loop runs until this is seen
        heard.push_back(d.next_packet());
        heard.push_back(d.ask("p0"));
        d.send_raw(encode_packet("k"));
        heard.push_back(d.next_packet());  // nothing: the stub hangs up
    });
    gdb.wait_for_debugger();
    Status ran;
    {
        machine::ScopedExecutionMonitor watch(gdb.monitor());
        ran = machine::call_guest(m, kBase | 1, 0, 0, 0, u64{1} << 40);
    }
    debugger.join();

    ASSERT_FALSE(ran);
    EXPECT_NE(ran.error().to_string().find("ended by the debugger"), std::string::npos) << ran.error().to_string();
    EXPECT_EQ(m.run_state, machine::RunState::Stopped);
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_EQ(heard[0], "OK");
    EXPECT_TRUE(heard[1].starts_with("T05")) << heard[1];
    EXPECT_EQ(heard[2], guest_hex(m.cpu.regs.r[0], false));
    EXPECT_GT(m.cpu.regs.r[0], 0u);
    EXPECT_EQ(heard[3], "<none>");
}

}  // namespace
}  // namespace tarvel::debugger
