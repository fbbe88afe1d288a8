#pragma once
// Scripted input for a headless run: joypad buttons, keyboard keys and
// touches held over ranges of frames, and the screenshots to take. Frames are
// counted from 1: frame F is the F-th call of retro_run, and an event at
// frame F is seen by the core's input poll in that call.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel_run {

// The frame a screenshot is taken after; kLastFrame means after the final one.
inline constexpr long kLastFrame = -1;

struct ButtonHold {
    long frame = 1;
    long frames = 6;  // one tick of the application by default
    unsigned id = 0;  // RETRO_DEVICE_ID_JOYPAD_*
};

struct KeyHold {
    long frame = 1;
    long frames = 6;
    unsigned keycode = 0;  // RETROK_*
};

// A contact from (x0, y0) to (x1, y1) in the presented frame's pixels,
// moving in a straight line over its frames; a tap has both ends equal.
struct Touch {
    long frame = 1;
    long frames = 6;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

struct Screenshot {
    long frame = kLastFrame;
    std::string path;
};

struct InputScript {
    std::vector<ButtonHold> buttons;
    std::vector<KeyHold> keys;
    std::vector<Touch> touches;
    std::vector<Screenshot> screenshots;

    // The last frame any input event reaches (0 without events).
    long last_input_frame() const;
};

// Joypad button by its libretro name ("a", "start", "l2", ...), any case.
std::optional<unsigned> joypad_button_id(std::string_view name);
// Keyboard key: one letter or digit, or a name such as "return" or "left".
std::optional<unsigned> keyboard_key_code(std::string_view name);

// Adds one event given as words: ("press", FRAME, BUTTON[, FRAMES]),
// ("key", FRAME, KEY[, FRAMES]), ("touch", FRAME, X, Y[, FRAMES]),
// ("drag", FRAME, X0, Y0, X1, Y1, FRAMES) or ("screenshot", FRAME|end, PATH).
// Returns an error message, or nothing when the event was added.
std::optional<std::string> add_script_event(InputScript& script, const std::vector<std::string>& words);

// The same from a command-line value such as "120:a:6" for the option `kind`.
std::optional<std::string> add_option_event(InputScript& script, std::string_view kind, std::string_view value);

// Reads a script: one event per line in the word form above, separated by
// blanks; '#' starts a comment. Errors name the line.
std::optional<std::string> add_script_text(InputScript& script, std::string_view text, std::string_view source_name);

// Everything the core's input state callback answers during one frame.
struct FrameInput {
    uint16_t joypad = 0;  // bit id set while held
    std::vector<unsigned> keys;
    bool touching = false;
    int x = 0, y = 0;  // contact in presented-frame pixels
};

FrameInput input_at(const InputScript& script, long frame);

// The libretro pointer coordinate (-0x7FFF..0x7FFF) that a core mapping
// ((value + 0x7FFF) * size + 0x7FFF) / 0xFFFF lands on `pixel` of a screen
// `size` pixels long, taken from the middle of that pixel's range.
int16_t pointer_coordinate(int pixel, unsigned size);

}  // namespace tarvel_run
