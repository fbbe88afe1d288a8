// The wide-string library (group 13): strings of 16-bit units in the guest's
// byte order, up to a 0 unit. Lengths and counts are in units. Reads stop at
// 32768 units where the platform says so; the bounded copy takes its count as
// given and is bounded by backed memory (unbacked units read as 0 and so end
// the source; unbacked or read-only destination stretches are skipped whole).
//
// Copies move the units' bytes as they are: a unit is stored in guest byte
// order at both ends, so no swapping is needed, and a copy works a stretch of
// memory at a time. Like every range here they end at the top of the address
// space instead of wrapping to 0 (string_memory.hpp).
//
// Indices 2, 5 and 6 answer 0: what the platform's applications expect of them
// is not known, and a guessed routine that writes would damage guest memory
// where answering 0 only returns nothing.

#include <algorithm>
#include <string>

#include "memory/guest_strings.hpp"
#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/service_groups.hpp"
#include "machine/services/string_memory.hpp"

namespace tarvel::machine::services {
namespace {

constexpr u64 kAddressSpaceEnd = u64{1} << 32;

u32 arg(TarvelMachine& m, unsigned n) { return service_arg(m, n); }

// The unit at `at` in guest byte order. An unbacked unit, or one that runs past
// the top of the address space, reads as 0; it is reported when it starts below
// the top (guest_strings.hpp has the rule).
u16 read_unit(GuestMemory& memory, u64 at) {
    if (at + 2 > kAddressSpaceEnd) {
        if (at < kAddressSpaceEnd) memory.record_unmapped(static_cast<u32>(at));
        return 0;
    }
    return memory.read16(static_cast<u32>(at));
}

// Units before the first 0 unit at `address`, at most `limit`.
u32 wide_length(GuestMemory& memory, u32 address, u32 limit) {
    return static_cast<u32>(read_wide_units(memory, address, limit).size());
}

// Zero units are the same bytes in either byte order, so a byte fill writes them.
void write_zero_units(GuestMemory& memory, u64 address, u64 units) { fill_guest_bytes(memory, address, 0, 2 * units); }

// Copies `units` units and then writes a 0 unit after them.
void copy_and_terminate(GuestMemory& memory, u64 destination, u32 source, u32 units) {
    copy_guest_bytes(memory, destination, source, u64{units} * 2);
    write_zero_units(memory, destination + u64{units} * 2, 1);
}

// Copy: the source's units and its 0 unit. A source with no 0 unit in the
// first 32768 gets those 32768 copied and a 0 unit written after them, so the
// copy is always terminated.
void copy(TarvelMachine& m) {
    const u32 source = arg(m, 1);
    copy_and_terminate(m.memory, arg(m, 0), source, wide_length(m.memory, source, kWideStringLimit));
}

// Bounded copy: units up to and including the source's 0 unit, at most n; the
// rest of the n units become 0.
void bounded_copy(TarvelMachine& m) {
    const u32 destination = arg(m, 0), source = arg(m, 1), n = arg(m, 2);
    const u32 length = wide_length(m.memory, source, n);
    copy_guest_bytes(m.memory, destination, source, u64{length} * 2);
    write_zero_units(m.memory, u64{destination} + u64{length} * 2, u64{n} - length);
}

// A byte string (at most 32768 bytes; byte-order mark or GBK, as every narrow
// string the services read) written as UTF-16 units followed by a 0 unit.
void convert_to_utf16(TarvelMachine& m) {
    const std::u16string units = to_utf16(read_narrow_string(m.memory, arg(m, 1), kWideStringLimit));
    std::string bytes(units.size() * 2, '\0');
    for (size_t i = 0; i < units.size(); ++i)
        store16(reinterpret_cast<u8*>(bytes.data()) + 2 * i, units[i], m.big_endian());
    const u32 destination = arg(m, 0);
    write_guest_bytes(m.memory, destination, std::span(reinterpret_cast<const u8*>(bytes.data()), bytes.size()));
    write_zero_units(m.memory, u64{destination} + bytes.size(), 1);
}

u32 find_unit(TarvelMachine& m) {
    const u32 string = arg(m, 0);
    const u16 wanted = static_cast<u16>(arg(m, 1));
    for (u64 i = 0; i < kWideStringLimit; ++i) {
        const u64 at = u64{string} + 2 * i;
        const u16 unit = read_unit(m.memory, at);
        if (unit == wanted) return static_cast<u32>(at);
        if (unit == 0) return 0;
    }
    return 0;
}

u16 fold_unit(u16 unit, bool ignore_case) {
    return ignore_case && unit >= 'a' && unit <= 'z' ? static_cast<u16>(unit - 'a' + 'A') : unit;
}

u32 compare(TarvelMachine& m, u64 limit, bool ignore_case) {
    const u32 a = arg(m, 0), b = arg(m, 1);
    for (u64 i = 0; i < limit; ++i) {
        const u16 x = fold_unit(read_unit(m.memory, u64{a} + 2 * i), ignore_case);
        const u16 y = fold_unit(read_unit(m.memory, u64{b} + 2 * i), ignore_case);
        if (x != y) return static_cast<u32>(static_cast<i32>(x) - static_cast<i32>(y));
        if (x == 0) return 0;
    }
    return 0;
}

}  // namespace

void wide_string_service(TarvelMachine& m, u32 index) {
    switch (index) {
        case 0: return set_result(m, wide_length(m.memory, arg(m, 0), kWideStringLimit));
        case 1: copy(m); return;  // r0 unchanged
        case 3: convert_to_utf16(m); return;
        case 4: bounded_copy(m); return;
        case 7: return set_result(m, find_unit(m));
        case 8: return set_result(m, compare(m, kWideStringLimit, false));
        case 9: return set_result(m, compare(m, kWideStringLimit, true));
        case 10: return set_result(m, compare(m, std::min<u64>(arg(m, 2), kWideStringLimit), false));
        default: return set_result(m, 0);
    }
}

}  // namespace tarvel::machine::services
