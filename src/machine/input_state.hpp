#pragma once
// The handheld's input as the machine sees it: which keys are held, the key
// presses and releases not yet delivered to the application, and the touch
// screen. The frontend binding fills these each video frame; the application
// tick consumes them (one key or pen event per tick).

#include <deque>

#include "common/bytes.hpp"

namespace tarvel::machine {

// Platform key codes: digits 0..9 are codes 0..9; 10 and 11 exist in the mask
// but no input produces them.
enum KeyCode : u8 {
    kKeyLeftSoft = 12,
    kKeyRightSoft = 13,
    kKeyConfirm = 14,
    kKeyLeft = 15,
    kKeyRight = 16,
    kKeyUp = 17,
    kKeyDown = 18,
    kKeyStar = 19,
    kKeyHash = 20,
};

constexpr u32 key_bit(u32 key_code) { return u32{1} << (key_code & 31); }

struct KeyEvent {
    bool pressed = false;  // false: released
    u8 key_code = 0;

    friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

// Touch position in guest screen coordinates (column 0..239, row 0..399) and
// the edges not yet consumed by a tick. Field order is the saved order.
struct PointerState {
    bool down = false;      // contact held at the last sample
    bool pressed = false;   // a press happened; cleared once its event's call returns
    bool released = false;  // a release happened; cleared once its event's call returns
    u32 x = 0;
    u32 y = 0;
    u32 press_x = 0;  // where the most recent press happened
    u32 press_y = 0;

    friend bool operator==(const PointerState&, const PointerState&) = default;
};

struct InputState {
    u32 held_key_mask = 0;       // bit k set while key k is held
    u32 newly_pressed_mask = 0;  // the key whose press is being delivered this tick
    std::deque<KeyEvent> key_event_queue;  // oldest first
    PointerState pointer;
};

}  // namespace tarvel::machine
