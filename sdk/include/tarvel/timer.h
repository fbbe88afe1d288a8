/* Timers and clocks (group 7). Timers are one-shot and count 100 ms ticks;
 * a callback that wants a periodic timer starts a new one. */
#ifndef TARVEL_TIMER_H
#define TARVEL_TIMER_H

#include "service.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*tv_timer_fn)(uint32_t argument);

/* Starts a timer that calls callback(argument) after interval_ms (rounded up
 * to whole ticks, at least one). Returns its id (100..119), 0 when none is free. */
static inline uint32_t tv_timer_start(uint32_t interval_ms, tv_timer_fn callback,
                                      uint32_t argument) {
    return tv_service(TV_GROUP_TIMER, 0, interval_ms, TV_U32(callback), argument, 0);
}
static inline void tv_timer_stop(uint32_t id) { tv_service(TV_GROUP_TIMER, 1, id, 0, 0, 0); }

/* Milliseconds of application time since start (100 per tick). */
static inline uint32_t tv_uptime_ms(void) { return tv_service(TV_GROUP_TIMER, 2, 0, 0, 0, 0); }
/* Seconds since the epoch on the machine's clock. */
static inline uint32_t tv_clock_seconds(void) { return tv_service(TV_GROUP_TIMER, 3, 0, 0, 0, 0); }

#ifdef __cplusplus
}
#endif
#endif
