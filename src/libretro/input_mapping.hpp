#pragma once
// Turns the frontend's devices into the handheld's keypad and touch screen, and
// tells the frontend what each of its buttons does.
//
// Everything here reads the frontend through plain function pointers and writes
// into records it is handed, so it runs the same with a real frontend and with
// a test that feeds the callbacks.

#include <optional>
#include <span>

#include <libretro.h>

#include "common/bytes.hpp"
#include "common/orientation.hpp"
#include "machine/input_state.hpp"

namespace tarvel::libretro {

// ---- Keypad ---------------------------------------------------------------

// Pad inputs the virtual pointer takes for itself while it is on: they then
// type no key (the right stick no longer steers, a claimed button no longer
// gives its key).
struct PadClaims {
    bool right_stick = false;
    std::optional<unsigned> button;  // a joypad id

    friend bool operator==(const PadClaims&, const PadClaims&) = default;
};

// The key mask the devices on port 0 ask for right now: joypad (with the
// SELECT digit layer), both analog sticks and the keyboard, less what
// `claims` takes. A null reader reads every input as released.
u32 read_keypad(retro_input_state_t read, const PadClaims& claims = {});

// Brings the held-key mask to `wanted` for the keys the keypad can produce,
// walking them in a fixed order (digits, soft keys, confirm, directions, star,
// hash, then 10 and 11) and queueing one event per key whose state changed.
void update_held_keys(u32 wanted, machine::InputState& input);

// Once per video frame, after the frontend polled its input.
void sample_keypad(retro_input_state_t read, machine::InputState& input, const PadClaims& claims = {});

// For RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS: what each joypad button and
// stick axis on port 0 does, with the digit it types while SELECT is held,
// then an all-zero entry. Frontends show these texts next to the buttons.
// With claims, the right stick and the claimed button are described as the
// virtual pointer's. The table lives as long as the program.
std::span<const retro_input_descriptor> input_descriptors(const PadClaims& claims = {});

// For RETRO_ENVIRONMENT_SET_CONTROLLER_INFO: port 0 is the keypad, played with
// a pad, a keyboard or both (every device is read whichever is chosen), and no
// further ports.
const retro_controller_info* controller_info();

// For RETRO_ENVIRONMENT_SET_KEYBOARD_CALLBACK. The keyboard is read by polling
// every frame; the callback only tells the frontend that the game takes the
// keyboard, which lets it hand the keys over (its game focus) instead of
// using them for its own shortcuts.
const retro_keyboard_callback& keyboard_callback();

// ---- Pointer --------------------------------------------------------------

struct GuestPoint {
    u32 x = 0;  // guest screen column 0..239
    u32 y = 0;  // guest screen row 0..399
};

// Maps a pixel of the presented frame (column, row; clamped to the frame) to
// the guest screen, undoing the quarter turn of the landscape frame: there
// guest x = 239 - frame row, guest y = frame column.
GuestPoint frame_to_guest(u32 column, u32 row, Orientation effective);

// Maps a frontend pointer position (-0x7FFF..0x7FFF across the presented frame)
// to the guest screen through the frame pixel it falls on.
GuestPoint pointer_to_guest(i16 x, i16 y, Orientation effective);

// One sample of a contact at `at`: moves the pen there, and records a press
// when it goes down or a release when it comes up.
void apply_touch(GuestPoint at, bool down, machine::PointerState& pointer);

// Once per video frame while touch input is enabled. A frame where position
// and pressed all read 0 carries no position: it keeps the last one and only
// ends a press that is still held.
void sample_pointer(retro_input_state_t read, Orientation effective, machine::PointerState& pointer);

// Ends a held press where it is (no press in progress: nothing changes).
void release_pointer(machine::PointerState& pointer);

}  // namespace tarvel::libretro
