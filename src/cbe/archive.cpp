#include "cbe/archive.hpp"

#include <array>
#include <limits>

#include "cbe/word_sum.hpp"
#include "common/file_io.hpp"
#include "common/log.hpp"

namespace tarvel::cbe {

namespace {

constexpr const char* kLogTarget = "tarvel_core::cbe::archive";
constexpr u64 kMinFileSize = 152;
constexpr size_t kMarkerSize = 8;
constexpr size_t kMinSeparator = 8;
constexpr u32 kMaxSegmentHeaderOffset = 0xFFFFFFBB;
constexpr u32 kMaxReadableSegmentHeaderOffset = 0xFFFFFFB3;  // beyond it the first marker's end overflows
constexpr u64 kSegmentHeaderStart = 68;
constexpr u64 kHeaderSizeBeyondOffset = 140;

bool is_marker(std::span<const u8> file, u64 offset) {
    if (offset + kMarkerSize > file.size()) return false;
    for (size_t i = 0; i < kMarkerSize; ++i) {
        if (file[offset + i] != 0xFE) return false;
    }
    return true;
}

Result<u32> read_header_field(std::span<const u8> file, u64 offset) {
    if (offset + 4 > file.size()) return Error::format("CBE header field at 0x{:x} is truncated", offset);
    return load_be32(file.data() + offset);
}

// A segment must fit the 32-bit offset space and the file; its end is where the
// next separator starts.
Result<u32> range_check(u64 file_size, u32 start, u32 length, std::string_view name) {
    const u64 end = static_cast<u64>(start) + length;
    if (end > std::numeric_limits<u32>::max()) return Error::format("{} range overflow", name);
    if (end > file_size) return Error::format("{} extends beyond the CBE file", name);
    return static_cast<u32>(end);
}

// A separator whose end is found by its content alone: the next field starts at
// the first byte that is not 0xFE.
Result<u32> skip_separator(std::span<const u8> file, u32 offset) {
    const size_t run = separator_run(file, offset);
    if (run < kMinSeparator) return Error::format("missing CBE segment separator at 0x{:x}", offset);
    return static_cast<u32>(offset + run);
}

struct SegmentHeader {
    u32 code_length, code_checksum;
    u32 data_length, data_checksum;
    u32 embedded_length, embedded_checksum;
};

Result<SegmentHeader> read_segment_header(std::span<const u8> file, u32 header_offset) {
    const u64 start = kSegmentHeaderStart + header_offset;
    for (u64 i = 0; i < 6; ++i) {
        const u64 marker = start + 12 * i;
        if (header_offset > kMaxReadableSegmentHeaderOffset || !is_marker(file, marker)) {
            return Error::format("invalid CBE segment marker at 0x{:x}", marker);
        }
    }
    std::array<u32, 6> values{};
    for (u64 i = 0; i < 6; ++i) {
        TARVEL_TRY_ASSIGN(values[i], read_header_field(file, start + 8 + 12 * i));
    }
    return SegmentHeader{values[0], values[1], values[2], values[3], values[4], values[5]};
}

}  // namespace

Result<CbeExecutable> parse_executable(std::span<const u8> file) {
    const u64 file_size = file.size();
    if (file_size < kMinFileSize) return Error("CBE executable header is truncated");
    // Every offset in the container is 32-bit; a larger buffer cannot be a CBE file.
    if (file_size > std::numeric_limits<u32>::max()) return Error("CBE file is larger than 4 GiB");

    for (u64 marker : {0, 12, 24, 36, 48}) {
        if (!is_marker(file, marker)) return Error::format("invalid CBE header marker at 0x{:x}", marker);
    }
    const u32 header_offset = load_be32(file.data() + 56);
    if (header_offset > kMaxSegmentHeaderOffset) return Error("CBE segment header offset overflow");

    CbeExecutable exe;
    exe.load_address = load_be32(file.data() + 8);
    exe.data_offset = load_be32(file.data() + 20);
    exe.data_address = load_be32(file.data() + 32);
    exe.data_size = load_be32(file.data() + 44);

    TARVEL_TRY_ASSIGN(const SegmentHeader segments, read_segment_header(file, header_offset));

    const u64 header_end = kHeaderSizeBeyondOffset + header_offset;
    if (header_end > std::numeric_limits<u32>::max()) return Error("CBE executable header size overflow");

    // The code checksum decides the guest byte order; the other segments must agree.
    TARVEL_TRY_ASSIGN(const SegmentMatch code, find_segment(file, static_cast<u32>(header_end), segments.code_length,
                                                            segments.code_checksum, ByteOrderMode::Either, "code"));
    exe.big_endian = code.big_endian ? 1 : 0;
    exe.code_offset = code.offset;
    exe.code_length = segments.code_length;
    TARVEL_TRY_ASSIGN(const u32 code_end, range_check(file_size, code.offset, segments.code_length, "code"));

    const ByteOrderMode order = code.big_endian ? ByteOrderMode::Big : ByteOrderMode::Little;
    TARVEL_TRY_ASSIGN(const SegmentMatch data, find_segment(file, code_end, segments.data_length,
                                                            segments.data_checksum, order, "initialized data"));
    exe.init_data_offset = data.offset;
    exe.init_data_length = segments.data_length;
    TARVEL_TRY_ASSIGN(const u32 data_end,
                      range_check(file_size, data.offset, segments.data_length, "initialized data"));

    TARVEL_TRY_ASSIGN(const SegmentMatch embedded, find_segment(file, data_end, segments.embedded_length,
                                                                segments.embedded_checksum, order, "embedded package"));
    exe.embedded_offset = embedded.offset;
    exe.embedded_length = segments.embedded_length;
    TARVEL_TRY_ASSIGN(const u32 embedded_end,
                      range_check(file_size, embedded.offset, segments.embedded_length, "embedded package"));

    TARVEL_TRY_ASSIGN(const u32 length_offset, skip_separator(file, embedded_end));
    TARVEL_TRY_ASSIGN(exe.resource_length, read_header_field(file, length_offset));
    TARVEL_TRY_ASSIGN(const u32 length_end, range_check(file_size, length_offset, 4, "resource package length"));

    TARVEL_TRY_ASSIGN(exe.resource_offset, skip_separator(file, length_end));
    TARVEL_TRY(range_check(file_size, exe.resource_offset, exe.resource_length, "resource package"));
    return exe;
}

Result<CbeArchive> parse_archive(std::vector<u8> bytes) {
    CbeArchive archive;
    archive.bytes = std::move(bytes);
    const std::span<const u8> file(archive.bytes);
    TARVEL_LOG(Info, kLogTarget, "File size: {} bytes", file.size());
    // The scan looks at the raw bytes and never fails, so it runs (and logs)
    // before the container is judged: a malformed file still shows what
    // sections it holds ahead of the error that rejects it.
    archive.sections = scan_sections(file);
    TARVEL_TRY_ASSIGN(archive.executable, parse_executable(file));
    archive.resources = build_resource_collections(file, archive.executable, archive.sections);
    return archive;
}

Result<CbeArchive> load_archive(const std::string& path) {
    TARVEL_LOG(Info, kLogTarget, "Loading CBE archive: {}", path);
    auto file = read_whole_file(path);
    if (!file) return std::move(file).error().context("Failed to read CBE file: {}", path);
    return parse_archive(std::move(file).value());
}

}  // namespace tarvel::cbe
