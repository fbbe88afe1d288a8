// The save-state container: header, CRCs and the LZ4 block around the payload.
#include "state/save_state.hpp"

#include <lz4.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "common/crc32.hpp"
#include "state/zero_blocks.hpp"

namespace tarvel {

namespace {

// The header checks, the checksum and the decompression into `payload`.
// `payload_block`, when given, is the block `payload` already holds the
// decoding of: the same bytes again are not decompressed again.
Status unpack(std::span<const u8> data, u32 content_crc, std::vector<u8>& payload,
              std::vector<u8>* payload_block = nullptr) {
    if (data.size() < kSaveStateHeaderSize) return Error("save state is truncated");
    if (std::memcmp(data.data(), kSaveStateMagic, sizeof kSaveStateMagic) != 0)
        return Error("invalid save-state signature");
    const u32 version = load_le32(data.data() + kHeaderVersion);
    if (version != kSaveStateVersion) return Error::format("unsupported save-state version {}", version);
    if (load_le32(data.data() + kHeaderContentCrc) != content_crc)
        return Error("save state belongs to different content data");
    const u64 uncompressed_length = load_le32(data.data() + kHeaderUncompressedLength);
    if (uncompressed_length > kMaxUncompressedPayload) return Error("save-state decoded size exceeds the limit");
    // Lengths are 32-bit and widened, so the sum cannot overflow here.
    const u64 compressed_length = load_le32(data.data() + kHeaderCompressedLength);
    if (compressed_length > kMaxCompressedPayload || kSaveStateHeaderSize + compressed_length > data.size())
        return Error("invalid save-state payload length");
    // An LZ4 block grows at most about 255-fold (a match-length byte stands
    // for 255 output bytes), so a header claiming more is damage: caught here,
    // before the payload buffer is sized (and zero-filled) to its claim.
    if (uncompressed_length > 256 * compressed_length + 256) return Error("save-state decoded size exceeds its block");
    std::span<const u8> block = data.subspan(kSaveStateHeaderSize, static_cast<size_t>(compressed_length));
    if (crc32_of(block) != load_le32(data.data() + kHeaderPayloadCrc)) return Error("save-state checksum mismatch");
    if (payload_block) {
        if (payload.size() == uncompressed_length && std::ranges::equal(block, *payload_block)) return {};
        payload_block->clear();
    }

    // Every byte is written by the decompressor (the length is checked
    // below), so a kept buffer needs no zero-filling first.
    payload.resize(static_cast<size_t>(uncompressed_length));
    int decoded = LZ4_decompress_safe(reinterpret_cast<const char*>(block.data()),
                                      reinterpret_cast<char*>(payload.data()), static_cast<int>(block.size()),
                                      static_cast<int>(payload.size()));
    if (decoded < 0)
        return Error("malformed LZ4 block or output past the decoded length").context("failed to decompress save state");
    if (static_cast<u64>(decoded) != uncompressed_length)
        return Error::format("block decoded to {} bytes, the header says {}", decoded, uncompressed_length)
            .context("failed to decompress save state");
    if (payload_block) payload_block->assign(block.begin(), block.end());
    return {};
}

}  // namespace

Status write_save_state(const machine::TarvelMachine& machine, u32 tick_phase, u32 content_crc, std::span<u8> out) {
    SaveStateBuffers work;
    return write_save_state(machine, tick_phase, content_crc, out, work);
}

Status write_save_state(const machine::TarvelMachine& machine, u32 tick_phase, u32 content_crc, std::span<u8> out,
                        SaveStateBuffers& work) {
    if (out.size() < kSaveStateCapacity) return Error("save-state buffer is smaller than the fixed capacity");
    work.payload_block.clear();
    if (Status encoded = encode_payload_into(machine, tick_phase, work.payload); !encoded)
        return std::move(encoded).error().context("failed to encode save-state payload");
    const std::vector<u8>& payload = work.payload;
    if (payload.size() > kMaxUncompressedPayload) return Error("save-state payload exceeds the decoded size limit");

    // LZ4 writes the same block into any room of at least its bound. When the
    // bound fits behind the header, the block goes straight into place and
    // cannot fail; otherwise into a work buffer with room for incompressible
    // input (LZ4's worst case is below 110% + 20 bytes), checked before copying.
    const char* source = reinterpret_cast<const char*>(payload.data());
    const int size = static_cast<int>(payload.size());
    u8* const block = out.data() + kSaveStateHeaderSize;
    size_t compressed_length = 0;
    if (static_cast<size_t>(LZ4_compressBound(size)) <= kMaxCompressedPayload) {
        const int written = LZ4_compress_default(source, reinterpret_cast<char*>(block), size,
                                                 static_cast<int>(kMaxCompressedPayload));
        compressed_length = static_cast<size_t>(std::max(written, 0));
    } else {
        work.compressed.resize(static_cast<size_t>(u64{payload.size()} * 110 / 100 + 20));
        const int written = LZ4_compress_default(source, reinterpret_cast<char*>(work.compressed.data()), size,
                                                 static_cast<int>(work.compressed.size()));
        if (written <= 0)
            return Error("failed to encode save-state payload").context("LZ4 compression failed");
        compressed_length = static_cast<size_t>(written);
        if (compressed_length > kMaxCompressedPayload)
            return Error("save state exceeds the fixed serialization capacity");
        std::memcpy(block, work.compressed.data(), compressed_length);
    }

    std::memcpy(out.data(), kSaveStateMagic, sizeof kSaveStateMagic);
    store_le32(out.data() + kHeaderVersion, kSaveStateVersion);
    store_le32(out.data() + kHeaderContentCrc, content_crc);
    store_le32(out.data() + kHeaderCompressedLength, static_cast<u32>(compressed_length));
    store_le32(out.data() + kHeaderUncompressedLength, static_cast<u32>(payload.size()));
    store_le32(out.data() + kHeaderPayloadCrc, crc32_of(std::span<const u8>(block, compressed_length)));
    store_le32(out.data() + kHeaderReserved, 0);
    work.payload_block.assign(block, block + compressed_length);
    // The frontend's buffer mostly holds an earlier state of ours, zero but
    // for its first few hundred KiB: reading the tail is the largest part of
    // a save, and writing all of it again would be larger still.
    save_state_detail::clear_nonzero(out.subspan(
        kSaveStateHeaderSize + compressed_length, kSaveStateCapacity - kSaveStateHeaderSize - compressed_length));
    return {};
}

Result<SavedGame> read_save_state(std::span<const u8> data, u32 content_crc, const machine::TarvelMachine& running) {
    std::vector<u8> payload;
    TARVEL_TRY(unpack(data, content_crc, payload));
    auto game = decode_payload(payload, running);
    if (!game) return std::move(game).error().context("failed to decode save state");
    return game;
}

Result<SavedGame> read_save_state(std::span<const u8> data, u32 content_crc, const machine::TarvelMachine& running,
                                  SaveStateBuffers& work) {
    TARVEL_TRY(unpack(data, content_crc, work.payload, &work.payload_block));
    auto game = decode_payload_in_place(work.payload, running);
    if (!game) return std::move(game).error().context("failed to decode save state");
    return game;
}

void RegionContents::copy_into(std::span<u8> region) const {
    size_t present = 0;
    for (u64 offset = 0; offset < region.size(); offset += kStatePageSize) {
        const std::span<u8> page = region.subspan(offset, std::min<u64>(kStatePageSize, region.size() - offset));
        if (present < pages.size() && pages[present] == offset / kStatePageSize) {
            std::memcpy(page.data(), page_bytes[present++], page.size());
        } else {
            save_state_detail::clear_nonzero(page);
        }
    }
}

void install_saved_game(SavedGame game, std::unique_ptr<machine::TarvelMachine>& running) {
    machine::GuestMemory& restored = game.machine->memory;
    if (game.memory_contents.empty()) {
        restored.take_buffers_of(running->memory);
    } else {
        std::set<u32> unmapped = restored.unmapped_accesses();
        const bool big_endian = restored.big_endian();
        restored = std::move(running->memory);
        for (size_t i = 0; i < game.memory_contents.size(); ++i) game.memory_contents[i].copy_into(restored.region_bytes(i));
        restored.clear_unmapped_accesses();
        restored.set_unmapped_accesses(std::move(unmapped));
        restored.set_big_endian(big_endian);
    }
    // Enhanced sounds that the restore set back by only a few frames keep
    // their decoders (see AudioEngine::adopt_decoders).
    game.machine->audio_engine.adopt_decoders(running->audio_engine);
    running = std::move(game.machine);
}

}  // namespace tarvel
