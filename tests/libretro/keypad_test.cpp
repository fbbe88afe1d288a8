#include "libretro/input_mapping.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "libretro/fake_devices.hpp"

namespace tarvel::libretro {
namespace {

using machine::InputState;
using machine::key_bit;
using machine::KeyEvent;
using testing::FakeDevices;

std::vector<KeyEvent> drain(InputState& input) {
    std::vector<KeyEvent> events(input.key_event_queue.begin(), input.key_event_queue.end());
    input.key_event_queue.clear();
    return events;
}

struct ButtonCase {
    unsigned id;
    u32 key_code;
};

class Keypad : public ::testing::Test {
protected:
    u32 keys() { return read_keypad(&FakeDevices::read); }
    FakeDevices devices;
};

TEST_F(Keypad, EachJoypadButtonReachesItsKey) {
    const ButtonCase cases[] = {
        {RETRO_DEVICE_ID_JOYPAD_UP, 17},   {RETRO_DEVICE_ID_JOYPAD_DOWN, 18}, {RETRO_DEVICE_ID_JOYPAD_LEFT, 15},
        {RETRO_DEVICE_ID_JOYPAD_RIGHT, 16}, {RETRO_DEVICE_ID_JOYPAD_A, 14},    {RETRO_DEVICE_ID_JOYPAD_B, 14},
        {RETRO_DEVICE_ID_JOYPAD_START, 14}, {RETRO_DEVICE_ID_JOYPAD_X, 12},    {RETRO_DEVICE_ID_JOYPAD_L, 12},
        {RETRO_DEVICE_ID_JOYPAD_Y, 13},     {RETRO_DEVICE_ID_JOYPAD_R, 13},    {RETRO_DEVICE_ID_JOYPAD_L2, 19},
        {RETRO_DEVICE_ID_JOYPAD_R2, 20},
    };
    for (const ButtonCase& c : cases) {
        devices.clear();
        devices.joypad(c.id, true);
        EXPECT_EQ(keys(), key_bit(c.key_code)) << "joypad id " << c.id;
    }
    devices.clear();
    for (unsigned unused : {RETRO_DEVICE_ID_JOYPAD_L3, RETRO_DEVICE_ID_JOYPAD_R3}) devices.joypad(unused, true);
    EXPECT_EQ(keys(), 0u);
}

TEST_F(Keypad, SelectTurnsThePadIntoDigits) {
    const ButtonCase cases[] = {
        {RETRO_DEVICE_ID_JOYPAD_UP, 1}, {RETRO_DEVICE_ID_JOYPAD_DOWN, 2}, {RETRO_DEVICE_ID_JOYPAD_LEFT, 3},
        {RETRO_DEVICE_ID_JOYPAD_RIGHT, 4}, {RETRO_DEVICE_ID_JOYPAD_A, 5}, {RETRO_DEVICE_ID_JOYPAD_B, 6},
        {RETRO_DEVICE_ID_JOYPAD_X, 7}, {RETRO_DEVICE_ID_JOYPAD_Y, 8}, {RETRO_DEVICE_ID_JOYPAD_START, 9},
        {RETRO_DEVICE_ID_JOYPAD_L, 0}, {RETRO_DEVICE_ID_JOYPAD_R, 0},
    };
    for (const ButtonCase& c : cases) {
        devices.clear();
        devices.joypad(RETRO_DEVICE_ID_JOYPAD_SELECT, true);
        devices.joypad(c.id, true);
        EXPECT_EQ(keys(), key_bit(c.key_code)) << "joypad id " << c.id;
    }
    // Star and hash have no digit: with SELECT held they give nothing.
    devices.clear();
    devices.joypad(RETRO_DEVICE_ID_JOYPAD_SELECT, true);
    devices.joypad(RETRO_DEVICE_ID_JOYPAD_L2, true);
    devices.joypad(RETRO_DEVICE_ID_JOYPAD_R2, true);
    EXPECT_EQ(keys(), 0u);
}

TEST_F(Keypad, SticksActOnlyPastAQuarterOfTheirTravel) {
    for (unsigned stick : {RETRO_DEVICE_INDEX_ANALOG_LEFT, RETRO_DEVICE_INDEX_ANALOG_RIGHT}) {
        devices.clear();
        devices.stick(stick, 0x4000, -0x4000);
        EXPECT_EQ(keys(), 0u) << "stick " << stick;
        devices.stick(stick, 0x4001, -0x4001);
        EXPECT_EQ(keys(), key_bit(16) | key_bit(17)) << "stick " << stick;
        devices.stick(stick, -0x8000, 0x7FFF);
        EXPECT_EQ(keys(), key_bit(15) | key_bit(18)) << "stick " << stick;
    }
    // Under SELECT the sticks type digits like the D-pad does.
    devices.clear();
    devices.joypad(RETRO_DEVICE_ID_JOYPAD_SELECT, true);
    devices.stick(RETRO_DEVICE_INDEX_ANALOG_RIGHT, 0x7FFF, -0x7FFF);
    EXPECT_EQ(keys(), key_bit(1) | key_bit(4));
}

TEST_F(Keypad, InputsTheVirtualPointerClaimsTypeNothing) {
    const PadClaims claims{true, RETRO_DEVICE_ID_JOYPAD_R2};
    devices.stick(RETRO_DEVICE_INDEX_ANALOG_RIGHT, 0x7FFF, 0x7FFF);
    devices.joypad(RETRO_DEVICE_ID_JOYPAD_R2, true);
    EXPECT_EQ(read_keypad(&FakeDevices::read, claims), 0u);
    devices.joypad(RETRO_DEVICE_ID_JOYPAD_SELECT, true);
    EXPECT_EQ(read_keypad(&FakeDevices::read, claims), 0u) << "nor digits under SELECT";
    devices.clear();
    // The rest of the pad is untouched.
    devices.stick(RETRO_DEVICE_INDEX_ANALOG_LEFT, -0x7FFF, 0);
    devices.joypad(RETRO_DEVICE_ID_JOYPAD_L2, true);
    EXPECT_EQ(read_keypad(&FakeDevices::read, claims), key_bit(15) | key_bit(19));

    // The descriptors say so: the stick steers the pointer, R2 touches.
    std::map<std::tuple<unsigned, unsigned, unsigned>, std::string> described;
    for (const retro_input_descriptor& d : input_descriptors(claims))
        if (d.description) described[{d.device, d.index, d.id}] = d.description;
    EXPECT_EQ(described.size() + 1, input_descriptors().size());
    EXPECT_EQ((described[{RETRO_DEVICE_ANALOG, RETRO_DEVICE_INDEX_ANALOG_RIGHT, RETRO_DEVICE_ID_ANALOG_X}]),
              "Pointer Left / Right");
    EXPECT_EQ((described[{RETRO_DEVICE_ANALOG, RETRO_DEVICE_INDEX_ANALOG_RIGHT, RETRO_DEVICE_ID_ANALOG_Y}]),
              "Pointer Up / Down");
    EXPECT_EQ((described[{RETRO_DEVICE_JOYPAD, 0, RETRO_DEVICE_ID_JOYPAD_R2}]), "Touch at the Pointer");
    EXPECT_EQ((described[{RETRO_DEVICE_JOYPAD, 0, RETRO_DEVICE_ID_JOYPAD_L2}]), "Star (*)");
    EXPECT_EQ(input_descriptors(claims).data(), input_descriptors(claims).data()) << "built once, kept";
}

TEST_F(Keypad, KeyboardKeysMapInEveryLayer) {
    const ButtonCase cases[] = {
        {RETROK_0, 0}, {RETROK_5, 5}, {RETROK_9, 9}, {RETROK_q, 12}, {RETROK_e, 13}, {RETROK_RETURN, 14},
        {RETROK_f, 14}, {RETROK_LEFT, 15}, {RETROK_a, 15}, {RETROK_RIGHT, 16}, {RETROK_d, 16}, {RETROK_UP, 17},
        {RETROK_w, 17}, {RETROK_DOWN, 18}, {RETROK_s, 18}, {RETROK_n, 19}, {RETROK_m, 20},
    };
    for (bool select : {false, true}) {
        for (const ButtonCase& c : cases) {
            devices.clear();
            devices.joypad(RETRO_DEVICE_ID_JOYPAD_SELECT, select);
            devices.key(c.id, true);
            EXPECT_EQ(keys(), key_bit(c.key_code)) << "retro key " << c.id << " select " << select;
        }
    }
    devices.clear();
    for (unsigned unmapped : {RETROK_KP0, RETROK_SPACE, RETROK_z, RETROK_ESCAPE}) devices.key(unmapped, true);
    EXPECT_EQ(keys(), 0u);
}

TEST_F(Keypad, KeyboardAndSelectLayerCombine) {
    devices.joypad(RETRO_DEVICE_ID_JOYPAD_SELECT, true);
    devices.joypad(RETRO_DEVICE_ID_JOYPAD_A, true);
    devices.key(RETROK_RETURN, true);
    EXPECT_EQ(keys(), key_bit(5) | key_bit(14));
}

TEST_F(Keypad, NoCallbackReadsAsReleased) {
    devices.joypad(RETRO_DEVICE_ID_JOYPAD_A, true);
    EXPECT_EQ(read_keypad(nullptr), 0u);
    InputState input;
    input.held_key_mask = key_bit(14);
    sample_keypad(nullptr, input);
    EXPECT_EQ(input.held_key_mask, 0u);
    EXPECT_EQ(drain(input), (std::vector<KeyEvent>{{false, 14}}));
}

TEST_F(Keypad, HoldingAKeyGivesOnePressAndOneRelease) {
    InputState input;
    devices.joypad(RETRO_DEVICE_ID_JOYPAD_A, true);
    devices.joypad(RETRO_DEVICE_ID_JOYPAD_START, true);  // same key: still a single press
    for (int frame = 0; frame < 5; ++frame) sample_keypad(&FakeDevices::read, input);
    EXPECT_EQ(input.held_key_mask, key_bit(14));
    EXPECT_EQ(drain(input), (std::vector<KeyEvent>{{true, 14}}));

    devices.joypad(RETRO_DEVICE_ID_JOYPAD_A, false);
    sample_keypad(&FakeDevices::read, input);
    EXPECT_TRUE(drain(input).empty()) << "START still holds confirm";
    devices.joypad(RETRO_DEVICE_ID_JOYPAD_START, false);
    sample_keypad(&FakeDevices::read, input);
    sample_keypad(&FakeDevices::read, input);
    EXPECT_EQ(input.held_key_mask, 0u);
    EXPECT_EQ(drain(input), (std::vector<KeyEvent>{{false, 14}}));
}

TEST_F(Keypad, ReleasingSelectSwapsDigitForConfirmInKeyOrder) {
    InputState input;
    devices.joypad(RETRO_DEVICE_ID_JOYPAD_SELECT, true);
    devices.joypad(RETRO_DEVICE_ID_JOYPAD_A, true);
    sample_keypad(&FakeDevices::read, input);
    EXPECT_EQ(input.held_key_mask, key_bit(5));
    EXPECT_EQ(drain(input), (std::vector<KeyEvent>{{true, 5}}));

    devices.joypad(RETRO_DEVICE_ID_JOYPAD_SELECT, false);
    sample_keypad(&FakeDevices::read, input);
    EXPECT_EQ(input.held_key_mask, key_bit(14));
    EXPECT_EQ(drain(input), (std::vector<KeyEvent>{{false, 5}, {true, 14}}));
}

TEST_F(Keypad, SimultaneousChangesFollowTheFixedKeyOrder) {
    InputState input;
    // Set keys in scrambled order; the events must still come digits first,
    // then 12..20, then the never-produced 10 and 11.
    for (unsigned key : {RETROK_m, RETROK_w, RETROK_3, RETROK_q, RETROK_0, RETROK_RETURN, RETROK_n, RETROK_9,
                         RETROK_a, RETROK_d, RETROK_s, RETROK_e})
        devices.key(key, true);
    sample_keypad(&FakeDevices::read, input);
    EXPECT_EQ(drain(input), (std::vector<KeyEvent>{{true, 0},
                                                    {true, 3},
                                                    {true, 9},
                                                    {true, 12},
                                                    {true, 13},
                                                    {true, 14},
                                                    {true, 15},
                                                    {true, 16},
                                                    {true, 17},
                                                    {true, 18},
                                                    {true, 19},
                                                    {true, 20}}));
}

// The text a frontend shows beside a button must say what the mapping does
// with it: the key it gives, and the digit it types while SELECT is held.
// Every button and stick axis that does something is described.
TEST_F(Keypad, DescriptorsSayWhatEachButtonAndAxisDoes) {
    const std::map<u32, std::string> names = {
        {key_bit(12), "Left Soft Key"}, {key_bit(13), "Right Soft Key"}, {key_bit(14), "Confirm"},
        {key_bit(15), "Left"},          {key_bit(16), "Right"},          {key_bit(17), "Up"},
        {key_bit(18), "Down"},          {key_bit(19), "Star (*)"},       {key_bit(20), "Hash (#)"}};
    auto digit = [](u32 mask) {
        for (u32 d = 0; d <= 9; ++d)
            if (mask == key_bit(d)) return std::to_string(d);
        return std::string("?");
    };
    // Keys and digits the input gives alone and under SELECT.
    auto press = [&](const retro_input_descriptor& d, int direction, bool select) {
        devices.clear();
        devices.joypad(RETRO_DEVICE_ID_JOYPAD_SELECT, select);
        if (d.device == RETRO_DEVICE_JOYPAD) devices.joypad(d.id, true);
        else devices.set(RETRO_DEVICE_ANALOG, d.index, d.id, static_cast<int16_t>(direction * 0x7FFF));
        return keys();
    };

    std::set<std::tuple<unsigned, unsigned, unsigned>> described;
    const auto table = input_descriptors();
    ASSERT_EQ(table.back().description, nullptr) << "ends with the all-zero entry";
    for (const retro_input_descriptor& d : table.first(table.size() - 1)) {
        EXPECT_EQ(d.port, 0u);
        described.insert({d.device, d.index, d.id});
        std::string expected;
        if (d.device == RETRO_DEVICE_JOYPAD && d.id == RETRO_DEVICE_ID_JOYPAD_SELECT) {
            expected = "Digit Layer (hold)";
        } else if (d.device == RETRO_DEVICE_JOYPAD) {
            expected = names.at(press(d, 1, false));
            if (u32 layered = press(d, 1, true)) expected += " (Select: " + digit(layered) + ")";
        } else {
            ASSERT_EQ(d.device, unsigned{RETRO_DEVICE_ANALOG});
            expected = names.at(press(d, -1, false)) + " / " + names.at(press(d, 1, false)) + " (Select: " +
                       digit(press(d, -1, true)) + " / " + digit(press(d, 1, true)) + ")";
        }
        EXPECT_EQ(d.description, expected) << "device " << d.device << " index " << d.index << " id " << d.id;
        EXPECT_LE(std::string(d.description).size(), 28u) << "too long to show beside a binding";
    }
    for (unsigned id = 0; id < 16; ++id) {
        const retro_input_descriptor button{0, RETRO_DEVICE_JOYPAD, 0, id, ""};
        if (id != RETRO_DEVICE_ID_JOYPAD_SELECT && press(button, 1, false) == 0 && press(button, 1, true) == 0)
            continue;
        EXPECT_TRUE(described.count({RETRO_DEVICE_JOYPAD, 0, id})) << "joypad id " << id << " is not described";
    }
    for (unsigned stick : {RETRO_DEVICE_INDEX_ANALOG_LEFT, RETRO_DEVICE_INDEX_ANALOG_RIGHT})
        for (unsigned axis : {RETRO_DEVICE_ID_ANALOG_X, RETRO_DEVICE_ID_ANALOG_Y})
            EXPECT_TRUE(described.count({RETRO_DEVICE_ANALOG, stick, axis})) << "stick " << stick << " axis " << axis;
}

TEST(KeyMaskUpdate, TouchesOnlyKeypadKeysAndReleasesStrayBits) {
    InputState input;
    // 10 and 11 are never produced, so a stale bit for them is released last;
    // bits above the keypad (like 31) are not the keypad's to change.
    input.held_key_mask = key_bit(10) | key_bit(11) | key_bit(31) | key_bit(2);
    update_held_keys(key_bit(2) | key_bit(7) | key_bit(25), input);
    EXPECT_EQ(input.held_key_mask, key_bit(2) | key_bit(7) | key_bit(31));
    EXPECT_EQ(drain(input), (std::vector<KeyEvent>{{true, 7}, {false, 10}, {false, 11}}));
}

TEST(KeyMaskUpdate, EventsQueueBehindUndeliveredOnes) {
    InputState input;
    input.key_event_queue.push_back({true, 4});
    update_held_keys(key_bit(6), input);
    update_held_keys(0, input);
    EXPECT_EQ(drain(input), (std::vector<KeyEvent>{{true, 4}, {true, 6}, {false, 6}}));
}

// ---- The on-screen keypad overlay -----------------------------------------------

// RetroArch's overlay file as it reads it: "key = value" lines, values
// optionally quoted, "#" lines are comments.
std::map<std::string, std::string> read_overlay_config(const std::string& path) {
    std::map<std::string, std::string> conf;
    std::ifstream file(path);
    auto trim = [](std::string text) {
        const auto first = text.find_first_not_of(" \t\r");
        const auto last = text.find_last_not_of(" \t\r");
        text = first == std::string::npos ? "" : text.substr(first, last - first + 1);
        if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
        return text;
    };
    for (std::string line; std::getline(file, line);) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        conf[trim(line.substr(0, equals))] = trim(line.substr(equals + 1));
    }
    return conf;
}

// The keyboard names an overlay button may send ("retrok_" + name).
std::optional<unsigned> overlay_keyboard_key(const std::string& name) {
    if (name.size() == 4 && name.starts_with("num") && std::isdigit(static_cast<unsigned char>(name[3])))
        return RETROK_0 + (name[3] - '0');
    if (name.size() == 1 && std::islower(static_cast<unsigned char>(name[0]))) return RETROK_a + (name[0] - 'a');
    const std::map<std::string, unsigned> named = {
        {"enter", RETROK_RETURN}, {"up", RETROK_UP}, {"down", RETROK_DOWN}, {"left", RETROK_LEFT}, {"right", RETROK_RIGHT}};
    auto it = named.find(name);
    return it == named.end() ? std::nullopt : std::optional<unsigned>(it->second);
}

// Each layout of the built overlay has every key of the handheld exactly once,
// each button sends a pad button or keyboard key the core turns into that key
// (or is one of the frontend's own commands), each image is there, and no two
// buttons overlap or leave the screen.
TEST(KeypadOverlay, EveryButtonReachesAKeyAndEveryImageExists) {
    const std::filesystem::path dir = TARVEL_KEYPAD_OVERLAY_DIR;
    if (dir.empty()) GTEST_SKIP() << "the overlay is not built without rsvg-convert";
    const auto conf = read_overlay_config(dir / "tarvel-keypad.cfg");
    ASSERT_TRUE(conf.count("overlays")) << "no overlay file in " << dir;
    const std::map<std::string, unsigned> pad = {
        {"up", RETRO_DEVICE_ID_JOYPAD_UP}, {"down", RETRO_DEVICE_ID_JOYPAD_DOWN},
        {"left", RETRO_DEVICE_ID_JOYPAD_LEFT}, {"right", RETRO_DEVICE_ID_JOYPAD_RIGHT},
        {"a", RETRO_DEVICE_ID_JOYPAD_A}, {"b", RETRO_DEVICE_ID_JOYPAD_B}, {"x", RETRO_DEVICE_ID_JOYPAD_X},
        {"y", RETRO_DEVICE_ID_JOYPAD_Y}, {"start", RETRO_DEVICE_ID_JOYPAD_START}, {"l", RETRO_DEVICE_ID_JOYPAD_L},
        {"r", RETRO_DEVICE_ID_JOYPAD_R}, {"l2", RETRO_DEVICE_ID_JOYPAD_L2}, {"r2", RETRO_DEVICE_ID_JOYPAD_R2}};
    const std::set<std::string> frontend_commands = {"menu_toggle", "overlay_next"};
    u32 every_key = 0;
    for (u32 k = 0; k <= 20; ++k)
        if (k != 10 && k != 11) every_key |= key_bit(k);

    std::set<std::string> names, targets;
    const int overlays = std::stoi(conf.at("overlays"));
    for (int n = 0; n < overlays; ++n) {
        const std::string prefix = "overlay" + std::to_string(n);
        SCOPED_TRACE(prefix);
        names.insert(conf.at(prefix + "_name"));
        EXPECT_EQ(conf.at(prefix + "_normalized"), "true");
        EXPECT_EQ(conf.at(prefix + "_full_screen"), "true");
        struct Box {
            double x0, y0, x1, y1;
        };
        std::vector<Box> boxes;
        u32 keys = 0;
        const int descs = std::stoi(conf.at(prefix + "_descs"));
        for (int i = 0; i < descs; ++i) {
            const std::string desc = prefix + "_desc" + std::to_string(i);
            SCOPED_TRACE(desc);
            std::vector<std::string> fields;
            std::stringstream text(conf.at(desc));
            for (std::string field; std::getline(text, field, ',');) fields.push_back(field);
            ASSERT_EQ(fields.size(), 6u);
            EXPECT_EQ(fields[3], "rect");
            const double x = std::stod(fields[1]), y = std::stod(fields[2]);
            const double rx = std::stod(fields[4]), ry = std::stod(fields[5]);
            const Box box{x - rx, y - ry, x + rx, y + ry};
            EXPECT_TRUE(box.x0 >= 0 && box.y0 >= 0 && box.x1 <= 1 && box.y1 <= 1) << "off the screen";
            for (const Box& other : boxes)
                EXPECT_FALSE(box.x0 < other.x1 && other.x0 < box.x1 && box.y0 < other.y1 && other.y0 < box.y1)
                    << "overlaps an earlier button";
            boxes.push_back(box);
            EXPECT_TRUE(std::filesystem::is_regular_file(dir / conf.at(desc + "_overlay"))) << "missing image";

            const std::string& input = fields[0];
            if (frontend_commands.count(input)) {
                if (input == "overlay_next") targets.insert(conf.at(desc + "_next_target"));
                continue;
            }
            FakeDevices devices;
            if (pad.count(input)) {
                devices.joypad(pad.at(input), true);
            } else {
                const auto key = input.starts_with("retrok_") ? overlay_keyboard_key(input.substr(7)) : std::nullopt;
                ASSERT_TRUE(key.has_value()) << "'" << input << "' is nothing the core reads";
                devices.key(*key, true);
            }
            const u32 got = read_keypad(&FakeDevices::read);
            EXPECT_EQ(std::popcount(got), 1) << input;
            EXPECT_EQ(got & keys, 0u) << input << " repeats a key";
            keys |= got;
        }
        EXPECT_EQ(keys, every_key);
    }
    EXPECT_EQ(names, (std::set<std::string>{"portrait", "landscape"}));
    for (const std::string& target : targets) EXPECT_TRUE(names.count(target)) << target;
}

}  // namespace
}  // namespace tarvel::libretro
