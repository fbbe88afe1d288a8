// The application tick: 100 ms of application time. Deferred calls and timers
// first, then the current screen's callbacks: init once, load on request, one
// key or pen event, the tick event and the render.

#include <cstdio>

#include "machine/cpu_bridge.hpp"
#include "machine/machine.hpp"
#include "machine/services/timer.hpp"
#include "machine/trace_filter.hpp"

namespace tarvel::machine {

namespace {

// Screen record offsets (guest words).
constexpr u32 kScreenInit = 0;
constexpr u32 kScreenLogic = 8;
constexpr u32 kScreenRender = 12;
constexpr u32 kScreenLoad = 24;

// Logic callback events.
constexpr u32 kEventKeyPressed = 0;
constexpr u32 kEventKeyReleased = 1;
constexpr u32 kEventPenDown = 3;
constexpr u32 kEventPenUp = 4;
constexpr u32 kEventPenMove = 5;
constexpr u32 kEventTick = 6;

bool stopped(const TarvelMachine& m) { return m.run_state == RunState::Stopped; }

// `this` of a screen's callbacks: the record itself below the data base,
// otherwise the object that embeds the record at offset 24.
u32 screen_this(const TarvelMachine& m, u32 screen) {
    if (screen < m.data_base) return screen;
    return screen < 24 ? 0 : screen - 24;
}

void clear_edges(TarvelMachine& m) {
    m.input.newly_pressed_mask = 0;
    m.input.pointer.pressed = false;
    m.input.pointer.released = false;
}

// After each screen callback: with no screen and no timer left the
// application has nothing more to run. True when the tick must end.
bool after_callback(TarvelMachine& m) {
    if (!stopped(m) && m.current_screen == 0 && m.active_screen == 0 && services::active_timer_count(m) == 0)
        m.run_state = RunState::Stopped;
    if (!stopped(m)) return false;
    clear_edges(m);
    return true;
}

// Whether `screen` still gets this tick's remaining callbacks: it must still be
// the current screen (a screen that removed itself, even the last one, gets no
// further call on state its application may have freed), and no other screen
// may have been activated meanwhile.
bool still_current(const TarvelMachine& m, u32 screen) {
    return m.current_screen == screen && (m.active_screen == 0 || m.active_screen == screen);
}

Status run_queued_calls(TarvelMachine& m, u64 budget) {
    if (m.queued_calls.empty()) return {};  // the usual case; nothing to take apart
    std::deque<QueuedCall> queue;
    queue.swap(m.queued_calls);
    std::vector<QueuedCall> due;
    for (QueuedCall& call : queue) {
        if (call.countdown != 0) {
            --call.countdown;
            m.queued_calls.push_back(call);
        } else {
            due.push_back(call);
        }
    }
    for (const QueuedCall& call : due) {
        if (call.function == 0) continue;
        m.cpu.regs.r[3] = call.e0;
        TARVEL_TRY(call_guest(m, call.function, call.e1, call.e2, call.e3, budget));
    }
    return {};
}

Status run_due_timers(TarvelMachine& m, u64 budget) {
    for (const services::DueTimer& timer : services::expire_timers(m))
        TARVEL_TRY(call_guest(m, timer.callback, timer.argument, 0, 0, budget));
    return {};
}

void trace_screen(TarvelMachine& m, u32 screen, u32 self) {
    if (!trace_variable_set()) return;
    GuestMemory& memory = m.memory;
    std::fprintf(stderr,
                 "screen callbacks screen=%08x this=%08x init=%08x logic=%08x render=%08x load=%08x pending_load=%s "
                 "sp=%08x\n",
                 screen, self, memory.read32(screen + kScreenInit), memory.read32(screen + kScreenLogic),
                 memory.read32(screen + kScreenRender), memory.read32(screen + kScreenLoad),
                 m.pending_load ? "true" : "false", m.cpu.regs.r[13]);
    std::fflush(stderr);
}

// Takes one key event off the queue, updates the delivered mask and calls the
// logic callback. False when the queue was empty.
//
// The held keys the application sees are kept apart from the frontend's
// sampled mask. Sampling has already set a key's bit by the time its press is
// delivered, so judging "not yet held" against that mask would never mark a
// press as new; and clearing a bit there for a release delivered late (the key
// pressed again meanwhile) would make the next sample queue a press that never
// happened. The delivered mask follows the events one per tick instead.
Result<bool> deliver_key_event(TarvelMachine& m, u32 logic, u32 self, u64 budget) {
    if (m.input.key_event_queue.empty()) return false;
    const KeyEvent event = m.input.key_event_queue.front();
    m.input.key_event_queue.pop_front();
    const u32 key = event.key_code;
    const u32 bit = key_bit(key);
    if (key <= 30) {
        if (event.pressed) {
            if (!(m.delivered_held_key_mask & bit)) m.input.newly_pressed_mask = bit;
            m.delivered_held_key_mask |= bit;
        } else {
            m.delivered_held_key_mask &= ~bit;
        }
    }
    m.memory.write32(kKeyEventWord, bit);
    Status status = call_guest(m, logic, self, event.pressed ? kEventKeyPressed : kEventKeyReleased, kKeyEventWord, budget);
    m.input.newly_pressed_mask = 0;
    if (!status) return std::move(status).error();
    return true;
}

// Delivers one pending pen edge or move. False when nothing was pending. Like
// a key's newly-pressed mask, the edge flag stays visible to the logic call
// that delivers it (an application may ask for it there) and is consumed after.
Result<bool> deliver_pen_event(TarvelMachine& m, u32 logic, u32 self, u64 budget) {
    PointerState& pen = m.input.pointer;
    u32 event = 0, x = 0, y = 0;
    bool PointerState::*edge = nullptr;
    if (pen.pressed) {
        edge = &PointerState::pressed;
        event = kEventPenDown;
        x = pen.press_x;
        y = pen.press_y;
    } else if (pen.released) {
        edge = &PointerState::released;
        event = kEventPenUp;
        x = pen.x;
        y = pen.y;
    } else if (pen.down && (pen.x != m.pen_delivered_x || pen.y != m.pen_delivered_y)) {
        event = kEventPenMove;
        x = pen.x;
        y = pen.y;
    } else {
        return false;
    }
    m.pen_delivered_x = x;
    m.pen_delivered_y = y;
    m.memory.write32(kPenEventWord, (y << 16) | (x & 0xFFFF));
    Status status = call_guest(m, logic, self, event, kPenEventWord, budget);
    if (edge) pen.*edge = false;
    if (!status) return std::move(status).error();
    return true;
}

Status run_screen(TarvelMachine& m, u64 budget) {
    const u32 screen = m.current_screen;
    const u32 self = screen_this(m, screen);
    trace_screen(m, screen, self);
    GuestMemory& memory = m.memory;

    if (!m.screen_initialized) {
        TARVEL_TRY(call_guest(m, memory.read32(screen + kScreenInit), self, 0, 0, budget));
        // An init that removed its own screen left the one below to be
        // initialised in turn.
        if (m.current_screen == screen) m.screen_initialized = true;
        if (after_callback(m)) return {};
    }
    if (m.pending_load && (m.pending_load_screen == 0 || m.pending_load_screen == screen)) {
        m.pending_load = false;
        m.pending_load_screen = 0;
        TARVEL_TRY(call_guest(m, memory.read32(screen + kScreenLoad), self, 0, 0, budget));
        if (after_callback(m)) return {};
    }
    if (!still_current(m, screen)) return {};

    // The logic address is read at each call: a handler may install another
    // logic function for the calls that follow.
    TARVEL_TRY_ASSIGN(bool delivered, deliver_key_event(m, memory.read32(screen + kScreenLogic), self, budget));
    if (!delivered) {
        TARVEL_TRY_ASSIGN(delivered, deliver_pen_event(m, memory.read32(screen + kScreenLogic), self, budget));
    }
    if (delivered && after_callback(m)) return {};

    if (!still_current(m, screen)) return {};
    TARVEL_TRY(call_guest(m, memory.read32(screen + kScreenLogic), self, kEventTick, 0, budget));
    if (after_callback(m)) return {};

    if (!still_current(m, screen)) return {};
    const u32 render = memory.read32(screen + kScreenRender);
    if (render == 0) return Error::format("CBE screen at 0x{:08x} has no render callback", screen);
    TARVEL_TRY(call_guest(m, render, self, 0, 0, budget));
    after_callback(m);
    return {};
}

}  // namespace

Status run_tick(TarvelMachine& m, u64 budget) {
    if (stopped(m)) {
        m.input.newly_pressed_mask = 0;
        return {};
    }
    if (m.run_state != RunState::Running) return Error("CBE machine is not ready");

    // The background music check of the audio service runs here once it exists.
    ++m.tick_count;
    TARVEL_TRY(run_queued_calls(m, budget));
    if (stopped(m)) {
        clear_edges(m);
        return {};
    }
    TARVEL_TRY(run_due_timers(m, budget));
    if (stopped(m)) {
        clear_edges(m);
        return {};
    }

    if (m.active_screen != 0 && m.active_screen != m.current_screen) {
        m.current_screen = m.active_screen;
        m.screen_initialized = false;
    }
    if (m.current_screen == 0) {
        if (services::active_timer_count(m) > 0) return {};
        return Error("CBE application has no active screen");
    }
    return run_screen(m, budget);
}

}  // namespace tarvel::machine
