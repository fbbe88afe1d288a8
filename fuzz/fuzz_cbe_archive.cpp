// Any byte string parses to an archive or an error, never a crash or a read
// outside the buffer. Random bytes rarely get past the header markers, so the
// first input byte may also pick a well-formed file built in code, which the
// remaining bytes then overwrite at chosen places: that reaches the segment
// search, the package forms and the archive scan.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cbe/archive.hpp"
#include "common/text_encoding.hpp"
#include "cbe_writer/cbe_writer.hpp"
#include "common/log.hpp"

namespace {

using namespace tarvel;

void discard(log::Level, std::string_view, std::string_view) {}

std::vector<u8> base_file(u8 form) {
    cbe_writer::CbeBuilder b;
    b.code = {0xFE, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    b.init_data = {0x10, 0x20, 0x30, 0x40};
    b.big_endian = form & 1;
    std::vector<cbe_writer::ResourceSpec> resources = {cbe_writer::resource("a.png", {1, 2, 3}),
                                                       cbe_writer::resource({0xFF, 0xFE, 0x41, 0x00}, {4}),
                                                       cbe_writer::resource({0xC4, 0xE3}, {})};
    if (form & 2) {
        cbe_writer::DirectorySpec dir;
        cbe_writer::PackageSpec package;
        package.resources = resources;
        dir.named.push_back(cbe_writer::named_package("one", package));
        dir.named.push_back(cbe_writer::named_package("two", package));
        b.resource_package = cbe_writer::encode_directory(dir);
    } else {
        cbe_writer::SinglePackageSpec single;
        single.package.resources = resources;
        b.resource_package = cbe_writer::encode_single_package(single);
    }
    return b.build();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    log::set_sink(&discard);
    log::set_filter(log::Level::Trace);  // format every line too
    log::set_debug_flag(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::vector<u8> file;
    const u8 mode = data[0];
    if (mode < 0x80) {
        file.assign(data + 1, data + size);
    } else {
        // Edits: (position, value) pairs, then an optional length cut.
        file = base_file(mode);
        size_t i = 1;
        for (; i + 2 < size; i += 3) {
            const size_t at = (static_cast<size_t>(data[i]) << 8 | data[i + 1]) % file.size();
            file[at] = data[i + 2];
        }
        if (i < size && (mode & 4)) file.resize(data[i] * file.size() / 256);
    }

    auto archive = cbe::parse_archive(file);
    if (archive.ok()) {
        const auto& exe = archive->executable;
        // What the parser hands on must describe bytes inside the file.
        if (static_cast<uint64_t>(exe.code_offset) + exe.code_length > file.size()) __builtin_trap();
        if (static_cast<uint64_t>(exe.init_data_offset) + exe.init_data_length > file.size()) __builtin_trap();
        if (static_cast<uint64_t>(exe.embedded_offset) + exe.embedded_length > file.size()) __builtin_trap();
        if (static_cast<uint64_t>(exe.resource_offset) + exe.resource_length > file.size()) __builtin_trap();
    }
    // Scan and name decoding on the raw bytes as well, whatever the container said.
    (void)cbe::scan_sections(file);
    (void)decode_marked_text(std::span<const u8>(data, std::min<size_t>(size, 255)));
    return 0;
}
