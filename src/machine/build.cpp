// Building a machine from a parsed archive: the guest regions, the code and
// initialized data, the resource collections, the interface tables the
// application finds in the system area, and the orientation for this file.

#include <algorithm>

#include "common/log.hpp"
#include "machine/machine.hpp"

namespace tarvel::machine {

namespace {

// The code region never exceeds what a save state can carry; a header asking
// for more is malformed (a real application is a few megabytes).
constexpr u64 kMaxCodeRegionSize = 0x04000000;

constexpr u32 kTableGroups = 27;    // prebuilt stub tables for groups 0..26
constexpr u32 kTableEntries = 256;  // one per index

struct FixedBlock {
    u32 table;
    u32 group;
    u32 count;
};
constexpr FixedBlock kFixedBlocks[] = {
    {0x0A0E0000, 22, 11}, {0x0A0E0400, 23, 38}, {0x0A0E0800, 24, 16},
    {0x0A0E0C00, 25, 20}, {0x0A0E1000, 26, 12}, {0x0A0E1400, 28, 40},
};

Status copy_segment(GuestMemory& memory, std::span<const u8> file, u32 offset, u32 length, u32 address,
                    const char* what) {
    if (u64{offset} + length > file.size())
        return Error::format("{} segment at file offset {} with {} bytes lies outside the file", what, offset, length);
    // The range must lie in one region even when it is empty: a data base
    // outside guest memory is refused whether or not data is copied there.
    if (!memory.find_region(address, length) || !memory.write_bytes(address, file.subspan(offset, length)))
        return Error("load address is not mapped");
    return {};
}

void write_interface_tables(TarvelMachine& m) {
    GuestMemory& memory = m.memory;
    for (u32 g = 0; g < kTableGroups; ++g)
        for (u32 i = 0; i < kTableEntries; ++i) memory.write32(0x0A000400 + g * 0x400 + i * 4, service_stub(g, i));
    memory.write32(0x0A000008, 0x0A000400);
    memory.write32(0x0A00000C, 0x0C0FFFFC);
    memory.write32(0x0A000010, 0x0A009000);
    for (const FixedBlock& block : kFixedBlocks)
        for (u32 i = 0; i < block.count; ++i) memory.write32(block.table + 4 * i, service_stub(block.group, i));

    memory.write32(kScreenSurfaceRecord, kScreenBuffer);
    memory.write16(kScreenSurfaceRecord + 4, kScreenWidth);
    memory.write16(kScreenSurfaceRecord + 6, kScreenHeight);
    memory.write16(kScreenSurfaceRecord + 8, kScreenWidth);

    // Big-endian files laid out with their data apart from the code look for
    // the interface request entries in a second table of their own.
    const cbe::CbeExecutable& exe = m.executable;
    if (exe.big_endian == 1 && exe.load_address != 0 && exe.data_offset > exe.code_length) {
        for (u32 k = 0; k <= 16; ++k) memory.write32(0x0A00A000 + 8 * k, 0x0C00E000 + 4 * k);
        memory.write32(0x0A00A08C, 0x0C00E044);
        memory.write32(0x0A000008, 0x0A00A000);
    }
}

}  // namespace

std::span<const u8> TarvelMachine::screen_bytes() const {
    const u8* view = memory.host_read_view(kScreenBuffer, kScreenBufferBytes);
    return view ? std::span<const u8>(view, kScreenBufferBytes) : std::span<const u8>();
}

Result<TarvelMachine> build_machine(const cbe::CbeArchive& archive) {
    TarvelMachine m;
    m.executable = archive.executable;
    const cbe::CbeExecutable& exe = m.executable;
    const std::span<const u8> file(archive.bytes);

    m.code_base = exe.load_address != 0 ? exe.load_address : kDefaultCodeBase;
    m.data_base = exe.load_address != 0 ? exe.data_address : kDefaultCodeBase + exe.data_offset;
    const u64 data_end = std::min<u64>(u64{exe.data_offset} + exe.data_size, 0xFFFFFFFFu);
    const u64 code_region_size = (std::max<u64>(data_end, exe.code_length) + 4095) & ~u64{4095};
    if (code_region_size > kMaxCodeRegionSize)
        return Error::format("code region of {} bytes exceeds the limit of {} bytes", code_region_size, kMaxCodeRegionSize);
    if (u64{m.code_base} + code_region_size > 0x100000000ull) return Error("load address is not mapped");

    m.memory.set_big_endian(exe.big_endian != 0);
    m.memory.add_region(m.code_base, static_cast<u32>(code_region_size));
    m.memory.add_region(kStackBase, kStackSize);
    m.memory.add_region(kRamBase, kRamSize);
    m.memory.add_region(kSystemAreaBase, kSystemAreaSize);
    m.memory.add_region(kTrapAreaBase, kTrapAreaSize);

    TARVEL_TRY(copy_segment(m.memory, file, exe.code_offset, exe.code_length, m.code_base, "code"));
    TARVEL_TRY(copy_segment(m.memory, file, exe.init_data_offset, exe.init_data_length, m.data_base, "initialized data"));

    // A new register file is in Supervisor mode, ARM state, interrupts off, all
    // registers zero; the heap starts empty at the bottom of RAM.
    m.run_state = RunState::Created;
    m.resources = archive.resources;
    write_interface_tables(m);
    m.memory.clear_unmapped_accesses();
    return m;
}

}  // namespace tarvel::machine
