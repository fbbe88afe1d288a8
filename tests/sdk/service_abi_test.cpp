// Every SDK service wrapper, called by guest code in each byte order and
// instruction set, reaches its stub address with its arguments in the
// registers and stack words the platform reads them from.

#include <gtest/gtest.h>

#include <array>

#include <fmt/format.h>

#include "guest_cpu.hpp"
#include "sdk_test_paths.hpp"

namespace tarvel::sdk_test {
namespace {

constexpr u32 X = 0xDEADBEEF;  // a register or stack word the service does not read
constexpr u32 P1 = 0x05000100, P2 = 0x05000200, P3 = 0x05000300;
constexpr u32 kScreenSurface = 0x05800408;
constexpr u32 kTimerCallback = 0xC0DE0001, kNetCallback = 0xC0DE0002;  // replaced by the symbols

constexpr u32 S(u32 group, u32 index) { return 0x0C000000 + group * 0x400 + index * 4; }
constexpr u32 neg(int v) { return static_cast<u32>(v); }
constexpr u32 packed(int x, int y) { return (static_cast<u32>(y) << 16) | static_cast<u16>(x); }

struct Expect {
    const char* what;
    u32 address;
    std::array<u32, 8> args;  // r0-r3, then sp, sp+4, sp+8, sp+12
};

// In the order probe_services makes the calls. Missing arguments are not read.
const std::vector<Expect>& expectations() {
    static const std::vector<Expect> e = {
        {"system entry", 0x0C00F000, {82, 0x1234, X, X, X, X, X, X}},
        {"clock hour", 0x0C00F10C, {X, X, X, X, X, X, X, X}},
        {"interface fill", S(0, 2), {P1, X, X, X, X, X, X, X}},
        {"interface address", S(0, 3), {X, X, X, X, X, X, X, X}},
        {"interface request 16", 0x0C00E040, {P1, X, X, X, X, X, X, X}},
        {"instruction count", S(1, 47), {X, X, X, X, X, X, X, X}},
        {"platform name", S(1, 25), {P1, 8, X, X, X, X, X, X}},
        {"system words", S(11, 8), {X, X, X, X, X, X, X, X}},
        {"device id", S(24, 7), {P1, 16, X, X, X, X, X, X}},
        {"directory word", S(25, 0), {X, X, X, X, X, X, X, X}},
        {"malloc", S(2, 13), {100, X, X, X, X, X, X, X}},
        {"free", S(2, 14), {P1, X, X, X, X, X, X, X}},
        {"arena init", S(2, 5), {P1, 64, X, X, X, X, X, X}},
        {"arena alloc", 0x0C00F148, {P1, 8, X, X, X, X, X, X}},
        {"arena reset", 0x0C00F14C, {P1, X, X, X, X, X, X, X}},
        {"arena destroy", 0x0C00F150, {P1, X, X, X, X, X, X, X}},
        {"system arena", S(2, 10), {X, X, X, X, X, X, X, X}},
        {"system arena alloc", S(2, 12), {32, X, X, X, X, X, X, X}},
        {"fill rect", 0x0C00D010, {X, neg(-5), 6, 7, 8, 0x1234, X, X}},
        {"fill rect on", S(4, 19), {P1, 1, 2, 3, 4, 0x4321, X, X}},
        {"frame rect on", S(4, 17), {P1, 1, 2, 3, 4, 0x4321, X, X}},
        {"frame rect", S(4, 17), {kScreenSurface, neg(-1), 2, 3, 4, 0x0F0F, X, X}},
        {"fill corners", S(4, 18), {packed(1, 2), packed(-3, 4), 0x00FF, X, X, X, X, X}},
        {"frame corners", S(4, 16), {packed(1, 2), packed(3, 4), 0xFF00, X, X, X, X, X}},
        {"image load", S(4, 22), {5, P2, X, X, X, X, X, X}},
        {"image load stream", S(4, 49), {P1, P2, X, X, X, X, X, X}},
        {"image width", S(4, 33), {P2, X, X, X, X, X, X, X}},
        {"image height", S(4, 34), {P2, X, X, X, X, X, X, X}},
        {"blit on", S(4, 24), {P1, P2, 1, 2, 3, 4, 5, 6}},
        {"blit on transparent", S(4, 25), {P1, P2, 1, 2, 3, 4, 5, 6}},
        {"blit", S(4, 30), {P2, 1, 2, 3, 4, 5, 6, X}},
        {"blit transparent", S(4, 32), {P2, 1, 2, 3, 4, 5, 6, X}},
        {"draw image", S(4, 26), {P2, packed(10, -20), X, X, X, X, X, X}},
        {"draw image transparent", S(4, 28), {P2, packed(10, 20), X, X, X, X, X, X}},
        {"table 0", S(4, 44), {X, X, X, X, X, X, X, X}},
        {"table 1", S(4, 45), {X, X, X, X, X, X, X, X}},
        {"forget tables", S(4, 46), {X, X, X, X, X, X, X, X}},
        {"point in rect", S(3, 50), {1, 2, 3, 4, 5, 6, X, X}},
        {"pack colour", S(3, 17), {1, 2, 3, X, X, X, X, X}},
        {"decode stream", S(3, 23), {P1, X, X, X, X, X, X, X}},
        {"text width", S(4, 7), {P1, X, X, X, X, X, X, X}},
        {"draw text", S(4, 9), {P1, 1, 2, 0xABCD, X, X, X, X}},
        {"text origin", S(4, 1), {X, 3, 4, X, X, X, X, X}},
        {"text at origin", S(4, 10), {X, P1, 0, 0, 0xBEEF, X, X, X}},
        {"to utf-16", S(4, 38), {P1, P2, 8, X, X, X, X, X}},
        {"key pressed", S(3, 11), {1u << 14, X, X, X, X, X, X, X}},
        {"key held", S(3, 12), {1u << 17, X, X, X, X, X, X, X}},
        {"pressed mask", S(3, 68), {X, X, X, X, X, X, X, X}},
        {"pen down", S(3, 62), {X, X, X, X, X, X, X, X}},
        {"pen pressed", S(3, 63), {X, X, X, X, X, X, X, X}},
        {"pen released", S(3, 64), {X, X, X, X, X, X, X, X}},
        {"pen dragged", S(3, 65), {X, X, X, X, X, X, X, X}},
        {"pen x", S(3, 66), {X, X, X, X, X, X, X, X}},
        {"pen y", S(3, 67), {X, X, X, X, X, X, X, X}},
        {"screen push", S(14, 4), {P1, X, X, X, X, X, X, X}},
        {"screen replace", S(14, 0), {P1, X, X, X, X, X, X, X}},
        {"screen remove", S(14, 6), {P1, X, X, X, X, X, X, X}},
        {"screen load", S(14, 1), {0, X, X, X, X, X, X, X}},
        {"screen is top", S(14, 9), {P1, X, X, X, X, X, X, X}},
        {"screen is bottom", S(14, 10), {P1, X, X, X, X, X, X, X}},
        {"timer start", S(7, 0), {1500, kTimerCallback, 7, X, X, X, X, X}},
        {"timer stop", S(7, 1), {101, X, X, X, X, X, X, X}},
        {"uptime", S(7, 2), {X, X, X, X, X, X, X, X}},
        {"clock", S(7, 3), {X, X, X, X, X, X, X, X}},
        {"directory init", S(11, 10), {P1, 4, X, X, X, X, X, X}},
        {"directory load", S(21, 4), {P1, X, X, X, X, X, X, X}},
        {"directory data", S(21, 6), {P1, P2, X, X, X, X, X, X}},
        {"directory data at", S(21, 7), {P1, 3, X, X, X, X, X, X}},
        {"directory name", S(21, 8), {P1, 3, X, X, X, X, X, X}},
        {"directory find", S(21, 9), {P1, P2, X, X, X, X, X, X}},
        {"directory register", S(10, 9), {P1, X, X, X, X, X, X, X}},
        {"directory registered", S(10, 10), {X, X, X, X, X, X, X, X}},
        {"resource data", S(10, 12), {P2, X, X, X, X, X, X, X}},
        {"resource data at", S(10, 11), {3, X, X, X, X, X, X, X}},
        {"resource name", S(10, 13), {3, X, X, X, X, X, X, X}},
        {"resource find", S(10, 14), {P2, X, X, X, X, X, X, X}},
        {"file open", S(5, 0), {0, P1, P2, X, X, X, X, X}},
        {"file close", S(5, 1), {3, X, X, X, X, X, X, X}},
        {"file exists", S(5, 2), {X, P1, X, X, X, X, X, X}},
        {"file is directory", S(5, 3), {X, P1, X, X, X, X, X, X}},
        {"file read", S(5, 4), {P3, 10, 2, X, X, X, X, X}},
        {"file write", S(5, 5), {P3, 10, 2, X, X, X, X, X}},
        {"file seek", S(5, 6), {2, neg(-4), 1, X, X, X, X, X}},
        {"file tell", S(5, 7), {2, X, X, X, X, X, X, X}},
        {"file size", S(5, 8), {2, X, X, X, X, X, X, X}},
        {"file delete", S(5, 9), {X, P1, X, X, X, X, X, X}},
        {"file rename", S(5, 10), {X, P1, P2, X, X, X, X, X}},
        {"file mkdir", S(5, 11), {X, P1, X, X, X, X, X, X}},
        {"file free space", S(5, 16), {X, X, X, X, X, X, X, X}},
        {"audio volume", S(18, 0), {50, X, X, X, X, X, X, X}},
        {"audio play once", S(18, 4), {3, 0, X, X, X, X, X, X}},
        {"audio play looping", S(18, 2), {3, 0, X, X, X, X, X, X}},
        {"audio play file", S(18, 13), {P1, 2, X, X, X, X, X, X}},
        {"audio play buffer", S(18, 1), {P1, 1, X, X, X, X, X, X}},
        {"audio pause", S(18, 5), {X, X, X, X, X, X, X, X}},
        {"audio resume", S(18, 6), {X, X, X, X, X, X, X, X}},
        {"audio stop", S(18, 7), {X, X, X, X, X, X, X, X}},
        {"audio state", S(18, 8), {X, X, X, X, X, X, X, X}},
        {"mem copy", S(6, 0), {P1, P2, 5, X, X, X, X, X}},
        {"mem fill", S(6, 2), {P1, 0x7F, 5, X, X, X, X, X}},
        {"mem compare", S(6, 15), {P1, P2, 5, X, X, X, X, X}},
        {"str length", S(6, 1), {P1, X, X, X, X, X, X, X}},
        {"str copy", S(6, 8), {P1, P2, X, X, X, X, X, X}},
        {"str copy n", S(6, 7), {P1, P2, 5, X, X, X, X, X}},
        {"str append", S(6, 9), {P1, P2, X, X, X, X, X, X}},
        {"str compare", S(6, 14), {P1, P2, X, X, X, X, X, X}},
        {"str compare n", S(6, 16), {P1, P2, 5, X, X, X, X, X}},
        {"str compare nocase", S(6, 20), {P1, P2, X, X, X, X, X, X}},
        {"str to int", S(6, 10), {P1, X, X, X, X, X, X, X}},
        {"format", S(6, 3), {P1, P2, 11, 22, 33, 44, X, X}},
        {"wstr length", S(13, 0), {P1, X, X, X, X, X, X, X}},
        {"wstr copy", S(13, 1), {P1, P2, X, X, X, X, X, X}},
        {"wstr from text", S(13, 3), {P1, P2, X, X, X, X, X, X}},
        {"wstr compare", S(13, 8), {P1, P2, X, X, X, X, X, X}},
        {"sin", S(10, 31), {30, X, X, X, X, X, X, X}},
        {"cos", S(10, 32), {neg(-45), X, X, X, X, X, X, X}},
        {"angle", S(10, 33), {3, neg(-4), X, X, X, X, X, X}},
        {"overlap", S(10, 34), {packed(1, 2), packed(3, 4), packed(5, 6), packed(7, 8), X, X, X, X}},
        {"str equal", S(10, 18), {P1, P2, X, X, X, X, X, X}},
        {"cursor read16", S(10, 19), {P1, P2, X, X, X, X, X, X}},
        {"cursor read32", S(10, 20), {P1, P2, X, X, X, X, X, X}},
        {"cursor write16", S(10, 23), {P1, P2, 0x55, X, X, X, X, X}},
        {"cursor write32", S(10, 24), {P1, P2, 0x66, X, X, X, X, X}},
        {"cursor string8", S(10, 25), {P1, P2, X, X, X, X, X, X}},
        {"net open", S(9, 0), {X, X, kNetCallback, P2, X, X, X, X}},
        {"net send", S(9, 1), {P1, 3, 5, X, X, X, X, X}},
        {"net close", S(9, 2), {5, X, X, X, X, X, X, X}},
        {"net http", S(9, 3), {P1, kNetCallback, 9, X, X, X, X, X}},
    };
    return e;
}

class ServiceAbiTest : public ::testing::TestWithParam<ProbeVariant> {};

TEST_P(ServiceAbiTest, EveryWrapperPassesItsArgumentsWhereTheServiceReadsThem) {
    auto elf = pack::load_elf(GetParam().elf);
    ASSERT_TRUE(elf.ok()) << elf.error().to_string();
    GuestCpu cpu(GetParam().big_endian);
    cpu.load_elf(*elf);
    const u32 timer_cb = elf->symbol("timer_callback").value_or(0);
    const u32 net_cb = elf->symbol("net_callback").value_or(0);
    ASSERT_NE(timer_cb, 0u);
    ASSERT_NE(net_cb, 0u);

    struct Seen {
        u32 address;
        std::array<u32, 8> args;
    };
    std::vector<Seen> seen;
    cpu.set_trap_handler([&](GuestCpu& c, u32 address) {
        const u32 sp = c.reg(13);
        seen.push_back({address,
                        {c.reg(0), c.reg(1), c.reg(2), c.reg(3), c.read32(sp), c.read32(sp + 4), c.read32(sp + 8),
                         c.read32(sp + 12)}});
        c.set_reg(0, 0);
    });
    cpu.map(0x05000000, 0x1000);
    cpu.call(elf->symbol("probe_services").value_or(0));

    const auto& want = expectations();
    ASSERT_EQ(seen.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(fmt::format("{:08x}", seen[i].address), fmt::format("{:08x}", want[i].address)) << want[i].what;
        for (size_t a = 0; a < 8; ++a) {
            u32 expected = want[i].args[a];
            if (expected == X) continue;
            if (expected == kTimerCallback) expected = timer_cb;
            if (expected == kNetCallback) expected = net_cb;
            EXPECT_EQ(seen[i].args[a], expected) << want[i].what << (a < 4 ? " r" : " stack word ") << (a < 4 ? a : a - 4);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, ServiceAbiTest, ::testing::ValuesIn(probe_variants()), variant_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ServiceAbiTest);

}  // namespace
}  // namespace tarvel::sdk_test
