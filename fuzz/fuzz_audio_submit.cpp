// Offers arbitrary bytes to the audio engine and plays a few frames. The first
// input byte picks the repeat count and whether the data also becomes the loop
// source; the rest is the sound. Invariants: no more sounds wait than the
// limit, a failed submit leaves the queue as it was, every frame is 1470
// values, and a copy of the engine (its decoders rebuilt from their cursors,
// as after a state restore) plays on exactly like the original.
//
// On start-up an empty corpus directory is seeded with a small sound of each
// kind (made here, so no binary files live in the tree).

#include <cstdlib>
#include <vector>

#include "media/audio/audio_engine.hpp"
#include "seed_corpus.hpp"

namespace {

using tarvel::u8;
using Bytes = std::vector<u8>;

void put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<u8>(v));
    b.push_back(static_cast<u8>(v >> 8));
}
void put32(Bytes& b, unsigned v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

Bytes seed_wav(unsigned channels, unsigned rate) {
    Bytes b{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    put32(b, 16);
    put16(b, 1);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * channels * 2);
    put16(b, channels * 2);
    put16(b, 16);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    put32(b, 64);
    for (int i = 0; i < 32; ++i) put16(b, static_cast<unsigned>(i * 1500));
    return b;
}

Bytes wrap(unsigned type, const Bytes& payload) {
    Bytes b;
    put16(b, type);
    b.push_back(static_cast<u8>(payload.size() >> 16));
    b.push_back(static_cast<u8>(payload.size() >> 8));
    b.push_back(static_cast<u8>(payload.size()));
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes seed_mp3() {
    Bytes b;
    for (int i = 0; i < 3; ++i) {
        b.insert(b.end(), {0xFF, 0xFB, 0x90, 0xC0});
        b.insert(b.end(), 413, 0);
    }
    return b;
}

Bytes seed_midi() {
    Bytes track{0x00, 0x90, 60, 100, 0x60, 0x80, 60, 0, 0x00, 0xFF, 0x2F, 0x00};
    Bytes b{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k', 0, 0, 0};
    b.push_back(static_cast<u8>(track.size()));
    b.insert(b.end(), track.begin(), track.end());
    return wrap(10, b);
}

// Each seed is a control byte and a sound of one of the accepted kinds.
std::vector<Bytes> seed_inputs() {
    const std::vector<Bytes> sounds{seed_wav(1, 8000), seed_wav(2, 44100), wrap(3, seed_wav(1, 22050)), seed_mp3(),
                                    seed_midi()};
    std::vector<Bytes> inputs;
    for (const Bytes& sound : sounds) {
        Bytes input{static_cast<u8>(inputs.size())};
        input.insert(input.end(), sound.begin(), sound.end());
        inputs.push_back(std::move(input));
    }
    return inputs;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    tarvel::fuzz::write_seed_corpus(*argc, *argv, seed_inputs());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const u8 control = data[0];
    const std::span<const u8> sound(data + 1, size - 1);
    // Repeats from 0 to 7, or a huge count that must still cost only the cap.
    const tarvel::u32 repeats = (control & 8) ? 0xFFFFFFFFu : (control & 7);

    tarvel::AudioEngine engine;
    // A little already converted, which plays first.
    engine.queue.assign(2000, 7);
    engine.active = true;
    const auto before = engine.queue;
    const tarvel::Status submitted = engine.submit(sound, repeats);
    if (!submitted && (engine.queue != before || !engine.sounds.empty() || submitted.error().to_string().empty()))
        std::abort();
    if (engine.sounds.size() > tarvel::kMaxQueuedSounds) std::abort();
    if (control & 16) engine.set_loop_source(std::vector<u8>(sound.begin(), sound.end()));
    if (control & 32) engine.pause();
    engine.set_volume(control);
    for (int frame = 0; frame < 4; ++frame) {
        tarvel::AudioEngine copy = engine;
        const auto out = engine.render_frame();
        if (copy.render_frame() != out) std::abort();
        if (out.size() != tarvel::kRenderValues) std::abort();
        if (engine.sounds.size() > tarvel::kMaxQueuedSounds) std::abort();
        if (engine.state() > 2) std::abort();
    }
    return 0;
}
