#pragma once
// A machine for the string library tests: built from a small CBE file in
// either byte order, with a read-only region added at kReadOnly so writes into
// one can be tried, and helpers to place and read back guest strings and to
// call a service with register and stack arguments.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "cbe/archive.hpp"
#include "cbe_writer/cbe_writer.hpp"
#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"

namespace tarvel::machine::strings_test {

inline constexpr u32 kStringGroup = 6;
inline constexpr u32 kWideGroup = 13;

inline constexpr u32 kBuffer = 0x05100000;   // heap RAM, free for the tests
inline constexpr u32 kOther = 0x05200000;    // a second buffer far from the first
inline constexpr u32 kUnmapped = 0x03000000; // between the stack and RAM
inline constexpr u32 kReadOnly = 0x30000000;
inline constexpr u32 kReadOnlySize = 0x1000;
inline constexpr u32 kTestStack = kStackTop - 0x400;

inline TarvelMachine make_machine(bool big_endian = false) {
    cbe_writer::CbeBuilder b;
    b.load_address = 0x01000000;
    b.code = {0xC0, 0x46, 0xC0, 0x46};
    b.data_offset = 0x100;
    b.data_address = b.load_address + b.data_offset;
    b.data_size = 0x40;
    b.big_endian = big_endian;
    b.resource_package = cbe_writer::encode_single_package(cbe_writer::SinglePackageSpec{});
    auto archive = cbe::parse_archive(b.build());
    EXPECT_TRUE(archive.ok()) << (archive.ok() ? "" : archive.error().to_string());
    auto built = build_machine(archive.value());
    EXPECT_TRUE(built.ok()) << (built.ok() ? "" : built.error().to_string());
    TarvelMachine m = std::move(built).value();
    m.memory.add_region(kReadOnly, kReadOnlySize, /*read_only=*/true);
    return m;
}

// Calls service (group, index) as the dispatcher does: r0..r3 from the first
// four arguments, the rest as words at SP, SP + 4, ...
inline u32 call(TarvelMachine& m, u32 group, u32 index, std::initializer_list<u32> args = {}) {
    auto& r = m.cpu.regs.r;
    for (int i = 0; i < 4; ++i) r[i] = 0;
    r[13] = kTestStack;
    unsigned n = 0;
    for (u32 value : args) {
        if (n < 4) r[n] = value;
        else m.memory.write32(kTestStack + 4 * (n - 4), value);
        ++n;
    }
    services::dispatch_service(m, group, index);
    return r[0];
}

// Places the bytes of `text` followed by a NUL.
inline void put(TarvelMachine& m, u32 address, std::string_view text) {
    std::vector<u8> bytes(text.begin(), text.end());
    bytes.push_back(0);
    ASSERT_TRUE(m.memory.write_bytes(address, bytes));
}

inline std::string bytes_at(TarvelMachine& m, u32 address, u32 length) {
    auto bytes = m.memory.read_bytes(address, length);
    EXPECT_TRUE(bytes.has_value());
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

// Places 16-bit units in guest byte order followed by a 0 unit.
inline void put_units(TarvelMachine& m, u32 address, std::u16string_view units) {
    for (size_t i = 0; i < units.size(); ++i) m.memory.write16(address + 2 * static_cast<u32>(i), units[i]);
    m.memory.write16(address + 2 * static_cast<u32>(units.size()), 0);
}

inline std::u16string units_at(TarvelMachine& m, u32 address, u32 count) {
    std::u16string out;
    for (u32 i = 0; i < count; ++i) out.push_back(static_cast<char16_t>(m.memory.read16(address + 2 * i)));
    return out;
}

inline bool recorded(const TarvelMachine& m, u32 address) { return m.memory.unmapped_accesses().count(address) != 0; }

inline i32 as_signed(u32 value) { return static_cast<i32>(value); }

}  // namespace tarvel::machine::strings_test
