// The audio service (group 18) and the Auto BGM; see audio.hpp.
//
// Decisions where the platform leaves room:
// - Indices 17 to 24 and everything above 25 answer 0 and do nothing (beyond
//   silencing the Auto BGM, which any group-18 call does).
// - A wrapped sound whose bytes are only partly readable is still submitted,
//   with the unreadable bytes as 0 (each one recorded as an unmapped access);
//   the engine then decides whether what is left is a sound.
// - A play-buffer call whose header cannot be read at all reads a length of 0
//   and submits five zero bytes, which the engine rejects with a warning.
// - A lookup that finds nothing for PlayForGame is a warning like every other
//   failure of this service.
// - A MIDI resource the engine rejects is tried once; the Auto BGM then stays
//   silent until the option is switched on again, instead of decoding and
//   warning on every frame.
// - The Auto BGM searches the main resource table only, never the named
//   packages.
// - With the enhanced sound on, a sound played once (a buffer, a file, or a
//   resource without looping) while music plays is an effect: it is mixed over
//   the music, and the current sound and the loop source stay the music's, so
//   that the music goes on and asking for it again still finds it playing.

#include "machine/services/audio.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "common/log.hpp"
#include "memory/guest_strings.hpp"
#include "machine/services/data.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/virtual_fs.hpp"

namespace tarvel::machine::services {
namespace {

constexpr const char* kAudioTarget = "tarvel_core::machine::services::audio";
constexpr const char* kMachineTarget = "tarvel_core::machine";

// ---- helpers ----

std::string_view file_name_of(std::string_view path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

bool ends_with_ignoring_ascii_case(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && equal_ignoring_ascii_case(text.substr(text.size() - suffix.size()), suffix);
}

bool is_midi_name(std::string_view name) {
    return ends_with_ignoring_ascii_case(name, ".mid") || ends_with_ignoring_ascii_case(name, ".midi");
}

void forget_current_sound(TarvelMachine& m) { m.audio.current_sound_kind = AudioServiceState::kSoundOther; }

void stop_engine(TarvelMachine& m) {
    m.audio_engine.stop();
    forget_current_sound(m);
}

// The guest takes the audio over: the Auto BGM stops for good (until the
// option is switched on again).
void silence_auto_bgm(TarvelMachine& m) {
    if (!m.audio.auto_bgm_enabled || m.audio.auto_bgm_suppressed) return;
    m.audio.auto_bgm_suppressed = true;
    stop_engine(m);
}

// `length` bytes from guest memory; unreadable bytes become 0 (and are
// recorded by the memory).
std::vector<u8> copy_guest_bytes(TarvelMachine& m, u32 address, u32 length) {
    std::vector<u8> bytes(length);
    if (!m.memory.read_bytes_into(address, bytes)) {
        for (u32 i = 0; i < length; ++i) bytes[i] = m.memory.read8(address + i);
    }
    return bytes;
}

// ---- play buffer (indices 1, 9) ----

// Enhanced sound: submits a one-shot sound as an effect over the music when
// music plays. Returns false when the sound is to be queued as usual.
bool played_as_effect(TarvelMachine& m, std::span<const u8> sound, u32 repeats) {
    if (!m.audio_engine.mixes_effects()) return false;
    if (Status submitted = m.audio_engine.submit_effect(sound, repeats); !submitted)
        TARVEL_LOG(Warn, kAudioTarget, "Effect rejected: {}", submitted.error().to_string());
    else
        TARVEL_LOG(Debug, kAudioTarget, "Effect mixed over the music ({} bytes)", sound.size());
    return true;
}

void play_buffer(TarvelMachine& m) {
    const u32 address = service_arg(m, 0);
    const u32 repeats = service_arg(m, 1);
    const u32 declared = (u32{m.memory.read8(address + 2)} << 16) | (u32{m.memory.read8(address + 3)} << 8) |
                         u32{m.memory.read8(address + 4)};
    const u32 length = std::min(declared, kMaxWrappedPayload);
    const std::vector<u8> sound = copy_guest_bytes(m, address, length + kWrapperHeaderBytes);
    if (played_as_effect(m, sound, repeats)) return;
    if (Status submitted = m.audio_engine.submit(sound, repeats); !submitted) {
        TARVEL_LOG(Warn, kAudioTarget, "Guest audio rejected: {}", submitted.error().to_string());
        return;
    }
    forget_current_sound(m);
    m.audio_engine.set_loop_source(std::nullopt);
    TARVEL_LOG(Debug, kAudioTarget, "Guest audio queued ({} bytes)", sound.size());
}

// ---- PlayForGame (indices 2, 3, 4) ----

// Resource n of the main table when the guest's directory (or the machine's
// own copies) list it; otherwise the resource whose file name matches the
// name registered for n.
std::optional<std::span<const u8>> resource_for_number(TarvelMachine& m, u32 number) {
    const cbe::ResourceTable& table = m.resources.main_table;
    if (number < table.size() && resource_data_address(m, number) != 0) return std::span<const u8>(table[number].data);
    const u32 name_address = resource_name_address(m, number);
    if (name_address == 0) return std::nullopt;
    const std::string name = read_narrow_string(m.memory, name_address, kResourceNameLimit);
    if (name.empty()) return std::nullopt;
    return find_resource_by_file_name(m, name);
}

// r0: 1 when the resource is already playing (and is left alone), else 0.
u32 play_for_game(TarvelMachine& m, bool loop) {
    const u32 number = service_arg(m, 0);
    const u32 repeats = service_arg(m, 1);
    const AudioEngine& engine = m.audio_engine;
    if (m.audio.current_sound_kind == AudioServiceState::kSoundResource && m.audio.current_sound_resource == number &&
        engine.active && !engine.paused && engine.queued_values() > 1)
        return 1;

    const std::optional<std::span<const u8>> data = resource_for_number(m, number);
    if (!data) {
        TARVEL_LOG(Warn, kAudioTarget, "PlayForGame: resource id {} was not found", number);
        return 0;
    }
    if (!loop && played_as_effect(m, *data, repeats)) return 0;
    if (Status submitted = m.audio_engine.submit(*data, repeats); !submitted) {
        forget_current_sound(m);
        TARVEL_LOG(Warn, kAudioTarget, "PlayForGame rejected id={}: {}", number, submitted.error().to_string());
        return 0;
    }
    m.audio.current_sound_kind = AudioServiceState::kSoundResource;
    m.audio.current_sound_resource = number;
    if (loop) m.audio_engine.loop_last_submitted();
    else m.audio_engine.set_loop_source(std::nullopt);
    TARVEL_LOG(Debug, kAudioTarget, "PlayForGame queued id={} bytes={} repeats={} loop={}", number, data->size(),
               repeats, loop);
    return 0;
}

// ---- PlayByFile (indices 13, 25) ----

void play_by_file(TarvelMachine& m) {
    const std::string path = read_narrow_or_wide_string(m.memory, service_arg(m, 0), kPathLimit);
    const u32 repeats = service_arg(m, 1);
    if (path.empty()) {
        TARVEL_LOG(Warn, kAudioTarget, "PlayByFile: empty path");
        return;
    }
    std::optional<std::span<const u8>> data;
    if (const std::optional<std::string> normalized = normalize_path(path)) {
        if (auto file = m.file_system.files.find(*normalized); file != m.file_system.files.end())
            data = std::span<const u8>(file->second);
    }
    if (!data) data = find_resource_by_file_name(m, path);
    if (!data) {
        TARVEL_LOG(Warn, kAudioTarget, "PlayByFile: path {} was not found", path);
        return;
    }
    const size_t size = data->size();
    if (played_as_effect(m, *data, repeats)) return;
    if (Status submitted = m.audio_engine.submit(*data, repeats); !submitted) {
        TARVEL_LOG(Warn, kAudioTarget, "PlayByFile rejected path={}: {}", path, submitted.error().to_string());
        return;
    }
    forget_current_sound(m);
    m.audio_engine.set_loop_source(std::nullopt);
    TARVEL_LOG(Debug, kAudioTarget, "PlayByFile queued path={} bytes={} repeats={}", path, size, repeats);
}

u32 run_audio_call(TarvelMachine& m, u32 index) {
    AudioEngine& engine = m.audio_engine;
    switch (index) {
        case 0: engine.set_volume(service_arg(m, 0)); return 0;
        case 1: case 9: play_buffer(m); return 0;
        case 2: case 3: return play_for_game(m, true);
        case 4: return play_for_game(m, service_arg(m, 1) != 0);
        case 5: case 10: case 14: engine.pause(); return 0;
        case 6: case 11: case 15: engine.resume(); return 0;
        case 7: case 12: case 16: stop_engine(m); return 0;
        case 8: return engine.state();
        case 13: case 25: play_by_file(m); return 0;
        default: return 0;
    }
}

}  // namespace

std::optional<std::span<const u8>> find_resource_by_file_name(const TarvelMachine& m, std::string_view path) {
    const std::string_view wanted = file_name_of(path);
    const auto find_in = [wanted](const cbe::ResourceTable& table) -> std::optional<std::span<const u8>> {
        for (const cbe::Resource& resource : table) {
            if (equal_ignoring_ascii_case(file_name_of(resource.name), wanted)) return std::span<const u8>(resource.data);
        }
        return std::nullopt;
    };
    if (auto found = find_in(m.resources.main_table)) return found;
    for (const cbe::NamedPackage& package : m.resources.named_packages) {
        if (auto found = find_in(package.resources)) return found;
    }
    return std::nullopt;
}

void audio_service(TarvelMachine& m, u32 index) {
    silence_auto_bgm(m);
    set_result(m, run_audio_call(m, index));
}

void set_auto_bgm_option(TarvelMachine& m, bool enabled) {
    AudioServiceState& audio = m.audio;
    if (enabled && !audio.auto_bgm_enabled) {
        audio.auto_bgm_suppressed = false;
    } else if (!enabled && audio.auto_bgm_enabled && !audio.auto_bgm_suppressed) {
        stop_engine(m);
    }
    audio.auto_bgm_enabled = enabled;
}

void run_auto_bgm(TarvelMachine& m) {
    const AudioServiceState& audio = m.audio;
    const AudioEngine& engine = m.audio_engine;
    if (!audio.auto_bgm_enabled || audio.auto_bgm_suppressed || engine.paused) return;
    // The next copy is queued while the current one still fills this frame,
    // so that it follows the last sample without a gap.
    if (engine.active && engine.queued_values() >= kRenderValues) return;

    if (!m.audio.auto_bgm_cache) {
        const cbe::ResourceTable& table = m.resources.main_table;
        const auto midi = std::find_if(table.begin(), table.end(),
                                       [](const cbe::Resource& r) { return is_midi_name(r.name); });
        if (midi == table.end()) return;  // looked for again on later frames
        m.audio.auto_bgm_cache = midi->data;
    }
    const std::vector<u8>& music = *m.audio.auto_bgm_cache;
    if (Status submitted = m.audio_engine.submit(music, 0); !submitted) {
        // Trying again next frame would decode the same bytes and log the same
        // warning sixty times a second; the music stays off until the option
        // is switched on again.
        m.audio.auto_bgm_suppressed = true;
        TARVEL_LOG(Warn, kMachineTarget, "Auto BGM rejected: {}", submitted.error().to_string());
        return;
    }
    TARVEL_LOG(Debug, kMachineTarget, "Auto BGM started ({} bytes)", music.size());
}

}  // namespace tarvel::machine::services
