// The save-state payload: the machine record written field by field.
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
//   7. the frontend binding's tick phase (see save_state.hpp).
// Not written, so empty or default after a restore: the key event queue, the
// Auto BGM flags and cached music (the core options set them again), and the
// option-derived fields that the frontend binding reapplies.
#include <algorithm>
#include <fmt/format.h>

#include "machine/services/network.hpp"
#include "machine/services/timer.hpp"
#include "state/save_state.hpp"
#include "state/codec.hpp"

namespace tarvel {

using namespace machine;
using save_state_detail::PayloadReader;
using save_state_detail::PayloadWriter;

namespace {

constexpr u32 kRunStateCount = 5;

// ---------------------------------------------------------------- writing

void write_machine(const TarvelMachine& m, u32 tick_phase, PayloadWriter& w) {
    // Registers and the bank index.
    for (u32 slot : m.cpu.regs.slots()) w.u32_(slot);
    w.u64_(m.cpu.regs.bank());

    // Guest memory.
    const auto& regions = m.memory.regions();
    w.count(regions.size());
    for (const GuestRegion& region : regions) {
        w.u32_(region.base);
        w.blob(region.bytes);
        w.boolean(region.read_only);
    }
    w.count(m.memory.unmapped_accesses().size());
    for (u32 address : m.memory.unmapped_accesses()) w.u32_(address);
    w.boolean(m.memory.big_endian());

    w.u32_(m.volume);

    const AudioEngine& audio = m.audio_engine;
    w.boolean(audio.active);
    w.boolean(audio.paused);
    w.count(audio.queue.size());
    for (i16 sample : audio.queue) w.i16_(sample);
    for (u64 counter : {audio.bytes_submitted, audio.frames_queued, audio.nonzero_samples, audio.rejected,
                        audio.silent_frames, audio.peak_frames})
        w.u64_(counter);

    const cbe::CbeExecutable& exe = m.executable;
    for (u32 word : {exe.load_address, exe.data_offset, exe.data_address, exe.data_size, exe.code_offset,
                     exe.code_length, exe.init_data_offset, exe.init_data_length, exe.embedded_offset,
                     exe.embedded_length, exe.resource_offset, exe.resource_length})
        w.u32_(word);
    w.u8_(exe.big_endian);

    w.u32_(static_cast<u32>(m.run_state));
    w.u32_(m.code_base);
    w.u32_(m.data_base);
    w.u32_(m.app_entry);

    // Service call counts in key order, so equal machines encode equally.
    std::vector<std::pair<ServiceKey, u64>> counts(m.service_call_counts.begin(), m.service_call_counts.end());
    std::sort(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
        return a.first.group != b.first.group ? a.first.group < b.first.group : a.first.index < b.first.index;
    });
    w.count(counts.size());
    for (const auto& [key, calls] : counts) {
        w.u32_(key.group);
        w.u32_(key.index);
        w.u64_(calls);
    }
    w.count(m.recent_service_calls.size());
    for (size_t i = 0; i < m.recent_service_calls.size(); ++i) {
        const ServiceCallRecord& call = m.recent_service_calls.at(i);
        w.u32_(call.group);
        w.u32_(call.index);
        w.u32_(call.lr);
        w.u32_(call.r0);
    }
    w.u64_(m.instruction_count);
    w.u64_(m.tick_count);
    w.u32_(m.last_pc);
    w.count(m.recent_pcs.size());
    for (size_t i = 0; i < m.recent_pcs.size(); ++i) w.u32_(m.recent_pcs.at(i));

    // Screens and input.
    w.u32_(m.current_screen);
    w.u32_(m.active_screen);
    w.count(m.screen_stack.size());
    for (u32 screen : m.screen_stack) w.u32_(screen);
    w.boolean(m.screen_initialized);
    w.boolean(m.pending_load);
    w.u32_(m.pending_load_screen);
    w.u32_(m.input.newly_pressed_mask);
    w.u32_(m.delivered_held_key_mask);
    w.u32_(m.input.held_key_mask);
    for (u32 word : {m.app_second_word, m.native_entry, m.native_second_callback, m.pen_delivered_x,
                     m.pen_delivered_y})
        w.u32_(word);
    const PointerState& pointer = m.input.pointer;
    w.boolean(pointer.down);
    w.boolean(pointer.pressed);
    w.boolean(pointer.released);
    for (u32 word : {pointer.x, pointer.y, pointer.press_x, pointer.press_y}) w.u32_(word);

    w.count(m.timers.size());
    for (const TimerSlot& timer : m.timers) {
        w.u8_(timer.active);
        w.u32_(timer.callback);
        w.u32_(timer.argument);
        w.u32_(timer.countdown);
    }

    w.count(m.resources.main_table.size());
    for (const cbe::Resource& resource : m.resources.main_table) {
        w.text(resource.name);
        w.blob(resource.data);
    }
    w.u32_(m.interface_object_142);
    w.u32_(m.interface_object_143);
    w.u32_(static_cast<u32>(m.orientation));
    w.u32_(static_cast<u32>(m.effective_orientation));

    // 1. Heap.
    w.u32_(m.heap.top);
    w.count(m.heap.free_blocks.size());
    for (const FreeBlock& block : m.heap.free_blocks) {
        w.u32_(block.address);
        w.u32_(block.size);
    }
    w.count(m.heap.allocations.size());
    for (const auto& [address, size] : m.heap.allocations) {
        w.u32_(address);
        w.u32_(size);
    }

    // 2. Audio engine remainder and the audio service's words.
    w.u32_(audio.volume);
    w.boolean(audio.loop_source.has_value());
    if (audio.loop_source) w.blob(*audio.loop_source);
    w.u32_(m.audio.current_sound_kind);
    w.u32_(m.audio.current_sound_resource);

    // 3. Named packages and loaded resources.
    w.count(m.resources.named_packages.size());
    for (const cbe::NamedPackage& package : m.resources.named_packages) {
        w.text(package.name);
        w.count(package.resources.size());
        for (const cbe::Resource& resource : package.resources) {
            w.text(resource.name);
            w.blob(resource.data);
        }
    }
    for (const std::vector<u32>* list : {&m.loaded_resources.data_addresses, &m.loaded_resources.name_addresses}) {
        w.count(list->size());
        for (u32 address : *list) w.u32_(address);
    }

    // 4. Deferred calls, front to back.
    w.count(m.queued_calls.size());
    for (const QueuedCall& call : m.queued_calls)
        for (u32 word : {call.e0, call.e1, call.e2, call.e3, call.function, call.unused, call.countdown}) w.u32_(word);

    // 5. Network and drawing.
    const NetworkState& net = m.network;
    for (const NetworkConnection& connection : net.connections) {
        w.u32_(connection.id);
        w.u32_(connection.callback);
        w.u32_(connection.argument);
        w.boolean(connection.open);
    }
    w.u32_(net.next_connection_id);
    w.blob(net.last_uplink);
    w.text(net.last_url);
    w.u64_(net.uplink_bytes);
    w.u64_(net.downlink_bytes);
    w.i16_(m.drawing.text_origin_x);
    w.i16_(m.drawing.text_origin_y);
    w.u32_(m.drawing.resource_tables[0]);
    w.u32_(m.drawing.resource_tables[1]);
    w.u32_(m.drawing.current_resource_table);

    // 6. Virtual filesystem: files in path order, directories, handle slots.
    const VirtualFs& fs = m.file_system;
    std::vector<const std::pair<const std::string, std::vector<u8>>*> files;
    files.reserve(fs.files.size());
    for (const auto& entry : fs.files) files.push_back(&entry);
    std::sort(files.begin(), files.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
    w.count(files.size());
    for (const auto* file : files) {
        w.text(file->first);
        w.blob(file->second);
    }
    w.count(fs.directories.size());
    for (const std::string& directory : fs.directories) w.text(directory);
    for (const std::optional<OpenFile>& slot : fs.handles) {
        w.boolean(slot.has_value());
        if (!slot) continue;
        w.text(slot->path);
        w.u32_(slot->position);
        w.boolean(slot->readable);
        w.boolean(slot->writable);
    }

    // 7. Tick phase.
    w.u32_(tick_phase);
}

// ---------------------------------------------------------------- reading

bool valid_orientation(u32 v, bool allow_auto) {
    return v <= static_cast<u32>(Orientation::Landscape) && (allow_auto || v != 0);
}

void read_memory(PayloadReader& r, TarvelMachine& m, const TarvelMachine& running) {
    const auto& expected = running.memory.regions();
    size_t count = r.count(13);
    if (!r.failed() && count != expected.size())
        r.fail(fmt::format("guest memory has {} regions, the running content has {}", count, expected.size()));
    for (size_t i = 0; i < count && !r.failed(); ++i) {
        u32 base = r.u32_();
        std::vector<u8> bytes = r.blob();
        bool read_only = r.boolean();
        if (r.failed()) break;
        if (base != expected[i].base || bytes.size() != expected[i].bytes.size() || read_only != expected[i].read_only) {
            r.fail(fmt::format("guest memory region {} does not match the running content", i));
            break;
        }
        m.memory.add_region(base, std::move(bytes), read_only);
    }
    std::set<u32> unmapped;
    size_t unmapped_count = r.count(4);
    if (unmapped_count > GuestMemory::kMaxUnmappedRecords) r.fail("too many unmapped addresses");
    for (size_t i = 0; i < unmapped_count && !r.failed(); ++i) {
        u32 address = r.u32_();
        if (!unmapped.empty() && address <= *unmapped.rbegin()) r.fail("unmapped addresses are not in ascending order");
        unmapped.insert(unmapped.end(), address);
    }
    m.memory.set_unmapped_accesses(std::move(unmapped));
    m.memory.set_big_endian(r.boolean());
}

void read_audio_head(PayloadReader& r, AudioEngine& audio) {
    audio.active = r.boolean();
    audio.paused = r.boolean();
    size_t samples = r.count(2);
    if (samples > kMaxQueuedValues || samples % 2 != 0) r.fail(fmt::format("invalid audio queue length {}", samples));
    for (size_t i = 0; i < samples && !r.failed(); ++i) audio.queue.push_back(r.i16_());
    for (u64* counter : {&audio.bytes_submitted, &audio.frames_queued, &audio.nonzero_samples, &audio.rejected,
                         &audio.silent_frames, &audio.peak_frames})
        *counter = r.u64_();
}

void read_resources(PayloadReader& r, cbe::ResourceTable& table) {
    size_t count = r.count(16);
    table.reserve(count);
    for (size_t i = 0; i < count && !r.failed(); ++i) {
        cbe::Resource resource;
        resource.name = r.text();
        resource.data = r.blob();
        table.push_back(std::move(resource));
    }
}

void read_heap(PayloadReader& r, GuestHeap& heap) {
    heap.top = r.u32_();
    if (heap.top < GuestHeap::kBase || heap.top > GuestHeap::kLimit || heap.top % GuestHeap::kGranularity)
        r.fail(fmt::format("invalid heap top {:#x}", heap.top));
    // A block must be granular, non-empty and lie below the bump pointer.
    auto block_ok = [&](u32 address, u32 size) {
        return address >= GuestHeap::kBase && address % GuestHeap::kGranularity == 0 && size != 0 &&
               size % GuestHeap::kGranularity == 0 && size <= heap.top - address && address < heap.top;
    };
    size_t free_count = r.count(8);
    u64 free_end = 0;
    for (size_t i = 0; i < free_count && !r.failed(); ++i) {
        FreeBlock block{r.u32_(), r.u32_()};
        if (r.failed()) break;
        if (!block_ok(block.address, block.size) || block.address < free_end) r.fail("invalid heap free list");
        free_end = u64{block.address} + block.size;
        heap.free_blocks.push_back(block);
    }
    size_t live_count = r.count(8);
    u64 live_end = 0;
    for (size_t i = 0; i < live_count && !r.failed(); ++i) {
        u32 address = r.u32_();
        u32 size = r.u32_();
        if (r.failed()) break;
        if (!block_ok(address, size) || address < live_end) r.fail("invalid heap allocation record");
        live_end = u64{address} + size;
        heap.allocations.emplace_hint(heap.allocations.end(), address, size);
    }
}

void read_file_system(PayloadReader& r, VirtualFs& fs) {
    fs = VirtualFs{};
    fs.directories.clear();
    auto normalised = [](const std::string& path) {
        auto n = normalize_path(path);
        return n && *n == path;
    };
    size_t file_count = r.count(16);
    if (file_count > kMaxFiles) r.fail(fmt::format("too many files ({})", file_count));
    std::string previous;
    for (size_t i = 0; i < file_count && !r.failed(); ++i) {
        std::string path = r.text();
        std::vector<u8> contents = r.blob();
        if (r.failed()) break;
        // "" is the root's own name, which a guest can open as a file too.
        if (!normalised(path) || (i > 0 && path <= previous)) {
            r.fail(fmt::format("invalid file path \"{}\"", path));
            break;
        }
        fs.stored_bytes += contents.size();
        if (fs.stored_bytes > kMaxStoredBytes) r.fail("stored files exceed the filesystem limit");
        previous = path;
        fs.files.emplace(std::move(path), std::move(contents));
    }
    size_t directory_count = r.count(8);
    if (directory_count > kMaxDirectories + 1) r.fail(fmt::format("too many directories ({})", directory_count));
    for (size_t i = 0; i < directory_count && !r.failed(); ++i) {
        std::string path = r.text();
        if (r.failed()) break;
        if (!normalised(path) || (!fs.directories.empty() && path <= *fs.directories.rbegin())) {
            r.fail(fmt::format("invalid directory \"{}\"", path));
            break;
        }
        fs.directories.insert(fs.directories.end(), std::move(path));
    }
    if (!r.failed() && !fs.directories.contains(std::string())) r.fail("the filesystem has no root directory");
    for (std::optional<OpenFile>& slot : fs.handles) {
        if (!r.boolean() || r.failed()) continue;
        OpenFile file;
        file.path = r.text();
        file.position = r.u32_();
        file.readable = r.boolean();
        file.writable = r.boolean();
        if (!r.failed() && !normalised(file.path)) r.fail(fmt::format("invalid handle path \"{}\"", file.path));
        slot = std::move(file);
    }
}

u32 read_machine(PayloadReader& r, TarvelMachine& m, const TarvelMachine& running) {
    std::array<u32, armv4t::kSlotCount> slots{};
    for (u32& slot : slots) slot = r.u32_();
    u64 bank = r.u64_();
    if (!r.failed()) {
        if (Status restored = m.cpu.regs.restore(slots, bank); !restored) r.fail(restored.error().to_string());
    }

    read_memory(r, m, running);
    m.volume = r.u32_();
    read_audio_head(r, m.audio_engine);

    cbe::CbeExecutable& exe = m.executable;
    for (u32* word : {&exe.load_address, &exe.data_offset, &exe.data_address, &exe.data_size, &exe.code_offset,
                      &exe.code_length, &exe.init_data_offset, &exe.init_data_length, &exe.embedded_offset,
                      &exe.embedded_length, &exe.resource_offset, &exe.resource_length})
        *word = r.u32_();
    exe.big_endian = r.u8_();
    if (exe.big_endian > 1) r.fail("invalid executable byte order flag");

    u32 run_state = r.u32_();
    if (run_state >= kRunStateCount) r.fail(fmt::format("invalid run state {}", run_state));
    m.run_state = static_cast<RunState>(run_state);
    m.code_base = r.u32_();
    m.data_base = r.u32_();
    m.app_entry = r.u32_();

    size_t count_entries = r.count(16);
    for (size_t i = 0; i < count_entries && !r.failed(); ++i) {
        ServiceKey key{r.u32_(), r.u32_()};
        u64 calls = r.u64_();
        if (!m.service_call_counts.emplace(key, calls).second) r.fail("duplicate service call count entry");
    }
    size_t recent_calls = r.count(16);
    std::vector<ServiceCallRecord> calls;
    calls.reserve(recent_calls);
    for (size_t i = 0; i < recent_calls && !r.failed(); ++i) calls.push_back({r.u32_(), r.u32_(), r.u32_(), r.u32_()});
    m.recent_service_calls.assign(calls);
    m.instruction_count = r.u64_();
    m.tick_count = r.u64_();
    m.last_pc = r.u32_();
    size_t pcs_count = r.count(4);
    std::vector<u32> pcs;
    pcs.reserve(pcs_count);
    for (size_t i = 0; i < pcs_count && !r.failed(); ++i) pcs.push_back(r.u32_());
    m.recent_pcs.assign(pcs);

    m.current_screen = r.u32_();
    m.active_screen = r.u32_();
    size_t stack_count = r.count(4);
    if (stack_count > kMaxScreenStackDepth) r.fail(fmt::format("screen stack too deep ({})", stack_count));
    m.screen_stack.reserve(stack_count);
    for (size_t i = 0; i < stack_count && !r.failed(); ++i) m.screen_stack.push_back(r.u32_());
    m.screen_initialized = r.boolean();
    m.pending_load = r.boolean();
    m.pending_load_screen = r.u32_();
    m.input.newly_pressed_mask = r.u32_();
    m.delivered_held_key_mask = r.u32_();
    m.input.held_key_mask = r.u32_();
    for (u32* word : {&m.app_second_word, &m.native_entry, &m.native_second_callback, &m.pen_delivered_x,
                      &m.pen_delivered_y})
        *word = r.u32_();
    PointerState& pointer = m.input.pointer;
    pointer.down = r.boolean();
    pointer.pressed = r.boolean();
    pointer.released = r.boolean();
    for (u32* word : {&pointer.x, &pointer.y, &pointer.press_x, &pointer.press_y}) *word = r.u32_();

    size_t timer_count = r.count(13);
    if (timer_count > services::kTimerSlotCount) r.fail(fmt::format("too many timers ({})", timer_count));
    for (size_t i = 0; i < timer_count && !r.failed(); ++i) {
        TimerSlot timer;
        timer.active = r.u8_();
        timer.callback = r.u32_();
        timer.argument = r.u32_();
        timer.countdown = r.u32_();
        if (timer.active > 1) r.fail("invalid timer active flag");
        m.timers.push_back(timer);
    }

    read_resources(r, m.resources.main_table);
    m.interface_object_142 = r.u32_();
    m.interface_object_143 = r.u32_();
    u32 orientation = r.u32_();
    u32 effective = r.u32_();
    if (!valid_orientation(orientation, false) || !valid_orientation(effective, false))
        r.fail("invalid orientation");
    m.orientation = static_cast<Orientation>(orientation);
    m.effective_orientation = static_cast<Orientation>(effective);

    read_heap(r, m.heap);

    m.audio_engine.volume = r.u32_();
    if (r.boolean()) m.audio_engine.loop_source = r.blob();
    m.audio.current_sound_kind = r.u32_();
    m.audio.current_sound_resource = r.u32_();

    size_t package_count = r.count(16);
    for (size_t i = 0; i < package_count && !r.failed(); ++i) {
        cbe::NamedPackage package;
        package.name = r.text();
        read_resources(r, package.resources);
        m.resources.named_packages.push_back(std::move(package));
    }
    for (std::vector<u32>* list : {&m.loaded_resources.data_addresses, &m.loaded_resources.name_addresses}) {
        size_t n = r.count(4);
        list->reserve(n);
        for (size_t i = 0; i < n && !r.failed(); ++i) list->push_back(r.u32_());
    }

    // The network is what queues calls, and it never holds more than this.
    size_t queued = r.count(28);
    if (queued > services::kMaxPendingNetworkEvents) r.fail(fmt::format("too many queued calls ({})", queued));
    for (size_t i = 0; i < queued && !r.failed(); ++i) {
        QueuedCall call;
        for (u32* word : {&call.e0, &call.e1, &call.e2, &call.e3, &call.function, &call.unused, &call.countdown})
            *word = r.u32_();
        m.queued_calls.push_back(call);
    }

    NetworkState& net = m.network;
    for (NetworkConnection& connection : net.connections) {
        connection.id = r.u32_();
        connection.callback = r.u32_();
        connection.argument = r.u32_();
        connection.open = r.boolean();
    }
    net.next_connection_id = r.u32_();
    net.last_uplink = r.blob();
    if (net.last_uplink.size() > NetworkState::kUplinkKept) r.fail("network uplink record is too long");
    net.last_url = r.text();
    net.uplink_bytes = r.u64_();
    net.downlink_bytes = r.u64_();
    m.drawing.text_origin_x = r.i16_();
    m.drawing.text_origin_y = r.i16_();
    m.drawing.resource_tables[0] = r.u32_();
    m.drawing.resource_tables[1] = r.u32_();
    m.drawing.current_resource_table = r.u32_();

    read_file_system(r, m.file_system);

    u32 tick_phase = r.u32_();
    if (tick_phase >= kTickPhaseLimit) r.fail(fmt::format("invalid tick phase {}", tick_phase));
    return tick_phase;
}

}  // namespace

Result<std::vector<u8>> encode_payload(const TarvelMachine& machine, u32 tick_phase) {
    PayloadWriter counter;
    write_machine(machine, tick_phase, counter);
    if (!counter.error().empty()) return Error(counter.error());
    std::vector<u8> out(counter.size());
    PayloadWriter writer(out.data());
    write_machine(machine, tick_phase, writer);
    if (writer.size() != out.size()) return Error("payload size changed between the sizing and writing passes");
    return out;
}

Result<SavedGame> decode_payload(std::span<const u8> payload, const TarvelMachine& running) {
    auto machine = std::make_unique<TarvelMachine>();
    PayloadReader reader(payload);
    const u32 tick_phase = read_machine(reader, *machine, running);
    if (reader.failed()) return Error(reader.error());
    if (reader.remaining() != 0) return Error("Slice had bytes remaining after deserialization");
    // Fields the frontend binding owns: carried over from the running machine
    // and then set again from the core options.
    machine->orientation_option = running.orientation_option;
    machine->auto_bgm = running.auto_bgm;
    return SavedGame{std::move(machine), tick_phase};
}

}  // namespace tarvel
