#pragma once
// The machine record: the whole emulated handheld as plain data. Guest memory
// and heap, the processor registers, the parsed executable and its resources,
// and the state of the application life cycle and of every service. Everything
// a save state carries is a member here, so the record can be written and read
// field by field; nothing in it points into host memory.
//
// The three operations the frontend binding uses are build_machine (once per
// load and on reset), boot (once after building) and run_tick (ten times per
// second of application time).

#include <array>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "armv4t/cpu.hpp"
#include "media/audio/audio_engine.hpp"
#include "cbe/archive.hpp"
#include "cbe/packages.hpp"
#include "common/bytes.hpp"
#include "common/error.hpp"
#include "common/orientation.hpp"
#include "memory/guest_heap.hpp"
#include "memory/guest_memory.hpp"
#include "machine/input_state.hpp"
#include "machine/screen.hpp"
#include "machine/virtual_fs.hpp"

namespace tarvel::machine {

// Fixed guest addresses of the platform.
inline constexpr u32 kDefaultCodeBase = 0x01000000;
inline constexpr u32 kStackBase = 0x02000000;
inline constexpr u32 kStackSize = 0x00100000;
inline constexpr u32 kStackTop = kStackBase + kStackSize;
inline constexpr u32 kRamBase = 0x05000000;
inline constexpr u32 kRamSize = 0x01000000;
inline constexpr u32 kSystemArenaRecord = 0x05800000;
inline constexpr u32 kSystemArenaBuffer = 0x05400000;
inline constexpr u32 kSystemArenaCapacity = 0x00400000;
inline constexpr u32 kSystemAreaBase = 0x0A000000;
inline constexpr u32 kSystemAreaSize = 0x00100000;
inline constexpr u32 kTrapAreaBase = 0x0C000000;
inline constexpr u32 kTrapAreaSize = 0x00100000;
inline constexpr u32 kReturnSentinel = 0x0F000000;
inline constexpr u32 kReturnAddress = kReturnSentinel | 1;  // lr for every host call into the guest
inline constexpr u32 kSystemEntry = 0x0C00F000;
inline constexpr u32 kSystemEntryThumb = kSystemEntry | 1;

// Guest words with a fixed meaning to the application.
inline constexpr u32 kAppEntryWord = 0x0A000000;       // application entry registered by the initializer
inline constexpr u32 kAppSecondWord = 0x0A000004;      // the word registered beside it
inline constexpr u32 kPenEventWord = 0x0A007FD8;       // (y << 16) | x of the pen event being delivered
inline constexpr u32 kKeyEventWord = 0x0A007FDC;       // bit of the key event being delivered
inline constexpr u32 kScreenSystemWord = 0x0A007FE0;   // cleared by screen push and replace
inline constexpr u32 kSystemWordA = 0x0A007FF0;
inline constexpr u32 kSystemWordB = 0x0A007FF4;

// Address of the stub of service `index` in service `group`.
constexpr u32 service_stub(u32 group, u32 index) { return kTrapAreaBase + group * 0x400 + index * 4; }

enum class RunState : u8 {
    Created = 0,   // built, not booted
    Booting = 1,   // the initializer is running
    Running = 2,   // booted; ticks run
    Stopped = 3,   // the guest asked to stop (exit request, idle loop, nothing left to run)
    Faulted = 4,   // a run fault or a boot without a registered entry
};

// One-shot timer (ids 100..119 address slots 0..19). Field order is the saved order.
struct TimerSlot {
    u8 active = 0;
    u32 callback = 0;  // guest code address, bit 0 set for Thumb code
    u32 argument = 0;
    u32 countdown = 0;  // remaining ticks

    friend bool operator==(const TimerSlot&, const TimerSlot&) = default;
};

// A guest function the tick calls later (queued by the network service).
struct QueuedCall {
    u32 e0 = 0, e1 = 0, e2 = 0, e3 = 0;
    u32 function = 0;
    u32 unused = 0;     // carried along; the tick does not read it
    u32 countdown = 0;  // ticks still to wait; 0 = due

    friend bool operator==(const QueuedCall&, const QueuedCall&) = default;
};

struct ServiceCallRecord {
    u32 group = 0;
    u32 index = 0;
    u32 lr = 0;
    u32 r0 = 0;

    friend bool operator==(const ServiceCallRecord&, const ServiceCallRecord&) = default;
};

struct ServiceKey {
    u32 group = 0;
    u32 index = 0;

    friend bool operator==(const ServiceKey&, const ServiceKey&) = default;
};

struct ServiceKeyHash {
    size_t operator()(const ServiceKey& k) const noexcept { return (size_t{k.group} << 32) ^ k.index; }
};

// A ring of fixed capacity that drops its oldest entry when full. Storage is a
// plain array so pushing never allocates; iteration is oldest first.
template <typename T, size_t N>
struct FixedRing {
    static_assert((N & (N - 1)) == 0, "capacity must be a power of two");
    std::array<T, N> items{};
    u64 pushed = 0;  // total pushes; the newest entry is at (pushed - 1) % N

    static constexpr size_t capacity() { return N; }
    void push(const T& value) { items[pushed++ & (N - 1)] = value; }
    size_t size() const { return pushed < N ? static_cast<size_t>(pushed) : N; }
    bool empty() const { return pushed == 0; }
    void clear() { pushed = 0; }
    // i = 0 is the oldest held entry.
    const T& at(size_t i) const { return items[(pushed - size() + i) & (N - 1)]; }
    const T& newest() const { return items[(pushed - 1) & (N - 1)]; }
    std::vector<T> to_vector() const {
        std::vector<T> out;
        out.reserve(size());
        for (size_t i = 0; i < size(); ++i) out.push_back(at(i));
        return out;
    }
    // Refills from oldest-first values (a restore); only the last N are kept.
    void assign(std::span<const T> values) {
        clear();
        for (const T& v : values) push(v);
    }
};

using RecentPcs = FixedRing<u32, 32>;
using RecentServiceCalls = FixedRing<ServiceCallRecord, 16>;

// State of service families whose handlers live in their own files. Each is a
// plain record owned by the machine; the family's handler file defines what it
// needs and fills these in.
// The audio service's own words beside the engine: which sound the guest last
// started (so replaying a resource that is still playing does not restart it)
// and the Auto BGM bookkeeping.
struct AudioServiceState {
    static constexpr u32 kSoundOther = 0;       // a buffer, a file, or nothing
    static constexpr u32 kSoundResource = 1;    // a packaged resource played by number

    u32 current_sound_kind = kSoundOther;
    u32 current_sound_resource = 0;  // meaningful while the kind is kSoundResource
    bool auto_bgm_enabled = false;     // mirrors the core option
    bool auto_bgm_suppressed = false;  // the guest has used the audio service itself
    std::optional<std::vector<u8>> auto_bgm_cache;  // the chosen MIDI resource once found

    friend bool operator==(const AudioServiceState&, const AudioServiceState&) = default;
};

// One connection of the simulated network. A slot is free while `open` is
// false; the id stays unique among open slots until the id counter wraps.
struct NetworkConnection {
    u32 id = 0;
    u32 callback = 0;  // guest code address the answers go to
    u32 argument = 0;  // always 0 for connections; carried in their events
    bool open = false;

    friend bool operator==(const NetworkConnection&, const NetworkConnection&) = default;
};

// The simulated network: its connection slots, what the guest last sent and
// asked for, and the traffic counters (both saturate instead of wrapping).
struct NetworkState {
    static constexpr size_t kConnectionSlots = 16;
    static constexpr size_t kUplinkKept = 512;  // bytes of the last send kept

    std::array<NetworkConnection, kConnectionSlots> connections{};
    u32 next_connection_id = 0;  // the last id handed out; 0 before the first
    std::vector<u8> last_uplink;
    std::string last_url;
    u64 uplink_bytes = 0;
    u64 downlink_bytes = 0;

    friend bool operator==(const NetworkState&, const NetworkState&) = default;
};

// The drawing service's own words: the text origin stored by the drawing
// group's index 1, and the two resource table blocks of its indices 44..47
// with the one currently selected (0 until allocated or selected).
struct DrawingState {
    i16 text_origin_x = 0;
    i16 text_origin_y = 0;
    std::array<u32, 2> resource_tables{};
    u32 current_resource_table = 0;

    friend bool operator==(const DrawingState&, const DrawingState&) = default;
};

// Resource copies the data service places in guest memory, once per machine.
struct LoadedResources {
    std::vector<u32> data_addresses;
    std::vector<u32> name_addresses;
};

// Applications nest a handful of screens. A guest that pushes without end
// would otherwise grow host memory and every save state without bound, so
// past this depth the bottom entry makes room for the new one.
inline constexpr size_t kMaxScreenStackDepth = 4096;

struct TarvelMachine {
    // Processor and memory.
    armv4t::Cpu cpu;
    GuestMemory memory;
    GuestHeap heap;

    // The application as parsed from its file.
    cbe::CbeExecutable executable;
    cbe::ResourceCollections resources;
    u32 code_base = 0;  // where the code segment was placed
    u32 data_base = 0;  // where the initialized data was placed (r9 at boot)

    RunState run_state = RunState::Created;

    // Options the frontend binding keeps here.
    Orientation orientation = Orientation::Portrait;  // looked up for this file when built
    Orientation orientation_option = Orientation::Auto;
    Orientation effective_orientation = Orientation::Portrait;
    u32 volume = 100;

    // Entries registered by the application.
    u32 app_entry = 0;
    u32 app_second_word = 0;
    u32 native_entry = 0;
    u32 native_second_callback = 0;

    // Bridge bookkeeping.
    std::unordered_map<ServiceKey, u64, ServiceKeyHash> service_call_counts;
    RecentServiceCalls recent_service_calls;
    RecentPcs recent_pcs;
    u64 instruction_count = 0;
    u32 last_pc = 0;

    // Time and deferred work.
    u64 tick_count = 0;
    std::vector<TimerSlot> timers;
    std::deque<QueuedCall> queued_calls;

    // Screens.
    std::vector<u32> screen_stack;  // bottom first, at most kMaxScreenStackDepth
    u32 active_screen = 0;          // the screen the application asked for
    u32 current_screen = 0;         // the screen whose callbacks run
    bool screen_initialized = false;
    bool pending_load = false;
    u32 pending_load_screen = 0;

    // Input as the frontend binding samples it: its held-key mask, the key
    // event queue, the newly-pressed mask and the pen.
    InputState input;
    // Held keys as delivered to the application, one event per tick; it trails
    // the frontend's mask while events wait in the queue.
    u32 delivered_held_key_mask = 0;
    // Pen position last delivered to the application, for telling moves apart.
    u32 pen_delivered_x = 0;
    u32 pen_delivered_y = 0;

    // Interface objects handed out by the system entry (0 until first requested).
    u32 interface_object_142 = 0;
    u32 interface_object_143 = 0;

    // Service families with state of their own.
    LoadedResources loaded_resources;
    VirtualFs file_system;  // the file service's in-memory filesystem, empty when built
    AudioEngine audio_engine;  // every sound the application plays; rebuilt with the machine
    AudioServiceState audio;
    NetworkState network;
    DrawingState drawing;

    bool big_endian() const { return memory.big_endian(); }
    // The screen buffer in guest byte order (240 x 400 RGB565, row stride 480 bytes).
    std::span<const u8> screen_bytes() const;
};

// Builds a machine for a parsed archive: regions, code and data, tables,
// resources and orientation. Fails with "load address is not mapped" when the
// code or data does not fit.
Result<TarvelMachine> build_machine(const cbe::CbeArchive& archive);

// Runs the application's initializer and its registered entry.
Status boot(TarvelMachine& machine, u64 step_budget);

// One application tick (100 ms): queued calls, timers, then the screen's callbacks.
Status run_tick(TarvelMachine& machine, u64 step_budget);

}  // namespace tarvel::machine
