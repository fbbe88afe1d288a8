#pragma once
// The General MIDI SoundFont behind enhanced MIDI playback, loaded once per
// process and shared by every synthesiser that plays a tune. Loading reads
// the whole file (about 140 MiB) and takes a moment, so it happens when the
// enhanced sound is switched on, never while a frame is rendered.
//
// FluidSynth runs without threads and without an audio driver: each tune's
// synthesiser is created with one core and no thread-safe locking, its MIDI
// player follows the samples rendered (not a system timer), and samples are
// written from the caller's thread only.

#include <string>

#include "common/error.hpp"

typedef struct _fluid_synth_t fluid_synth_t;
typedef struct _fluid_player_t fluid_player_t;

namespace tarvel::sound_font {

// Debian's fluid-soundfont-gm puts it here.
inline constexpr const char* kDefaultPath = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

// Loads the SoundFont at `path` unless it is already the loaded one. A file
// that is missing or unreadable leaves MIDI with the built-in synthesiser;
// either outcome is logged once, at Info level, per path tried.
bool prepare(const std::string& path = kDefaultPath);
bool available();
// Forgets the loaded SoundFont (tests).
void unload();

// A synthesiser at 44 100 Hz with the SoundFont and a player for one
// Standard MIDI File (copied), started at its first tick.
class TunePlayer {
public:
    static Result<TunePlayer> open(const void* smf, size_t bytes);
    TunePlayer(TunePlayer&& other) noexcept;
    TunePlayer& operator=(TunePlayer&& other) noexcept;
    ~TunePlayer();
    // Renders `frames` interleaved stereo frames into `out`.
    void render(float* out, size_t frames);

private:
    TunePlayer() = default;
    void release();
    fluid_synth_t* synth_ = nullptr;
    fluid_player_t* player_ = nullptr;
};

}  // namespace tarvel::sound_font
