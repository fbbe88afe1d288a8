#pragma once
// The string library tests' machine: the shared test machine in either byte
// order with a read-only region added at kReadOnly so writes into one can be
// tried, and helpers to place and read back narrow and wide guest strings.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "machine/machine.hpp"
#include "support/test_machine.hpp"

namespace tarvel::machine::strings_test {

inline constexpr u32 kStringGroup = 6;
inline constexpr u32 kWideGroup = 13;

inline constexpr u32 kBuffer = 0x05100000;   // heap RAM, free for the tests
inline constexpr u32 kOther = 0x05200000;    // a second buffer far from the first
inline constexpr u32 kUnmapped = 0x03000000; // between the stack and RAM
inline constexpr u32 kReadOnly = 0x30000000;
inline constexpr u32 kReadOnlySize = 0x1000;
using test::call;
using test::kTestStack;

// A small machine in either byte order with a read-only region at kReadOnly.
inline TarvelMachine make_machine(bool big_endian = false) {
    TarvelMachine m = test::make_machine(test::MachineSpec{.big_endian = big_endian});
    m.memory.add_region(kReadOnly, kReadOnlySize, /*read_only=*/true);
    return m;
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
