#pragma once
// The resource collections a CBE file carries in its resource package: the main
// resource table and the named packages. Both are owned copies of the file
// bytes, so they outlive the file buffer and can be saved field by field.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/bytes.hpp"

namespace tarvel::cbe {

struct CbeExecutable;

// One entry of a resource table. `name` is UTF-8 text decoded from the stored
// name bytes (malformed sequences replaced by U+FFFD).
struct Resource {
    std::string name;
    std::vector<u8> data;

    bool operator==(const Resource&) const = default;
};

// Resources in file order.
using ResourceTable = std::vector<Resource>;

struct NamedPackage {
    std::string name;
    ResourceTable resources;

    bool operator==(const NamedPackage&) const = default;
};

// A resource located by the archive scan, not yet copied out of the file.
// Offset and size are kept wide: the scan does not check them against the file.
struct SectionResource {
    std::string name;
    u64 offset = 0;  // absolute file offset
    u64 size = 0;

    bool operator==(const SectionResource&) const = default;
};

// A resource section found by the archive scan. `signature_offset` is where its
// eight 0xFE bytes start; the marker word follows them.
struct Section {
    u32 signature_offset = 0;
    u32 marker = 0;  // 8: resource section, 4: native section
    std::vector<SectionResource> resources;

    bool operator==(const Section&) const = default;
};

using SectionList = std::vector<Section>;

struct ResourceCollections {
    ResourceTable main_table;
    std::vector<NamedPackage> named_packages;

    bool operator==(const ResourceCollections&) const = default;
};

// A package parsed at some offset: its resources and the offset just past its data.
struct ParsedPackage {
    ResourceTable resources;
    u32 end = 0;
};

// Scans the whole file for resource sections, logging what it finds under the
// target tarvel_core::cbe::archive. Never fails; malformed sections are dropped.
SectionList scan_sections(std::span<const u8> file);

// Where the main resource table came from.
enum class MainTableSource : u8 { SinglePackage, PackageRun, SectionScan, None };

// Builds the main resource table and the named packages from the resource
// package the executable record points at. Never fails: a form that does not
// parse leaves its collection empty. `source`, when given, receives which
// form filled the main table.
ResourceCollections build_resource_collections(std::span<const u8> file, const CbeExecutable& executable,
                                               const SectionList& sections, MainTableSource* source = nullptr);

// The package rules at offset q, with the package required to end at or before
// `limit` (at most the file length). Empty when the bytes at q are not a valid
// package.
std::optional<ParsedPackage> parse_package(std::span<const u8> file, u64 q, u64 limit);

}  // namespace tarvel::cbe
