#include "cbe/packages.hpp"

#include <algorithm>

#include "cbe/archive.hpp"
#include "common/text_encoding.hpp"
#include "cbe/package_reader.hpp"
#include "common/log.hpp"

namespace tarvel::cbe {

using detail::read_le32_at;
using detail::read_name_bytes;

namespace {

constexpr const char* kLogTarget = "tarvel_core::cbe::archive";
constexpr u32 kMaxResources = 10000;
constexpr u32 kMinHeaderLength = 8;
constexpr u32 kMinDirectoryCount = 2;
constexpr u32 kMaxDirectoryCount = 256;

// The offset table and name table shared by every package form: `count` data
// offsets at `table`, each at most `data_length` and none below the one before,
// then `count` names ending at or before `names_limit`.
std::optional<ResourceTable> read_resource_tables(std::span<const u8> file, u64 table, u32 count, u64 data_start,
                                                  u32 data_length, u64 names_limit, bool first_must_be_zero) {
    std::vector<u32> offsets(count);
    u32 previous = 0;
    for (u32 k = 0; k < count; ++k) {
        auto offset = read_le32_at(file, table + 4ull * k);
        if (!offset || *offset > data_length || *offset < previous) return std::nullopt;
        if (k == 0 && first_must_be_zero && *offset != 0) return std::nullopt;
        offsets[k] = previous = *offset;
    }
    ResourceTable resources(count);
    u64 pos = table + 4ull * count;
    for (u32 k = 0; k < count; ++k) {
        auto name = read_name_bytes(file, pos, names_limit);
        if (!name) return std::nullopt;
        resources[k].name = decode_marked_text(*name);
    }
    for (u32 k = 0; k < count; ++k) {
        const u64 begin = data_start + offsets[k];
        const u64 end = data_start + (k + 1 < count ? offsets[k + 1] : data_length);
        resources[k].data.assign(file.begin() + static_cast<std::ptrdiff_t>(begin),
                                 file.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return resources;
}

// The preferred form: one header describing a single table at the start of the
// resource package.
std::optional<ResourceTable> parse_single_package(std::span<const u8> file, u64 p) {
    auto header_length = read_le32_at(file, p);
    auto form = read_le32_at(file, p + 8);
    auto names_extent = read_le32_at(file, p + 12);
    auto data_length = read_le32_at(file, p + 16);
    auto count = read_le32_at(file, p + 20);
    if (!header_length || !form || !names_extent || !data_length || !count) return std::nullopt;
    if (*header_length < kMinHeaderLength || *form != 1) return std::nullopt;
    if (*count < 1 || *count > kMaxResources) return std::nullopt;
    const u64 data_start = p + 16 + *names_extent;
    if (data_start + *data_length > file.size()) return std::nullopt;
    return read_resource_tables(file, p + 24, *count, data_start, *data_length, data_start, false);
}

// The directory form: M - 1 named packages listed by name and offset.
std::vector<NamedPackage> parse_directory(std::span<const u8> file, u64 p, u64 z) {
    auto length = read_le32_at(file, p);
    auto count = read_le32_at(file, p + 8);
    if (!length || !count || *length < kMinHeaderLength) return {};
    const u64 directory_end = p + 4 + *length;
    if (directory_end > z) return {};
    if (*count < kMinDirectoryCount || *count > kMaxDirectoryCount) return {};

    std::vector<NamedPackage> packages;
    u64 copied = 0;
    u64 pos = p + 12;
    for (u32 i = 0; i + 1 < *count; ++i) {
        auto name = read_name_bytes(file, pos, directory_end);
        if (!name || pos + 4 > directory_end) return {};
        auto offset = read_le32_at(file, pos);
        if (!offset) return {};
        pos += 4;
        const u64 start = p + *offset;
        if (start < directory_end) return {};
        auto package = parse_package(file, start, z);
        if (!package) return {};
        // Entries may all name the same package; copies beyond the size of the
        // resource package mean the directory is not a real one.
        copied += package->end - start;
        if (copied > z - p) {
            TARVEL_LOG(Warn, kLogTarget, "Package directory at 0x{:x} lists more data than the resource package holds", p);
            return {};
        }
        packages.push_back(NamedPackage{decode_marked_text(*name), std::move(package->resources)});
    }
    return packages;
}

// Packages laid end to end after the header or directory, up to the end of the
// resource package; the first one that does not parse ends the run.
ResourceTable parse_package_run(std::span<const u8> file, u64 p, u64 z) {
    ResourceTable table;
    auto header_length = read_le32_at(file, p);
    if (!header_length) return table;
    for (u64 q = p + 4 + *header_length; q < z;) {
        auto package = parse_package(file, q, z);
        if (!package) break;
        std::move(package->resources.begin(), package->resources.end(), std::back_inserter(table));
        q = package->end;
    }
    return table;
}

// The last resort: the section the archive scan found right in front of the
// resource package. Sections may list overlapping spans, so the copies are held
// to the file's size in total; a well-formed section never comes near that.
ResourceTable copy_section_resources(std::span<const u8> file, const SectionList& sections, u64 p) {
    ResourceTable table;
    auto section = std::find_if(sections.begin(), sections.end(),
                                [&](const Section& s) { return s.marker == 8 && s.signature_offset + 8ull == p; });
    if (section == sections.end()) return table;
    u64 copied = 0;
    for (const SectionResource& resource : section->resources) {
        if (resource.offset > file.size() || resource.size > file.size() - resource.offset) continue;
        if (copied + resource.size > file.size()) {
            TARVEL_LOG(Warn, kLogTarget, "Section resources overlap beyond the file size; {} skipped", resource.name);
            continue;
        }
        copied += resource.size;
        auto begin = file.begin() + static_cast<std::ptrdiff_t>(resource.offset);
        table.push_back(Resource{resource.name, std::vector<u8>(begin, begin + static_cast<std::ptrdiff_t>(resource.size))});
    }
    return table;
}

}  // namespace

std::optional<ParsedPackage> parse_package(std::span<const u8> file, u64 q, u64 limit) {
    limit = std::min<u64>(limit, file.size());
    auto header_length = read_le32_at(file, q);
    auto data_length = read_le32_at(file, q + 4);
    auto count = read_le32_at(file, q + 8);
    if (!header_length || !data_length || !count) return std::nullopt;
    if (*header_length < kMinHeaderLength || *count < 1 || *count > kMaxResources) return std::nullopt;
    const u64 data_start = q + 4 + *header_length;
    const u64 end = data_start + *data_length;
    if (end > limit) return std::nullopt;
    auto resources = read_resource_tables(file, q + 12, *count, data_start, *data_length, data_start, true);
    if (!resources) return std::nullopt;
    return ParsedPackage{std::move(*resources), static_cast<u32>(end)};
}

ResourceCollections build_resource_collections(std::span<const u8> file, const CbeExecutable& executable,
                                               const SectionList& sections, MainTableSource* source) {
    const u64 p = executable.resource_offset;
    const u64 z = std::min<u64>(file.size(), p + executable.resource_length);
    ResourceCollections collections;
    collections.named_packages = parse_directory(file, p, z);

    MainTableSource from = MainTableSource::None;
    if (auto single = parse_single_package(file, p); single && !single->empty()) {
        collections.main_table = std::move(*single);
        from = MainTableSource::SinglePackage;
    } else if (p + 4 <= file.size()) {
        collections.main_table = parse_package_run(file, p, z);
        if (!collections.main_table.empty()) from = MainTableSource::PackageRun;
    }
    if (collections.main_table.empty()) {
        collections.main_table = copy_section_resources(file, sections, p);
        if (!collections.main_table.empty()) from = MainTableSource::SectionScan;
    }
    if (source) *source = from;
    return collections;
}

}  // namespace tarvel::cbe
