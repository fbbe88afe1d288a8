// Group 7: one-shot timers and the clock. The tick walks the table with
// expire_timers and runs the callbacks of those that expire.

#include "machine/services/timer.hpp"

#include <algorithm>

#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/service_groups.hpp"

namespace tarvel::machine::services {

void timer_service(TarvelMachine& m, u32 index) {
    switch (index) {
        case 0: {  // create
            const u32 interval = service_arg(m, 0);
            const u32 callback = service_arg(m, 1);
            const u32 argument = service_arg(m, 2);
            if (callback == 0) return set_result(m, 0);
            size_t slot = 0;
            while (slot < m.timers.size() && m.timers[slot].active == 1) ++slot;
            if (slot >= kTimerSlotCount) return set_result(m, 0);
            if (slot == m.timers.size()) m.timers.emplace_back();
            const u32 rounded = interval > 0xFFFFFFFFu - 99 ? 0xFFFFFFFFu : interval + 99;
            TimerSlot& timer = m.timers[slot];
            timer.active = 1;
            timer.callback = callback;
            timer.argument = argument;
            timer.countdown = std::max<u32>(rounded / kTickMilliseconds, 1);
            return set_result(m, static_cast<u32>(slot) + kTimerIdBase);
        }
        case 1: {  // kill
            const u32 id = service_arg(m, 0);
            if (id >= kTimerIdBase && id < kTimerIdBase + kTimerSlotCount && id - kTimerIdBase < m.timers.size())
                m.timers[id - kTimerIdBase].active = 0;
            return set_result(m, 0);
        }
        case 2: return set_result(m, static_cast<u32>(m.tick_count * kTickMilliseconds));
        case 3: case 4:
            return set_result(m, kClockEpochSeconds + static_cast<u32>(m.tick_count * kTickMilliseconds / 1000));
        default: return set_result(m, 0);
    }
}

std::vector<DueTimer> expire_timers(TarvelMachine& m) {
    std::vector<DueTimer> due;
    for (TimerSlot& timer : m.timers) {
        if (timer.active != 1) continue;
        const u32 before = timer.countdown;
        if (timer.countdown > 0) --timer.countdown;
        if (before <= 1) {
            timer.active = 0;
            due.push_back(DueTimer{timer.callback, timer.argument});
        }
    }
    return due;
}

u32 active_timer_count(const TarvelMachine& m) {
    return static_cast<u32>(std::count_if(m.timers.begin(), m.timers.end(), [](const TimerSlot& t) { return t.active == 1; }));
}

}  // namespace tarvel::machine::services
