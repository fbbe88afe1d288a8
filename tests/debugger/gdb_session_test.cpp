// The protocol's commands against a test machine, in both byte orders:
// registers, memory, breakpoints, queries and resume requests, with the
// malformed and out-of-range forms of each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "debugger/gdb_session.hpp"
#include "debugger/rsp_packet.hpp"
#include "support/gdb_client.hpp"
#include "support/test_machine.hpp"

namespace tarvel::debugger {
namespace {

using machine::kRamBase;
using machine::kRamSize;
using machine::TarvelMachine;

using test::guest_hex;

std::string reply(GdbSession& session, TarvelMachine& m, std::string_view packet) {
    return session.handle(m, packet).reply.value_or("<none>");
}

struct Exchange {
    std::string packet;
    std::string reply;
};

class SessionTest : public ::testing::TestWithParam<bool> {
protected:
    bool big = GetParam();
    TarvelMachine m = test::blank_machine(big);
    GdbSession session;

    void expect_replies(const std::vector<Exchange>& exchanges) {
        for (const Exchange& e : exchanges) EXPECT_EQ(reply(session, m, e.packet), e.reply) << e.packet;
    }
};

TEST_P(SessionTest, RegistersGoOutAndComeBackInGuestByteOrder) {
    armv4t::RegisterFile& regs = m.cpu.regs;
    regs.set_cpsr(armv4t::kModeUser | armv4t::kThumbBit | armv4t::kFlagZ);
    for (unsigned n = 0; n < 16; ++n) regs.set(n, 0x11223300 + n);

    const std::string all = reply(session, m, "g");
    ASSERT_EQ(all.size(), kRegisterCount * 8);
    EXPECT_EQ(all.substr(0, 8), guest_hex(0x11223300, big));
    EXPECT_EQ(all.substr(15 * 8, 8), guest_hex(0x1122330F, big));
    EXPECT_EQ(all.substr(16 * 8), guest_hex(0x40000030, big)) << "the CPSR follows the pc";
    EXPECT_EQ(reply(session, m, "pf"), guest_hex(0x1122330F, big));
    EXPECT_EQ(reply(session, m, "p10"), guest_hex(0x40000030, big));

    expect_replies({
        {"P3=" + guest_hex(0xCAFEF00D, big), "OK"},
        {"P10=" + guest_hex(0x2000001F, big), "OK"},                // System mode, flag C
        {"P10=" + guest_hex(0x00000000, big), "E05"},               // no such mode
        {"P11=00000000", "E01"},                                    // no register 17
        {"P3=1234", "E01"},
        {"P3", "E01"},
        {"p11", "E01"},
        {"p", "E01"},
        {"G" + all.substr(8), "E01"},                               // one register short
        {"G" + std::string(kRegisterCount * 8, 'z'), "E01"},
    });
    EXPECT_EQ(regs.r[3], 0xCAFEF00Du);
    EXPECT_EQ(regs.cpsr(), 0x2000001Fu);

    // Writing back what was read restores every register, the mode included.
    EXPECT_EQ(reply(session, m, "G" + all), "OK");
    EXPECT_EQ(reply(session, m, "g"), all);
    EXPECT_EQ(regs.cpsr(), 0x40000030u);
}

TEST_P(SessionTest, MemoryIsReadAndWrittenAsTheGuestStoresIt) {
    m.memory.write32(kRamBase, 0xAABBCCDD);
    const u32 last = kRamBase + kRamSize - 1;
    m.memory.write8(last, 0x5A);
    const auto at = [](u32 address, const std::string& rest) { return fmt::format("{:x}", address) + rest; };
    expect_replies({
        {"m" + at(kRamBase, ",4"), guest_hex(0xAABBCCDD, big)},
        {"m" + at(last, ",4"), "5a"},                               // stops where memory ends
        {"m0,4", "E02"},
        {"m" + at(kRamBase, ",2001"), "E03"},
        {"m" + at(kRamBase, ""), "E01"},
        {"mzz,4", "E01"},
        {"m" + at(kRamBase, ",-1"), "E01"},
        {"M" + at(kRamBase + 4, ",2:0102"), "OK"},
        {"X" + at(kRamBase + 6, ",3:}#$"), "OK"},                   // binary, as the decoder hands it on
        {"X" + at(kRamBase, ",0:"), "OK"},                          // the debugger's probe for X
        {"M" + at(kRamBase, ",2:010"), "E01"},
        {"M" + at(kRamBase, ",2:0102ff"), "E01"},
        {"M" + at(kRamBase, ",1:zz"), "E01"},
        {"M" + at(last, ",2:0102"), "E02"},                         // all or nothing
        {"M0,1:00", "E02"},
    });
    const std::vector<u8> written = *m.memory.read_bytes(kRamBase + 4, 5);
    EXPECT_EQ(written, (std::vector<u8>{0x01, 0x02, '}', '#', '$'}));
    EXPECT_EQ(m.memory.read8(last), 0x5A);
    EXPECT_TRUE(m.memory.unmapped_accesses().empty()) << "the debugger's looks are not the guest's accesses";
}

TEST_P(SessionTest, BreakpointsAreKeptByAddressForArmAndThumb) {
    expect_replies({
        {"Z0,1000002,2", "OK"},
        {"Z0,1000009,2", "OK"},   // a Thumb address with its state bit
        {"Z0,1000010,4", "OK"},
        {"Z1,1000020,4", "OK"},   // hardware breakpoints are the same here
        {"Z0,1000010,4", "OK"},   // twice is once
        {"Z0,1000030,5", "E01"},
        {"Z0,1000030", "E01"},
        {"Z2,1000030,4", ""},     // no watchpoints
        {"z0,1000010,4", "OK"},
        {"z0,1000040,4", "OK"},   // removing what is not there
    });
    for (const u32 pc : {0x1000002u, 0x1000008u, 0x1000020u}) EXPECT_TRUE(session.is_breakpoint(pc)) << pc;
    for (const u32 pc : {0x1000009u, 0x1000010u, 0x1000030u}) EXPECT_FALSE(session.is_breakpoint(pc)) << pc;
    for (u32 i = 0; session.has_breakpoints() && i < kMaxBreakpoints + 1; ++i) {
        const std::string answer = reply(session, m, fmt::format("Z0,{:x},4", 0x2000000 + 4 * i));
        if (answer != "OK") {
            EXPECT_EQ(answer, "E04");
            EXPECT_GE(i, kMaxBreakpoints - 3);
            return;
        }
    }
    ADD_FAILURE() << "the breakpoint table has no limit";
}

TEST_P(SessionTest, StopReplyNamesSignalStackLinkAndPc) {
    m.cpu.regs.r[13] = 0x020FFFF0;
    m.cpu.regs.r[14] = 0x0F000001;
    m.cpu.regs.r[15] = 0x01000004;
    const std::string registers = "0d:" + guest_hex(0x020FFFF0, big) + ";0e:" + guest_hex(0x0F000001, big) +
                                  ";0f:" + guest_hex(0x01000004, big) + ";";
    EXPECT_EQ(reply(session, m, "?"), "T05" + registers);
    session.set_stop_signal(kSignalSegv);
    EXPECT_EQ(session.stop_reply(m), "T0b" + registers);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, SessionTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "BigEndian" : "LittleEndian"; });

TEST(GdbSession, AnswersQueriesAndDescribesAnArmCore) {
    TarvelMachine m = test::blank_machine();
    GdbSession session;
    const std::string supported = reply(session, m, "qSupported:multiprocess+;swbreak+;xmlRegisters=i386");
    EXPECT_NE(supported.find("PacketSize=4000"), std::string::npos);
    EXPECT_NE(supported.find("qXfer:features:read+"), std::string::npos);
    EXPECT_EQ(reply(session, m, "qAttached"), "1") << "quitting the debugger must detach, not kill";
    EXPECT_EQ(reply(session, m, "vMustReplyEmpty"), "");
    EXPECT_EQ(reply(session, m, "qThreadExtraInfo,1"), "");
    EXPECT_EQ(reply(session, m, ""), "");
    EXPECT_EQ(reply(session, m, "qXfer:features:read:other.xml:0,100"), "E01");
    EXPECT_EQ(reply(session, m, "qXfer:features:read:target.xml:0"), "E01");

    // The description read in small pieces is the whole description.
    std::string xml;
    for (u32 offset = 0;; offset += 100) {
        const std::string part = reply(session, m, fmt::format("qXfer:features:read:target.xml:{:x},64", offset));
        ASSERT_FALSE(part.empty());
        xml += part.substr(1);
        if (part[0] == 'l') break;
        ASSERT_EQ(part[0], 'm');
        ASSERT_LT(offset, 10000u);
    }
    EXPECT_EQ(xml, target_description());
    for (const char* needle : {"org.gnu.gdb.arm.core", "name=\"pc\"", "name=\"cpsr\" bitsize=\"32\" regnum=\"16\""})
        EXPECT_NE(xml.find(needle), std::string::npos) << needle;

    EXPECT_FALSE(session.no_ack());
    EXPECT_EQ(reply(session, m, "QStartNoAckMode"), "OK");
    EXPECT_TRUE(session.no_ack());
}

TEST(GdbSession, ResumeRequests) {
    struct Case {
        const char* packet;
        Resume resume;
        std::optional<std::string> reply;
        u32 pc;
    };
    constexpr u32 kPc = 0x01000000;
    const Case cases[] = {
        {"c", Resume::Continue, std::nullopt, kPc},
        {"s", Resume::Step, std::nullopt, kPc},
        {"c1000020", Resume::Continue, std::nullopt, 0x1000020},
        {"S05;1000010", Resume::Step, std::nullopt, 0x1000010},
        {"C0b", Resume::Continue, std::nullopt, kPc},
        {"vCont;c", Resume::Continue, std::nullopt, kPc},
        {"vCont;s:1;c", Resume::Step, std::nullopt, kPc},
        {"vCont;t", Resume::None, "E01", kPc},
        {"vCont", Resume::None, "E01", kPc},
        {"vCont?", Resume::None, "vCont;c;C;s;S", kPc},
        {"czz", Resume::None, "E01", kPc},
        {"D", Resume::Detach, "OK", kPc},
        {"D;1", Resume::Detach, "OK", kPc},
        {"k", Resume::Kill, std::nullopt, kPc},
        {"vKill;1", Resume::Kill, "OK", kPc},
        {"Hg0", Resume::None, "OK", kPc},
    };
    for (const Case& c : cases) {
        TarvelMachine m = test::blank_machine();
        m.cpu.regs.r[15] = kPc;
        GdbSession session;
        const CommandOutcome outcome = session.handle(m, c.packet);
        EXPECT_EQ(outcome.resume, c.resume) << c.packet;
        EXPECT_EQ(outcome.reply, c.reply) << c.packet;
        EXPECT_EQ(m.cpu.regs.r[15], c.pc) << c.packet;
    }
}

}  // namespace
}  // namespace tarvel::debugger
