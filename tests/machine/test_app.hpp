#pragma once
// A small guest application for boot and tick tests, assembled by hand:
// callbacks that log their arguments to RAM, a render callback that fills a
// rectangle, a timer callback that re-arms itself, and initializers for both
// registration paths.

#include <string>
#include <vector>

#include "support/test_machine.hpp"

namespace tarvel::machine::testing {

using test::ThumbProgram;

// RAM the test callbacks write to.
inline constexpr u32 kCallLog = 0x05100000;     // word count, then 16-byte entries
inline constexpr u32 kRenderCount = 0x05100800;
inline constexpr u32 kTimerCount = 0x05100804;
inline constexpr u32 kTimerArgument = 0x05100808;
inline constexpr u32 kInitCount = 0x0510080C;
inline constexpr u32 kLoadCount = 0x05100810;
inline constexpr u32 kSecondCount = 0x05100814;
inline constexpr u32 kNativeBlock = 0x05100900;
// A screen record the application pushes from its entry (in the code image,
// below the data base, so `this` is the record itself).
inline constexpr u32 kAppScreenOffset = 0x1000;

struct LoggedCall {
    u32 self, event, address, word;
};

inline std::vector<LoggedCall> logged_calls(TarvelMachine& m) {
    std::vector<LoggedCall> calls;
    const u32 n = m.memory.read32(kCallLog);
    for (u32 i = 1; i <= n; ++i) {
        const u32 e = kCallLog + 16 * i;
        calls.push_back({m.memory.read32(e), m.memory.read32(e + 4), m.memory.read32(e + 8), m.memory.read32(e + 12)});
    }
    return calls;
}

inline bool operator==(const LoggedCall& a, const LoggedCall& b) {
    return a.self == b.self && a.event == b.event && a.address == b.address && a.word == b.word;
}

inline void increment(ThumbProgram& p, u32 address) {
    p.ldr_const(3, address);
    p.ldr(5, 3, 0);
    p.adds(5, 1);
    p.str(5, 3, 0);
}

enum class Registration { Registered, Native, None, NativeWithoutEntry };

// The application. Its code starts with the initializer.
struct TestApp {
    ThumbProgram program;
    std::vector<u8> code;

    explicit TestApp(Registration registration, u32 base = kDefaultCodeBase, bool big_endian = false) : program(base) {
        ThumbProgram& p = program;
        // Initializer.
        if (registration == Registration::Registered) {
            p.ldr_label(1, "entry");
            p.str(1, 0, 0);  // r0 = the registration word
            p.ldr_label(1, "second");
            p.str(1, 0, 4);
            p.bx(14);
        } else if (registration == Registration::Native || registration == Registration::NativeWithoutEntry) {
            p.push_lr();
            p.ldr_const(1, kNativeBlock);
            if (registration == Registration::Native) {
                p.ldr_label(2, "entry");
                p.str(2, 1, 0);
                p.ldr_label(2, "second");
                p.str(2, 1, 4);
            }
            p.ldr_const(0, 1950);
            p.ldr_const(4, kSystemEntryThumb);
            p.blx(4);
            p.pop_pc();
        } else {
            p.bx(14);
        }

        // Entry: push the screen.
        p.label("entry");
        p.push_lr();
        p.ldr_const(0, base + kAppScreenOffset);
        p.call_service(14, 4);
        p.pop_pc();

        p.label("second");
        increment(p, kSecondCount);
        p.bx(14);

        p.label("init_cb");
        increment(p, kInitCount);
        p.bx(14);

        p.label("load_cb");
        increment(p, kLoadCount);
        p.bx(14);

        // Logic: append (this, event, address, word at address or 0).
        p.label("logic_cb");
        p.push(0x70);  // r4-r6
        p.ldr_const(3, kCallLog);
        p.ldr(4, 3, 0);
        p.adds(4, 1);
        p.str(4, 3, 0);
        p.lsls(5, 4, 4);
        p.add_reg(5, 5, 3);
        p.str(0, 5, 0);
        p.str(1, 5, 4);
        p.str(2, 5, 8);
        p.movs(6, 0);
        p.cmp(2, 0);
        p.beq_skip(1);
        p.ldr(6, 2, 0);
        p.str(6, 5, 12);
        p.pop(0x70);
        p.bx(14);

        // Render: fill (10, 20) size 5 x 4 with green, count the call.
        p.label("render_cb");
        p.push_lr();
        increment(p, kRenderCount);
        p.sub_sp(8);
        p.movs(3, 4);
        p.str_sp(3, 0);
        p.ldr_const(3, 0x07E0);
        p.str_sp(3, 4);
        p.movs(1, 10);
        p.movs(2, 20);
        p.movs(3, 5);
        p.call_address(0x0C00D010);
        p.add_sp(8);
        p.pop_pc();

        // Timer callback: count, keep the argument, re-arm for the next tick
        // until it has fired three times.
        p.label("timer_cb");
        p.push_lr();
        p.ldr_const(3, kTimerArgument);
        p.str(0, 3, 0);
        increment(p, kTimerCount);
        p.cmp(5, 3);
        p.beq_skip(5);
        p.movs(0, 100);
        p.ldr_label(1, "timer_cb");
        p.movs(2, 0x77);
        p.call_service(7, 0);
        p.pop_pc();

        // Removes the current screen (r0 = this, the record) from the stack.
        p.label("remove_cb");
        p.push_lr();
        p.call_service(14, 6);
        p.pop_pc();

        code = p.finish(big_endian);
        // The screen record: init, -, logic, render, -, -, load.
        code.resize(kAppScreenOffset + 28);
        const u32 record[7] = {p.address("init_cb"), 0, p.address("logic_cb"), p.address("render_cb"), 0, 0,
                               p.address("load_cb")};
        for (u32 i = 0; i < 7; ++i) store32(code.data() + kAppScreenOffset + 4 * i, record[i], big_endian);
    }

    u32 at(const std::string& label) const { return program.address(label); }
};

// Writes a screen record at `screen` with the given callbacks.
inline void write_screen(TarvelMachine& m, u32 screen, u32 init, u32 logic, u32 render, u32 load = 0) {
    m.memory.write32(screen + 0, init);
    m.memory.write32(screen + 8, logic);
    m.memory.write32(screen + 12, render);
    m.memory.write32(screen + 24, load);
}

}  // namespace tarvel::machine::testing
