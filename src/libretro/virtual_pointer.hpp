#pragma once
// The virtual pointer: for players with a pad and neither mouse nor touch
// screen. The right stick moves an arrow over the presented frame and a pad
// button touches the screen at its tip; press, drag and release reach the
// application exactly as a real touch would.
//
// The arrow's position is the frontend side's business, like the frontend's
// own mouse cursor: it is drawn over the finished frame only, never into the
// guest screen, and it is not part of save states. The application sees it
// only through the pen events of a touch. It starts at the centre of the
// frame at load and reset and stays where it is across state restores, so
// rewinding does not make it jump. It moves only on frames the frontend shows
// (run-ahead replays hidden frames with the same input, which would otherwise
// move it several times per shown frame).

#include <optional>

#include <libretro.h>

#include "common/bytes.hpp"
#include "common/orientation.hpp"
#include "libretro/input_mapping.hpp"
#include "libretro/presentation.hpp"
#include "machine/input_state.hpp"

namespace tarvel::libretro {

// The pad buttons a player may touch with: the two stick clicks, which the
// keypad leaves unused, or R2 next to the right stick (it then no longer
// types the hash key; the keyboard and the on-screen keypad still do).
enum class TouchButton : u8 { R3, L3, R2 };

unsigned touch_button_id(TouchButton button);

struct VirtualPointerOptions {
    bool enabled = false;
    TouchButton button = TouchButton::R3;
    u32 speed = 6;  // frame pixels per frame with the stick fully tilted
    CursorStyle style = CursorStyle::White;

    friend bool operator==(const VirtualPointerOptions&, const VirtualPointerOptions&) = default;
};

// What the keypad must leave to the pointer: nothing while it is off.
PadClaims pad_claims(const VirtualPointerOptions& options);

// Stick values within this distance of the centre do not move the arrow, so
// a worn stick that does not quite return to the centre leaves it still.
inline constexpr int kStickDeadZone = 0x2000;
// The arrow's position keeps this many steps per frame pixel, so that a
// slightly tilted stick still creeps.
inline constexpr u32 kSubpixelSteps = 256;

class VirtualPointer {
public:
    // Back to the centre of the frame; the frontend's own pointer has not
    // been seen yet.
    void reset();

    // One frame, after the frontend polled its input, while touch input is
    // enabled and the option is on. Decides which pointer drives the touch
    // screen: the frontend's own one while it is pressed or has just moved,
    // the virtual one while its stick is tilted or its button held, and
    // otherwise whichever did last. The frontend's pointer is then sampled as
    // usual; the virtual one moves by the stick (when `shown`, the frame
    // being one the frontend shows) and touches while its button is held.
    void sample(retro_input_state_t read, const VirtualPointerOptions& options, Orientation effective, bool shown,
                machine::PointerState& pointer);

    // The arrow to draw over this frame: none while the frontend's own
    // pointer drives the touch screen or the style is Hidden.
    std::optional<Cursor> cursor(const VirtualPointerOptions& options, Orientation effective) const;

    // The frame pixel under the arrow's tip.
    u32 column(Orientation effective) const;
    u32 row(Orientation effective) const;
    bool driving() const { return driving_; }

private:
    struct Reading {
        i16 x = 0, y = 0, pressed = 0;
        friend bool operator==(const Reading&, const Reading&) = default;
    };

    void move(int stick_x, int stick_y, u32 speed, Orientation effective);

    // Position in kSubpixelSteps per frame pixel; nothing until the first
    // frame places it at the centre of that frame.
    std::optional<u32> x_;
    u32 y_ = 0;
    bool driving_ = true;  // until the frontend's pointer shows activity
    bool touching_ = false;
    std::optional<Reading> last_real_;
};

}  // namespace tarvel::libretro
