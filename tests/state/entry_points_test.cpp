// Save states through the entry points with a running guest application:
// a restore replays the same frames, refused states leave the game as it was.
#include <libretro.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"
#include "support/test_frontend.hpp"
#include "libretro/guest_app.hpp"
#include "state/save_state.hpp"

namespace tarvel::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr size_t kCapacity = 0x3000000;

u32 ram_word(u32 offset) {
    auto* ram = static_cast<const u8*>(retro_get_memory_data(RETRO_MEMORY_SYSTEM_RAM));
    return ram ? load_le32(ram + offset) : 0xDEADBEEF;
}
u32 event_count(u32 event) { return ram_word(kEventCountsOffset + event * 4); }

std::vector<u8> serialize() {
    std::vector<u8> state(kCapacity, 0xAA);
    EXPECT_TRUE(retro_serialize(state.data(), state.size()));
    return state;
}

class SaveStateEntryPoints : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Take the process's one look for the user profile out of the way.
        TestFrontend frontend;
        frontend.refuse(RETRO_ENVIRONMENT_GET_SYSTEM_DIRECTORY);
        frontend.start();
        frontend.load("/nonexistent/profile-turn.cbe");
    }
    void SetUp() override { frontend.start(); }
    void TearDown() override { retro_unload_game(); }

    void load_app(const GuestAppOptions& options = {}) {
        ASSERT_TRUE(frontend.load(dir.write("app" + std::to_string(options.marker) + ".cbe", guest_app(options))));
        frontend.clear_log();
    }
    // A fixed input script: keys go down and up at set frames.
    std::vector<std::vector<u32>> play(int frames) {
        std::vector<std::vector<u32>> seen;
        for (int i = 0; i < frames; ++i) {
            frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_A, i < 8);
            frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_UP, i >= 14 && i < 30);
            frontend.set_pointer(40, 60, i >= 20 && i < 26);
            size_t before = frontend.video_frames().size();
            frontend.run();
            EXPECT_EQ(frontend.video_frames().size(), before + 1);
            std::vector<u32> frame = frontend.video_frames().back().pixels;
            for (u32 e = 0; e < 8; ++e) frame.push_back(event_count(e));
            frame.push_back(ram_word(kRenderCountOffset));
            seen.push_back(std::move(frame));
        }
        return seen;
    }
    std::string restore_error() {
        auto errors = frontend.log_texts(RETRO_LOG_ERROR);
        return errors.size() == 1 ? errors[0] : ::testing::PrintToString(errors);
    }

    TestFrontend frontend;
    TempDir dir;
};

TEST_F(SaveStateEntryPoints, RestoreReplaysTheSameFramesAndState) {
    load_app();
    frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_B, true);
    frontend.run(23);
    const std::vector<u8> saved = serialize();
    const auto first = play(45);
    const std::vector<u8> after_first = serialize();
    ASSERT_GT(first.back()[first.back().size() - 1], 0u) << "the application rendered";

    frontend.clear_log();
    frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_B, true);
    frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_A, false);
    frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_UP, false);
    frontend.set_pointer(40, 60, false);
    ASSERT_TRUE(retro_unserialize(saved.data(), saved.size()));
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_ERROR), IsEmpty());
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_INFO), IsEmpty()) << "rewind restores every frame: no Info lines";
    EXPECT_EQ(serialize(), saved) << "the restored machine encodes as the saved one";

    const auto second = play(45);
    EXPECT_TRUE(first == second) << "frames and guest counters after the restore match the first run";
    EXPECT_TRUE(serialize() == after_first) << "registers, memory and audio end the same";

    // Run-ahead restores the state it has just saved (those bytes are not
    // decompressed again).
    const auto third = play(45);
    ASSERT_TRUE(retro_unserialize(after_first.data(), after_first.size()));
    EXPECT_TRUE(play(45) == third);
}

TEST_F(SaveStateEntryPoints, RefusedStatesLeaveTheGameUntouched) {
    load_app();
    frontend.run(30);
    const std::vector<u8> saved = serialize();
    frontend.run(12);
    const std::vector<u8> current = serialize();
    const u32 renders = ram_word(kRenderCountOffset);

    struct Case {
        std::string expected;
        std::vector<u8> bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"save state is truncated", std::vector<u8>(saved.begin(), saved.begin() + 31)});
    cases.push_back({"invalid save-state signature", saved});
    cases.back().bytes[0] = 'X';
    cases.push_back({"unsupported save-state version 7", saved});
    store_le32(cases.back().bytes.data() + 8, 7);
    cases.push_back({"save-state checksum mismatch", saved});
    cases.back().bytes[40] ^= 0x10;
    cases.push_back({"invalid save-state payload length", std::vector<u8>(saved.begin(), saved.begin() + 64)});
    for (const Case& c : cases) {
        frontend.clear_log();
        EXPECT_FALSE(retro_unserialize(c.bytes.data(), c.bytes.size())) << c.expected;
        EXPECT_EQ(restore_error(), "Failed to restore game state: " + c.expected);
        EXPECT_EQ(ram_word(kRenderCountOffset), renders);
    }
    EXPECT_TRUE(serialize() == current) << "no refused state changed the machine";

    frontend.clear_log();
    EXPECT_FALSE(retro_unserialize(nullptr, kCapacity));
    EXPECT_FALSE(retro_unserialize(saved.data(), 0));
    EXPECT_THAT(frontend.log(), IsEmpty()) << "null data and size 0 are refused silently";
}

TEST_F(SaveStateEntryPoints, StateOfOtherContentIsRefused) {
    load_app();
    frontend.run(10);
    const std::vector<u8> saved = serialize();
    retro_unload_game();

    GuestAppOptions other;
    other.marker = 1;
    load_app(other);
    frontend.run(7);
    const u32 renders = ram_word(kRenderCountOffset);
    EXPECT_FALSE(retro_unserialize(saved.data(), saved.size()));
    EXPECT_EQ(restore_error(), "Failed to restore game state: save state belongs to different content data");
    EXPECT_EQ(ram_word(kRenderCountOffset), renders);
}

TEST_F(SaveStateEntryPoints, SavingNeedsAGameAndTheWholeCapacity) {
    std::vector<u8> buffer(kCapacity);
    EXPECT_EQ(retro_serialize_size(), 0u);
    EXPECT_FALSE(retro_serialize(buffer.data(), buffer.size()));
    EXPECT_FALSE(retro_unserialize(buffer.data(), buffer.size()));

    load_app();
    EXPECT_EQ(retro_serialize_size(), kCapacity);
    EXPECT_FALSE(retro_serialize(buffer.data(), kCapacity - 1));
    EXPECT_FALSE(retro_serialize(nullptr, kCapacity));
    EXPECT_THAT(frontend.log(), IsEmpty());

    // A buffer holding an older state is mostly zero already: single stray
    // bytes anywhere in a block, at its ends or in the last bytes, must go.
    std::vector<u8> larger(kCapacity + 16, 0);
    for (size_t at = 4095; at < kCapacity; at += 4096 * 97 + 13) larger[at] = 0xAA;
    for (size_t at : {kCapacity - 4096, kCapacity - 1, kCapacity, kCapacity + 15}) larger[at] = 0xAA;
    ASSERT_TRUE(retro_serialize(larger.data(), larger.size()));
    EXPECT_EQ(larger[kCapacity], 0xAA) << "only the capacity is written";
    const size_t block_end = 32 + load_le32(larger.data() + kHeaderCompressedLength);
    EXPECT_EQ(std::count(larger.begin() + static_cast<std::ptrdiff_t>(block_end),
                         larger.begin() + static_cast<std::ptrdiff_t>(kCapacity), u8{0}),
              static_cast<std::ptrdiff_t>(kCapacity - block_end));
}

TEST_F(SaveStateEntryPoints, RestoreWhileStoppedResumesTicking) {
    GuestAppOptions options;
    options.has_render = false;
    load_app(options);
    frontend.run(3);
    const std::vector<u8> saved = serialize();
    frontend.run(20);
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_WARN), ElementsAre(StartsWith("CBE frame callback stopped")));
    frontend.run(12);

    frontend.clear_log();
    ASSERT_TRUE(retro_unserialize(saved.data(), saved.size()));
    frontend.run(6);
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_WARN), ElementsAre(StartsWith("CBE frame callback stopped")))
        << "the restore cleared the stopped flag, so a tick ran again";
}

TEST_F(SaveStateEntryPoints, HeldKeysAndWaitingKeyEventsComeBackWithTheState) {
    load_app();
    frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_A, true);
    frontend.run(12);
    ASSERT_EQ(event_count(0), 1u);
    const std::vector<u8> saved = serialize();

    // Still held at the restore: nothing new to deliver.
    ASSERT_TRUE(retro_unserialize(saved.data(), saved.size()));
    frontend.run(24);
    EXPECT_EQ(event_count(0), 1u);
    EXPECT_EQ(event_count(1), 0u);

    // Released by the time of the restore: one release follows, no second press.
    frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_A, false);
    ASSERT_TRUE(retro_unserialize(saved.data(), saved.size()));
    frontend.run(24);
    EXPECT_EQ(event_count(0), 1u);
    EXPECT_EQ(event_count(1), 1u);

    // Three keys pressed in one frame are delivered one per tick; a state
    // saved before they all arrived still delivers the rest after a restore
    // (rewind and run-ahead restore every frame).
    for (unsigned id : {RETRO_DEVICE_ID_JOYPAD_A, RETRO_DEVICE_ID_JOYPAD_UP, RETRO_DEVICE_ID_JOYPAD_LEFT})
        frontend.set_joypad(id, true);
    frontend.run();
    ASSERT_LT(event_count(0), 4u) << "the presses are still waiting";
    const std::vector<u8> waiting = serialize();
    frontend.run(24);
    ASSERT_EQ(event_count(0), 4u);
    ASSERT_TRUE(retro_unserialize(waiting.data(), waiting.size()));
    frontend.run(24);
    EXPECT_EQ(event_count(0), 4u) << "no press was lost in the restore";
}

}  // namespace
}  // namespace tarvel::test
