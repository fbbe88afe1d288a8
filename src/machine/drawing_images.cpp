// Image records filled from resources and guest streams, and the decode stream.

#include <cstdio>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "common/log.hpp"
#include "media/image/image_decoder.hpp"
#include "machine/drawing.hpp"
#include "machine/machine.hpp"
#include "machine/trace_filter.hpp"

namespace tarvel::machine {

namespace {

constexpr u32 kImageRecordSize = 12;
constexpr u32 kMaxImageRecordSide = 65535;

bool image_load_traced() { return service_call_traced(4, 49); }

// Index of the main-table resource whose guest copy starts at `address`.
std::optional<size_t> loaded_resource_at(const TarvelMachine& m, u32 address) {
    const std::vector<u32>& addresses = m.loaded_resources.data_addresses;
    const size_t count = std::min(addresses.size(), m.resources.main_table.size());
    for (size_t i = 0; i < count; ++i)
        if (addresses[i] == address) return i;
    return std::nullopt;
}

// The live heap block holding `address`: its first address and size.
std::optional<std::pair<u32, u32>> heap_block_holding(const GuestHeap& heap, u32 address) {
    auto it = heap.allocations.upper_bound(address);
    if (it == heap.allocations.begin()) return std::nullopt;
    --it;
    if (u64{address} >= u64{it->first} + it->second) return std::nullopt;
    return *it;
}

u16 to_rgb565(const u8* rgba) {
    if (rgba[3] < 128) return 0;
    return static_cast<u16>((rgba[0] >> 3) << 11 | (rgba[1] >> 2) << 5 | (rgba[2] >> 3));
}

// Writes the decoded pixels into a fresh heap block, one stride-wide row per
// image row; the pixels past the width in each row are left as they are.
u32 store_pixels(TarvelMachine& m, const DecodedImage& image) {
    const u32 stride = row_stride(image.width);
    const u64 bytes = u64{stride} * image.height * 2;
    if (bytes > 0xFFFFFFFFull) return 0;
    const u32 block = m.heap.allocate(static_cast<u32>(bytes));
    if (block == 0) return 0;
    const bool big_endian = m.big_endian();
    u8* host = m.memory.host_write_view(block, static_cast<u32>(bytes));
    std::vector<u8> row_buffer(host ? 0 : size_t{image.width} * 2);
    for (u32 y = 0; y < image.height; ++y) {
        u8* row = host ? host + size_t{y} * stride * 2 : row_buffer.data();
        const u8* source = image.pixels.data() + size_t{y} * image.width * 4;
        for (u32 x = 0; x < image.width; ++x) store16(row + 2 * x, to_rgb565(source + 4 * x), big_endian);
        if (!host) m.memory.write_bytes(block + y * stride * 2, row_buffer);
    }
    return block;
}

// Decodes `bytes` and fills the record (a fresh one when `record` is 0).
u32 load_into_record(TarvelMachine& m, std::string_view name, std::span<const u8> bytes, u32 record) {
    Result<DecodedImage> decoded = decode_image_resource(bytes);
    if (!decoded) {
        report_image_decode_failure(name, bytes, decoded.error(), image_load_traced());
        return 0;
    }
    const DecodedImage& image = decoded.value();
    if (image.width < 1 || image.width > kMaxImageRecordSide || image.height < 1 ||
        image.height > kMaxImageRecordSide)
        return 0;
    if (image_load_traced()) {
        size_t opaque = 0;
        for (size_t i = 3; i < image.pixels.size(); i += 4) opaque += image.pixels[i] >= 128;
        const std::string line =
            fmt::format("image resource {} decoded={}x{} opaque={}\n", name, image.width, image.height, opaque);
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
    }
    const u32 pixels = store_pixels(m, image);
    if (pixels == 0) return 0;
    if (record == 0) {
        record = m.heap.allocate(kImageRecordSize);
        if (record == 0) {
            m.heap.free(pixels);  // nobody else holds the block
            return 0;
        }
    }
    m.memory.write32(record, pixels);
    m.memory.write16(record + 4, static_cast<u16>(image.width));
    m.memory.write16(record + 6, static_cast<u16>(image.height));
    m.memory.write8(record + 8, 1);
    return record;
}

}  // namespace

u32 load_image_resource(TarvelMachine& m, u32 index, u32 record) {
    const cbe::ResourceTable& table = m.resources.main_table;
    if (index >= table.size()) return 0;
    // The decoder works on a copy: the table stays untouched whatever happens.
    const std::vector<u8> bytes = table[index].data;
    return load_into_record(m, table[index].name, bytes, record);
}

u32 load_image_from_stream(TarvelMachine& m, u32 address, u32 record) {
    if (const std::optional<size_t> index = loaded_resource_at(m, address)) {
        const cbe::Resource& resource = m.resources.main_table[*index];
        return load_into_record(m, resource.name, resource.data, record);
    }
    // Guest streams carry no length: the heap block around them bounds the read.
    const std::optional<std::pair<u32, u32>> block = heap_block_holding(m.heap, address);
    if (!block) {
        TARVEL_LOG(Warn, kDrawingLogTarget, "image stream at 0x{:08x} has no allocation boundary", address);
        return 0;
    }
    const u32 length = static_cast<u32>(u64{block->first} + block->second - address);
    std::optional<std::vector<u8>> bytes = m.memory.read_bytes(address, length);
    if (!bytes) bytes.emplace();  // unbacked: decoded as empty, which reports the failure
    return load_into_record(m, "guest stream", *bytes, record);
}

u32 decode_stream(TarvelMachine& m, u32 address) {
    GuestMemory& memory = m.memory;
    auto read_be32 = [&](u32 at) {
        return u32{memory.read8(at)} << 24 | u32{memory.read8(at + 1)} << 16 | u32{memory.read8(at + 2)} << 8 |
               memory.read8(at + 3);
    };
    const u64 compressed = read_be32(address + 1);
    const u32 output = read_be32(address + 5);
    const bool traced = service_call_traced(16, 20);
    if (traced) {
        const std::optional<size_t> index = loaded_resource_at(m, address);
        const std::string_view name = index ? std::string_view(m.resources.main_table[*index].name) : "<unknown>";
        const std::string line = fmt::format("decode stream source={:08x} name={} compressed={} output={}\n", address,
                                             name, compressed, output);
        std::fputs(line.c_str(), stderr);
    }
    if (compressed == 0 || output == 0 || output > kMaxDecodeStreamOutput) return 0;
    const u32 block = m.heap.allocate(output);
    if (block == 0) return 0;

    const u32 tokens = address + 9;  // guest addresses wrap like every guest access
    auto input = [&](u64 i) { return memory.read8(static_cast<u32>(tokens + i)); };
    u64 i = 0;
    u32 o = 0;
    while (i < compressed && o < output) {
        const u8 token = input(i);
        if (token >= 0x80) {
            const u32 length = token & 0x7F;
            if (length == 0 || i + 1 + length > compressed) break;
            const u32 copied = std::min(length, output - o);
            for (u32 k = 0; k < copied; ++k) memory.write8(block + o + k, input(i + 1 + k));
            i += 1 + copied;
            o += copied;
        } else {
            if (i + 1 >= compressed) break;
            const u8 low = input(i + 1);
            if (token < 2) break;
            const u32 distance = (token & 1u) * 256 + low;
            if (distance == 0 || distance > o) break;
            const u32 length = std::min<u32>(token >> 1, output - o);
            // Byte by byte: the copy may read what it has just written.
            for (u32 k = 0; k < length; ++k) memory.write8(block + o + k, memory.read8(block + o + k - distance));
            i += 2;
            o += length;
        }
    }
    if (traced) {
        std::fputs(fmt::format("decode stream wrote={}\n", o).c_str(), stderr);
        std::fflush(stderr);
    }
    if (o == 0) {
        m.heap.free(block);  // the guest never learns of the block, so it could never free it
        return 0;
    }
    return block;
}

}  // namespace tarvel::machine
