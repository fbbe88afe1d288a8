#pragma once
// A sound decoded from one of the encodings the audio engine accepts (WAV,
// MP3, MIDI), before it is converted to the output format.

#include <vector>

#include "common/bytes.hpp"

namespace tarvel {

struct DecodedSound {
    std::vector<float> samples;  // interleaved, each in -1..1
    u32 channels = 1;
    u32 rate = 8000;             // frames per second
};

}  // namespace tarvel
