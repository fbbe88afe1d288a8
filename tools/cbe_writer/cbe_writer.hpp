#pragma once
// Builds CBE files in code: the fixed header, the segment header with word-sum
// checksums in either byte order, the separators and payload segments, and the
// resource package forms. Every field can be overridden so that tests and
// tools can also produce deliberately broken files.

#include <array>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "common/bytes.hpp"

namespace tarvel::cbe_writer {

// Wrapping sum of the whole 32-bit words of `bytes` (a trailing partial word is
// left out), read in the given byte order. Written independently of the parser
// so that each checks the other.
u32 word_sum(std::span<const u8> bytes, bool big_endian);

// ---- resource packages (all integers little-endian) ----

struct ResourceSpec {
    std::vector<u8> name;  // stored name bytes, at most 255
    std::vector<u8> data;
};
ResourceSpec resource(std::string_view name, std::vector<u8> data);
ResourceSpec resource(std::vector<u8> name_bytes, std::vector<u8> data);

// A package: header length, data length, count, offset table, name table, data.
struct PackageSpec {
    std::vector<ResourceSpec> resources;
    u32 padding = 0;                    // zero bytes between the name table and the data
    std::optional<u32> header_length;   // default: counted to the data area
    std::optional<u32> data_length;     // default: total of the resource data
    std::optional<u32> count;           // default: number of resources
    std::optional<std::vector<u32>> offsets;  // default: resources laid end to end
};
std::vector<u8> encode_package(const PackageSpec& package);

// The single-package header: a header-length word, a free word and the form
// word 1, followed by one package. With the defaults the header also reads as
// a resource section to the archive scan.
struct SinglePackageSpec {
    PackageSpec package;
    u32 header_length = 8;
    std::optional<u32> free_word;  // default: the resource count
    u32 form = 1;
};
std::vector<u8> encode_single_package(const SinglePackageSpec& spec);

struct NamedPackageSpec {
    std::vector<u8> name;
    PackageSpec package;
};
NamedPackageSpec named_package(std::string_view name, PackageSpec package);

// A package directory listing the named packages, which follow it end to end,
// followed by `more_packages` (unlisted, but part of the run after the
// directory).
struct DirectorySpec {
    std::vector<NamedPackageSpec> named;
    std::vector<PackageSpec> more_packages;
    u32 padding = 0;                       // zero bytes after the entries, inside the directory
    std::optional<u32> directory_length;   // default: counted to the first package
    std::optional<u32> count;              // default: entries + 1
    std::vector<std::optional<u32>> entry_offsets;  // per-entry overrides, relative to the directory
};
std::vector<u8> encode_directory(const DirectorySpec& spec);

// ---- the container ----

inline constexpr std::array<u32, 5> kHeaderMarkerOffsets = {0, 12, 24, 36, 48};

// Where build() put things.
struct CbeLayout {
    u32 segment_header = 0;  // S = 68 + H
    u32 code_offset = 0;
    u32 init_data_offset = 0;
    u32 embedded_offset = 0;
    u32 resource_length_offset = 0;
    u32 resource_offset = 0;
};

struct BuiltCbe {
    std::vector<u8> bytes;
    CbeLayout layout;
};

struct CbeBuilder {
    // Fixed header values.
    u32 load_address = 0;
    u32 data_offset = 0;
    u32 data_address = 0;
    u32 data_size = 0;
    u32 header_gap = 0;  // H: extra uninterpreted bytes before the segment header
    u8 header_gap_fill = 0;

    bool big_endian = false;  // byte order of all three checksums
    std::vector<u8> code;
    std::vector<u8> init_data;
    std::vector<u8> embedded;
    std::vector<u8> resource_package;
    std::vector<u8> trailing;
    // Lengths of the five separators, in file order: before code, data,
    // embedded package, resource package length, resource package.
    std::array<u32, 5> separators = {8, 8, 8, 8, 8};

    // Overrides of what build() would write, for broken files.
    std::optional<u32> segment_header_offset;  // the H field at offset 56
    std::optional<u32> code_length, code_checksum;
    std::optional<u32> init_data_length, init_data_checksum;
    std::optional<u32> embedded_length, embedded_checksum;
    std::optional<u32> resource_length;
    std::optional<bool> init_data_big_endian;  // checksum order of that segment alone
    std::optional<bool> embedded_big_endian;

    // Applied last: single-byte patches, then truncation.
    std::vector<std::pair<size_t, u8>> patches;
    std::optional<size_t> truncate_to;

    CbeBuilder& patch(size_t offset, u8 value) {
        patches.emplace_back(offset, value);
        return *this;
    }

    BuiltCbe build_with_layout() const;
    std::vector<u8> build() const { return build_with_layout().bytes; }
};

}  // namespace tarvel::cbe_writer
