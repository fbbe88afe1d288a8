#pragma once
// The audio service (group 18) and the Auto BGM.
//
// Group 18 plays sounds through the machine's audio engine: a wrapped sound in
// guest memory, a file of the in-memory filesystem or a packaged resource found
// by file name, or a packaged resource by number; it also pauses, resumes,
// stops, sets the volume and reports the engine's state. No call fails towards
// the guest: failures are logged as warnings and r0 is 0.
//
// The Auto BGM plays the application's first packaged MIDI resource as endless
// background music while the core option is on, until the guest uses the
// audio service itself. The frame loop calls run_auto_bgm once per frame before
// the frame's audio is taken from the engine; the option handling calls
// set_auto_bgm_option whenever the options are applied.

#include <optional>
#include <span>
#include <string_view>

#include "common/bytes.hpp"
#include "machine/machine.hpp"

namespace tarvel::machine::services {

inline constexpr u32 kAudioGroup = 18;
// A wrapped sound's payload length is a 24-bit field; the largest accepted
// keeps the whole copy (payload and 5-byte header) within 4 MiB.
inline constexpr u32 kMaxWrappedPayload = 0x3FFFFB;
inline constexpr u32 kWrapperHeaderBytes = 5;

// Group 18.
void audio_service(TarvelMachine& machine, u32 index);

// The data of the first packaged resource whose file name (the part after the
// last "/" or "\\") equals that of `path`, ignoring ASCII case: the main
// resource table first, then each named package, in order.
std::optional<std::span<const u8>> find_resource_by_file_name(const TarvelMachine& machine, std::string_view path);

// Mirrors the core option into the machine. Switching it on lets the music
// play again after the guest had silenced it; switching it off while the music
// had the engine stops the engine.
void set_auto_bgm_option(TarvelMachine& machine, bool enabled);

// One frame's step of the Auto BGM: (re)starts the music when it may play and
// the engine has (nearly) run dry.
void run_auto_bgm(TarvelMachine& machine);

}  // namespace tarvel::machine::services
