// The application tick: run states, screen switching and callbacks, one key or
// pen event per tick, timers, queued calls and the trace line.

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <ostream>
#include <vector>

#include "support/test_machine.hpp"
#include "machine/cpu_bridge.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/test_app.hpp"

namespace tarvel::machine {
namespace {

using testing::kCallLog;
using testing::LoggedCall;
using testing::logged_calls;
using test::make_machine;
using testing::Registration;
using testing::TestApp;
using test::ThumbProgram;
using testing::write_screen;

constexpr u64 kBudget = 100000;
constexpr u32 kScreen = kDefaultCodeBase + testing::kAppScreenOffset;

struct Booted {
    TestApp app{Registration::Registered};
    TarvelMachine m;
    Booted() : m(make_machine(app.code)) {
        const Status status = boot(m, kBudget);
        EXPECT_TRUE(status.ok()) << (status.ok() ? "" : status.error().to_string());
    }
    Status tick() { return run_tick(m, kBudget); }
    u32 count(u32 address) { return m.memory.read32(address); }
};

u16 pixel(TarvelMachine& m, u32 column, u32 row) { return m.memory.read16(kScreenBuffer + (row * 240 + column) * 2); }

TEST(Tick, RunStates) {
    TestApp app(Registration::Registered);
    TarvelMachine m = make_machine(app.code);
    auto created = run_tick(m, kBudget);
    ASSERT_FALSE(created);
    EXPECT_EQ(created.error().to_string(), "CBE machine is not ready");
    m.run_state = RunState::Faulted;
    EXPECT_FALSE(run_tick(m, kBudget));
    m.run_state = RunState::Stopped;
    m.input.newly_pressed_mask = 0x10;
    m.input.key_event_queue.push_back({true, 4});
    EXPECT_TRUE(run_tick(m, kBudget));
    EXPECT_EQ(m.input.newly_pressed_mask, 0u);
    EXPECT_EQ(m.tick_count, 0u);
    EXPECT_EQ(m.input.key_event_queue.size(), 1u);
}

TEST(Tick, FirstTickInitialisesThenDeliversTheTickEventAndRenders) {
    Booted b;
    ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.m.tick_count, 1u);
    EXPECT_EQ(b.m.current_screen, kScreen);
    EXPECT_TRUE(b.m.screen_initialized);
    EXPECT_EQ(b.count(testing::kInitCount), 1u);
    EXPECT_EQ(b.count(testing::kRenderCount), 1u);
    // `this` is the record itself: it lies below the data base.
    EXPECT_EQ(logged_calls(b.m), (std::vector<LoggedCall>{{kScreen, 6, 0, 0}}));
    // The render filled (10, 20) .. (14, 23).
    EXPECT_EQ(pixel(b.m, 10, 20), 0x07E0);
    EXPECT_EQ(pixel(b.m, 14, 23), 0x07E0);
    EXPECT_EQ(pixel(b.m, 15, 23), 0);
    EXPECT_EQ(pixel(b.m, 14, 24), 0);

    ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.count(testing::kInitCount), 1u);
    EXPECT_EQ(b.count(testing::kRenderCount), 2u);
}

TEST(Tick, KeyEventsOnePerTickWithTheirMasks) {
    Booted b;
    ASSERT_TRUE(b.tick());
    auto& input = b.m.input;
    input.key_event_queue.push_back({true, kKeyConfirm});
    input.key_event_queue.push_back({true, 5});
    input.key_event_queue.push_back({false, kKeyConfirm});

    ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.m.memory.read32(kKeyEventWord), 1u << 14);
    EXPECT_EQ(b.m.delivered_held_key_mask, 1u << 14);
    EXPECT_EQ(input.newly_pressed_mask, 0u);  // cleared after the logic call
    EXPECT_EQ(input.key_event_queue.size(), 2u);
    ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.m.delivered_held_key_mask, (1u << 14) | (1u << 5));
    ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.m.delivered_held_key_mask, 1u << 5);
    ASSERT_TRUE(b.tick());

    const std::vector<LoggedCall> calls = logged_calls(b.m);
    const std::vector<LoggedCall> expected = {
        {kScreen, 6, 0, 0},
        {kScreen, 0, kKeyEventWord, 1u << 14}, {kScreen, 6, 0, 0},
        {kScreen, 0, kKeyEventWord, 1u << 5},  {kScreen, 6, 0, 0},
        {kScreen, 1, kKeyEventWord, 1u << 14}, {kScreen, 6, 0, 0},
        {kScreen, 6, 0, 0},
    };
    EXPECT_EQ(calls, expected);
}

TEST(Tick, NewlyPressedMaskIsVisibleDuringTheLogicCall) {
    // The guest program test below reads the mask from inside the call; here
    // the host side: it is set for a press of a key not yet held and not for
    // a repeated press.
    Booted b;
    ASSERT_TRUE(b.tick());
    b.m.delivered_held_key_mask = 1u << 3;
    b.m.input.key_event_queue.push_back({true, 3});
    b.m.input.key_event_queue.push_back({true, 31});
    ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.m.delivered_held_key_mask, 1u << 3);
    ASSERT_TRUE(b.tick());
    // Key 31 reports its bit but leaves the held mask alone.
    EXPECT_EQ(b.m.memory.read32(kKeyEventWord), 0x80000000u);
    EXPECT_EQ(b.m.delivered_held_key_mask, 1u << 3);
    EXPECT_EQ(logged_calls(b.m)[3].word, 0x80000000u);
}

// A key pressed with the pen goes first; the pen's events follow one a tick.
TEST(Tick, PenDownMoveAndUpAfterAKeyEvent) {
    Booted b;
    ASSERT_TRUE(b.tick());
    PointerState& pen = b.m.input.pointer;
    pen = PointerState{true, true, false, 30, 40, 30, 40};
    b.m.input.key_event_queue.push_back({true, 7});
    ASSERT_TRUE(b.tick());
    ASSERT_TRUE(b.tick());
    pen.x = 31;
    ASSERT_TRUE(b.tick());
    ASSERT_TRUE(b.tick());  // unchanged: no pen event
    pen.down = false;
    pen.released = true;
    ASSERT_TRUE(b.tick());
    EXPECT_FALSE(pen.pressed);
    EXPECT_FALSE(pen.released);

    const std::vector<LoggedCall> expected = {
        {kScreen, 6, 0, 0},
        {kScreen, 0, kKeyEventWord, 1u << 7},          {kScreen, 6, 0, 0},
        {kScreen, 3, kPenEventWord, (40u << 16) | 30}, {kScreen, 6, 0, 0},
        {kScreen, 5, kPenEventWord, (40u << 16) | 31}, {kScreen, 6, 0, 0},
        {kScreen, 6, 0, 0},
        {kScreen, 4, kPenEventWord, (40u << 16) | 31}, {kScreen, 6, 0, 0},
    };
    EXPECT_EQ(logged_calls(b.m), expected);
}

TEST(Tick, ScreenInHeapMemoryGetsThisOfTheEmbeddingObject) {
    Booted b;
    const u32 s = 0x05000100;
    write_screen(b.m, s, 0, b.app.at("logic_cb"), b.app.at("render_cb"));
    b.m.active_screen = s;
    ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.m.current_screen, s);
    EXPECT_EQ(logged_calls(b.m), (std::vector<LoggedCall>{{0x050000E8, 6, 0, 0}}));
}

TEST(Tick, MissingRenderFailsAfterTheTickEvent) {
    Booted b;
    const u32 s = 0x05000100;
    write_screen(b.m, s, 0, b.app.at("logic_cb"), 0);
    b.m.active_screen = s;
    auto r = b.tick();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().to_string(), "CBE screen at 0x05000100 has no render callback");
    EXPECT_EQ(logged_calls(b.m).size(), 1u);
}

TEST(Tick, NoScreenIsAnErrorUnlessATimerIsPending) {
    TestApp app(Registration::Registered);
    TarvelMachine m = make_machine(app.code);
    m.run_state = RunState::Running;
    auto r = run_tick(m, kBudget);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().to_string(), "CBE application has no active screen");
    m.timers.push_back(TimerSlot{1, app.at("timer_cb"), 5, 10});
    EXPECT_TRUE(run_tick(m, kBudget));
}

TEST(Tick, LoadRequestRunsTheLoadCallbackOnce) {
    Booted b;
    ASSERT_TRUE(b.tick());
    b.m.pending_load = true;
    b.m.pending_load_screen = 0x05000000;  // another screen: waits
    ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.count(testing::kLoadCount), 0u);
    b.m.pending_load_screen = kScreen;
    ASSERT_TRUE(b.tick());
    ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.count(testing::kLoadCount), 1u);
    EXPECT_FALSE(b.m.pending_load);
    EXPECT_EQ(b.m.pending_load_screen, 0u);
}

TEST(Tick, TimersFireOnceAndReArmFromTheirCallback) {
    Booted b;
    // 250 ms: three ticks.
    b.m.cpu.regs.r[0] = 250;
    b.m.cpu.regs.r[1] = b.app.at("timer_cb");
    b.m.cpu.regs.r[2] = 0x55;
    services::dispatch_service(b.m, 7, 0);
    EXPECT_EQ(b.m.cpu.regs.r[0], 100u);
    ASSERT_TRUE(b.tick());
    ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.count(testing::kTimerCount), 0u);
    ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.count(testing::kTimerCount), 1u);
    EXPECT_EQ(b.count(testing::kTimerArgument), 0x55u);
    // Re-armed for one tick with argument 0x77, twice more, then left alone.
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.count(testing::kTimerCount), 3u);
    EXPECT_EQ(b.count(testing::kTimerArgument), 0x77u);
    EXPECT_EQ(b.m.timers.size(), 1u);  // the freed slot was reused
    EXPECT_EQ(b.m.timers[0].active, 0);
}

TEST(Tick, QueuedCallsWaitTheirCountdownAndGetTheirWords) {
    Booted b;
    ASSERT_TRUE(b.tick());
    const u32 logic = b.app.at("logic_cb");
    // (e0, e1, e2, e3, function, unused, countdown): called as r0 = e1, r1 = e2, r2 = e3, r3 = e0.
    b.m.queued_calls.push_back(QueuedCall{0xE0, 0xE1, 0xE2, 0xE3, logic, 0, 1});
    b.m.queued_calls.push_back(QueuedCall{0, 0xA1, 0xA2, 0, logic, 0, 0});
    b.m.queued_calls.push_back(QueuedCall{0, 1, 2, 3, 0, 0, 0});  // no function: dropped
    ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.m.queued_calls.size(), 1u);
    EXPECT_EQ(b.m.queued_calls.front().countdown, 0u);
    ASSERT_TRUE(b.tick());
    EXPECT_TRUE(b.m.queued_calls.empty());
    const auto calls = logged_calls(b.m);
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[1], (LoggedCall{0xA1, 0xA2, 0, 0}));  // r2 = e3 = 0: no word read
    EXPECT_EQ(calls[3], (LoggedCall{0xE1, 0xE2, 0xE3, 0}));
}

TEST(Tick, RemovingThePushedScreenReturnsToTheOneBelowAndInitialisesItAgain) {
    Booted b;
    ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.count(testing::kInitCount), 1u);
    const u32 s = 0x05000100;
    write_screen(b.m, s, b.app.at("init_cb"), b.app.at("logic_cb"), b.app.at("render_cb"));
    b.m.cpu.regs.r[0] = s;
    services::dispatch_service(b.m, 14, 4);  // push
    ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.m.current_screen, s);
    EXPECT_EQ(b.count(testing::kInitCount), 2u);
    b.m.cpu.regs.r[0] = s;
    services::dispatch_service(b.m, 14, 6);  // remove
    EXPECT_EQ(b.m.cpu.regs.r[0], 1u);
    ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.m.current_screen, kScreen);
    EXPECT_EQ(b.count(testing::kInitCount), 3u);
    // The tick event and render went to the screen below again.
    EXPECT_EQ(logged_calls(b.m).back(), (LoggedCall{kScreen, 6, 0, 0}));
    EXPECT_EQ(b.count(testing::kRenderCount), 3u);
}

TEST(Tick, RemovingTheLastScreenStopsTheApplication) {
    Booted b;
    ASSERT_TRUE(b.tick());
    // The tick event now goes to a callback that removes the screen.
    b.m.memory.write32(kScreen + 8, b.app.at("remove_cb"));
    ASSERT_TRUE(b.tick());
    EXPECT_EQ(b.m.run_state, RunState::Stopped);
    EXPECT_EQ(b.m.current_screen, 0u);
    EXPECT_EQ(b.count(testing::kRenderCount), 1u);  // no render after the stop
    EXPECT_TRUE(b.tick());
    EXPECT_EQ(b.m.tick_count, 2u);
}

TEST(Tick, ASpinningCallbackFaultsTheMachine) {
    ThumbProgram p(kDefaultCodeBase);
    p.label("spin");
    p.adds(0, 1);
    p.b_back("spin");
    TarvelMachine m = make_machine(p.finish());
    m.run_state = RunState::Running;
    write_screen(m, 0x05000000, 0, kDefaultCodeBase | 1, kDefaultCodeBase | 1);
    m.active_screen = 0x05000000;
    auto r = run_tick(m, 500);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().to_string(), "CBE execution exceeded 500 instructions at 0x01000002");
    EXPECT_EQ(m.run_state, RunState::Faulted);
    auto again = run_tick(m, 500);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().to_string(), "CBE machine is not ready");
}

TEST(Tick, TraceLineForScreenCallbacks) {
    Booted b;
    setenv("CBE_TRACE", "9:9", 1);
    ::testing::internal::CaptureStderr();
    const Status status = b.tick();
    const std::string err = ::testing::internal::GetCapturedStderr();
    unsetenv("CBE_TRACE");
    ASSERT_TRUE(status);
    EXPECT_EQ(err, fmt::format("screen callbacks screen={:08x} this={:08x} init={:08x} logic={:08x} render={:08x} "
                               "load={:08x} pending_load=false sp=02100000\n",
                               kScreen, kScreen, b.app.at("init_cb"), b.app.at("logic_cb"), b.app.at("render_cb"),
                               b.app.at("load_cb")));
}

// What an application built with the SDK sees through the real tick, in both
// byte orders: each entry is (callback, event, pen pressed, pen released,
// newly pressed keys) as the callback read them.
struct ProbeEntry {
    u32 callback, event, pen_pressed, pen_released, keys_pressed;
    bool operator==(const ProbeEntry&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const ProbeEntry& e) {
        return out << "{" << e.callback << ", " << e.event << ", " << e.pen_pressed << ", " << e.pen_released << ", "
                   << e.keys_pressed << "}";
    }
};

std::vector<ProbeEntry> probe_entries(TarvelMachine& m) {
    constexpr u32 kProbeLog = 0x05300000;
    std::vector<ProbeEntry> out;
    const u32 n = m.memory.read32(kProbeLog);
    for (u32 i = 0; i < n && i < 64; ++i) {
        const u32 e = kProbeLog + 4 + 20 * i;
        out.push_back({m.memory.read32(e), m.memory.read32(e + 4), m.memory.read32(e + 8), m.memory.read32(e + 12),
                       m.memory.read32(e + 16)});
    }
    return out;
}

TEST(Tick, GuestSeesItsEventsEdgesAndOwnScreenChangesInTheSameTick) {
    const std::vector<test::GuestBuild> probes = test::guest_builds(TICK_PROBE_LITTLE_CBE, TICK_PROBE_BIG_CBE);
    if (probes.empty()) GTEST_SKIP() << "no ARM cross compiler: guest programs are not built";
    constexpr u64 kGuestBudget = 100'000'000;
    constexpr u32 kLogic = 1, kSecondLogic = 2, kRender = 3;
    for (const test::GuestBuild& probe : probes) {
        SCOPED_TRACE(probe.cbe);
        std::optional<TarvelMachine> booted = test::boot_guest_build(probe, kGuestBudget);
        ASSERT_TRUE(booted.has_value());
        TarvelMachine& m = *booted;
        auto tick = [&] { ASSERT_TRUE(run_tick(m, kGuestBudget).ok()); };
        tick();

        // Pen down and pen up: each edge is visible to its own event's call
        // and consumed before the tick event. A key press likewise.
        m.input.pointer = PointerState{true, true, false, 30, 40, 30, 40};
        tick();
        m.input.pointer.down = false;
        m.input.pointer.released = true;
        tick();
        m.input.key_event_queue.push_back({true, 7});
        tick();
        // Key 5 installs the second logic function: the same tick's tick
        // event already goes to it. Key 6 removes the screen: neither tick
        // event nor render follows, in that tick or later, while the timer
        // keeps the application running.
        m.input.key_event_queue.push_back({true, 5});
        tick();
        m.input.key_event_queue.push_back({true, 6});
        tick();
        tick();

        const std::vector<ProbeEntry> expected = {
            {kLogic, 6, 0, 0, 0},       {kRender, 0, 0, 0, 0},
            {kLogic, 3, 1, 0, 0},       {kLogic, 6, 0, 0, 0},       {kRender, 0, 0, 0, 0},
            {kLogic, 4, 0, 1, 0},       {kLogic, 6, 0, 0, 0},       {kRender, 0, 0, 0, 0},
            {kLogic, 0, 0, 0, 1u << 7}, {kLogic, 6, 0, 0, 0},       {kRender, 0, 0, 0, 0},
            {kLogic, 0, 0, 0, 1u << 5}, {kSecondLogic, 6, 0, 0, 0}, {kRender, 0, 0, 0, 0},
            {kSecondLogic, 0, 0, 0, 1u << 6},
        };
        EXPECT_EQ(probe_entries(m), expected);
        EXPECT_EQ(m.current_screen, 0u);
        EXPECT_EQ(m.run_state, RunState::Running);
    }
}

}  // namespace
}  // namespace tarvel::machine
