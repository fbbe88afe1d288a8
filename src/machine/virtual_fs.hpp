#pragma once
// The machine's private filesystem: files kept in memory inside the machine
// record, never touching the host's disk. Paths are keys after normalisation
// (see normalize_path); directories are only names; sixteen handle slots hold
// the open files. This module knows nothing of guest memory: the file service
// decodes guest arguments and copies bytes in and out.
//
// Everything here is plain data (strings, byte vectors, integers), so the
// record can be written out and rebuilt field by field.
//
// Bounds. Sixteen handles and 16 MiB per read or write call are the
// platform's own. The platform sets no bound on what guest code can store,
// so these are ours, chosen so that a runaway guest cannot exhaust the host
// and so that a full filesystem still fits where it has to go: into a save
// state beside the guest memory, and into the game's save image on disk
// (fs_image.hpp checks both at compile time):
//   - the contents of all files together stay within kMaxStoredBytes (16 MiB;
//     the free space the service reports is what is left of it); a write or a
//     truncation that would go past it fails as any other failed write or open;
//   - at most kMaxFiles files and kMaxDirectories directory names;
//   - a normalised path longer than kMaxPathBytes is treated as invalid.
// A refusal for one of these reasons is logged as a warning.

#include <array>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/bytes.hpp"

namespace tarvel::machine {

inline constexpr u32 kFileHandleCount = 16;
inline constexpr u32 kMaxTransferBytes = 0x01000000;  // per read or write call
inline constexpr u32 kMaxStoredBytes = 0x01000000;    // all file contents together
inline constexpr u32 kMaxFiles = 1024;
inline constexpr u32 kMaxDirectories = 1024;  // besides the root
inline constexpr u32 kMaxPathBytes = 1024;    // of a normalised path, in UTF-8

// A path after normalisation: lower-case ASCII, "/" separators, no leading or
// trailing separator, no "." or ".." components. The root is "".
// nullopt when ".." climbs above the root or the result is too long.
std::optional<std::string> normalize_path(std::string_view path);

// What an open handle may do, decided by the mode text.
struct OpenMode {
    char kind = 'r';  // the mode's first character (0 for an empty mode)
    bool readable = false;
    bool writable = false;
};

// The mode used when the guest passes an empty mode text: from the numeric flags.
std::string mode_from_flags(u32 flags);
// Access rights of a mode text: "r" reads (and writes with "+"); "w" and "a"
// write (and read with "+"); any other first character allows both with "+"
// and neither without.
OpenMode parse_mode(std::string_view mode);

enum class SeekOrigin : u32 { Start = 0, Current = 1, End = 2 };

struct OpenFile {
    std::string path;  // normalised; the file may have been deleted since
    u32 position = 0;
    bool readable = false;
    bool writable = false;

    friend bool operator==(const OpenFile&, const OpenFile&) = default;
};

struct VirtualFs {
    // Slot i is handle i; an empty slot is free.
    std::array<std::optional<OpenFile>, kFileHandleCount> handles{};
    std::unordered_map<std::string, std::vector<u8>> files;
    std::set<std::string> directories{std::string()};  // always holds the root
    // Sum of the sizes of all file contents (kept in step with `files`).
    u64 stored_bytes = 0;
    // Counts every change to what a save keeps (files, their contents,
    // directory names; not handles or positions), so that whoever keeps the
    // files somewhere else can tell cheaply whether they changed.
    u64 changes = 0;

    // Bytes that can still be stored.
    u32 free_bytes() const { return static_cast<u32>(kMaxStoredBytes - stored_bytes); }

    // ---- paths (all arguments normalised) ----
    bool exists(const std::string& path) const { return files.contains(path); }
    // The root, a made directory, or a proper prefix of a file path at a "/".
    bool is_directory(const std::string& path) const;
    // Adds the path and each of its leading prefixes. False when the
    // directory limit would be passed (nothing is added then).
    bool make_directory(const std::string& path);
    // True when a file was removed. Handles naming it stay open.
    bool remove(const std::string& path);
    // Moves the contents to `to` (replacing any file there) and renames every
    // handle that named `from`. False when `from` does not exist.
    bool rename(const std::string& from, const std::string& to);

    // ---- handles ----
    // Opens `path` with a mode text (already derived from the flags when the
    // guest gave none). The handle, or nullopt: no free slot, "r" mode on a
    // missing file, or a file that cannot be created. A failed open changes
    // nothing.
    std::optional<u32> open(const std::string& path, std::string_view mode);
    // False when the handle is out of range or free.
    bool close(u32 handle);
    const OpenFile* handle(u32 handle) const;
    size_t open_handle_count() const;

    // The bytes a read of `count` bytes yields (possibly none at or past the
    // end); the position advances past them. nullopt on failure: count above
    // kMaxTransferBytes, bad or unreadable handle, or the file was deleted.
    // The view stays valid until the filesystem changes.
    std::optional<std::span<const u8>> read(u32 handle, u32 count);
    // Room for a write of `count` bytes at the handle's position: the file is
    // extended (gap zero-filled) and the position advanced; the caller fills the
    // returned bytes. nullopt on failure (count above kMaxTransferBytes, bad or
    // unwritable handle, deleted file, position + count past 32 bits, storage
    // bound), in which case nothing changed.
    std::optional<std::span<u8>> reserve_write(u32 handle, u32 count);
    // reserve_write followed by a copy of `bytes`.
    bool write(u32 handle, std::span<const u8> bytes);
    // New position, or nullopt (position unchanged).
    std::optional<u32> seek(u32 handle, i32 offset, u32 origin);
    std::optional<u32> tell(u32 handle) const;
    // Length of the handle's file, or nullopt when bad or the file is gone.
    std::optional<u32> size(u32 handle) const;

private:
    OpenFile* writable_slot(u32 handle);
    // Sets a file's contents to empty, creating it if needed. False (and no
    // change) when the file limit would be passed.
    bool truncate_or_create(const std::string& path);
};

}  // namespace tarvel::machine
