// A loaded game through the entry points: load and boot, frames and ticks,
// options, input, stopping, reset, replacing and unloading.
#include <libretro.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/gdb_client.hpp"
#include "support/stderr_capture.hpp"
#include "support/temp_dir.hpp"
#include "support/test_frontend.hpp"
#include "libretro/guest_app.hpp"

namespace tarvel::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

u32 ram_word(u32 offset) {
    auto* ram = static_cast<const u8*>(retro_get_memory_data(RETRO_MEMORY_SYSTEM_RAM));
    return ram ? load_le32(ram + offset) : 0xDEADBEEF;
}
u32 event_count(u32 event) { return ram_word(kEventCountsOffset + event * 4); }

class RunningGame : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Take the process's one look for the user profile out of the way.
        TestFrontend frontend;
        frontend.refuse(RETRO_ENVIRONMENT_GET_SYSTEM_DIRECTORY);
        frontend.start();
        frontend.load("/nonexistent/profile-turn.cbe");
    }
    void SetUp() override { frontend.start(); }

    std::string app(const GuestAppOptions& options = {}, const std::string& name = "app.cbe") {
        return dir.write(name, guest_app(options));
    }
    void load_app(const GuestAppOptions& options = {}) {
        ASSERT_TRUE(frontend.load(app(options))) << ::testing::PrintToString(frontend.log_summary());
        frontend.clear_log();
    }

    TestFrontend frontend;
    TempDir dir;
};

TEST_F(RunningGame, LoadBootsAndDescribesTheGame) {
    std::string path = app();
    frontend.clear_log();
    ASSERT_TRUE(frontend.load(path));
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_ERROR), IsEmpty());
    auto info = frontend.log_texts(RETRO_LOG_INFO);
    ASSERT_GE(info.size(), 3u);
    EXPECT_EQ(info[info.size() - 3], "Game loaded: " + path);
    EXPECT_EQ(info[info.size() - 2],
              "Core options applied: volume=100 touch_input=true auto_bgm=false debug_logging=false orientation=Auto");
    EXPECT_EQ(info.back(), "Registered guest memory descriptors");

    EXPECT_EQ(retro_serialize_size(), 0x3000000u);
    EXPECT_EQ(retro_get_memory_size(RETRO_MEMORY_SYSTEM_RAM), 0x1000000u);
    EXPECT_EQ(retro_get_memory_size(RETRO_MEMORY_VIDEO_RAM), 192000u);
    EXPECT_EQ(retro_get_memory_size(RETRO_MEMORY_SAVE_RAM), 0u);
    auto* ram = static_cast<u8*>(retro_get_memory_data(RETRO_MEMORY_SYSTEM_RAM));
    ASSERT_NE(ram, nullptr);
    EXPECT_EQ(retro_get_memory_data(RETRO_MEMORY_VIDEO_RAM), ram + 0x800420);
    EXPECT_EQ(retro_get_memory_data(RETRO_MEMORY_SAVE_RAM), nullptr);

    const auto& map = frontend.memory_map();
    ASSERT_GE(map.size(), 2u);
    retro_memory_descriptor zero{};
    EXPECT_EQ(std::memcmp(&map.back(), &zero, sizeof zero), 0) << "the table ends with a counted all-zero entry";
    int ram_entries = 0;
    for (size_t i = 0; i + 1 < map.size(); ++i) {
        EXPECT_STREQ(map[i].addrspace, "Tarvel");
        EXPECT_NE(map[i].ptr, nullptr);
        if (map[i].start == 0x05000000) {
            ++ram_entries;
            EXPECT_EQ(map[i].flags, u64{RETRO_MEMDESC_SYSTEM_RAM});
            EXPECT_EQ(map[i].ptr, ram);
            EXPECT_EQ(map[i].len, 0x1000000u);
        } else {
            EXPECT_EQ(map[i].flags, 0u);
        }
    }
    EXPECT_EQ(ram_entries, 1);

    retro_system_av_info av{};
    retro_get_system_av_info(&av);
    EXPECT_EQ(av.geometry.base_width, 240u);
    EXPECT_EQ(av.geometry.base_height, 400u);
}

TEST_F(RunningGame, WithoutLogInterfaceTheWholeLoadGoesToStandardError) {
    TestFrontend plain;
    plain.set_log_interface(false);
    const std::string path = app();
    const size_t size = guest_app().size();
    StderrCapture captured;
    plain.start();
    ASSERT_TRUE(plain.load(path));
    EXPECT_EQ(captured.finish(),
              "[Tarvel] INFO: Tarvel libretro core initialized\n"
              "[Tarvel] INFO: Loading CBE archive: " + path + "\n"
              "[Tarvel] INFO: File size: " + std::to_string(size) + " bytes\n"
              "[Tarvel] INFO: Found 0 sections\n"
              "[Tarvel] INFO: Total resources: 0\n"
              "[Tarvel] INFO: Game loaded: " + path + "\n"
              "[Tarvel] INFO: Core options applied: volume=100 touch_input=true auto_bgm=false debug_logging=false "
              "orientation=Auto\n"
              "[Tarvel] INFO: Registered guest memory descriptors\n");
    EXPECT_TRUE(plain.log().empty());
}

TEST_F(RunningGame, TenTicksPerSixtyFramesAndAFrameEveryRun) {
    load_app();
    frontend.run(5);
    EXPECT_EQ(ram_word(kRenderCountOffset), 0u) << "the first tick is due on the sixth frame";
    frontend.run(55);
    EXPECT_EQ(ram_word(kRenderCountOffset), 10u);
    EXPECT_EQ(event_count(6), 10u) << "each tick delivers the tick event";
    EXPECT_EQ(frontend.input_polls(), 60);

    const auto& frames = frontend.video_frames();
    ASSERT_EQ(frames.size(), 60u);
    EXPECT_EQ(frames[0].width, 240u);
    EXPECT_EQ(frames[0].height, 400u);
    EXPECT_EQ(frames[0].pitch, 960u);
    EXPECT_EQ(frames[4].pixels[0], 0xFF000000u) << "black before the first render";
    EXPECT_EQ(frames[5].pixels[0], 0xFFFF0000u) << "the render callback painted the pixel red";
    EXPECT_EQ(frames[5].pixels[1], 0xFF000000u);

    ASSERT_EQ(frontend.audio_batches().size(), 60u);
    EXPECT_EQ(frontend.audio_batches()[0], std::vector<int16_t>(1470, 0));
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_WARN), IsEmpty());
}

TEST_F(RunningGame, HeldButtonGivesOnePressAndOneRelease) {
    load_app();
    frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_A, true);
    frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_START, true);  // the same key: still one press
    frontend.run(18);
    EXPECT_EQ(event_count(0), 1u);
    EXPECT_EQ(event_count(1), 0u);
    frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_A, false);
    frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_START, false);
    frontend.run(12);
    EXPECT_EQ(event_count(0), 1u);
    EXPECT_EQ(event_count(1), 1u);
}

TEST_F(RunningGame, LandscapeChosenBeforeLoadTurnsTheFrame) {
    frontend.set_variable("tarvel_screen_orientation", "landscape");
    load_app();
    retro_system_av_info av{};
    retro_get_system_av_info(&av);
    EXPECT_EQ(av.geometry.base_width, 400u);
    EXPECT_EQ(av.geometry.base_height, 240u);
    EXPECT_FLOAT_EQ(av.geometry.aspect_ratio, 400.0f / 240.0f);
    frontend.run(6);
    EXPECT_THAT(frontend.geometry_requests(), IsEmpty()) << "the frontend already read it from the av info";
    const auto& last = frontend.video_frames().back();
    ASSERT_EQ(last.width, 400u);
    ASSERT_EQ(last.height, 240u);
    EXPECT_EQ(last.pixels[239 * 400 + 0], 0xFFFF0000u) << "the guest's top-left pixel shows at the bottom left";
}

TEST_F(RunningGame, OrientationChangeIsAnnouncedOnce) {
    load_app();
    frontend.set_variable("tarvel_screen_orientation", "landscape");
    frontend.set_variables_updated();
    frontend.run(3);
    ASSERT_EQ(frontend.geometry_requests().size(), 1u);
    const auto& g = frontend.geometry_requests()[0];
    EXPECT_EQ(g.base_width, 400u);
    EXPECT_EQ(g.base_height, 240u);
    EXPECT_EQ(g.max_width, 400u);
    EXPECT_EQ(g.max_height, 400u);
    EXPECT_FLOAT_EQ(g.aspect_ratio, 400.0f / 240.0f);
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_INFO),
                ElementsAre("Core options applied: volume=100 touch_input=true auto_bgm=false debug_logging=false "
                            "orientation=Landscape",
                            "Frontend accepted display geometry 400x240"));
    EXPECT_EQ(frontend.video_frames().back().width, 400u);

    // A refusal is reported once and not asked again.
    frontend.refuse(RETRO_ENVIRONMENT_SET_GEOMETRY);
    frontend.set_variable("tarvel_screen_orientation", "portrait");
    frontend.set_variables_updated();
    frontend.clear_log();
    frontend.run(3);
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_WARN), ElementsAre("Frontend did not accept display geometry 240x400"));
    EXPECT_EQ(frontend.video_frames().back().width, 240u);
}

TEST_F(RunningGame, OptionsAreReadAtLoad) {
    frontend.set_variable("tarvel_volume", "55");
    frontend.set_variable("tarvel_debug_logging", "enabled");
    frontend.set_variable("tarvel_touch_input", "disabled");
    frontend.clear_log();
    ASSERT_TRUE(frontend.load(app()));
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_INFO),
                Contains("Core options applied: volume=55 touch_input=false auto_bgm=false debug_logging=true "
                         "orientation=Auto"));
    frontend.clear_log();
    TARVEL_LOG(Debug, "t", "debug lines now pass");
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_DEBUG), ElementsAre("debug lines now pass"));
}

TEST_F(RunningGame, StoppedApplicationKeepsPresentingUntilReset) {
    GuestAppOptions options;
    options.has_render = false;
    frontend.set_variable("tarvel_debug_logging", "enabled");
    load_app(options);
    frontend.run(30);
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_WARN),
                ElementsAre("CBE frame callback stopped: CBE screen at 0x01002000 has no render callback"));
    EXPECT_EQ(event_count(6), 1u) << "the tick event came before the failure; no tick ran after it";
    ASSERT_EQ(frontend.messages().size(), 1u) << "the player sees why the game froze";
    EXPECT_EQ(frontend.messages()[0].text, "CBE frame callback stopped: CBE screen at 0x01002000 has no render callback");
    EXPECT_EQ(frontend.video_frames().size(), 30u);
    EXPECT_EQ(frontend.audio_batches().size(), 30u);

    frontend.clear_log();
    retro_reset();
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_DEBUG), Contains("Game reset"));
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_INFO), IsEmpty());
    EXPECT_EQ(event_count(6), 0u) << "a fresh machine";
    frontend.clear_log();
    frontend.run(6);
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_WARN), ElementsAre(::testing::StartsWith("CBE frame callback stopped")))
        << "reset clears the stopped flag, so ticks run again";
}

// Cheat finders, achievement and watch tools take the pointers once at load
// and read them every frame: through resets and restores they must keep
// pointing at the live machine (under AddressSanitizer a freed buffer fails).
TEST_F(RunningGame, MemoryStaysPutFromLoadToUnloadAndIsDescribedOnce) {
    frontend.set_variable("tarvel_volume", "30");
    load_app();
    auto* ram = static_cast<const u8*>(retro_get_memory_data(RETRO_MEMORY_SYSTEM_RAM));
    void* screen = retro_get_memory_data(RETRO_MEMORY_VIDEO_RAM);
    const std::vector<retro_memory_descriptor> map = frontend.memory_map();
    auto read_every_region = [&map] {
        unsigned sum = 0;
        for (const auto& d : map)
            if (d.ptr != nullptr) sum += static_cast<const u8*>(d.ptr)[0] + static_cast<const u8*>(d.ptr)[d.len - 1];
        return sum;
    };
    auto renders_through_old_pointer = [ram] { return load_le32(ram + kRenderCountOffset); };

    frontend.run(12);
    EXPECT_EQ(renders_through_old_pointer(), 2u);
    retro_reset();
    EXPECT_THAT(frontend.log_summary(), IsEmpty()) << "a reset says nothing at the Info level";
    EXPECT_EQ(renders_through_old_pointer(), 0u) << "the fresh machine lives in the old buffers";
    read_every_region();
    frontend.run(18);
    EXPECT_EQ(renders_through_old_pointer(), 3u);

    std::vector<u8> saved(retro_serialize_size());
    ASSERT_TRUE(retro_serialize(saved.data(), saved.size()));
    frontend.run(30);
    ASSERT_TRUE(retro_unserialize(saved.data(), saved.size()));
    EXPECT_THAT(frontend.log_summary(), IsEmpty()) << "a restore says nothing at the Info level";
    EXPECT_EQ(renders_through_old_pointer(), 3u) << "the restored machine lives in the old buffers";
    read_every_region();

    EXPECT_EQ(retro_get_memory_data(RETRO_MEMORY_SYSTEM_RAM), ram);
    EXPECT_EQ(retro_get_memory_data(RETRO_MEMORY_VIDEO_RAM), screen);
    EXPECT_EQ(frontend.environment_call_count(RETRO_ENVIRONMENT_SET_MEMORY_MAPS), 1u)
        << "the memory map may be sent only while loading";
    frontend.run(6);
    EXPECT_EQ(renders_through_old_pointer(), 4u);
}

// The pointer leaves the picture while the pen is down: the frontend then
// reports X = Y = pressed = 0, which must lift the pen.
TEST_F(RunningGame, DragReleasedOutsideThePictureLiftsThePen) {
    load_app();
    frontend.set_pointer(-0x4000, -0x4000, true);
    frontend.run(6);
    frontend.set_pointer(0x7000, 0x7000, true);
    frontend.run(6);
    frontend.set_pointer(0, 0, false);
    frontend.run(12);
    EXPECT_EQ(event_count(3), 1u) << "pen down";
    EXPECT_EQ(event_count(4), 1u) << "pen up";
    frontend.run(12);
    EXPECT_EQ(event_count(4), 1u) << "once";
}

TEST_F(RunningGame, BootFailureLoadsNothing) {
    GuestAppOptions options;
    options.register_entry = false;
    frontend.clear_log();
    EXPECT_FALSE(frontend.load(app(options)));
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_ERROR),
                ElementsAre("Failed to boot CBE application: CBE initializer returned without registering an "
                            "application entry"));
    EXPECT_EQ(retro_serialize_size(), 0u);
    EXPECT_EQ(frontend.environment_call_count(RETRO_ENVIRONMENT_SET_MEMORY_MAPS), 0u);
}

TEST_F(RunningGame, OnlyASuccessfulLoadReplacesTheGame) {
    GuestAppOptions first;
    first.marker = 1;
    load_app(first);
    frontend.run(12);
    ASSERT_EQ(ram_word(kRenderCountOffset), 2u);

    EXPECT_FALSE(frontend.load(dir.path() + "/missing.cbe"));
    GuestAppOptions broken;
    broken.register_entry = false;
    EXPECT_FALSE(frontend.load(app(broken, "broken.cbe")));
    EXPECT_EQ(ram_word(kRenderCountOffset), 2u) << "the first game is still there, untouched";
    frontend.run(6);
    EXPECT_EQ(ram_word(kRenderCountOffset), 3u);

    GuestAppOptions second;
    second.marker = 2;
    EXPECT_TRUE(frontend.load(app(second, "second.cbe")));
    EXPECT_EQ(ram_word(kRenderCountOffset), 0u) << "the second game replaced the first";
}

TEST_F(RunningGame, RefusedMemoryMapOnlyWarns) {
    frontend.refuse(RETRO_ENVIRONMENT_SET_MEMORY_MAPS);
    frontend.clear_log();
    EXPECT_TRUE(frontend.load(app()));
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_WARN), ElementsAre("Frontend did not accept guest memory descriptors"));
}

TEST_F(RunningGame, UnloadAndDeinitDropTheGame) {
    load_app();
    retro_unload_game();
    EXPECT_EQ(retro_serialize_size(), 0u);
    EXPECT_EQ(retro_get_memory_data(RETRO_MEMORY_SYSTEM_RAM), nullptr);
    load_app();
    retro_deinit();
    EXPECT_EQ(retro_serialize_size(), 0u);
    frontend.clear_log();
    frontend.run(1);
    EXPECT_THAT(frontend.log_summary(), ElementsAre("WARN retro_run called before loading a game"));
    EXPECT_TRUE(frontend.video_frames().empty());
}

// The GDB stub never holds on to a machine: a debugger attached at the first
// instruction, still attached through a reset and a state restore, halts and
// reads the machine that runs now, and the game runs on once it detaches.
TEST_F(RunningGame, DebuggerSessionOutlivesResetAndRestore) {
    const u16 port = free_loopback_port();
    frontend.set_variable("tarvel_gdb_port", std::to_string(port));
    std::atomic<bool> restored{false};
    std::atomic<bool> done{false};
    std::vector<std::string> heard;
    std::thread debugger([&] {
        ScriptedDebugger d(port);
        heard.push_back(d.ask("QStartNoAckMode"));
        heard.push_back(d.ask("pf"));  // waiting at the first instruction
        d.send("c");
        while (!restored) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        d.send_raw("\x03");
        heard.push_back(d.next_packet());
        heard.push_back(d.ask("pf"));
        heard.push_back(d.ask("D"));
        done = true;
    });
    const bool loaded = frontend.load(app());
    std::vector<u8> saved(retro_serialize_size());
    const bool serialized = loaded && retro_serialize(saved.data(), saved.size());
    frontend.run(12);
    retro_reset();
    const bool unserialized = serialized && retro_unserialize(saved.data(), saved.size());
    restored = true;
    // The interrupt halts the next tick's first instruction, however late it comes.
    for (long frame = 0; frame < 10'000'000 && !done; ++frame) frontend.run(1);
    debugger.join();

    EXPECT_TRUE(loaded && serialized && unserialized);
    ASSERT_EQ(heard.size(), 5u);
    EXPECT_EQ(heard[0], "OK");
    EXPECT_EQ(heard[1], guest_hex(kCodeBase, false));
    EXPECT_TRUE(heard[2].starts_with("T05")) << heard[2];
    u32 pc = 0;
    EXPECT_TRUE(debugger::parse_hex_u32(heard[3].substr(6, 2) + heard[3].substr(4, 2) + heard[3].substr(2, 2) +
                                            heard[3].substr(0, 2),
                                        pc))
        << heard[3];
    EXPECT_GE(pc, kCodeBase);
    EXPECT_LT(pc, kCodeBase + kDataOffset) << "halted in the application's code";
    EXPECT_EQ(heard[4], "OK");
    const u32 renders = ram_word(kRenderCountOffset);
    frontend.run(12);
    EXPECT_GT(ram_word(kRenderCountOffset), renders) << "the game runs on after the debugger left";
}

}  // namespace
}  // namespace tarvel::test
