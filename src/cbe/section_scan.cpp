// The archive scan: every run of eight 0xFE bytes followed by a known marker is
// examined as a resource section, including runs inside sections already found,
// because resource data can itself carry sections.

#include <algorithm>
#include <cstring>

#include "common/text_encoding.hpp"
#include "cbe/package_reader.hpp"
#include "cbe/packages.hpp"
#include "common/log.hpp"

namespace tarvel::cbe {

using detail::read_le32_at;
using detail::read_name_bytes;

namespace {

constexpr const char* kLogTarget = "tarvel_core::cbe::archive";
constexpr u32 kSectionMarker = 8;
constexpr u32 kNativeSectionMarker = 4;
constexpr u32 kMaxResources = 10000;
constexpr u32 kCheckedNames = 16;
constexpr u64 kMaxCheckedNameLength = 96;
constexpr u64 kLastCandidateMargin = 41;

bool is_name_byte(u8 b) {
    return (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || b == '-' || b == '.' ||
           b == '_' || b >= 0x80;
}

// The first names of a genuine section are short and made of file-name bytes;
// this weeds out chance matches before anything is logged.
bool leading_names_plausible(std::span<const u8> file, u64 pos, u32 count, u64 limit, bool check_bytes) {
    const u32 checked = std::min(count, kCheckedNames);
    for (u32 k = 0; k < checked; ++k) {
        auto name = read_name_bytes(file, pos, limit);
        if (!name || name->empty() || name->size() > kMaxCheckedNameLength) return false;
        if (check_bytes && !std::all_of(name->begin(), name->end(), is_name_byte)) return false;
    }
    return true;
}

struct ScanState {
    SectionList sections;
    u64 resource_total = 0;
    // Offset and name table bytes read so far by sections that got past the
    // leading-name check, whether they were then accepted or dropped. Genuine
    // sections do not share their tables, so together they never read more
    // than the file holds; overlapping forgeries would otherwise cost time
    // quadratic in the file size. Once the file's size has been read, further
    // sections are dropped unread.
    u64 table_bytes_read = 0;
    bool overlap_reported = false;
};

// Dropping a section for the budget is reported once as a warning; the many
// that may follow in a forged file only at debug level.
void report_overlap(ScanState& state, u64 r) {
    if (!state.overlap_reported) {
        state.overlap_reported = true;
        TARVEL_LOG(Warn, kLogTarget, "Section at 0x{:x} overlaps earlier sections beyond the file size; dropped", r);
    } else {
        TARVEL_LOG(Debug, kLogTarget, "Section at 0x{:x} overlaps earlier sections beyond the file size; dropped", r);
    }
}

void log_accepted(const Section& section, size_t index, u32 count, u32 data_rel, u32 data_len) {
    TARVEL_LOG(Debug, kLogTarget, "Section {}: marker={}, {} resources, dataRel=0x{:x}, dataLen=0x{:x}", index,
               section.marker, count, data_rel, data_len);
}

void try_section(std::span<const u8> file, u64 r, ScanState& state) {
    const u64 file_size = file.size();
    auto count = read_le32_at(file, r + 12);
    auto form = read_le32_at(file, r + 16);
    auto data_rel = read_le32_at(file, r + 20);
    auto data_len = read_le32_at(file, r + 24);
    if (!count || !form || !data_rel || !data_len) return;
    if (*count < 1 || *count > kMaxResources || *form != 1 || *data_len == 0) return;
    if (*data_rel + 24ull + *data_len > file_size - r) return;
    const u64 offsets_at = r + 32;
    const u64 names_at = offsets_at + 4ull * *count;
    if (names_at >= file_size) return;
    if (!leading_names_plausible(file, names_at, *count, file_size, true)) return;
    TARVEL_LOG(Debug, kLogTarget, "Found section signature at offset 0x{:x}", r);

    // What this section may still read of its tables; every read below is
    // charged, and the charge stands whether the section is accepted or not.
    const u64 allowance = file_size - std::min(state.table_bytes_read, file_size);
    u64 read = 0;
    auto charge = [&](u64 bytes) {
        read += bytes;
        return read <= allowance;
    };
    auto settle = [&] { state.table_bytes_read += read; };

    std::vector<u32> offsets(*count, 0);
    for (u32 k = 1; k < *count; ++k) {
        if (!charge(4)) {
            settle();
            return report_overlap(state, r);
        }
        auto offset = read_le32_at(file, offsets_at + 4ull * k);
        if (!offset) {
            TARVEL_LOG(Warn, kLogTarget, "Offset table truncated at 0x{:x}", offsets_at + 4ull * k);
            return settle();
        }
        offsets[k] = *offset;
    }

    Section section{static_cast<u32>(r), kSectionMarker, {}};
    section.resources.resize(*count);
    u64 pos = names_at;
    for (u32 k = 0; k < *count; ++k) {
        if (pos >= file_size) {
            TARVEL_LOG(Warn, kLogTarget, "Name table truncated at 0x{:x}", pos);
            return settle();
        }
        if (!charge(1 + u64{file[pos]})) {
            settle();
            return report_overlap(state, r);
        }
        const u64 length_at = pos;
        auto name = read_name_bytes(file, pos, file_size);
        if (!name || name->empty()) {
            TARVEL_LOG(Warn, kLogTarget, "Invalid name length at 0x{:x}: {}", length_at, file[length_at]);
            return settle();
        }
        section.resources[k].name = decode_text(*name, TextEncoding::Utf8);
    }
    settle();

    // A span that runs backwards is empty; the file bounds are checked when the
    // bytes are copied, not here.
    const u64 data_start = r + 24 + *data_rel;
    for (u32 k = 0; k < *count; ++k) {
        const u64 begin = offsets[k];
        const u64 end = k + 1 < *count ? offsets[k + 1] : *data_len;
        section.resources[k].offset = data_start + begin;
        section.resources[k].size = end > begin ? end - begin : 0;
    }
    log_accepted(section, state.sections.size(), *count, *data_rel, *data_len);
    state.resource_total += *count;
    state.sections.push_back(std::move(section));
}

// Native sections are recognised and listed; how their resources are laid out
// after the name table is not known, so they contribute no resources.
void try_native_section(std::span<const u8> file, u64 r, ScanState& state) {
    const u64 file_size = file.size();
    auto form = read_le32_at(file, r + 12);
    auto extent = read_le32_at(file, r + 16);
    auto count = read_le32_at(file, r + 24);
    if (!form || !extent || !count) return;
    if (*form != 1 || *count < 1 || *count > kMaxResources) return;
    const u64 section_end = r + *extent;
    if (section_end > 0xFFFFFFFFull || section_end + 20 > file_size) return;
    if (!leading_names_plausible(file, r + 28 + 4ull * *count, *count, section_end, false)) return;
    TARVEL_LOG(Debug, kLogTarget, "Found native section signature at offset 0x{:x}", r);
    Section section{static_cast<u32>(r), kNativeSectionMarker, {}};
    log_accepted(section, state.sections.size(), *count, *extent, 0);
    state.sections.push_back(std::move(section));
}

bool has_signature(const u8* p) {
    for (int i = 0; i < 8; ++i) {
        if (p[i] != 0xFE) return false;
    }
    return true;
}

}  // namespace

SectionList scan_sections(std::span<const u8> file) {
    ScanState state;
    if (file.size() >= kLastCandidateMargin) {
        const u64 last = file.size() - kLastCandidateMargin;
        const u8* data = file.data();
        for (u64 r = 0; r <= last; ++r) {
            if (data[r] != 0xFE) {
                // Skip ahead to the next 0xFE byte; no candidate starts before it.
                const void* next = std::memchr(data + r, 0xFE, static_cast<size_t>(last + 1 - r));
                if (!next) break;
                r = static_cast<u64>(static_cast<const u8*>(next) - data);
            }
            if (!has_signature(data + r)) continue;
            const u32 marker = load_le32(data + r + 8);
            if (marker == kSectionMarker) {
                try_section(file, r, state);
            } else if (marker == kNativeSectionMarker) {
                try_native_section(file, r, state);
            }
        }
    }
    TARVEL_LOG(Info, kLogTarget, "Found {} sections", state.sections.size());
    TARVEL_LOG(Info, kLogTarget, "Total resources: {}", state.resource_total);
    return std::move(state.sections);
}

}  // namespace tarvel::cbe
