// The save-state payload: the machine record written field by field.
//
// One field list per record. Each `serialize` function below lists the fields
// of one record once, and the same function both writes (PayloadWriter, the
// record const) and reads (PayloadReader, into a fresh machine); see codec.hpp
// for what an archive offers. Checks of what was read sit beside the fields
// (`ar.check`, or an `if constexpr (Ar::kLoading)` block where reading needs
// more than a check); they run only while reading, into the fresh machine, so
// the running machine is never touched by a state that fails them.
//
// Adding a field: put it into its record's serialize function, after the
// fields already there, with the check its values need. Both directions pick
// it up. A state holds exactly the fields of the build that wrote it: a state
// of an older build ends early and is refused ("unexpected end of data"), one
// with bytes left over is refused too; states are only read back by the same
// build, so there are no defaults for absent fields. The kept state in
// tests/state pins the bytes: write it anew with TARVEL_REBASELINE=1 when the
// change is meant (see payload_test.cpp).
//
// Order. The first part follows the machine record as the platform defines it
// (registers, memory, executable, audio engine, bridge bookkeeping, screens,
// input, timers, resources). After it come, in this fixed order, the records a
// running game also needs that the platform's list leaves out:
//   1. heap bookkeeping (bump pointer, free list, live blocks);
//   2. the rest of the audio engine (volume, looping source) and the audio
//      service's current-sound words;
//   3. the named resource packages and the guest addresses of loaded resources;
//   4. the deferred guest calls, so an answer already scheduled (a network
//      reply) still arrives after a restore;
//   5. the network record and the drawing service's words;
//   6. the virtual filesystem: files, directories and open handles. Leaving it
//      out would wipe the game's saved files on every restore;
//   7. the frontend binding's tick phase (see save_state.hpp);
//   8. the two Auto BGM flags (enabled, suppressed), so that a restore does not
//      start the automatic music over a game that silenced it;
//   9. the sounds queued on the audio engine, each with its encoded data and
//      the cursor its decoding resumes from;
//  10. the key presses and releases sampled but not yet delivered, oldest
//      first. A run of rewind or run-ahead restores every frame; without them
//      a press sampled in the frame before a restore would be lost.
//  11. the enhanced sound's state (on, output gain, effects, fade tail), only
//      while it is on: a state that ends before it has it off.
// Parts 8 to 11 are the exceptions to "no defaults": states written before
// they were carried end early. A state that ends after the tick phase restores
// with both flags clear; one that ends after the flags restores with no queued
// sound (what it had converted is in the audio queue of the first part); one
// that ends before the key events restores with none waiting and with the
// delivered keys equal to the held ones, as such states always did, so that
// only keys changed from then on produce events.
// Not written, so empty or default after a restore: the cached Auto BGM music
// and the option-derived fields that the frontend binding reapplies.
#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <fmt/format.h>

#include "media/audio/formats.hpp"
#include "machine/services/network.hpp"
#include "machine/services/timer.hpp"
#include "state/save_state.hpp"
#include "state/codec.hpp"
#include "state/zero_blocks.hpp"

namespace tarvel {

using namespace machine;
using save_state_detail::PayloadReader;
using save_state_detail::PayloadWriter;

namespace {

// A record as the archive `Ar` sees it: const while writing.
template <class Ar, class T>
using Ref = typename Ar::template Ref<T>;

constexpr u32 kRunStateCount = 5;

// A counted sequence: u64 count, then the elements. While reading, a count
// above `limit` fails with "<what> (<count>)".
template <class Ar, class Seq, class Visit>
void counted(Ar& ar, Seq& seq, size_t min_element_bytes, Visit&& visit,
             size_t limit = std::numeric_limits<size_t>::max(), std::string_view what = {}) {
    const size_t n = ar.count(seq.size(), min_element_bytes);
    ar.check(n <= limit, [&] { return fmt::format("{} ({})", what, n); });
    ar.items(seq, n, visit);
}

// An enumeration stored as its u32 index; while reading, indices outside
// [first, last] fail with "invalid <what> <index>".
template <class Ar, class E>
void enumeration(Ar& ar, Ref<Ar, E> value, u32 first, u32 last, std::string_view what) {
    u32 index = static_cast<u32>(value);
    ar(index);
    if constexpr (Ar::kLoading) {
        ar.check(index >= first && index <= last, [&] { return fmt::format("invalid {} {}", what, index); });
        value = static_cast<E>(index);
    }
}

// A ring is written as its held entries, oldest first.
template <class Ar, class Ring, class Visit>
void ring(Ar& ar, Ring& entries, size_t min_element_bytes, Visit&& visit) {
    if constexpr (Ar::kLoading) {
        std::vector<std::decay_t<decltype(entries.at(0))>> held;
        counted(ar, held, min_element_bytes, visit);
        entries.assign(held);
    } else {
        ar.count(entries.size());
        for (size_t i = 0; i < entries.size(); ++i) visit(entries.at(i));
    }
}

// ---------------------------------------------------------------- records

// A guest memory region as the payload holds it: its base, its contents and
// whether it is read-only. The contents are a u64 with kPagedContents set
// over the region's size, the count of pages present and each page as its
// number and bytes (see RegionContents); states written before pages were
// left out hold the size and every byte, and are still read. Reading leaves
// the contents in the payload; they reach guest memory only once the whole
// state is good.
constexpr u64 kPagedContents = u64{1} << 63;

u64 page_count(u64 size) { return (size + kStatePageSize - 1) / kStatePageSize; }
u64 page_length(u64 size, u64 page) { return std::min<u64>(kStatePageSize, size - page * kStatePageSize); }

// The pages of `bytes` that are not all zero.
RegionContents nonzero_pages(std::span<const u8> bytes) {
    RegionContents contents;
    contents.size = static_cast<u32>(bytes.size());
    for (u64 page = 0; page < page_count(bytes.size()); ++page) {
        const std::span<const u8> at = bytes.subspan(page * kStatePageSize, page_length(bytes.size(), page));
        if (save_state_detail::all_zero(at)) continue;
        contents.pages.push_back(static_cast<u32>(page));
        contents.page_bytes.push_back(at.data());
    }
    return contents;
}

void serialize(PayloadWriter& ar, const RegionContents& contents) {
    ar(kPagedContents | contents.size);
    ar.count(contents.pages.size());
    for (size_t i = 0; i < contents.pages.size(); ++i) {
        ar(contents.pages[i]);
        ar.raw(contents.page_bytes[i], static_cast<size_t>(page_length(contents.size, contents.pages[i])));
    }
}

void serialize(PayloadReader& ar, RegionContents& contents) {
    const size_t at = ar.position();
    u64 header = 0;
    ar(header);
    if (ar.failed()) return;
    if (!(header & kPagedContents)) {
        // Every byte, as states before pages were left out hold them.
        ar.check(header <= ar.remaining(), [&] {
            return fmt::format("element count {} at offset {} exceeds the remaining data", header, at);
        });
        const u8* bytes = ar.raw(static_cast<size_t>(header));
        if (!bytes) return;
        contents.size = static_cast<u32>(std::min<u64>(header, ~u32{0}));
        ar.check(contents.size == header, "guest memory region is too large");
        for (u64 page = 0; page < page_count(header) && !ar.failed(); ++page) {
            contents.pages.push_back(static_cast<u32>(page));
            contents.page_bytes.push_back(bytes + page * kStatePageSize);
        }
        return;
    }
    const u64 size = header & ~kPagedContents;
    ar.check(size <= ~u32{0}, "guest memory region is too large");
    if (ar.failed()) return;
    contents.size = static_cast<u32>(size);
    const size_t n = ar.count(4 + 1);
    ar.check(n <= page_count(size), [&] { return fmt::format("guest memory region holds {} pages", n); });
    for (size_t i = 0; i < n && !ar.failed(); ++i) {
        u32 page = 0;
        ar(page);
        ar.check(page < page_count(size) && (contents.pages.empty() || page > contents.pages.back()),
                 [&] { return fmt::format("guest memory page {} out of order or outside its region", page); });
        if (ar.failed()) return;
        const u8* bytes = ar.raw(static_cast<size_t>(page_length(size, page)));
        if (!bytes) return;
        contents.pages.push_back(page);
        contents.page_bytes.push_back(bytes);
    }
}

template <class Ar>
void serialize(Ar& ar, Ref<Ar, TimerSlot> timer) {
    ar(timer.active, timer.callback, timer.argument, timer.countdown);
    ar.check(timer.active <= 1, "invalid timer active flag");
}

template <class Ar>
void serialize(Ar& ar, Ref<Ar, QueuedCall> call) {
    ar(call.e0, call.e1, call.e2, call.e3, call.function, call.unused, call.countdown);
}

template <class Ar>
void serialize(Ar& ar, Ref<Ar, ServiceCallRecord> call) {
    ar(call.group, call.index, call.lr, call.r0);
}

template <class Ar>
void serialize(Ar& ar, Ref<Ar, PointerState> pointer) {
    ar(pointer.down, pointer.pressed, pointer.released, pointer.x, pointer.y, pointer.press_x, pointer.press_y);
}

template <class Ar>
void serialize(Ar& ar, Ref<Ar, cbe::Resource> resource) {
    ar(resource.name, resource.data);
}

template <class Ar>
void serialize(Ar& ar, Ref<Ar, cbe::NamedPackage> package) {
    ar(package.name);
    counted(ar, package.resources, 16, [&](auto& resource) { serialize(ar, resource); });
}

template <class Ar>
void serialize(Ar& ar, Ref<Ar, cbe::CbeExecutable> exe) {
    ar(exe.load_address, exe.data_offset, exe.data_address, exe.data_size, exe.code_offset, exe.code_length,
       exe.init_data_offset, exe.init_data_length, exe.embedded_offset, exe.embedded_length, exe.resource_offset,
       exe.resource_length);
    ar(exe.big_endian);
    ar.check(exe.big_endian <= 1, "invalid executable byte order flag");
}

// The engine's playing state; its volume and loop source follow later (group 2).
template <class Ar>
void serialize_head(Ar& ar, Ref<Ar, AudioEngine> audio) {
    ar(audio.active, audio.paused);
    const size_t samples = ar.count(audio.queue.size(), 2);
    ar.check(samples <= kMaxQueuedValues && samples % 2 == 0,
             [&] { return fmt::format("invalid audio queue length {}", samples); });
    ar.items(audio.queue, samples, [&](auto& sample) { ar(sample); });
    ar(audio.bytes_submitted, audio.frames_queued, audio.nonzero_samples, audio.rejected, audio.silent_frames,
       audio.peak_frames);
}

template <class Ar>
void shared_bytes(Ar& ar, Ref<Ar, SharedBytes> bytes) {
    if constexpr (Ar::kLoading) bytes = SharedBytes(ar.blob());
    else ar.blob(bytes.span());
}

// A queued sound: its data and where its decoding stands. The decoder itself
// is rebuilt from the cursor when the sound next plays; what can be checked
// without decoding is checked here.
template <class Ar>
void serialize(Ar& ar, Ref<Ar, QueuedSound> sound) {
    shared_bytes(ar, sound.data);
    auto& c = sound.cursor;
    ar(c.copies_left, c.copy_frames, c.out_frame, c.block, c.block_start, c.feed_from, c.first_frame, c.preroll,
       c.channels, c.rate);
    u32 carry[2] = {std::bit_cast<u32>(c.carry[0]), std::bit_cast<u32>(c.carry[1])};
    ar(carry[0], carry[1], c.first_copy);
    if constexpr (Ar::kLoading) {
        c.carry = {std::bit_cast<float>(carry[0]), std::bit_cast<float>(carry[1])};
        ar.check(c.channels != 0 && c.channels <= 0xFFFF && c.rate != 0 && std::isfinite(c.carry[0]) &&
                     std::isfinite(c.carry[1]) && audio_format::recognise(sound.data.span()).ok(),
                 "invalid queued sound");
    }
}

template <class Ar>
void serialize(Ar& ar, Ref<Ar, KeyEvent> event) {
    ar(event.pressed, event.key_code);
    ar.check(event.key_code < 32, [&] { return fmt::format("invalid key code {}", event.key_code); });
}

template <class Ar>
void serialize_tail(Ar& ar, Ref<Ar, AudioEngine> audio) {
    ar(audio.volume);
    ar.optional(audio.loop_source, [&](auto& source) { shared_bytes(ar, source); });
}

template <class Ar>
void serialize(Ar& ar, Ref<Ar, AudioServiceState> audio) {
    ar(audio.current_sound_kind, audio.current_sound_resource);
}

template <class Ar>
void serialize(Ar& ar, Ref<Ar, NetworkState> net) {
    for (auto& connection : net.connections)
        ar(connection.id, connection.callback, connection.argument, connection.open);
    ar(net.next_connection_id, net.last_uplink);
    ar.check(net.last_uplink.size() <= NetworkState::kUplinkKept, "network uplink record is too long");
    ar(net.last_url, net.uplink_bytes, net.downlink_bytes);
}

template <class Ar>
void serialize(Ar& ar, Ref<Ar, DrawingState> drawing) {
    ar(drawing.text_origin_x, drawing.text_origin_y, drawing.resource_tables, drawing.current_resource_table);
}

// Registers: the 37 slots and the bank index. The register file checks the
// pair as a whole (a status register must name a mode).
template <class Ar>
void serialize(Ar& ar, Ref<Ar, armv4t::Cpu> cpu) {
    std::array<u32, armv4t::kSlotCount> slots = cpu.regs.slots();
    u64 bank = cpu.regs.bank();
    ar(slots, bank);
    if constexpr (Ar::kLoading) {
        if (ar.failed()) return;
        if (Status restored = cpu.regs.restore(slots, bank); !restored) ar.fail(restored.error().to_string());
    }
}

// Guest memory: the regions, which must have the running content's layout,
// the set of unmapped addresses and the byte order. Reading collects the
// regions' contents in `contents` and leaves `memory` without regions.
template <class Ar>
void serialize(Ar& ar, Ref<Ar, GuestMemory> memory, const GuestMemory& layout,
               std::vector<RegionContents>& contents) {
    const auto& expected = layout.regions();
    const size_t count = ar.count(expected.size(), 13);
    ar.check(count == expected.size(), [&] {
        return fmt::format("guest memory has {} regions, the running content has {}", count, expected.size());
    });
    for (size_t i = 0; i < count && !ar.failed(); ++i) {
        const GuestRegion& running = expected[i];
        u32 base = running.base;
        bool read_only = running.read_only;
        if constexpr (Ar::kLoading) {
            RegionContents region;
            ar(base);
            serialize(ar, region);
            ar(read_only);
            if (ar.failed()) break;
            if (base != running.base || region.size != running.bytes.size() || read_only != running.read_only) {
                ar.fail(fmt::format("guest memory region {} does not match the running content", i));
                break;
            }
            contents.push_back(std::move(region));
        } else {
            // The writer gets each region's pages found once for both passes.
            ar(base);
            serialize(ar, contents[i]);
            ar(read_only);
        }
    }
    if constexpr (Ar::kLoading) {
        std::set<u32> unmapped;
        counted(ar, unmapped, 4, [&](u32& address) {
            ar(address);
            ar.check(unmapped.empty() || address > *unmapped.rbegin(),
                     "unmapped addresses are not in ascending order");
        }, GuestMemory::kMaxUnmappedRecords, "too many unmapped addresses");
        memory.set_unmapped_accesses(std::move(unmapped));
        bool big_endian = false;
        ar(big_endian);
        memory.set_big_endian(big_endian);
    } else {
        ar.count(memory.unmapped_accesses().size());
        for (u32 address : memory.unmapped_accesses()) ar(address);
        ar(memory.big_endian());
    }
}

// Service call counts in key order, so equal machines encode equally.
template <class Ar>
void serialize(Ar& ar, Ref<Ar, std::unordered_map<ServiceKey, u64, ServiceKeyHash>> counts) {
    std::vector<std::pair<ServiceKey, u64>> entries;
    if constexpr (!Ar::kLoading) {
        entries.assign(counts.begin(), counts.end());
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return a.first.group != b.first.group ? a.first.group < b.first.group : a.first.index < b.first.index;
        });
    }
    counted(ar, entries, 16, [&](auto& entry) {
        ar(entry.first.group, entry.first.index, entry.second);
        if constexpr (Ar::kLoading)
            ar.check(counts.emplace(entry.first, entry.second).second, "duplicate service call count entry");
    });
}

template <class Ar>
void serialize(Ar& ar, Ref<Ar, GuestHeap> heap) {
    ar(heap.top);
    ar.check(heap.top >= GuestHeap::kBase && heap.top <= GuestHeap::kLimit && heap.top % GuestHeap::kGranularity == 0,
             [&] { return fmt::format("invalid heap top {:#x}", heap.top); });
    // A block must be granular, non-empty and lie below the bump pointer, and
    // the blocks of each list must be in address order without overlapping.
    auto block_ok = [&](u32 address, u32 size, u64& end) {
        bool ok = address >= GuestHeap::kBase && address % GuestHeap::kGranularity == 0 && size != 0 &&
                  size % GuestHeap::kGranularity == 0 && size <= heap.top - address && address < heap.top &&
                  address >= end;
        end = u64{address} + size;
        return ok;
    };
    u64 free_end = 0;
    counted(ar, heap.free_blocks, 8, [&](auto& block) {
        ar(block.address, block.size);
        ar.check(block_ok(block.address, block.size, free_end), "invalid heap free list");
    });
    if constexpr (Ar::kLoading) {
        const size_t live = ar.count(8);
        u64 live_end = 0;
        for (size_t i = 0; i < live && !ar.failed(); ++i) {
            u32 address = 0, size = 0;
            ar(address, size);
            ar.check(block_ok(address, size, live_end), "invalid heap allocation record");
            if (!ar.failed()) heap.allocations.emplace_hint(heap.allocations.end(), address, size);
        }
    } else {
        ar.count(heap.allocations.size());
        for (const auto& [address, size] : heap.allocations) ar(address, size);
    }
}

template <class Ar>
void serialize(Ar& ar, Ref<Ar, LoadedResources> loaded) {
    for (auto* list : {&loaded.data_addresses, &loaded.name_addresses})
        counted(ar, *list, 4, [&](auto& address) { ar(address); });
}

// Files in path order, directories, handle slots. Paths are checked to be in
// normal form and in strictly ascending order, so a state re-encodes as read.
template <class Ar>
void serialize(Ar& ar, Ref<Ar, VirtualFs> fs) {
    auto normalised = [](const std::string& path) {
        auto n = normalize_path(path);
        return n && *n == path;
    };
    if constexpr (Ar::kLoading) {
        // Read into an empty filesystem: no files, no directories (not even
        // the root, which the state lists), free handles.
        fs.files.clear();
        fs.directories.clear();
        fs.stored_bytes = 0;
        const size_t file_count = ar.count(16);
        ar.check(file_count <= kMaxFiles, [&] { return fmt::format("too many files ({})", file_count); });
        std::string previous;
        for (size_t i = 0; i < file_count && !ar.failed(); ++i) {
            std::string path;
            std::vector<u8> contents;
            ar(path, contents);
            if (ar.failed()) break;
            // "" is the root's own name, which a guest can open as a file too.
            ar.check(normalised(path) && (i == 0 || path > previous),
                     [&] { return fmt::format("invalid file path \"{}\"", path); });
            fs.stored_bytes += contents.size();
            ar.check(fs.stored_bytes <= kMaxStoredBytes, "stored files exceed the filesystem limit");
            previous = path;
            fs.files.emplace(std::move(path), std::move(contents));
        }
    } else {
        std::vector<const std::pair<const std::string, std::vector<u8>>*> files;
        files.reserve(fs.files.size());
        for (const auto& entry : fs.files) files.push_back(&entry);
        std::sort(files.begin(), files.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
        ar.count(files.size());
        for (const auto* file : files) ar(file->first, file->second);
    }
    counted(ar, fs.directories, 8, [&](auto& directory) {
        ar(directory);
        if constexpr (Ar::kLoading)
            ar.check(normalised(directory) && (fs.directories.empty() || directory > *fs.directories.rbegin()),
                     [&] { return fmt::format("invalid directory \"{}\"", directory); });
    }, kMaxDirectories + 1, "too many directories");
    ar.check(fs.directories.contains(std::string()), "the filesystem has no root directory");
    for (auto& slot : fs.handles)
        ar.optional(slot, [&](auto& file) {
            ar(file.path, file.position, file.readable, file.writable);
            ar.check(normalised(file.path), [&] { return fmt::format("invalid handle path \"{}\"", file.path); });
        });
}

// ---------------------------------------------------------------- the machine

// The whole payload. `layout` is the memory whose region layout a state must
// have (the running machine's while reading); see the memory for `contents`.
template <class Ar>
void serialize(Ar& ar, Ref<Ar, TarvelMachine> m, Ref<Ar, u32> tick_phase, const GuestMemory& layout,
               std::vector<RegionContents>& contents) {
    serialize(ar, m.cpu);
    serialize(ar, m.memory, layout, contents);
    ar(m.volume);
    serialize_head(ar, m.audio_engine);
    serialize(ar, m.executable);
    enumeration<Ar, RunState>(ar, m.run_state, 0, kRunStateCount - 1, "run state");
    ar(m.code_base, m.data_base, m.app_entry);

    // Bridge bookkeeping.
    serialize(ar, m.service_call_counts);
    ring(ar, m.recent_service_calls, 16, [&](auto& call) { serialize(ar, call); });
    ar(m.instruction_count, m.tick_count, m.last_pc);
    ring(ar, m.recent_pcs, 4, [&](auto& pc) { ar(pc); });

    // Screens and input.
    ar(m.current_screen, m.active_screen);
    counted(ar, m.screen_stack, 4, [&](auto& screen) { ar(screen); }, kMaxScreenStackDepth, "screen stack too deep");
    ar(m.screen_initialized, m.pending_load, m.pending_load_screen, m.input.newly_pressed_mask,
       m.delivered_held_key_mask, m.input.held_key_mask);
    ar(m.app_second_word, m.native_entry, m.native_second_callback, m.pen_delivered_x, m.pen_delivered_y);
    // Without the key events (older states) the delivered keys start from the
    // held ones; the saved mask comes back only with the events it goes with.
    const u32 delivered_held_key_mask = m.delivered_held_key_mask;
    if constexpr (Ar::kLoading) m.delivered_held_key_mask = m.input.held_key_mask;
    serialize(ar, m.input.pointer);

    counted(ar, m.timers, 13, [&](auto& timer) { serialize(ar, timer); }, services::kTimerSlotCount,
            "too many timers");
    counted(ar, m.resources.main_table, 16, [&](auto& resource) { serialize(ar, resource); });
    ar(m.interface_object_142, m.interface_object_143);
    // Both orientations are effective ones here: never Auto.
    enumeration<Ar, Orientation>(ar, m.orientation, 1, 2, "orientation");
    enumeration<Ar, Orientation>(ar, m.effective_orientation, 1, 2, "orientation");

    // 1. Heap.
    serialize(ar, m.heap);
    // 2. Audio engine remainder and the audio service's words.
    serialize_tail(ar, m.audio_engine);
    serialize(ar, m.audio);
    // 3. Named packages and loaded resources.
    counted(ar, m.resources.named_packages, 16, [&](auto& package) { serialize(ar, package); });
    serialize(ar, m.loaded_resources);
    // 4. Deferred calls, front to back. The network is what queues calls, and
    // it never holds more than its pending-event limit.
    counted(ar, m.queued_calls, 28, [&](auto& call) { serialize(ar, call); }, services::kMaxPendingNetworkEvents,
            "too many queued calls");
    // 5. Network and drawing.
    serialize(ar, m.network);
    serialize(ar, m.drawing);
    // 6. Virtual filesystem.
    serialize(ar, m.file_system);
    // 7. Tick phase.
    ar(tick_phase);
    ar.check(tick_phase < kTickPhaseLimit, [&] { return fmt::format("invalid tick phase {}", tick_phase); });
    // 8. Auto BGM flags, absent from older states.
    if constexpr (Ar::kLoading) {
        if (ar.failed() || ar.remaining() == 0) return;
    }
    ar(m.audio.auto_bgm_enabled, m.audio.auto_bgm_suppressed);
    // 9. Queued sounds, absent from older states.
    if constexpr (Ar::kLoading) {
        if (ar.failed() || ar.remaining() == 0) return;
    }
    counted(ar, m.audio_engine.sounds, 8 + 7 * 8 + 5 * 4 + 1, [&](auto& sound) { serialize(ar, sound); },
            kMaxQueuedSounds, "too many queued sounds");
    // 10. Key events waiting for their tick, absent from older states.
    if constexpr (Ar::kLoading) {
        if (ar.failed() || ar.remaining() == 0) return;
    }
    counted(ar, m.input.key_event_queue, 2, [&](auto& event) { serialize(ar, event); });
    if constexpr (Ar::kLoading) m.delivered_held_key_mask = delivered_held_key_mask;
    // 11. The enhanced sound's state, written only while it is on. Fewer
    // bytes than its smallest form are not it: they are left over.
    auto& audio = m.audio_engine;
    if constexpr (Ar::kLoading) {
        if (ar.failed() || ar.remaining() < 1 + 4 + 8 + 8) return;
    } else {
        if (!audio.enhanced && audio.effects.empty() && audio.fade_tail.empty()) return;
    }
    ar(audio.enhanced, audio.gain);
    ar.check(audio.gain <= kFullGain, [&] { return fmt::format("invalid audio gain {}", audio.gain); });
    counted(ar, audio.effects, 8 + 7 * 8 + 5 * 4 + 1, [&](auto& sound) { serialize(ar, sound); }, kMaxEffects,
            "too many sound effects");
    counted(ar, audio.fade_tail, 2, [&](auto& sample) { ar(sample); }, size_t{kFadeFrames} * 2,
            "fade tail too long");
}

}  // namespace

Status encode_payload_into(const TarvelMachine& machine, u32 tick_phase, std::vector<u8>& out) {
    std::vector<RegionContents> pages;
    for (const GuestRegion& region : machine.memory.regions()) pages.push_back(nonzero_pages(region.bytes));
    PayloadWriter counter;
    serialize(counter, machine, tick_phase, machine.memory, pages);
    if (counter.failed()) return Error(counter.error());
    // Resizing a kept buffer to a size it had before costs nothing.
    out.resize(counter.size());
    PayloadWriter writer(out.data());
    serialize(writer, machine, tick_phase, machine.memory, pages);
    if (writer.size() != out.size()) return Error("payload size changed between the sizing and writing passes");
    return {};
}

Result<std::vector<u8>> encode_payload(const TarvelMachine& machine, u32 tick_phase) {
    std::vector<u8> out;
    TARVEL_TRY(encode_payload_into(machine, tick_phase, out));
    return out;
}

Result<SavedGame> decode_payload_in_place(std::span<const u8> payload, const TarvelMachine& running) {
    SavedGame game;
    game.machine = std::make_unique<TarvelMachine>();
    PayloadReader reader(payload);
    serialize(reader, *game.machine, game.tick_phase, running.memory, game.memory_contents);
    if (reader.failed()) return Error(reader.error());
    if (reader.remaining() != 0) return Error("Slice had bytes remaining after deserialization");
    // Fields the frontend binding owns: carried over from the running machine
    // and then set again from the core options.
    game.machine->orientation_option = running.orientation_option;
    return game;
}

Result<SavedGame> decode_payload(std::span<const u8> payload, const TarvelMachine& running) {
    TARVEL_TRY_ASSIGN(SavedGame game, decode_payload_in_place(payload, running));
    const auto& layout = running.memory.regions();
    for (size_t i = 0; i < layout.size(); ++i) {
        std::vector<u8> bytes(game.memory_contents[i].size);
        game.memory_contents[i].copy_into(bytes);
        game.machine->memory.add_region(layout[i].base, std::move(bytes), layout[i].read_only);
    }
    game.memory_contents.clear();
    return game;
}

}  // namespace tarvel
