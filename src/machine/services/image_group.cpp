// Group 3: images and image resources, colour packing, hit tests, the input
// state words, decode streams, the drawing helper objects, and the resource
// calls it shares with the utility group.

#include "machine/drawing.hpp"
#include "machine/machine.hpp"
#include "machine/services/data.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/memory_blocks.hpp"
#include "machine/services/service_groups.hpp"
#include "machine/services/utility.hpp"

namespace tarvel::machine::services {

namespace {

// Indices 81..88 are the utility group's resource calls under other numbers.
constexpr u32 kFirstResourceAlias = 81;
constexpr u32 kLastResourceAlias = 88;

i32 low16(u32 value) { return static_cast<i16>(static_cast<u16>(value)); }

// Some entries are only wired up for big-endian files laid out with their
// data apart from the code; for every other file they answer 0.
bool split_big_endian_layout(const TarvelMachine& m) {
    const cbe::CbeExecutable& exe = m.executable;
    return exe.big_endian == 1 && exe.load_address != 0 && exe.data_offset > exe.code_length;
}

bool needs_split_big_endian_layout(u32 index) {
    switch (index) {
        case 1: case 2: case 15: case 16: case 17: case 75: case 79: return true;
        default: return false;
    }
}

// 3.0: the resource number becomes the guest address of its bytes (through
// the guest's resource directory, else the copy the data service placed),
// which is then loaded as a guest stream.
u32 load_image_by_number(TarvelMachine& m, u32 number) {
    const u32 address = resource_data_address(m, number);
    return address == 0 ? 0 : load_image_from_stream(m, address, 0);
}

u32 flag(bool value) { return value ? 1 : 0; }

}  // namespace

void image_service(TarvelMachine& m, u32 index) {
    if (needs_split_big_endian_layout(index) && !split_big_endian_layout(m)) return set_result(m, 0);
    if (index >= kFirstResourceAlias && index <= kLastResourceAlias)
        return utility_alias_from_group3(m, index);
    const PointerState& pointer = m.input.pointer;
    switch (index) {
        case 0: return set_result(m, load_image_by_number(m, service_arg(m, 0)));
        case 1: case 2:
            blit(m.memory, BlitRequest{kScreenSurfaceRecord, service_arg(m, 0), low16(service_arg(m, 1)),
                                       service_arg_i32(m, 2), service_arg_i32(m, 3), service_arg_i32(m, 4),
                                       service_arg_i32(m, 5), service_arg_i32(m, 6), index == 2});
            return set_result(m, 0);
        case 11: return set_result(m, flag(service_arg(m, 0) & m.input.newly_pressed_mask));
        case 12: return set_result(m, flag(service_arg(m, 0) & m.delivered_held_key_mask));
        case 15: case 16: {
            const u32 record = service_arg(m, 0);
            if (record == 0) return set_result(m, 0);
            const ImageRecord image = read_image_record(m.memory, record);
            return set_result(m, index == 15 ? image.height : image.width);
        }
        case 17: {
            const u32 red = service_arg(m, 0), green = service_arg(m, 1), blue = service_arg(m, 2);
            return set_result(m, ((red << 8) & 0xF800) | ((green & 0xFC) << 3) | ((blue >> 3) & 0x1F));
        }
        case 23: return set_result(m, decode_stream(m, service_arg(m, 0)));
        case 50: {
            const i32 left = low16(service_arg(m, 0)), top = low16(service_arg(m, 1));
            const i32 right = low16(service_arg(m, 2)), bottom = low16(service_arg(m, 3));
            const i32 x = low16(service_arg(m, 4)), y = low16(service_arg(m, 5));
            return set_result(m, flag(left <= x && x <= right && top <= y && y <= bottom));
        }
        case 58: return arena_init(m, service_arg(m, 0), service_arg(m, 1));  // r0 stays the record
        case 62: return set_result(m, flag(pointer.down));
        case 63: return set_result(m, flag(pointer.pressed));
        case 64: return set_result(m, flag(pointer.released));
        case 65:
            return set_result(m, flag(pointer.down && (pointer.x != pointer.press_x || pointer.y != pointer.press_y)));
        case 66: return set_result(m, pointer.x);
        case 67: return set_result(m, pointer.y);
        case 68: return set_result(m, m.input.newly_pressed_mask);
        case 75: return set_result(m, flag(build_drawing_context(m, service_arg(m, 0), service_arg(m, 1) & 0xFFFF)));
        case 79: {
            const SlotListArguments arguments{service_arg(m, 1), service_arg(m, 2), service_arg(m, 3),
                                              service_arg(m, 4), service_arg(m, 5)};
            return set_result(m, flag(build_slot_list(m, service_arg(m, 0), arguments)));
        }
        default: return set_result(m, 0);
    }
}

}  // namespace tarvel::machine::services
