#pragma once
// The CBE archive: the whole file held in memory, the container record found in
// it, and the resource collections taken from its resource package.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cbe/packages.hpp"
#include "common/bytes.hpp"
#include "common/error.hpp"

namespace tarvel::cbe {

// Where the payload of a CBE file lies. The four header values are kept exactly
// as read; the default base for a zero `load_address` is applied by the machine.
struct CbeExecutable {
    u32 load_address = 0;      // guest address of the code; 0 selects the default base
    u32 data_offset = 0;       // offset of the data area from the code base
    u32 data_address = 0;      // guest address of the initialized data (when load_address != 0)
    u32 data_size = 0;         // size of the data area
    u32 code_offset = 0;       // file offsets and lengths of the payload segments
    u32 code_length = 0;
    u32 init_data_offset = 0;
    u32 init_data_length = 0;
    u32 embedded_offset = 0;
    u32 embedded_length = 0;
    u32 resource_offset = 0;
    u32 resource_length = 0;
    u8 big_endian = 0;  // guest byte order picked by the code checksum: 1 = big-endian

    bool operator==(const CbeExecutable&) const = default;
};

// The loaded file and everything parsed from it. Kept by the frontend binding
// for resets; the machine copies the resource collections when it is built.
struct CbeArchive {
    std::vector<u8> bytes;
    CbeExecutable executable;
    SectionList sections;           // archive scan result (fallback for the main table)
    ResourceCollections resources;  // main resource table and named packages
};

// Parses the container alone. Errors carry one message naming what is wrong.
Result<CbeExecutable> parse_executable(std::span<const u8> file);

// Logs the file size, scans for resource sections (logging what it finds),
// then parses the container and builds the resource collections. Fails only
// when the container is malformed, with the container's single message;
// problems inside the resource package leave collections empty instead.
Result<CbeArchive> parse_archive(std::vector<u8> bytes);

// Reads the file at `path` (logging "Loading CBE archive: {path}") and parses it.
// A read failure is "Failed to read CBE file: {path}" with the operating
// system's error as its cause.
Result<CbeArchive> load_archive(const std::string& path);

}  // namespace tarvel::cbe
