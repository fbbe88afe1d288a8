// The stub on a real loopback socket, driven by a scripted debugger on a
// second thread while the test's thread runs guest code: breakpoints and
// steps in ARM and Thumb code of either byte order, and an interrupt and a
// kill in a loop that never ends by itself.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "debugger/gdb_server.hpp"
#include "debugger/rsp_packet.hpp"
#include "machine/cpu_bridge.hpp"
#include "support/gdb_client.hpp"
#include "support/test_machine.hpp"
#include "support/thumb_program.hpp"

namespace tarvel::debugger {
namespace {

using machine::TarvelMachine;
constexpr u32 kBase = machine::kDefaultCodeBase;

using test::guest_hex;
using test::ScriptedDebugger;

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
