// The entry points a frontend calls around loading: what they report and how
// they behave with no game loaded.
#include <libretro.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/stderr_capture.hpp"
#include "support/test_frontend.hpp"

namespace tarvel::test {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

TEST(EntryPoints, SystemInfoNamesTheCore) {
    EXPECT_EQ(retro_api_version(), 1u);
    retro_system_info info;
    std::memset(&info, 0xAB, sizeof info);
    retro_get_system_info(&info);
    EXPECT_STREQ(info.library_name, "Tarvel");
    EXPECT_STREQ(info.library_version, "0.1.0");
    EXPECT_STREQ(info.valid_extensions, "cbe");
    EXPECT_TRUE(info.need_fullpath);
    EXPECT_FALSE(info.block_extract);
    EXPECT_EQ(retro_get_region(), unsigned{RETRO_REGION_NTSC});
}

TEST(EntryPoints, AvInfoBeforeLoadIsPortrait) {
    TestFrontend frontend;
    frontend.start();
    retro_system_av_info av;
    std::memset(&av, 0xAB, sizeof av);
    retro_get_system_av_info(&av);
    EXPECT_EQ(av.geometry.base_width, 240u);
    EXPECT_EQ(av.geometry.base_height, 400u);
    EXPECT_EQ(av.geometry.max_width, 400u);
    EXPECT_EQ(av.geometry.max_height, 400u);
    EXPECT_EQ(av.geometry.aspect_ratio, 240.0f / 400.0f);
    EXPECT_EQ(av.timing.fps, 60.0);
    EXPECT_EQ(av.timing.sample_rate, 44100.0);
}

// Frontends that take core options v2 get categories and descriptions; the
// others the plain variables. Keys, values, defaults and labels are the same
// both ways, so settings saved with either keep working.
TEST(EntryPoints, OptionsGoOutAsV2WithCategoriesOrAsTheSameVariables) {
    const std::vector<std::pair<std::string, std::string>> variables = {
        {"tarvel_volume", "Audio Volume (%); 100|90|80|70|60|50|40|30|20|10|0"},
        {"tarvel_touch_input", "Touch/Pointer Input; enabled|disabled"},
        {"tarvel_debug_logging", "CPU/HLE Debug Logging; disabled|enabled"},
        {"tarvel_auto_bgm", "Auto BGM (packaged MIDI); disabled|enabled"},
        {"tarvel_enhanced_sound", "Enhanced Sound; disabled|enabled"},
        {"tarvel_screen_orientation", "Screen Orientation; auto|landscape|portrait"},
        {"tarvel_virtual_pointer", "Virtual Pointer (Right Stick); disabled|enabled"},
        {"tarvel_pointer_button", "Virtual Pointer Touch Button; r3|l3|r2"},
        {"tarvel_pointer_speed", "Virtual Pointer Speed; 6|3|10|15"},
        {"tarvel_pointer_arrow", "Virtual Pointer Arrow; white|black|hidden"},
        {"tarvel_gdb_port", "GDB Remote Debugging Port; disabled|1234|2345|3333"}};
    for (std::optional<unsigned> version : {std::optional<unsigned>(), std::optional<unsigned>(0u),
                                            std::optional<unsigned>(1u), std::optional<unsigned>(2u),
                                            std::optional<unsigned>(3u)}) {
        SCOPED_TRACE(version ? std::to_string(*version) : "refused");
        TestFrontend frontend;
        frontend.set_core_options_version(version);
        frontend.start();
        const bool v2 = version && *version >= 2;
        EXPECT_EQ(frontend.environment_call_count(RETRO_ENVIRONMENT_SET_VARIABLES), v2 ? 0u : 1u);
        EXPECT_EQ(frontend.environment_call_count(RETRO_ENVIRONMENT_SET_CORE_OPTIONS_V2), v2 ? 1u : 0u);
        if (!v2) {
            EXPECT_EQ(frontend.announced_variables(), variables);
            continue;
        }
        std::vector<std::pair<std::string, std::string>> as_variables;
        std::set<std::string> used_categories;
        for (const OptionDefinition& option : frontend.option_definitions()) {
            std::string text = option.desc + "; ";
            for (const auto& [value, label] : option.values) text += value + "|";
            text.pop_back();
            as_variables.emplace_back(option.key, text);
            ASSERT_FALSE(option.values.empty());
            EXPECT_EQ(option.default_value, option.values.front().first) << option.key;
            EXPECT_GE(option.info.size(), 20u) << option.key << " needs a description";
            used_categories.insert(option.category);
        }
        EXPECT_EQ(as_variables, variables);
        std::set<std::string> categories;
        for (const auto& category : frontend.option_categories()) {
            ASSERT_EQ(category.size(), 3u);
            EXPECT_FALSE(category[1].empty());
            EXPECT_FALSE(category[2].empty());
            categories.insert(category[0]);
        }
        EXPECT_EQ(used_categories, categories) << "every option in a category, and no empty category";
    }
}

// Port 0 is the keypad, from a pad or a keyboard; the keyboard callback tells
// a frontend the game wants the keys (its game focus) rather than shortcuts.
TEST(EntryPoints, SetEnvironmentClaimsPortZeroAndTheKeyboard) {
    TestFrontend frontend;
    frontend.start();
    using Devices = std::vector<std::pair<std::string, unsigned>>;
    EXPECT_EQ(frontend.port_devices(),
              (std::vector<Devices>{{{"Keypad", RETRO_DEVICE_JOYPAD}, {"Keyboard", RETRO_DEVICE_KEYBOARD}}}));
    EXPECT_TRUE(frontend.has_keyboard_callback());
}

TEST(EntryPoints, RefusedOptionAnnouncementDoesNotStopTheCore) {
    TestFrontend frontend;
    frontend.refuse(RETRO_ENVIRONMENT_SET_VARIABLES);
    frontend.start();
    EXPECT_EQ(frontend.log_summary(), std::vector<std::string>{"INFO Tarvel libretro core initialized"});
}

TEST(EntryPoints, FrameAndResetWithoutGameOnlyWarn) {
    TestFrontend frontend;
    frontend.start();
    frontend.clear_log();
    frontend.run(2);
    retro_reset();
    EXPECT_EQ(frontend.log_summary(), (std::vector<std::string>{"WARN retro_run called before loading a game",
                                                                "WARN retro_run called before loading a game",
                                                                "WARN retro_reset called before loading a game"}));
    EXPECT_TRUE(frontend.video_frames().empty()) << "nothing is presented without a game";
    EXPECT_TRUE(frontend.audio_batches().empty());
    EXPECT_EQ(frontend.input_polls(), 0);
}

TEST(EntryPoints, SaveStatesAndMemoryWithoutGameAreEmpty) {
    TestFrontend frontend;
    frontend.start();
    frontend.clear_log();
    EXPECT_EQ(retro_serialize_size(), 0u);
    std::vector<unsigned char> buffer(64, 0x5A);
    EXPECT_FALSE(retro_serialize(buffer.data(), buffer.size()));
    EXPECT_FALSE(retro_serialize(nullptr, 0));
    EXPECT_FALSE(retro_unserialize(buffer.data(), buffer.size()));
    EXPECT_FALSE(retro_unserialize(nullptr, 0));
    EXPECT_EQ(buffer, std::vector<unsigned char>(64, 0x5A)) << "a refused save must not write";
    for (unsigned id : {0u, 1u, 2u, 3u, 99u}) {
        EXPECT_EQ(retro_get_memory_data(id), nullptr) << id;
        EXPECT_EQ(retro_get_memory_size(id), 0u) << id;
    }
    EXPECT_TRUE(frontend.log().empty()) << "these calls are silent without a game";
}

TEST(EntryPoints, NoOpEntryPointsAcceptAnything) {
    TestFrontend frontend;
    frontend.start();
    frontend.clear_log();
    retro_set_audio_sample(nullptr);
    retro_set_controller_port_device(0, RETRO_DEVICE_JOYPAD);
    retro_set_controller_port_device(7, 12345);
    retro_cheat_reset();
    retro_cheat_set(0, true, nullptr);
    retro_cheat_set(3, false, "FFFF-0000");
    retro_game_info info{};
    info.path = "/nonexistent.cbe";
    EXPECT_FALSE(retro_load_game_special(1, &info, 1));
    EXPECT_FALSE(retro_load_game_special(0, nullptr, 0));
    EXPECT_TRUE(frontend.log().empty());
}

TEST(EntryPoints, LifecycleLinesAndRepeatedUnload) {
    TestFrontend frontend;
    frontend.start();
    retro_unload_game();
    retro_unload_game();
    retro_deinit();
    retro_deinit();
    EXPECT_EQ(frontend.log_summary(),
              (std::vector<std::string>{"INFO Tarvel libretro core initialized", "INFO Game unloaded", "INFO Game unloaded",
                                        "INFO Tarvel libretro core deinitialized",
                                        "INFO Tarvel libretro core deinitialized"}));
}

TEST(EntryPoints, CoreRunsWithoutAnyCallbacks) {
    // A frontend may hand over nothing at all; no entry point may crash then,
    // and the lines go to standard error.
    StderrCapture captured;
    retro_set_environment(nullptr);
    retro_set_video_refresh(nullptr);
    retro_set_audio_sample_batch(nullptr);
    retro_set_input_poll(nullptr);
    retro_set_input_state(nullptr);
    retro_init();
    retro_run();
    retro_reset();
    retro_game_info info{};
    info.path = "/nonexistent.cbe";
    EXPECT_FALSE(retro_load_game(&info));
    retro_system_av_info av{};
    retro_get_system_av_info(&av);
    EXPECT_EQ(av.geometry.base_width, 240u);
    retro_unload_game();
    retro_deinit();
    EXPECT_EQ(captured.finish(),
              "[Tarvel] INFO: Tarvel libretro core initialized\n"
              "[Tarvel] WARN: retro_run called before loading a game\n"
              "[Tarvel] WARN: retro_reset called before loading a game\n"
              "[Tarvel] ERROR: Failed to set pixel format\n"
              "[Tarvel] INFO: Game unloaded\n"
              "[Tarvel] INFO: Tarvel libretro core deinitialized\n");
}

}  // namespace
}  // namespace tarvel::test
