// Group 0 and the interface object request: how an application learns the
// stub addresses of every other service. Group 0 writes tables of stubs into
// memory the guest supplies or names prebuilt ones; the object request (made
// through the system entry) builds two objects on the guest heap whose words
// hold stubs and fixed entry addresses.

#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/service_groups.hpp"

namespace tarvel::machine::services {

namespace {

constexpr u32 kPrebuiltTablesBase = 0x0A000400;

u32 prebuilt_table(u32 group) { return kPrebuiltTablesBase + group * 0x400; }

// Group 0 rows whose even index fills a table of `count` stubs of `group` at r0
// and whose odd neighbour returns the prebuilt table of that group.
struct TableRow {
    u32 fill_index;
    u32 group;
    u32 count;
};
constexpr TableRow kTableRows[] = {
    {0, 5, 30},   {2, 4, 95},   {4, 7, 10},   {6, 8, 21},   {8, 2, 27},   {10, 12, 38}, {12, 14, 12},
    {14, 9, 43},  {16, 13, 11}, {18, 1, 115}, {20, 15, 256}, {22, 16, 24}, {24, 10, 40}, {26, 11, 0},
    {28, 17, 0},  {30, 18, 31}, {32, 3, 144}, {35, 19, 11}, {37, 6, 22},  {45, 20, 6},
};

}  // namespace

void interface_table_service(TarvelMachine& m, u32 index) {
    const u32 table = result(m);
    for (const TableRow& row : kTableRows) {
        if (index == row.fill_index) {
            if (table == 0) return set_result(m, 0);
            if (row.group == 11) {  // only entries 8 and 10
                m.memory.write32(table + 32, service_stub(11, 8));
                m.memory.write32(table + 40, service_stub(11, 10));
            } else if (row.group == 17) {  // only entry 60
                m.memory.write32(table + 240, service_stub(17, 60));
            } else {
                write_stub_table(m, table, row.group, row.count);
            }
            return set_result(m, table);
        }
        if (index == row.fill_index + 1) return set_result(m, prebuilt_table(row.group));
    }
    switch (index) {
        case 34:
            if (table != 0) write_stub_table(m, table, 0, 52);
            return set_result(m, 0);
        case 39:
            if (table != 0) write_stub_table(m, table, 22, 11);
            return;  // r0 unchanged
        case 42:
            if (table != 0) write_stub_table(m, table, 25, 20);
            return;
        case 44:
            if (table != 0) write_stub_table(m, table, 26, 12);
            return;
        case 49:
            if (table != 0) write_stub_table(m, table, 23, 38);
            return;
        case 40: return set_result(m, 0x0A0E0000);
        case 50: return set_result(m, 0x0A0E0400);
        case 51: return set_result(m, 0x0A0E0800);
        case 41: return set_result(m, 0x0A0E0C00);
        case 43: return set_result(m, 0x0A0E1000);
        default: return set_result(m, 0);
    }
}

void interface_object_request(TarvelMachine& m, u32 block) {
    GuestMemory& memory = m.memory;
    if (block == 0) return;
    const u32 output = memory.read32(block);
    const u32 object_id = memory.read32(block + 4);
    const u32 size = memory.read32(block + 8);
    if (output == 0 || size < 4) return;
    memory.write32(output, 0);
    switch (object_id) {
        case 142:
            if (m.interface_object_142 == 0) {
                m.interface_object_142 = m.heap.allocate(256);
                if (m.interface_object_142 != 0) memory.write32(m.interface_object_142 + 20, kSystemEntryThumb);
            }
            memory.write32(output, m.interface_object_142);
            return;
        case 143:
            if (m.interface_object_143 == 0) {
                const u32 object = m.heap.allocate(1024);
                m.interface_object_143 = object;
                if (object != 0) {
                    struct StubWord {
                        u32 offset;
                        u32 value;
                    };
                    const StubWord words[] = {
                        {36, service_stub(4, 9)},   {88, service_stub(4, 19)},  {112, service_stub(4, 5)},
                        {116, service_stub(4, 5)},  {120, service_stub(4, 6)},  {156, service_stub(2, 13)},
                        {160, service_stub(2, 14)}, {164, 0x0C00F108},          {168, 0x0C00F104},
                        {172, 0x0C00F100},          {176, 0x0C00F10C},          {180, 0x0C00F110},
                        {184, 0x0C00F114},          {240, kSystemEntryThumb},
                    };
                    for (const StubWord& w : words) memory.write32(object + w.offset, w.value);
                    for (u32 i = 0; i < 22; ++i) memory.write32(object + 524 + 4 * i, service_stub(6, i));
                }
            }
            memory.write32(output, m.interface_object_143);
            return;
        case 1050:
            memory.write32(output, 0xFFFFFFFF);
            return;
        default:
            return;
    }
}

}  // namespace tarvel::machine::services
