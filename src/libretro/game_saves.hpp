#pragma once
// Keeping a game's files between sessions. The machine's filesystem lives in
// memory; this module gives it a home in the frontend's save directory, one
// image file per content (fs_image.hpp has the format):
//
//   SAVE_DIR/<content file name without its extension>.tarvelfs
//
// - At load the image is read before the game boots, so the game's very first
//   code finds its files.
// - At the end of a frame in which the game changed its files, a new image is
//   written whole beside the old one and then renamed over it (replace_file),
//   so a crash loses at most that frame's change and never leaves half an
//   image. Frames that change nothing cost one counter comparison; an image
//   identical to the one on disk is not written again.
// - An image that cannot be read back (damaged, truncated, another format,
//   too large) is refused with one warning, the game starts with no files,
//   and the image is renamed aside (".damaged", ".damaged-2", ...) so that the
//   next write does not destroy it.
// - Without a save directory the files last only while the game is loaded
//   (a reset keeps them; that is done by the caller).

#include <optional>
#include <string>

#include "common/bytes.hpp"
#include "machine/virtual_fs.hpp"

namespace tarvel::libretro {

inline constexpr const char* kGameSavesTarget = "tarvel::libretro::game_saves";
inline constexpr const char* kGameSavesExtension = ".tarvelfs";

struct GameSaves {
    // The image file; empty when the files are kept in memory only.
    std::string path;
    // The filesystem's change counter at the last write (or load).
    u64 synced_changes = 0;
    // The image last written or read, by checksum and size.
    std::optional<std::pair<u32, size_t>> on_disk;
    // A failed write is reported once until a write succeeds again, and
    // tried again only after this many more frames.
    bool write_failing = false;
    u32 retry_wait = 0;
};

// The image path for a content path in a save directory.
std::string game_saves_path(const std::string& save_directory, const std::string& content_path);

// Asks the frontend for its save directory and reads the content's image into
// `fs` (which must be a fresh filesystem). Logs what it found.
GameSaves open_game_saves(const std::string& content_path, machine::VirtualFs& fs);

// Writes the image when the files changed since the last write (after a
// failed write, only once a second).
void sync_game_saves(GameSaves& saves, const machine::VirtualFs& fs);

// At unload, reset and replacement: a last try, whatever the wait.
inline void flush_game_saves(GameSaves& saves, const machine::VirtualFs& fs) {
    saves.retry_wait = 0;
    sync_game_saves(saves, fs);
}

// The filesystem was replaced (a reset or a restored state): its current
// contents count as written, so nothing reaches the disk until the game
// changes its files again.
void adopt_file_system(GameSaves& saves, const machine::VirtualFs& fs);

}  // namespace tarvel::libretro
