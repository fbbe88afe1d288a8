// Conversion of a whole decoded sound to the output format, for callers that
// hold one (tests, fuzzing, benchmarks): the engine's own block-by-block
// conversion over a single block.

#include "media/audio/formats.hpp"

namespace tarvel::audio_format {

u64 output_frames(u64 frames_in, u32 rate) {
    if (rate == 0) return 0;
    // The product is taken in 128 bits so no input can wrap it.
    const unsigned __int128 scaled = static_cast<unsigned __int128>(frames_in) * kOutputRate;
    const unsigned __int128 out = (scaled + rate - 1) / rate;
    return out > ~u64{0} ? ~u64{0} : static_cast<u64>(out);
}

}  // namespace tarvel::audio_format
