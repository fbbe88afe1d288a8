#include "libretro/game_saves.hpp"

#include <libretro.h>

#include <filesystem>
#include <system_error>
#include <utility>

#include <zlib.h>

#include "common/error.hpp"
#include "common/file_io.hpp"
#include "common/log.hpp"
#include "common/utf8.hpp"
#include "libretro/frontend.hpp"
#include "machine/fs_image.hpp"

namespace tarvel::libretro {
namespace {

namespace fs = std::filesystem;

// How many names ".damaged", ".damaged-2", ... are tried before giving up.
constexpr int kAsideNames = 100;
// Frames between tries after a failed write (a full folder, a lost mount):
// each try encodes the whole image.
constexpr u32 kRetryFrames = 60;

u32 checksum(std::span<const u8> bytes) {
    return static_cast<u32>(crc32(crc32(0L, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

std::optional<std::string> save_directory() {
    const char* directory = nullptr;
    if (!environment(RETRO_ENVIRONMENT_GET_SAVE_DIRECTORY, &directory) || directory == nullptr) return std::nullopt;
    std::string text(directory);
    if (text.empty() || !utf8::is_valid(text)) return std::nullopt;
    return text;
}

// Reads the image at `path`: nullopt when there is none, else its bytes or
// why it cannot be used.
std::optional<Result<std::vector<u8>>> read_image(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) return std::nullopt;
    if (error) return Result<std::vector<u8>>(Error(error.message()));
    if (status.type() != fs::file_type::regular) return Result<std::vector<u8>>(Error("not a regular file"));
    // A file too large for any image is refused before it is read.
    const std::uintmax_t size = fs::file_size(path, error);
    if (!error && size > machine::kMaxFsImageBytes)
        return Result<std::vector<u8>>(
            Error::format("{} bytes, more than an image can hold ({})", size, machine::kMaxFsImageBytes));
    return read_whole_file(path);
}

// Renames a refused image to the first free ".damaged" name. The new name, or
// why it could not be moved.
Result<std::string> move_aside(const std::string& path) {
    for (int n = 1; n <= kAsideNames; ++n) {
        std::string aside = path + (n == 1 ? std::string(".damaged") : ".damaged-" + std::to_string(n));
        std::error_code error;
        if (fs::exists(aside, error) || error) continue;
        fs::rename(path, aside, error);
        if (error) return Error(error.message());
        return aside;
    }
    return Error("every name for a damaged image is taken");
}

}  // namespace

std::string game_saves_path(const std::string& save_directory, const std::string& content_path) {
    std::string directory = save_directory;
    if (!directory.ends_with('/')) directory += '/';
    return directory + fs::path(content_path).stem().string() + kGameSavesExtension;
}

GameSaves open_game_saves(const std::string& content_path, machine::VirtualFs& files) {
    GameSaves saves;
    const std::optional<std::string> directory = save_directory();
    if (!directory) {
        // Debug: a frontend without one (a test harness) is told nothing new.
        TARVEL_LOG(Debug, kGameSavesTarget, "No frontend save directory; the game's files last until it is unloaded");
        return saves;
    }
    saves.path = game_saves_path(*directory, content_path);
    std::optional<Result<std::vector<u8>>> image = read_image(saves.path);
    if (!image) {
        TARVEL_LOG(Info, kGameSavesTarget, "No game files yet at {}", saves.path);
        return saves;
    }
    Result<machine::VirtualFs> decoded =
        *image ? machine::decode_fs_image(**image) : Result<machine::VirtualFs>(Error(image->error()));
    if (decoded) {
        files = std::move(decoded).value();
        saves.on_disk = std::pair(checksum(**image), (*image)->size());
        saves.synced_changes = files.changes;
        TARVEL_LOG(Info, kGameSavesTarget, "Game files loaded from {} ({} files)", saves.path, files.files.size());
        return saves;
    }
    // Nothing of a refused image is used, and nothing is written over it.
    const std::string reason = decoded.error().to_string();
    Result<std::string> aside = move_aside(saves.path);
    if (aside) {
        TARVEL_LOG(Warn, kGameSavesTarget,
                   "Game files image {} refused: {}; the game starts with no files and the image is kept as {}",
                   saves.path, reason, *aside);
    } else {
        TARVEL_LOG(Warn, kGameSavesTarget,
                   "Game files image {} refused: {}; it could not be moved aside ({}), so the game starts with no "
                   "files and they are not kept this session",
                   saves.path, reason, aside.error().to_string());
        saves.path.clear();
    }
    return saves;
}

void sync_game_saves(GameSaves& saves, const machine::VirtualFs& files) {
    if (saves.path.empty() || files.changes == saves.synced_changes) return;
    if (saves.retry_wait > 0) {
        --saves.retry_wait;
        return;
    }
    const std::vector<u8> image = machine::encode_fs_image(files);
    const std::pair<u32, size_t> identity(checksum(image), image.size());
    if (saves.on_disk == identity) {
        saves.synced_changes = files.changes;
        return;
    }
    if (Status written = replace_file(saves.path, image); !written) {
        // Tried again at the end of the next frame; reported once.
        if (!saves.write_failing)
            TARVEL_LOG(Warn, kGameSavesTarget, "Could not write the game's files to {}: {}", saves.path,
                       written.error().to_string());
        saves.write_failing = true;
        saves.retry_wait = kRetryFrames;
        return;
    }
    if (saves.write_failing) TARVEL_LOG(Info, kGameSavesTarget, "Game files written to {} again", saves.path);
    saves.write_failing = false;
    saves.on_disk = identity;
    saves.synced_changes = files.changes;
}

void adopt_file_system(GameSaves& saves, const machine::VirtualFs& files) { saves.synced_changes = files.changes; }

}  // namespace tarvel::libretro
