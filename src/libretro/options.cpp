#include "libretro/options.hpp"

namespace tarvel::libretro {
namespace {

constexpr retro_variable kOptionDefinitions[] = {
    {kOptionVolume.data(), "Audio Volume (%); 100|90|80|70|60|50|40|30|20|10|0"},
    {kOptionTouchInput.data(), "Touch/Pointer Input; enabled|disabled"},
    {kOptionDebugLogging.data(), "CPU/HLE Debug Logging; disabled|enabled"},
    {kOptionAutoBgm.data(), "Auto BGM (packaged MIDI); disabled|enabled"},
    {kOptionScreenOrientation.data(), "Screen Orientation; auto|landscape|portrait"},
    {nullptr, nullptr},
};

constexpr retro_input_descriptor joypad(unsigned id, const char* description) {
    return {0, RETRO_DEVICE_JOYPAD, 0, id, description};
}

// Several buttons share a key so that a pad held either way works: A, B and
// Start all confirm; X/L and Y/R are the soft keys.
constexpr retro_input_descriptor kInputDescriptors[] = {
    joypad(RETRO_DEVICE_ID_JOYPAD_UP, "D-Pad Up"),
    joypad(RETRO_DEVICE_ID_JOYPAD_DOWN, "D-Pad Down"),
    joypad(RETRO_DEVICE_ID_JOYPAD_LEFT, "D-Pad Left"),
    joypad(RETRO_DEVICE_ID_JOYPAD_RIGHT, "D-Pad Right"),
    joypad(RETRO_DEVICE_ID_JOYPAD_A, "Confirm"),
    joypad(RETRO_DEVICE_ID_JOYPAD_B, "Confirm"),
    joypad(RETRO_DEVICE_ID_JOYPAD_X, "Left Soft Key"),
    joypad(RETRO_DEVICE_ID_JOYPAD_Y, "Right Soft Key"),
    joypad(RETRO_DEVICE_ID_JOYPAD_START, "Confirm"),
    joypad(RETRO_DEVICE_ID_JOYPAD_SELECT, "Star (*) Key"),
    joypad(RETRO_DEVICE_ID_JOYPAD_L, "Left Soft Key"),
    joypad(RETRO_DEVICE_ID_JOYPAD_R, "Right Soft Key"),
    joypad(RETRO_DEVICE_ID_JOYPAD_L2, "Star (*) Key"),
    joypad(RETRO_DEVICE_ID_JOYPAD_R2, "Hash (#) Key"),
    {0, 0, 0, 0, nullptr},
};

}  // namespace

std::span<const retro_variable> option_definitions() { return kOptionDefinitions; }
std::span<const retro_input_descriptor> input_descriptors() { return kInputDescriptors; }

}  // namespace tarvel::libretro
