#pragma once
// Timers and the clock. Timers are one-shot: the tick takes the ones that
// expire and calls their callbacks; a guest that wants a periodic timer creates
// it again from its callback.

#include <vector>

#include "common/bytes.hpp"

namespace tarvel::machine {
struct TarvelMachine;
}

namespace tarvel::machine::services {

inline constexpr u32 kTimerIdBase = 100;
inline constexpr u32 kTimerSlotCount = 20;
inline constexpr u32 kTickMilliseconds = 100;
inline constexpr u32 kClockEpochSeconds = 0x6A756B00;  // the wall clock at tick 0

// A timer callback to run in this tick.
struct DueTimer {
    u32 callback = 0;
    u32 argument = 0;
};

// Walks the timer table once (one tick): counts active timers down and takes
// out those that expire, in slot order.
std::vector<DueTimer> expire_timers(TarvelMachine& machine);

// Number of timers still pending.
u32 active_timer_count(const TarvelMachine& machine);

}  // namespace tarvel::machine::services
