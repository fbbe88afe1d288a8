#include "libretro/virtual_pointer.hpp"

#include <algorithm>
#include <cstdlib>

namespace tarvel::libretro {

namespace {

constexpr unsigned kPort = 0;
constexpr int kStickMax = 0x7FFF;

i16 read_input(retro_input_state_t read, unsigned device, unsigned index, unsigned id) {
    return read ? read(kPort, device, index, id) : 0;
}

// How far one axis moves the arrow this frame, in subpixel steps: nothing
// inside the dead zone, then growing evenly to `speed` pixels at full tilt.
i64 axis_step(int value, u32 speed) {
    const int magnitude = std::min(std::abs(value), kStickMax);  // -0x8000 is full tilt too
    if (magnitude <= kStickDeadZone) return 0;
    const i64 step = static_cast<i64>(magnitude - kStickDeadZone) * speed * kSubpixelSteps /
                     (kStickMax - kStickDeadZone);
    return value < 0 ? -step : step;
}

bool past_dead_zone(int value) { return std::abs(value) > kStickDeadZone; }

u32 clamp_steps(i64 steps, u32 pixels) {
    const i64 last = static_cast<i64>(pixels) * kSubpixelSteps - 1;
    return static_cast<u32>(std::clamp<i64>(steps, 0, last));
}

}  // namespace

unsigned touch_button_id(TouchButton button) {
    switch (button) {
        case TouchButton::L3: return RETRO_DEVICE_ID_JOYPAD_L3;
        case TouchButton::R2: return RETRO_DEVICE_ID_JOYPAD_R2;
        case TouchButton::R3: break;
    }
    return RETRO_DEVICE_ID_JOYPAD_R3;
}

PadClaims pad_claims(const VirtualPointerOptions& options) {
    if (!options.enabled) return {};
    return {true, touch_button_id(options.button)};
}

void VirtualPointer::reset() { *this = VirtualPointer{}; }

u32 VirtualPointer::column(Orientation effective) const {
    const FrameGeometry frame = frame_geometry(effective);
    return x_ ? std::min(*x_ / kSubpixelSteps, frame.width - 1) : frame.width / 2;
}

u32 VirtualPointer::row(Orientation effective) const {
    const FrameGeometry frame = frame_geometry(effective);
    return x_ ? std::min(y_ / kSubpixelSteps, frame.height - 1) : frame.height / 2;
}

void VirtualPointer::move(int stick_x, int stick_y, u32 speed, Orientation effective) {
    const FrameGeometry frame = frame_geometry(effective);
    if (!x_) {
        x_ = frame.width / 2 * kSubpixelSteps;
        y_ = frame.height / 2 * kSubpixelSteps;
    }
    // Clamped every frame, so that an orientation change keeps the arrow on
    // the frame.
    x_ = clamp_steps(static_cast<i64>(*x_) + axis_step(stick_x, speed), frame.width);
    y_ = clamp_steps(static_cast<i64>(y_) + axis_step(stick_y, speed), frame.height);
}

void VirtualPointer::sample(retro_input_state_t read, const VirtualPointerOptions& options, Orientation effective,
                            bool shown, machine::PointerState& pointer) {
    const Reading real{read_input(read, RETRO_DEVICE_POINTER, 0, RETRO_DEVICE_ID_POINTER_X),
                       read_input(read, RETRO_DEVICE_POINTER, 0, RETRO_DEVICE_ID_POINTER_Y),
                       read_input(read, RETRO_DEVICE_POINTER, 0, RETRO_DEVICE_ID_POINTER_PRESSED)};
    // The first reading is where the frontend's pointer rests, not a move.
    const bool real_moved = last_real_ && real != *last_real_ && real != Reading{};
    last_real_ = real;

    const int stick_x = read_input(read, RETRO_DEVICE_ANALOG, RETRO_DEVICE_INDEX_ANALOG_RIGHT, RETRO_DEVICE_ID_ANALOG_X);
    const int stick_y = read_input(read, RETRO_DEVICE_ANALOG, RETRO_DEVICE_INDEX_ANALOG_RIGHT, RETRO_DEVICE_ID_ANALOG_Y);
    const bool button = read_input(read, RETRO_DEVICE_JOYPAD, 0, touch_button_id(options.button)) != 0;
    const bool stick_tilted = past_dead_zone(stick_x) || past_dead_zone(stick_y);

    if (real.pressed != 0) {
        driving_ = false;
    } else if (stick_tilted || button) {
        driving_ = true;
    } else if (real_moved) {
        driving_ = false;
    }

    if (!driving_) {
        touching_ = false;
        sample_pointer(read, effective, pointer);
        return;
    }
    if (shown) move(stick_x, stick_y, options.speed, effective);
    touching_ = button;
    if (button) {
        apply_touch(frame_to_guest(column(effective), row(effective), effective), true, pointer);
    } else {
        // Only touches reach the application: a hovering arrow leaves the
        // guest's pointer where the last touch was.
        release_pointer(pointer);
    }
}

std::optional<Cursor> VirtualPointer::cursor(const VirtualPointerOptions& options, Orientation effective) const {
    if (!driving_ || options.style == CursorStyle::Hidden) return std::nullopt;
    return Cursor{column(effective), row(effective), options.style, touching_};
}

}  // namespace tarvel::libretro
