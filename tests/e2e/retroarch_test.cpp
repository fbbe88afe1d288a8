// The core in a real libretro frontend: RetroArch, headless (null video,
// audio, input and menu drivers), loads the core library and the demo, runs a
// fixed number of frames and writes the last one as a PNG, which must be the
// picture tarvel-run presents at the same frame. Every folder RetroArch
// would use, and HOME, point into the test's own temporary folder. A second
// test plays the demo with RetroArch's network gamepad holding a button, quits,
// starts RetroArch again and checks that the title shows the kept best score.
// A third lets RetroArch play the demo's sound through its ALSA driver into a
// WAV file (ALSA's file plugin in front of its null device) and checks that
// the music arrived.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include <fmt/format.h>

#include "e2e/golden.hpp"
#include "e2e/runner.hpp"
#include "machine/fs_image.hpp"
#include "support/temp_dir.hpp"

namespace tarvel::e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

#if defined(TARVEL_DEMO_LE_CBE)
constexpr const char* kContent = TARVEL_DEMO_LE_CBE;
#elif defined(E2E_KEYPAD_LE_CBE)
constexpr const char* kContent = E2E_KEYPAD_LE_CBE;
#else
constexpr const char* kContent = "";
#endif

constexpr long kFrames = 90;
// Long enough for the demo to start, count down and end a game nobody steers.
constexpr long kPlayFrames = 6000;

std::string find_retroarch() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string candidate = (dir.empty() ? "." : dir) + "/retroarch";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return {};
}

// Every directory setting into `root`, null drivers, nothing saved on exit.
std::string retroarch_config(const std::string& root) {
    std::string text =
        "video_driver = \"null\"\n"
        "audio_driver = \"null\"\n"
        "input_driver = \"null\"\n"
        "input_joypad_driver = \"null\"\n"
        "menu_driver = \"null\"\n"
        "camera_driver = \"null\"\n"
        "location_driver = \"null\"\n"
        "record_driver = \"null\"\n"
        "midi_driver = \"null\"\n"
        "audio_enable = \"false\"\n"
        "config_save_on_exit = \"false\"\n"
        "core_updater_auto_extract_archive = \"false\"\n"
        "history_list_enable = \"false\"\n"
        "content_runtime_log = \"false\"\n"
        "content_runtime_log_aggregate = \"false\"\n"
        "savestate_auto_save = \"false\"\n"
        "savestate_auto_load = \"false\"\n"
        "auto_overrides_enable = \"false\"\n"
        "auto_remaps_enable = \"false\"\n"
        "game_specific_options = \"false\"\n"
        "network_cmd_enable = \"false\"\n"
        "stdin_cmd_enable = \"false\"\n"
        "pause_nonactive = \"false\"\n"
        "video_gpu_screenshot = \"false\"\n"
        "notification_show_screenshot = \"false\"\n"
        "log_to_file = \"false\"\n";
    const std::pair<const char*, const char*> folders[] = {
        {"libretro_directory", "cores"},
        {"libretro_info_path", "info"},
        {"system_directory", "system"},
        {"savefile_directory", "saves"},
        {"savestate_directory", "states"},
        {"screenshot_directory", "screenshots"},
        {"cache_directory", "cache"},
        {"log_dir", "logs"},
        {"playlist_directory", "playlists"},
        {"content_database_path", "database"},
        {"cheat_database_path", "cheats"},
        {"cursor_directory", "cursors"},
        {"rgui_config_directory", "config"},
        {"rgui_browser_directory", "content"},
        {"core_assets_directory", "downloads"},
        {"assets_directory", "assets"},
        {"thumbnails_directory", "thumbnails"},
        {"dynamic_wallpapers_directory", "wallpapers"},
        {"overlay_directory", "overlays"},
        {"osk_overlay_directory", "overlays"},
        {"joypad_autoconfig_dir", "autoconfig"},
        {"input_remapping_directory", "remaps"},
        {"video_shader_dir", "shaders"},
        {"video_filter_dir", "filters"},
        {"audio_filter_dir", "filters"},
        {"recording_output_directory", "recordings"},
        {"recording_config_directory", "recordings"},
        {"runtime_log_directory", "runtime"},
        {"content_history_dir", "history"},
    };
    for (const auto& [key, folder] : folders) {
        fs::create_directories(root + "/" + folder);
        text += fmt::format("{} = \"{}/{}\"\n", key, root, folder);
    }
    const std::pair<const char*, const char*> files[] = {
        {"core_options_path", "config/core-options.cfg"},
        {"content_history_path", "history/history.lpl"},
        {"content_favorites_path", "history/favorites.lpl"},
        {"content_music_history_path", "history/music.lpl"},
        {"content_image_history_path", "history/images.lpl"},
        {"content_video_history_path", "history/video.lpl"},
    };
    for (const auto& [key, file] : files) text += fmt::format("{} = \"{}/{}\"\n", key, root, file);
    return text;
}

std::map<std::string, std::string> retroarch_environment(const std::string& root) {
    std::map<std::string, std::string> environment{
        {"HOME", root + "/home"},
        {"XDG_CONFIG_HOME", root + "/home/.config"},
        {"XDG_CACHE_HOME", root + "/home/.cache"},
        {"XDG_DATA_HOME", root + "/home/.local/share"},
        {"XDG_RUNTIME_DIR", root + "/home/run"},
        // Without a D-Bus session RetroArch aborts at start unless told
        // that D-Bus warnings are not fatal.
        {"DBUS_FATAL_WARNINGS", "0"},
        {"DISPLAY", ""},
        {"WAYLAND_DISPLAY", ""},
    };
#ifdef TARVEL_E2E_SANITIZED
    // The sanitizer build's core needs its runtimes loaded first in a host
    // program that was built without them.
    environment["LD_PRELOAD"] = TARVEL_E2E_SANITIZER_RUNTIMES;
    environment["ASAN_OPTIONS"] = "detect_leaks=0";
#endif
    fs::create_directories(root + "/home/run");
    fs::permissions(root + "/home/run", fs::perms::owner_all, fs::perm_options::replace);
    return environment;
}

// RetroArch set up in a temporary folder with the core and the content.
class RetroArch : public ::testing::Test {
protected:
    void SetUp() override {
        retroarch = find_retroarch();
        if (retroarch.empty()) GTEST_SKIP() << "retroarch is not installed";
        if (std::string(kContent).empty())
            GTEST_SKIP() << "no ARM cross compiler in this build: no application to run";
#if defined(TARVEL_E2E_SANITIZED)
        if (std::string(TARVEL_E2E_SANITIZER_RUNTIMES).empty())
            GTEST_SKIP() << "the sanitizer runtimes of this compiler were not found, so RetroArch cannot load this core";
#endif
        root = dir.path();
        config = root + "/retroarch.cfg";
        write_config("");
        // The core and its info file where the configuration says, so that
        // RetroArch knows the core (it offers save states only then).
        fs::copy_file(TARVEL_CORE_LIBRARY, root + "/cores/tarvel_libretro.so");
        fs::copy_file(TARVEL_CORE_INFO_FILE, root + "/info/tarvel_libretro.info");
        content = root + "/content/app.cbe";
        fs::copy_file(kContent, content);
    }
    // The base configuration with the keys that `extra` sets left out, then `extra`.
    void write_config(const std::string& extra) {
        std::istringstream base(retroarch_config(root));
        std::ofstream out(config);
        for (std::string line; std::getline(base, line);) {
            const std::string key = line.substr(0, line.find(' '));
            if (extra.find("\n" + key + " =") == std::string::npos && extra.rfind(key + " =", 0) != 0) out << line << "\n";
        }
        out << extra;
    }
    // Runs RetroArch for `frames` frames and writes the last one to `shot`.
    // With a `wrapper` script, RetroArch runs as that script's arguments.
    ProcessResult run(long frames, const std::string& shot, const std::string& log_name,
                      const std::string& wrapper = "") {
        std::vector<std::string> argv;
        if (!wrapper.empty()) argv = {"/bin/bash", "-c", wrapper, "retroarch-wrapper"};
        for (const std::string& arg :
             {retroarch, std::string("-v"), "--config=" + config, std::string("-L"), root + "/cores/tarvel_libretro.so",
              "--max-frames=" + std::to_string(frames), std::string("--max-frames-ss"),
              "--max-frames-ss-path=" + shot, content})
            argv.push_back(arg);
        return run_process(argv, output_dir() + "/" + log_name, retroarch_environment(root), root);
    }

    std::string retroarch;
    test::TempDir dir;
    std::string root, config, content;
};

TEST_F(RetroArch, RunsTheCoreAndShowsTheSamePictureAsTarvelRun) {
    const std::string shot = root + "/retroarch-last-frame.png";
    ProcessResult run = this->run(kFrames, shot, "retroarch-output.txt");
    ASSERT_EQ(run.exit_code, 0) << run.output;

    // The core's own lines, as RetroArch prints them.
    EXPECT_THAT(run.output, HasSubstr("[libretro INFO] Tarvel libretro core initialized"));
    EXPECT_THAT(run.output, HasSubstr("[libretro INFO] Game loaded: " + content));
    EXPECT_THAT(run.output, HasSubstr("[libretro INFO] Core options applied: volume=100"));
    EXPECT_THAT(run.output, HasSubstr("[libretro INFO] Registered guest memory descriptors"));
    EXPECT_THAT(run.output, ::testing::Not(HasSubstr("[libretro ERROR]")));
    EXPECT_THAT(run.output, ::testing::Not(HasSubstr("[libretro WARN]")));
    EXPECT_THAT(run.output, ::testing::Not(HasSubstr("CBE frame callback stopped")));
    // RetroArch prints each core line as the core ends it: one per line.
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        const size_t first = line.find("[libretro ");
        EXPECT_TRUE(first == std::string::npos || line.find("[libretro ", first + 1) == std::string::npos)
            << "core lines run together: " << line;
    }

    tarvel_run::Picture retroarch_frame;
    std::string error;
    ASSERT_TRUE(tarvel_run::read_png(shot, retroarch_frame, error)) << error << "\n" << run.output;

    RunSpec spec;
    spec.content = kContent;
    spec.frames = kFrames;
    spec.screenshots = {{kFrames - 1, "before"}};
    RunOutcome ours = run_tarvel(spec);
    ASSERT_EQ(ours.process.exit_code, 0) << ours.process.output;
    EXPECT_EQ(first_difference(ours.shots["end"], retroarch_frame), "")
        << "RetroArch's frame " << kFrames << " differs from tarvel-run's";
    // A tick runs in the last frame, so the frame before it looks different:
    // the comparison tells whether RetroArch ran exactly that many frames.
    EXPECT_NE(first_difference(ours.shots["before"], retroarch_frame), "");

    // Nothing was written to the real home folder or beside the real content.
    EXPECT_FALSE(fs::exists(fs::path(kContent).replace_extension(".srm")));
}

// The player holds A from the start (through RetroArch's network gamepad, the
// one input a headless RetroArch takes): the title starts a game, the ship
// stays in its lane until a block ends the game with a best score, which the
// demo writes to its files. RetroArch quits; started again with the same
// content, the demo's title shows that best score, exactly as tarvel-run
// shows it with the same save file.
TEST_F(RetroArch, TheDemoKeepsItsBestScoreBetweenSessions) {
    write_config(
        "network_remote_enable = \"true\"\n"
        "network_remote_base_port = \"55400\"\n"
        "network_remote_enable_user_p1 = \"true\"\n");
    // Sends "port 0, joypad, index 0, button A, pressed" every 20 ms while
    // RetroArch runs; RetroArch keeps the last state it received.
    const std::string hold_a =
        "( while :; do printf '\\0\\0\\0\\0\\1\\0\\0\\0\\0\\0\\0\\0\\10\\0\\0\\0\\1\\0\\0\\0' "
        "> /dev/udp/127.0.0.1/55400 2>/dev/null; sleep 0.02; done ) & sender=$!; "
        "\"$@\"; status=$?; kill $sender; exit $status";
    ProcessResult played = run(kPlayFrames, root + "/played.png", "retroarch-play-output.txt", hold_a);
    ASSERT_EQ(played.exit_code, 0) << played.output;
    const std::string image = root + "/saves/app.tarvelfs";
    EXPECT_THAT(played.output, HasSubstr("[libretro INFO] No game files yet at " + image));

    // What RetroArch's save folder holds now (recorded for the report).
    std::string listing;
    for (const auto& entry : fs::directory_iterator(root + "/saves"))
        listing += fmt::format("{} {} bytes\n", entry.path().filename().string(), entry.file_size());
    RecordProperty("saves", listing);
    std::cout << "RetroArch's save folder after playing:\n" << listing;
    const std::string image_bytes = read_file(image);
    auto kept = machine::decode_fs_image(
        std::span(reinterpret_cast<const u8*>(image_bytes.data()), image_bytes.size()));
    ASSERT_TRUE(kept.ok()) << kept.error().to_string() << "\n" << played.output;
    ASSERT_TRUE(kept->files.contains("demo/best.dat")) << played.output;
    const std::vector<u8>& best = kept->files.at("demo/best.dat");
    ASSERT_EQ(best.size(), 4u);
    EXPECT_GT(load_le32(best.data()), 0u) << "a game was played to its end";

    write_config("");
    const std::string shot = root + "/title.png";
    ProcessResult again = run(kFrames, shot, "retroarch-again-output.txt");
    ASSERT_EQ(again.exit_code, 0) << again.output;
    EXPECT_THAT(again.output, HasSubstr("[libretro INFO] Game files loaded from " + image + " (1 files)"));
    EXPECT_THAT(again.output, ::testing::Not(HasSubstr("[libretro WARN]")));
    tarvel_run::Picture title;
    std::string error;
    ASSERT_TRUE(tarvel_run::read_png(shot, title, error)) << error;

    // tarvel-run with a copy of the save file shows the same title; without
    // it the title has no best score, so the pictures tell the two apart.
    test::TempDir saves;
    fs::copy_file(image, saves.path() + "/app.tarvelfs");
    RunSpec spec;
    spec.content = content;
    spec.frames = kFrames;
    spec.arguments = {"-S", saves.path()};
    RunOutcome with_best = run_tarvel(spec);
    ASSERT_EQ(with_best.process.exit_code, 0) << with_best.process.output;
    EXPECT_EQ(first_difference(with_best.shots["end"], title), "") << "RetroArch's title differs from tarvel-run's";
    spec.arguments.clear();
    RunOutcome without = run_tarvel(spec);
    ASSERT_EQ(without.process.exit_code, 0) << without.process.output;
    EXPECT_NE(first_difference(without.shots["end"], title), "") << "the title shows no best score";
}

// RetroArch's null audio driver throws the sound away, so this run uses its
// ALSA driver on a device of the test's own ALSA configuration (in the
// temporary HOME): the file plugin writes everything RetroArch plays to a WAV
// file and passes it on to ALSA's null device. The demo's theme starts on the
// title's first tick, so most of what RetroArch played is music, whatever
// rate and sample format RetroArch chose for the device.
TEST_F(RetroArch, PlaysTheCoresSoundThroughItsAudioDriver) {
    const std::string captured = root + "/captured.wav";
    fs::create_directories(root + "/home");
    // RetroArch asks for float samples; the plug converts them to 16-bit for
    // the file plugin.
    std::ofstream(root + "/home/.asoundrc") << "pcm.tarvel_capture {\n"
                                                "  type plug\n"
                                                "  slave { pcm \"tarvel_file\" format S16_LE }\n"
                                                "}\n"
                                                "pcm.tarvel_file {\n"
                                                "  type file\n"
                                                "  slave.pcm \"null\"\n"
                                                "  file \"" << captured << "\"\n"
                                                "  format \"wav\"\n"
                                                "}\n";
    write_config(
        "audio_driver = \"alsa\"\n"
        "audio_enable = \"true\"\n"
        "audio_device = \"tarvel_capture\"\n"
        "audio_sync = \"false\"\n");
    ProcessResult run = this->run(240, root + "/sound.png", "retroarch-sound-output.txt");
    ASSERT_EQ(run.exit_code, 0) << run.output;
    const WavLevel heard = measure_wav(read_file(captured));
    ASSERT_TRUE(heard.valid) << "RetroArch wrote no WAV through ALSA\n" << run.output;
    RecordProperty("captured", fmt::format("{} samples at {} Hz, {} channels, {} not zero, peak {:.3f}", heard.samples,
                                           heard.rate, heard.channels, heard.nonzero, heard.peak));
    // 240 frames are 4 s; RetroArch may hold back the last few buffers.
    EXPECT_GT(heard.samples, size_t{heard.rate} * heard.channels * 3) << run.output;
    EXPECT_GT(heard.nonzero, heard.samples / 2);
    EXPECT_GT(heard.peak, 0.05);
}

}  // namespace
}  // namespace tarvel::e2e
