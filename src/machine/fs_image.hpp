#pragma once
// The save image of a game's files: what survives the game between sessions.
// It holds the files and directory names of a VirtualFs, never its handles or
// positions (a freshly started game has nothing open).
//
// Layout, every integer unsigned 32-bit little-endian, written and read byte
// by byte so the image is the same on any host:
//
//   offset  size  field
//   0       8     magic, the ASCII bytes "TARVELFS"
//   8       4     format version, kFsImageVersion
//   12      4     body length B: the bytes after this 20-byte header
//   16      4     CRC-32 (zlib's polynomial) of the B body bytes
//   20      B     body:
//                   file count F (at most kMaxFiles)
//                   F times, in ascending byte order of the path:
//                     path length P, P bytes of normalised UTF-8 path,
//                     contents length C, C bytes of contents
//                   directory count D (at most kMaxDirectories; the root is
//                   implied and not written)
//                   D times, in ascending byte order:
//                     name length N, N bytes of normalised UTF-8 name
//
// The body ends exactly after the last directory. Paths and names are what
// normalize_path gives (so at most kMaxPathBytes), and the contents together
// stay within kMaxStoredBytes: an image holds nothing that the filesystem
// itself could not hold. The sort order makes the image a function of the
// files alone, so an unchanged filesystem always gives the same bytes.

#include <span>
#include <vector>

#include "common/bytes.hpp"
#include "common/error.hpp"
#include "machine/virtual_fs.hpp"

namespace tarvel::machine {

inline constexpr char kFsImageMagic[8] = {'T', 'A', 'R', 'V', 'E', 'L', 'F', 'S'};
inline constexpr u32 kFsImageVersion = 1;
inline constexpr size_t kFsImageHeaderSize = 20;

// The largest image a filesystem within its limits can produce; anything
// longer is not an image of ours.
inline constexpr u64 kMaxFsImageBytes = kFsImageHeaderSize + 4 + u64{kMaxFiles} * (4 + kMaxPathBytes + 4) +
                                        kMaxStoredBytes + 4 + u64{kMaxDirectories} * (4 + kMaxPathBytes);

// The image of the files and directories of `fs`.
std::vector<u8> encode_fs_image(const VirtualFs& fs);

// A filesystem with the files and directories of an image and every handle
// free. Any damage (a short or long image, another magic or version, a checksum
// that does not match, counts, paths or sizes out of bounds, paths out of order
// or not normalised) is an error that says what was wrong; nothing in the
// bytes is trusted before it is checked.
Result<VirtualFs> decode_fs_image(std::span<const u8> image);

}  // namespace tarvel::machine
