#pragma once
// Save states: the machine record in a compact binary encoding, compressed as
// one LZ4 block, behind a 32-byte header that ties it to the loaded content
// and protects it with a CRC-32. States are only read back by the same build
// and the same content, so the payload layout is ours to choose; what matters
// is that writing and reading agree and that reading never trusts the bytes.
//
// Restoring is all-or-nothing: the state is decoded into a new machine record,
// and the caller swaps it in only when every check has passed.

#include <memory>
#include <span>
#include <vector>

#include "common/bytes.hpp"
#include "common/error.hpp"
#include "machine/machine.hpp"

namespace tarvel {

inline constexpr size_t kSaveStateCapacity = 0x3000000;  // what the frontend preallocates
inline constexpr size_t kSaveStateHeaderSize = 32;
inline constexpr size_t kMaxCompressedPayload = kSaveStateCapacity - kSaveStateHeaderSize;
inline constexpr size_t kMaxUncompressedPayload = 0x4000000;
inline constexpr u32 kSaveStateVersion = 1;
inline constexpr char kSaveStateMagic[8] = {'T', 'A', 'R', 'V', 'E', 'S', 'T', 'M'};

// Header field offsets.
inline constexpr size_t kHeaderVersion = 8;
inline constexpr size_t kHeaderContentCrc = 12;
inline constexpr size_t kHeaderCompressedLength = 16;
inline constexpr size_t kHeaderUncompressedLength = 20;
inline constexpr size_t kHeaderPayloadCrc = 24;
inline constexpr size_t kHeaderReserved = 28;

// The frontend binding's frame-to-tick phase (0 .. kTickPhaseLimit - 1) is
// saved beside the machine: without it a restored game would tick on other
// frames than the saved one did, and a restore would not replay identically.
inline constexpr u32 kTickPhaseLimit = 60;

// Guest memory is carried in pages of this size, and pages that are all zero
// (most of a game's memory) are left out: a save then compresses, and a
// restore decompresses, a few hundred KiB instead of the whole address space.
inline constexpr u32 kStatePageSize = 4096;

// The contents of one guest memory region in a payload: the pages present,
// in ascending order, each kStatePageSize bytes (the region's last page may
// be shorter), and zeros everywhere else. States written before pages were
// left out hold every page.
struct RegionContents {
    u32 size = 0;
    std::vector<u32> pages;
    std::vector<const u8*> page_bytes;  // still inside the payload they were read from

    // Makes `region` (`size` bytes) hold these contents, writing only the
    // absent pages that are not zero already.
    void copy_into(std::span<u8> region) const;
};

// What a state holds: the machine and the tick phase.
struct SavedGame {
    std::unique_ptr<machine::TarvelMachine> machine;
    u32 tick_phase = 0;
    // Only from the in-place readers: the machine's guest memory has no
    // regions yet, and these are the contents of the running content's
    // regions, in order. install_saved_game puts them into place.
    std::vector<RegionContents> memory_contents;
};

// Work buffers kept from one save or restore to the next, so that a frontend
// saving every frame (rewind, run-ahead) pays for no allocation, no
// zero-filling and no page faults of fresh memory.
struct SaveStateBuffers {
    std::vector<u8> payload;     // the uncompressed payload, written or decompressed
    std::vector<u8> compressed;  // only for payloads too large to compress in place
    // The LZ4 block `payload` was compressed into or decompressed from (empty
    // when unknown). Run-ahead restores the state it saved a moment before:
    // those bytes are recognised and not decompressed again.
    std::vector<u8> payload_block;
};

// The uncompressed payload of a machine (sized exactly by a first pass).
Result<std::vector<u8>> encode_payload(const machine::TarvelMachine& machine, u32 tick_phase = 0);
// The same into `out`, resized to fit.
Status encode_payload_into(const machine::TarvelMachine& machine, u32 tick_phase, std::vector<u8>& out);

// Rebuilds a machine from an uncompressed payload. `running` is the machine
// of the loaded content: the decoded guest memory must have its region layout
// (the state belongs to the same content, so anything else is damage).
Result<SavedGame> decode_payload(std::span<const u8> payload, const machine::TarvelMachine& running);
// The same, but the guest memory contents stay in `payload` (see SavedGame).
Result<SavedGame> decode_payload_in_place(std::span<const u8> payload, const machine::TarvelMachine& running);

// Fills out[0 .. kSaveStateCapacity) with a state of `machine`. `out` must hold
// at least kSaveStateCapacity bytes; nothing is written on failure.
Status write_save_state(const machine::TarvelMachine& machine, u32 tick_phase, u32 content_crc, std::span<u8> out);
Status write_save_state(const machine::TarvelMachine& machine, u32 tick_phase, u32 content_crc, std::span<u8> out,
                        SaveStateBuffers& work);

// Checks and decodes a state for the content whose CRC is `content_crc`.
Result<SavedGame> read_save_state(std::span<const u8> data, u32 content_crc, const machine::TarvelMachine& running);
// The same, decompressing into `work` and leaving the guest memory contents
// there: the result is good until `work` is used again.
Result<SavedGame> read_save_state(std::span<const u8> data, u32 content_crc, const machine::TarvelMachine& running,
                                  SaveStateBuffers& work);

// Puts a restored game in the place of the running machine. The guest memory
// stays in the running machine's buffers, which frontends keep pointers into
// (cheats, achievements, watches): the restored contents are copied there and
// the buffers move over to the restored machine. Nothing can fail here; the
// region layout was checked when reading.
void install_saved_game(SavedGame game, std::unique_ptr<machine::TarvelMachine>& running);

}  // namespace tarvel
