/* Sound (group 18): packaged sounds by resource number or file name, sound
 * buffers in guest memory, pause, resume, stop and volume (0..100, larger
 * values mean 100). The first call of this group also ends the core's
 * automatic background music. */
#ifndef TARVEL_AUDIO_H
#define TARVEL_AUDIO_H

#include "service.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { TV_AUDIO_IDLE = 0, TV_AUDIO_PLAYING = 1, TV_AUDIO_PAUSED = 2 };

static inline void tv_audio_volume(uint32_t percent) { tv_service(TV_GROUP_AUDIO, 0, percent, 0, 0, 0); }
/* Plays packaged resource `number` once, or for ever when loop is set.
 * Asking again for the sound that is already playing does not restart it and
 * returns 1; otherwise the result is 0 (also when nothing could be played). */
static inline uint32_t tv_audio_play_resource(uint32_t number, int loop) {
    return tv_service(TV_GROUP_AUDIO, loop ? 2 : 4, number, 0, 0, 0);
}
/* Plays a file of the filesystem, or else the packaged resource whose file
 * name matches the path's last component (ignoring ASCII case), repeats + 1
 * times. The path may be narrow or UTF-16. */
static inline void tv_audio_play_file(const char *path, uint32_t repeats) {
    tv_service(TV_GROUP_AUDIO, 13, TV_U32(path), repeats, 0, 0);
}
/* Plays a wrapped sound in guest memory, repeats + 1 times: a 5-byte header
 * (bytes 0..1 the little-endian type, 10 for MIDI; bytes 2..4 the big-endian
 * length of the sound data that follows, at most 0x3FFFFB). */
static inline void tv_audio_play_buffer(const void *wrapped, uint32_t repeats) {
    tv_service(TV_GROUP_AUDIO, 1, TV_U32(wrapped), repeats, 0, 0);
}
static inline void tv_audio_pause(void) { tv_service(TV_GROUP_AUDIO, 5, 0, 0, 0, 0); }
static inline void tv_audio_resume(void) { tv_service(TV_GROUP_AUDIO, 6, 0, 0, 0, 0); }
static inline void tv_audio_stop(void) { tv_service(TV_GROUP_AUDIO, 7, 0, 0, 0, 0); }
static inline uint32_t tv_audio_state(void) { return tv_service(TV_GROUP_AUDIO, 8, 0, 0, 0, 0); }

#ifdef __cplusplus
}
#endif
#endif
