#include "media/audio/sound_font.hpp"

#include <fluidsynth.h>

#include <utility>
#include <vector>

#include "common/log.hpp"
#include "media/audio/formats.hpp"

namespace tarvel::sound_font {
namespace {

struct Bank {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* owner = nullptr;  // holds the loaded SoundFont for the process
    fluid_sfont_t* font = nullptr;
    std::string path;                // the last path tried
};

Bank& bank() {
    static Bank b;
    return b;
}

void quiet(int, const char*, void*) {}

// One note, a quarter long (format 0, division 96).
constexpr u8 kWarmUpTune[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k', 0, 0, 0, 12,
                              0x00, 0x90, 60, 100, 0x60, 0x80, 60, 0x40, 0x00, 0xFF, 0x2F, 0x00};

// The first synthesiser of a process builds FluidSynth's tables, and the
// first few take their large buffers from fresh pages (the allocator keeps
// them for later ones only once some have been freed): a few milliseconds
// each. Paying that here keeps it out of the frames that start or restore a
// tune (a tenth of a millisecond then).
void warm_up() {
    std::vector<float> out(2 * 2048);
    for (int round = 0; round < 3; ++round) {
        // Two at once: music and a tune played as an effect over it.
        std::vector<TunePlayer> players;
        for (int i = 0; i < 2; ++i) {
            auto player = TunePlayer::open(kWarmUpTune, sizeof kWarmUpTune);
            if (!player) return;
            player->render(out.data(), 2048);
            players.push_back(std::move(*player));
        }
    }
}

fluid_settings_t* settings() {
    Bank& b = bank();
    if (b.settings) return b.settings;
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) fluid_set_log_function(level, quiet, nullptr);
    b.settings = new_fluid_settings();
    fluid_settings_setnum(b.settings, "synth.sample-rate", kOutputRate);
    fluid_settings_setint(b.settings, "synth.cpu-cores", 1);
    fluid_settings_setint(b.settings, "synth.threadsafe-api", 0);
    fluid_settings_setint(b.settings, "synth.lock-memory", 0);
    fluid_settings_setint(b.settings, "synth.dynamic-sample-loading", 0);
    // Each voice costs memory that a new synthesiser must clear: 64 are
    // plenty for a phone's tunes (more notes steal the quietest voice) and
    // keep the creation of a synthesiser at a fraction of a millisecond.
    fluid_settings_setint(b.settings, "synth.polyphony", 64);
    fluid_settings_setstr(b.settings, "player.timing-source", "sample");
    fluid_settings_setint(b.settings, "player.reset-synth", 1);
    return b.settings;
}

}  // namespace

bool prepare(const std::string& path) {
    Bank& b = bank();
    if (b.font && b.path == path) return true;
    if (!b.font && b.path == path) return false;  // tried and failed already
    unload();
    b.path = path;
    b.owner = new_fluid_synth(settings());
    const int id = b.owner && fluid_is_soundfont(path.c_str()) ? fluid_synth_sfload(b.owner, path.c_str(), 0) : FLUID_FAILED;
    if (id == FLUID_FAILED) {
        if (b.owner) delete_fluid_synth(b.owner);
        b.owner = nullptr;
        TARVEL_LOG(Info, audio_format::kLogTarget,
                   "Enhanced sound: no SoundFont at {}; MIDI plays through the built-in synthesiser", path);
        return false;
    }
    b.font = fluid_synth_get_sfont_by_id(b.owner, id);
    warm_up();
    TARVEL_LOG(Info, audio_format::kLogTarget, "Enhanced sound: MIDI plays through the SoundFont {}", path);
    return true;
}

bool available() { return bank().font != nullptr; }

void unload() {
    Bank& b = bank();
    if (b.owner) delete_fluid_synth(b.owner);
    b.owner = nullptr;
    b.font = nullptr;
    b.path.clear();
}

Result<TunePlayer> TunePlayer::open(const void* smf, size_t bytes) {
    Bank& b = bank();
    if (!b.font) return Error("no SoundFont loaded");
    TunePlayer t;
    t.synth_ = new_fluid_synth(settings());
    if (!t.synth_) return Error("FluidSynth could not create a synthesiser");
    // The SoundFont stays owned by the bank's synthesiser: it is removed
    // again before this one is deleted.
    fluid_synth_add_sfont(t.synth_, b.font);
    if (smf == nullptr) return t;
    t.player_ = new_fluid_player(t.synth_);
    if (!t.player_ || fluid_player_add_mem(t.player_, smf, bytes) != FLUID_OK || fluid_player_play(t.player_) != FLUID_OK)
        return Error("FluidSynth could not play the MIDI file");
    return t;
}

TunePlayer::TunePlayer(TunePlayer&& other) noexcept
    : synth_(std::exchange(other.synth_, nullptr)), player_(std::exchange(other.player_, nullptr)) {}

TunePlayer& TunePlayer::operator=(TunePlayer&& other) noexcept {
    if (this != &other) {
        release();
        synth_ = std::exchange(other.synth_, nullptr);
        player_ = std::exchange(other.player_, nullptr);
    }
    return *this;
}

TunePlayer::~TunePlayer() { release(); }

void TunePlayer::release() {
    if (player_) delete_fluid_player(player_);
    if (synth_) {
        if (bank().font) fluid_synth_remove_sfont(synth_, bank().font);
        delete_fluid_synth(synth_);
    }
    player_ = nullptr;
    synth_ = nullptr;
}

void TunePlayer::render(float* out, size_t frames) {
    fluid_synth_write_float(synth_, static_cast<int>(frames), out, 0, 2, out, 1, 2);
}

}  // namespace tarvel::sound_font
