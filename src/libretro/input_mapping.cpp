#include "libretro/input_mapping.hpp"

#include <algorithm>
#include <array>
#include <map>
#include <utility>
#include <vector>

#include "libretro/presentation.hpp"
#include "machine/screen.hpp"

namespace tarvel::libretro {

namespace {

using machine::key_bit;
using machine::KeyEvent;

constexpr unsigned kPort = 0;
// A stick counts as pushed only past a quarter of its travel.
constexpr int kStickThreshold = 0x4000;

// Keys are compared in this order each frame, so simultaneous changes always
// reach the application in the same sequence.
constexpr std::array<u8, 21> kKeyWalkOrder = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 13, 14, 15, 16, 17, 18, 19, 20, 10, 11};

struct KeyboardBinding {
    unsigned retro_key;
    u8 key_code;
};

constexpr std::array<KeyboardBinding, 24> kKeyboard = {{
    {RETROK_0, 0}, {RETROK_1, 1}, {RETROK_2, 2}, {RETROK_3, 3}, {RETROK_4, 4},
    {RETROK_5, 5}, {RETROK_6, 6}, {RETROK_7, 7}, {RETROK_8, 8}, {RETROK_9, 9},
    {RETROK_q, machine::kKeyLeftSoft}, {RETROK_e, machine::kKeyRightSoft},
    {RETROK_RETURN, machine::kKeyConfirm}, {RETROK_f, machine::kKeyConfirm},
    {RETROK_LEFT, machine::kKeyLeft}, {RETROK_a, machine::kKeyLeft},
    {RETROK_RIGHT, machine::kKeyRight}, {RETROK_d, machine::kKeyRight},
    {RETROK_UP, machine::kKeyUp}, {RETROK_w, machine::kKeyUp},
    {RETROK_DOWN, machine::kKeyDown}, {RETROK_s, machine::kKeyDown},
    {RETROK_n, machine::kKeyStar}, {RETROK_m, machine::kKeyHash},
}};

i16 read_input(retro_input_state_t read, unsigned device, unsigned index, unsigned id) {
    return read ? read(kPort, device, index, id) : 0;
}

bool joypad(retro_input_state_t read, unsigned id) { return read_input(read, RETRO_DEVICE_JOYPAD, 0, id) != 0; }

struct Directions {
    bool up = false, down = false, left = false, right = false;
};

Directions read_directions(retro_input_state_t read, const PadClaims& claims) {
    Directions d;
    for (unsigned stick : {RETRO_DEVICE_INDEX_ANALOG_LEFT, RETRO_DEVICE_INDEX_ANALOG_RIGHT}) {
        if (stick == RETRO_DEVICE_INDEX_ANALOG_RIGHT && claims.right_stick) continue;
        const int x = read_input(read, RETRO_DEVICE_ANALOG, stick, RETRO_DEVICE_ID_ANALOG_X);
        const int y = read_input(read, RETRO_DEVICE_ANALOG, stick, RETRO_DEVICE_ID_ANALOG_Y);
        d.up |= y < -kStickThreshold;
        d.down |= y > kStickThreshold;
        d.left |= x < -kStickThreshold;
        d.right |= x > kStickThreshold;
    }
    d.up |= joypad(read, RETRO_DEVICE_ID_JOYPAD_UP);
    d.down |= joypad(read, RETRO_DEVICE_ID_JOYPAD_DOWN);
    d.left |= joypad(read, RETRO_DEVICE_ID_JOYPAD_LEFT);
    d.right |= joypad(read, RETRO_DEVICE_ID_JOYPAD_RIGHT);
    return d;
}

u32 bit_if(bool held, u32 key_code) { return held ? key_bit(key_code) : 0; }

u32 read_joypad_keys(retro_input_state_t read, const PadClaims& claims) {
    const Directions d = read_directions(read, claims);
    const bool a = joypad(read, RETRO_DEVICE_ID_JOYPAD_A);
    const bool b = joypad(read, RETRO_DEVICE_ID_JOYPAD_B);
    const bool x = joypad(read, RETRO_DEVICE_ID_JOYPAD_X);
    const bool y = joypad(read, RETRO_DEVICE_ID_JOYPAD_Y);
    const bool start = joypad(read, RETRO_DEVICE_ID_JOYPAD_START);
    const bool l = joypad(read, RETRO_DEVICE_ID_JOYPAD_L);
    const bool r = joypad(read, RETRO_DEVICE_ID_JOYPAD_R);

    if (joypad(read, RETRO_DEVICE_ID_JOYPAD_SELECT)) {
        // SELECT turns the pad into a digit pad; the usual keys get nothing.
        return bit_if(d.up, 1) | bit_if(d.down, 2) | bit_if(d.left, 3) | bit_if(d.right, 4) | bit_if(a, 5) |
               bit_if(b, 6) | bit_if(x, 7) | bit_if(y, 8) | bit_if(start, 9) | bit_if(l || r, 0);
    }
    const bool l2 = joypad(read, RETRO_DEVICE_ID_JOYPAD_L2) && claims.button != RETRO_DEVICE_ID_JOYPAD_L2;
    const bool r2 = joypad(read, RETRO_DEVICE_ID_JOYPAD_R2) && claims.button != RETRO_DEVICE_ID_JOYPAD_R2;
    return bit_if(d.up, machine::kKeyUp) | bit_if(d.down, machine::kKeyDown) | bit_if(d.left, machine::kKeyLeft) |
           bit_if(d.right, machine::kKeyRight) | bit_if(a || b || start, machine::kKeyConfirm) |
           bit_if(x || l, machine::kKeyLeftSoft) | bit_if(y || r, machine::kKeyRightSoft) |
           bit_if(l2, machine::kKeyStar) | bit_if(r2, machine::kKeyHash);
}

u32 read_keyboard_keys(retro_input_state_t read) {
    u32 keys = 0;
    for (const KeyboardBinding& binding : kKeyboard) {
        if (read_input(read, RETRO_DEVICE_KEYBOARD, 0, binding.retro_key) != 0) keys |= key_bit(binding.key_code);
    }
    return keys;
}

// One axis of the presented frame: -0x7FFF..0x7FFF onto 0..size-1. The sum is
// formed in wrapping 32-bit arithmetic, so the off-screen value -0x8000 lands
// on 0 instead of far beyond the edge.
u32 scale_axis(i16 value, u32 size) {
    const u32 shifted = static_cast<u32>(static_cast<i32>(value)) + 0x7FFFu;
    const u32 scaled = (shifted * size + 0x7FFFu) / 0xFFFFu;
    return scaled < size - 1 ? scaled : size - 1;
}

constexpr retro_input_descriptor joypad_descriptor(unsigned id, const char* description) {
    return {kPort, RETRO_DEVICE_JOYPAD, 0, id, description};
}
constexpr retro_input_descriptor stick_descriptor(unsigned stick, unsigned axis, const char* description) {
    return {kPort, RETRO_DEVICE_ANALOG, stick, axis, description};
}

// Several buttons share a key so that a pad held either way works: A, B and
// Start all confirm; X/L and Y/R are the soft keys. The texts stay short:
// frontends show them in a column beside the bindings.
constexpr retro_input_descriptor kInputDescriptors[] = {
    joypad_descriptor(RETRO_DEVICE_ID_JOYPAD_UP, "Up (Select: 1)"),
    joypad_descriptor(RETRO_DEVICE_ID_JOYPAD_DOWN, "Down (Select: 2)"),
    joypad_descriptor(RETRO_DEVICE_ID_JOYPAD_LEFT, "Left (Select: 3)"),
    joypad_descriptor(RETRO_DEVICE_ID_JOYPAD_RIGHT, "Right (Select: 4)"),
    joypad_descriptor(RETRO_DEVICE_ID_JOYPAD_A, "Confirm (Select: 5)"),
    joypad_descriptor(RETRO_DEVICE_ID_JOYPAD_B, "Confirm (Select: 6)"),
    joypad_descriptor(RETRO_DEVICE_ID_JOYPAD_X, "Left Soft Key (Select: 7)"),
    joypad_descriptor(RETRO_DEVICE_ID_JOYPAD_Y, "Right Soft Key (Select: 8)"),
    joypad_descriptor(RETRO_DEVICE_ID_JOYPAD_START, "Confirm (Select: 9)"),
    joypad_descriptor(RETRO_DEVICE_ID_JOYPAD_SELECT, "Digit Layer (hold)"),
    joypad_descriptor(RETRO_DEVICE_ID_JOYPAD_L, "Left Soft Key (Select: 0)"),
    joypad_descriptor(RETRO_DEVICE_ID_JOYPAD_R, "Right Soft Key (Select: 0)"),
    joypad_descriptor(RETRO_DEVICE_ID_JOYPAD_L2, "Star (*)"),
    joypad_descriptor(RETRO_DEVICE_ID_JOYPAD_R2, "Hash (#)"),
    stick_descriptor(RETRO_DEVICE_INDEX_ANALOG_LEFT, RETRO_DEVICE_ID_ANALOG_X, "Left / Right (Select: 3 / 4)"),
    stick_descriptor(RETRO_DEVICE_INDEX_ANALOG_LEFT, RETRO_DEVICE_ID_ANALOG_Y, "Up / Down (Select: 1 / 2)"),
    stick_descriptor(RETRO_DEVICE_INDEX_ANALOG_RIGHT, RETRO_DEVICE_ID_ANALOG_X, "Left / Right (Select: 3 / 4)"),
    stick_descriptor(RETRO_DEVICE_INDEX_ANALOG_RIGHT, RETRO_DEVICE_ID_ANALOG_Y, "Up / Down (Select: 1 / 2)"),
    {0, 0, 0, 0, nullptr},
};

constexpr retro_controller_description kPortDevices[] = {
    {"Keypad", RETRO_DEVICE_JOYPAD},
    {"Keyboard", RETRO_DEVICE_KEYBOARD},
};
constexpr retro_controller_info kControllerInfo[] = {
    {kPortDevices, 2},
    {nullptr, 0},
};

void ignore_key_event(bool, unsigned, uint32_t, uint16_t) {}
constexpr retro_keyboard_callback kKeyboardCallback{&ignore_key_event};

}  // namespace

std::span<const retro_input_descriptor> input_descriptors(const PadClaims& claims) {
    if (claims == PadClaims{}) return kInputDescriptors;
    // A few tables at most (one per touch button); each is built once and
    // kept, since a frontend may hold on to the one it was given.
    static std::map<std::pair<bool, int>, std::vector<retro_input_descriptor>> tables;
    std::vector<retro_input_descriptor>& table = tables[{claims.right_stick, claims.button ? int(*claims.button) : -1}];
    if (!table.empty()) return table;
    for (const retro_input_descriptor& d : kInputDescriptors) {
        if (!d.description) break;
        const bool right_stick = d.device == RETRO_DEVICE_ANALOG && d.index == RETRO_DEVICE_INDEX_ANALOG_RIGHT;
        if (right_stick && claims.right_stick) {
            table.push_back(stick_descriptor(d.index, d.id, d.id == RETRO_DEVICE_ID_ANALOG_X ? "Pointer Left / Right"
                                                                                               : "Pointer Up / Down"));
        } else if (d.device == RETRO_DEVICE_JOYPAD && claims.button == d.id) {
            continue;  // described below, as the touch button
        } else {
            table.push_back(d);
        }
    }
    if (claims.button) table.push_back(joypad_descriptor(*claims.button, "Touch at the Pointer"));
    table.push_back({0, 0, 0, 0, nullptr});
    return table;
}
const retro_controller_info* controller_info() { return kControllerInfo; }
const retro_keyboard_callback& keyboard_callback() { return kKeyboardCallback; }

u32 read_keypad(retro_input_state_t read, const PadClaims& claims) {
    return read_joypad_keys(read, claims) | read_keyboard_keys(read);
}

void update_held_keys(u32 wanted, machine::InputState& input) {
    for (u8 key : kKeyWalkOrder) {
        const u32 bit = key_bit(key);
        const bool held = (wanted & bit) != 0;
        if (((input.held_key_mask & bit) != 0) == held) continue;
        input.held_key_mask ^= bit;
        input.key_event_queue.push_back(KeyEvent{held, key});
    }
}

void sample_keypad(retro_input_state_t read, machine::InputState& input, const PadClaims& claims) {
    update_held_keys(read_keypad(read, claims), input);
}

GuestPoint frame_to_guest(u32 column, u32 row, Orientation effective) {
    const FrameGeometry size = frame_geometry(effective);
    column = std::min(column, size.width - 1);
    row = std::min(row, size.height - 1);
    if (effective == Orientation::Landscape) {
        // The landscape frame is the guest screen turned a quarter: its rows
        // run along guest columns from right to left.
        return {machine::kScreenWidth - 1 - row, column};
    }
    return {column, row};
}

GuestPoint pointer_to_guest(i16 x, i16 y, Orientation effective) {
    const FrameGeometry size = frame_geometry(effective);
    return frame_to_guest(scale_axis(x, size.width), scale_axis(y, size.height), effective);
}

void apply_touch(GuestPoint at, bool down, machine::PointerState& pointer) {
    pointer.x = at.x;
    pointer.y = at.y;
    if (down && !pointer.down) {
        pointer.pressed = true;
        pointer.press_x = at.x;
        pointer.press_y = at.y;
    } else if (!down && pointer.down) {
        pointer.released = true;
    }
    pointer.down = down;
}

void sample_pointer(retro_input_state_t read, Orientation effective, machine::PointerState& pointer) {
    const i16 x = read_input(read, RETRO_DEVICE_POINTER, 0, RETRO_DEVICE_ID_POINTER_X);
    const i16 y = read_input(read, RETRO_DEVICE_POINTER, 0, RETRO_DEVICE_ID_POINTER_Y);
    const i16 pressed = read_input(read, RETRO_DEVICE_POINTER, 0, RETRO_DEVICE_ID_POINTER_PRESSED);
    if (x == 0 && y == 0 && pressed == 0) {
        // Either a frontend without a pointer, or one whose pointer left the
        // picture (the usual report then is all zero). No position to take,
        // but a pen that was down is up now: the drag ended outside.
        release_pointer(pointer);
        return;
    }
    apply_touch(pointer_to_guest(x, y, effective), pressed != 0, pointer);
}

void release_pointer(machine::PointerState& pointer) {
    if (!pointer.down) return;
    pointer.down = false;
    pointer.released = true;
}

}  // namespace tarvel::libretro
