#pragma once
// The simulated network (group 9). Nothing leaves the host: connections always
// open, sent bytes are kept (the last 512) and counted, and every send on an
// open connection and every HTTP request is answered with a single byte 0x01
// that the application's callback receives through the machine's queue of
// deferred guest calls, which the tick runs.
//
// What the callback sees, as (r0, r1, r2, r3):
//   connection opened      (0, 0, 0, 5)             in the second tick after the open
//   answer data            (byte address, 1, 1, 0)  in the second tick after the request
//   answer complete        (0, 0, 0, 1)             in the third tick
// The argument of an HTTP request travels with its events but is not passed.

#include "common/bytes.hpp"

namespace tarvel::machine {
struct TarvelMachine;
}

namespace tarvel::machine::services {

inline constexpr u32 kNetworkGroup = 9;

// Deferred guest calls the network leaves pending at most. The network is the
// only producer of that queue, so this bounds it: a guest that sends in a loop
// without letting ticks run loses answers past this many instead of growing
// host memory.
inline constexpr size_t kMaxPendingNetworkEvents = 32;

// Event kinds, the first word of each event (passed to the callback in r3).
inline constexpr u32 kNetEventData = 0;
inline constexpr u32 kNetEventComplete = 1;
inline constexpr u32 kNetEventOpened = 5;

// Sent bytes shown by the trace line.
inline constexpr u32 kUplinkTraceHead = 16;

}  // namespace tarvel::machine::services
