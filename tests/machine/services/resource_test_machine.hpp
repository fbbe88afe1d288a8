#pragma once
// Machines for the resource and utility service tests: built from a CBE file
// that the writer library assembles around a chosen resource package, with
// helpers to call a service handler with its registers set and to place
// guest strings on the heap.

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cbe/archive.hpp"
#include "cbe_writer/cbe_writer.hpp"
#include "support/log_capture.hpp"
#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"
#include "memory/guest_strings.hpp"

namespace tarvel::machine::services::testing {

inline std::vector<u8> bytes_of(std::string_view text) { return std::vector<u8>(text.begin(), text.end()); }

// A machine whose file carries `resource_package` as its resource package.
inline TarvelMachine machine_with_package(std::vector<u8> resource_package, bool big_endian = false) {
    cbe_writer::CbeBuilder b;
    b.load_address = 0x01000000;
    b.data_offset = 0x100;
    b.data_address = 0x01000100;
    b.data_size = 0x40;
    b.big_endian = big_endian;
    b.code = {0xC0, 0x46, 0xC0, 0x46, 0xC0, 0x46, 0xC0, 0x46};
    b.init_data = {1, 2, 3, 4};
    b.embedded = {5, 6, 7, 8};
    b.resource_package = std::move(resource_package);
    auto archive = cbe::parse_archive(b.build());
    EXPECT_TRUE(archive.ok()) << (archive.ok() ? "" : archive.error().to_string());
    auto built = build_machine(archive.value());
    EXPECT_TRUE(built.ok()) << (built.ok() ? "" : built.error().to_string());
    EXPECT_EQ(built.value().big_endian(), big_endian);
    return std::move(built).value();
}

inline cbe_writer::PackageSpec package_of(std::vector<cbe_writer::ResourceSpec> resources) {
    cbe_writer::PackageSpec p;
    p.resources = std::move(resources);
    return p;
}

// A machine whose main resource table is `resources`, stored in the single-package form.
inline TarvelMachine machine_with_resources(std::vector<cbe_writer::ResourceSpec> resources,
                                            bool big_endian = false) {
    cbe_writer::SinglePackageSpec spec;
    spec.package = package_of(std::move(resources));
    return machine_with_package(cbe_writer::encode_single_package(spec), big_endian);
}

// Runs `handler` for `index` with r0..r3 set and returns r0.
inline u32 call(TarvelMachine& m, ServiceHandler handler, u32 index, u32 r0 = 0, u32 r1 = 0, u32 r2 = 0,
                u32 r3 = 0) {
    auto& r = m.cpu.regs.r;
    r[0] = r0;
    r[1] = r1;
    r[2] = r2;
    r[3] = r3;
    handler(m, index);
    return r[0];
}

// Copies `bytes` and a NUL into a fresh heap block; returns its address.
inline u32 put_string(TarvelMachine& m, std::span<const u8> bytes) {
    const u32 block = m.heap.allocate(static_cast<u32>(bytes.size() + 1));
    EXPECT_NE(block, 0u);
    m.memory.write_bytes(block, bytes);
    m.memory.write8(block + static_cast<u32>(bytes.size()), 0);
    return block;
}
inline u32 put_string(TarvelMachine& m, std::string_view text) { return put_string(m, bytes_of(text)); }

// The NUL-terminated bytes at `address` (at most 4096).
inline std::string guest_cstring(TarvelMachine& m, u32 address) { return read_byte_string(m.memory, address, 4096); }

}  // namespace tarvel::machine::services::testing
