#pragma once
// A stand-in for the frontend's input devices: tests set values per
// (device, index, id) and hand `FakeDevices::read` to the mapping code.

#include <libretro.h>

#include <cstdint>
#include <map>
#include <tuple>

namespace tarvel::libretro::testing {

class FakeDevices {
public:
    FakeDevices() { current_ = this; }
    ~FakeDevices() { current_ = nullptr; }

    void set(unsigned device, unsigned index, unsigned id, int16_t value) { values_[{device, index, id}] = value; }
    void joypad(unsigned id, bool held) { set(RETRO_DEVICE_JOYPAD, 0, id, held ? 1 : 0); }
    void key(unsigned retro_key, bool held) { set(RETRO_DEVICE_KEYBOARD, 0, retro_key, held ? 1 : 0); }
    void stick(unsigned index, int16_t x, int16_t y) {
        set(RETRO_DEVICE_ANALOG, index, RETRO_DEVICE_ID_ANALOG_X, x);
        set(RETRO_DEVICE_ANALOG, index, RETRO_DEVICE_ID_ANALOG_Y, y);
    }
    void pointer(int16_t x, int16_t y, bool pressed) {
        set(RETRO_DEVICE_POINTER, 0, RETRO_DEVICE_ID_POINTER_X, x);
        set(RETRO_DEVICE_POINTER, 0, RETRO_DEVICE_ID_POINTER_Y, y);
        set(RETRO_DEVICE_POINTER, 0, RETRO_DEVICE_ID_POINTER_PRESSED, pressed ? 1 : 0);
    }
    void clear() { values_.clear(); }

    // Only port 0 is wired; anything else reads as released.
    static int16_t read(unsigned port, unsigned device, unsigned index, unsigned id) {
        if (!current_ || port != 0) return 0;
        auto it = current_->values_.find({device, index, id});
        return it == current_->values_.end() ? 0 : it->second;
    }

private:
    static inline FakeDevices* current_ = nullptr;
    std::map<std::tuple<unsigned, unsigned, unsigned>, int16_t> values_;
};

}  // namespace tarvel::libretro::testing
