#pragma once
// A stand-in for the machine, just large enough to run the demo on the
// ARMv4T model before the real machine exists: boot and registration, the
// tick with timers, screen switches, key and pen events, and the handful of
// services the demo calls (rectangles, text, timers, screens, files). Its
// screen is a host buffer of RGB565 pixels.

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "guest_cpu.hpp"

namespace tarvel::sdk_test {

class MiniMachine {
public:
    static constexpr int kWidth = 240;
    static constexpr int kHeight = 400;

    explicit MiniMachine(const std::string& cbe_path);

    void tick();
    void key(int code, bool pressed) { keys_.push_back({code, pressed}); }
    void pen(u32 event, int x, int y) { pens_.push_back({event, x, y}); }

    u32 current_screen() const { return current_; }
    u64 ticks() const { return ticks_; }
    const std::vector<u16>& screen() const { return fb_; }
    // Texts drawn since the last tick began.
    const std::vector<std::string>& texts() const { return texts_; }
    // Services the demo called that this stand-in does not know.
    const std::vector<u32>& unknown_calls() const { return unknown_; }
    bool write_png(const std::string& path) const;

private:
    struct Timer {
        u32 callback, argument, countdown;
        bool active;
    };
    struct KeyEvent {
        int code;
        bool pressed;
    };
    struct PenEvent {
        u32 event;
        int x, y;
    };

    void service(GuestCpu& cpu, u32 address);
    void fill(int x0, int y0, int x1, int y1, u16 color);
    void outline(int x, int y, int w, int h, u16 color);
    void draw_text(const std::string& text, int x, int y, u16 color);
    std::string guest_string(u32 address, u32 limit = 256);
    void call(u32 function, u32 a0, u32 a1, u32 a2);

    std::unique_ptr<GuestCpu> cpu_;
    std::vector<u16> fb_;
    std::vector<Timer> timers_;
    std::deque<KeyEvent> keys_;
    std::deque<PenEvent> pens_;
    std::vector<std::string> texts_;
    std::vector<u32> unknown_;
    std::map<std::string, std::vector<u8>> files_;
    struct Handle {
        std::string path;
        u32 position = 0;
        bool open = false;
    };
    Handle handles_[16];
    u32 active_ = 0, current_ = 0;
    bool initialized_ = false;
    u64 ticks_ = 0;
};

}  // namespace tarvel::sdk_test
