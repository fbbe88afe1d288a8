// The save-state container: header, CRCs and the LZ4 block around the payload.
#include "state/save_state.hpp"

#include <lz4.h>
#include <zlib.h>

#include <cstring>

namespace tarvel {

namespace {

u32 crc32_of(std::span<const u8> bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes lengths as uInt; feed large buffers in pieces.
    while (!bytes.empty()) {
        size_t n = std::min<size_t>(bytes.size(), 0x40000000);
        crc = crc32(crc, bytes.data(), static_cast<uInt>(n));
        bytes = bytes.subspan(n);
    }
    return static_cast<u32>(crc);
}

}  // namespace

Status write_save_state(const machine::TarvelMachine& machine, u32 tick_phase, u32 content_crc, std::span<u8> out) {
    if (out.size() < kSaveStateCapacity) return Error("save-state buffer is smaller than the fixed capacity");
    auto payload = encode_payload(machine, tick_phase);
    if (!payload) return std::move(payload).error().context("failed to encode save-state payload");
    if (payload->size() > kMaxUncompressedPayload) return Error("save-state payload exceeds the decoded size limit");

    // Room for incompressible input: LZ4's worst case is below 110% + 20 bytes.
    const u64 room = u64{payload->size()} * 110 / 100 + 20;
    std::vector<u8> compressed(static_cast<size_t>(room));
    int written = LZ4_compress_default(reinterpret_cast<const char*>(payload->data()),
                                       reinterpret_cast<char*>(compressed.data()), static_cast<int>(payload->size()),
                                       static_cast<int>(compressed.size()));
    if (written <= 0 && !payload->empty())
        return Error("failed to encode save-state payload").context("LZ4 compression failed");
    const size_t compressed_length = static_cast<size_t>(std::max(written, 0));
    if (compressed_length > kMaxCompressedPayload)
        return Error("save state exceeds the fixed serialization capacity");

    std::memset(out.data() + kHeaderPayloadCrc, 0, kSaveStateCapacity - kHeaderPayloadCrc);
    std::memcpy(out.data(), kSaveStateMagic, sizeof kSaveStateMagic);
    store_le32(out.data() + kHeaderVersion, kSaveStateVersion);
    store_le32(out.data() + kHeaderContentCrc, content_crc);
    store_le32(out.data() + kHeaderCompressedLength, static_cast<u32>(compressed_length));
    store_le32(out.data() + kHeaderUncompressedLength, static_cast<u32>(payload->size()));
    std::span<const u8> block(compressed.data(), compressed_length);
    store_le32(out.data() + kHeaderPayloadCrc, crc32_of(block));
    if (compressed_length) std::memcpy(out.data() + kSaveStateHeaderSize, compressed.data(), compressed_length);
    return {};
}

Result<SavedGame> read_save_state(std::span<const u8> data, u32 content_crc, const machine::TarvelMachine& running) {
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
    std::span<const u8> block = data.subspan(kSaveStateHeaderSize, static_cast<size_t>(compressed_length));
    if (crc32_of(block) != load_le32(data.data() + kHeaderPayloadCrc)) return Error("save-state checksum mismatch");

    std::vector<u8> payload(static_cast<size_t>(uncompressed_length));
    int decoded = LZ4_decompress_safe(reinterpret_cast<const char*>(block.data()),
                                      reinterpret_cast<char*>(payload.data()), static_cast<int>(block.size()),
                                      static_cast<int>(payload.size()));
    if (decoded < 0)
        return Error("malformed LZ4 block or output past the decoded length").context("failed to decompress save state");
    if (static_cast<u64>(decoded) != uncompressed_length)
        return Error::format("block decoded to {} bytes, the header says {}", decoded, uncompressed_length)
            .context("failed to decompress save state");

    auto game = decode_payload(payload, running);
    if (!game) return std::move(game).error().context("failed to decode save state");
    return game;
}

}  // namespace tarvel
