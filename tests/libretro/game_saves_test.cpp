// A game's files kept between sessions, through the entry points: the image
// in the frontend's save directory is read before the game boots, written at
// the end of a frame that changed the files, kept apart per content, refused
// whole when damaged (and then moved aside, never overwritten), and left alone
// by a restored state until the game writes again.
#include <libretro.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/file_io.hpp"
#include "libretro/core_state.hpp"
#include "libretro/guest_app.hpp"
#include "machine/fs_image.hpp"
#include "support/temp_dir.hpp"
#include "support/test_frontend.hpp"

namespace tarvel::test {
namespace {

using machine::VirtualFs;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kBestPath = "save/best.dat";

u32 boot_probe() {
    auto* ram = static_cast<const u8*>(retro_get_memory_data(RETRO_MEMORY_SYSTEM_RAM));
    return ram ? load_le32(ram + kBootProbeOffset) : 0xDEADBEEF;
}

// The running game's filesystem, changed here as the game's file service would.
VirtualFs& files() { return libretro::core_state()->machine->file_system; }

void write_file(const std::string& path, const std::string& text) {
    const u32 handle = *files().open(path, "w");
    ASSERT_TRUE(files().write(handle, std::span(reinterpret_cast<const u8*>(text.data()), text.size())));
    files().close(handle);
}

std::string contents(const VirtualFs& fs, const std::string& path) {
    auto found = fs.files.find(path);
    return found == fs.files.end() ? "(none)" : std::string(found->second.begin(), found->second.end());
}

std::vector<u8> bytes_at(const std::string& path) {
    auto read = read_whole_file(path);
    return read.ok() ? std::move(read).value() : std::vector<u8>();
}

std::vector<std::string> names_in(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class GameSaves : public ::testing::Test {
protected:
    void SetUp() override {
        frontend.set_save_directory(saves.path());
        frontend.start();
    }
    void TearDown() override { retro_unload_game(); }

    // Loads the app named `name` (the file name keys the saves).
    void load(const std::string& name = "app", u8 marker = 0) {
        GuestAppOptions options;
        options.boot_probe_path = kBestPath;
        options.marker = marker;
        ASSERT_TRUE(frontend.load(content.write(name + ".cbe", guest_app(options))))
            << ::testing::PrintToString(frontend.log_summary());
    }
    // Quits the frontend and starts it again with the same content.
    void restart(const std::string& name = "app") {
        retro_unload_game();
        retro_deinit();
        frontend.start();
        load(name);
    }
    std::string image() const { return saves.path() + "/app.tarvelfs"; }
    VirtualFs image_files() const {
        auto decoded = machine::decode_fs_image(bytes_at(image()));
        EXPECT_TRUE(decoded.ok()) << decoded.error().to_string();
        return decoded.ok() ? std::move(decoded).value() : VirtualFs{};
    }

    TestFrontend frontend;
    TempDir content;
    TempDir saves;
};

TEST_F(GameSaves, FilesComeBackAfterRestartAndResetAndStayWithTheirContent) {
    load();
    EXPECT_EQ(boot_probe(), 1u) << "no save yet";
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_INFO), testing::Contains("No game files yet at " + image()));
    write_file(kBestPath, "1234");
    ASSERT_TRUE(files().make_directory("options"));
    files().open("save/best.dat", "r");  // still open at the restart
    frontend.run(1);
    EXPECT_EQ(contents(image_files(), kBestPath), "1234") << "written at the end of the frame";

    restart();
    EXPECT_EQ(boot_probe(), 2u) << "the game's first code finds its save";
    EXPECT_EQ(contents(files(), kBestPath), "1234");
    EXPECT_TRUE(files().is_directory("options"));
    EXPECT_EQ(files().open_handle_count(), 0u) << "nothing is open at a fresh start";
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_INFO), testing::Contains("Game files loaded from " + image() + " (1 files)"));

    write_file("save/second.dat", "x");
    retro_reset();
    EXPECT_EQ(boot_probe(), 2u);
    EXPECT_EQ(contents(files(), "save/second.dat"), "x") << "a reset keeps files not yet written out";
    frontend.run(1);
    EXPECT_EQ(contents(image_files(), "save/second.dat"), "x");

    // Another content has its own files; the first one's are untouched.
    retro_unload_game();
    load("other", 1);
    EXPECT_EQ(boot_probe(), 1u);
    EXPECT_TRUE(files().files.empty());
    write_file(kBestPath, "9");
    frontend.run(1);
    restart();
    EXPECT_EQ(contents(files(), kBestPath), "1234");
    EXPECT_THAT(names_in(saves.path()), ElementsAre("app.tarvelfs", "other.tarvelfs"));
}

// A crash leaves the image of the last frame that ended: only a change made
// since then is lost, and no temporary file stays behind.
TEST_F(GameSaves, ACrashLosesOnlyTheChangeOfTheFrameUnderWay) {
    load();
    write_file(kBestPath, "100");
    frontend.run(1);
    write_file("save/other.dat", "kept");
    frontend.run(3);
    write_file(kBestPath, "200");  // the frame in which the frontend dies
    const std::vector<u8> left_by_crash = bytes_at(image());
    EXPECT_THAT(names_in(saves.path()), ElementsAre("app.tarvelfs"));

    restart();  // writes "200" on the way out; put back what a crash leaves
    ASSERT_TRUE(write_whole_file(image(), left_by_crash).ok());
    restart();
    EXPECT_EQ(contents(files(), kBestPath), "100");
    EXPECT_EQ(contents(files(), "save/other.dat"), "kept");
}

TEST_F(GameSaves, ADamagedImageIsRefusedAndKeptAside) {
    load();
    write_file(kBestPath, "1234");
    frontend.run(1);
    retro_unload_game();
    const std::vector<u8> good = bytes_at(image());

    std::vector<u8> flipped = good;
    flipped[good.size() - 2] ^= 1;
    const struct {
        std::vector<u8> bytes;
        const char* reason;
        const char* aside;
    } cases[] = {
        {std::vector<u8>(good.begin(), good.begin() + good.size() / 2), "the header says", "app.tarvelfs.damaged"},
        {flipped, "checksum mismatch", "app.tarvelfs.damaged-2"},
        {std::vector<u8>{'s', 'o', 'm', 'e', ' ', 'o', 't', 'h', 'e', 'r', ' ', 'f', 'i', 'l', 'e', ' ', 't', 'y',
                         'p', 'e', '.'},
         "not a game files image", "app.tarvelfs.damaged-3"},
        {std::vector<u8>(machine::kMaxFsImageBytes + 1), "more than an image can hold", "app.tarvelfs.damaged-4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        ASSERT_TRUE(write_whole_file(image(), c.bytes).ok());
        frontend.clear_log();
        load();
        const auto warnings = frontend.log_texts(RETRO_LOG_WARN);
        ASSERT_EQ(warnings.size(), 1u) << ::testing::PrintToString(warnings);
        EXPECT_THAT(warnings[0], HasSubstr("Game files image " + image() + " refused: "));
        EXPECT_THAT(warnings[0], HasSubstr(c.reason));
        EXPECT_THAT(warnings[0], HasSubstr("kept as " + saves.path() + "/" + c.aside));
        EXPECT_EQ(boot_probe(), 1u) << "the game starts with no files";
        EXPECT_TRUE(files().files.empty());
        EXPECT_EQ(bytes_at(saves.path() + "/" + c.aside), c.bytes) << "the damaged image is untouched";
        frontend.run(2);
        EXPECT_FALSE(std::filesystem::exists(image())) << "nothing to write yet";
        retro_unload_game();
    }
    load();
    write_file(kBestPath, "5");
    frontend.run(1);
    EXPECT_EQ(contents(image_files(), kBestPath), "5");
    EXPECT_EQ(bytes_at(saves.path() + "/app.tarvelfs.damaged"), cases[0].bytes);
}

// Loading an older state shows the game its older files, but by itself
// writes nothing: the newer saves on disk stay until the game writes again.
TEST_F(GameSaves, AnOlderStateLeavesNewerSavesUntilTheGameWrites) {
    load();
    write_file(kBestPath, "old");
    frontend.run(1);
    std::vector<u8> state(retro_serialize_size());
    ASSERT_TRUE(retro_serialize(state.data(), state.size()));
    write_file(kBestPath, "new");
    frontend.run(1);

    ASSERT_TRUE(retro_unserialize(state.data(), state.size()));
    EXPECT_EQ(contents(files(), kBestPath), "old");
    frontend.run(12);
    EXPECT_EQ(contents(image_files(), kBestPath), "new");

    write_file("save/more.dat", "m");
    frontend.run(1);
    EXPECT_EQ(contents(image_files(), kBestPath), "old") << "what the game has now is what it writes";
    EXPECT_EQ(contents(image_files(), "save/more.dat"), "m");
}

// Without a save directory the files last as long as the game stays loaded;
// a save folder that cannot be written is reported once, and the game goes on.
TEST_F(GameSaves, WithoutAUsableSaveDirectoryFilesLastUntilUnload) {
    for (const std::optional<std::string>& directory :
         {std::optional<std::string>(), std::optional<std::string>(content.path() + "/app.cbe")}) {
        SCOPED_TRACE(directory.value_or("no save directory"));
        frontend.set_save_directory(directory);
        frontend.clear_log();
        load();
        write_file(kBestPath, "1");
        frontend.run(3);
        write_file(kBestPath, "2");
        frontend.run(3);
        EXPECT_EQ(frontend.log_texts(RETRO_LOG_WARN).size(), directory ? 1u : 0u);
        retro_reset();
        EXPECT_EQ(boot_probe(), 2u);
        restart();
        EXPECT_EQ(boot_probe(), 1u);
        retro_unload_game();
    }
    EXPECT_THAT(names_in(saves.path()), IsEmpty());
}

// A filesystem filled to its limit with bytes that do not compress, in a
// machine whose RAM does not compress either, is kept on disk and fits into a
// save state; the service then reports no free space.
TEST_F(GameSaves, AFullFilesystemIsKeptAndFitsASaveState) {
    load();
    std::mt19937 random(7);
    auto* ram = static_cast<u8*>(retro_get_memory_data(RETRO_MEMORY_SYSTEM_RAM));
    for (size_t i = 0; i < retro_get_memory_size(RETRO_MEMORY_SYSTEM_RAM); ++i) ram[i] = static_cast<u8>(random());
    const u32 handle = *files().open("big.bin", "w");
    auto room = files().reserve_write(handle, machine::kMaxStoredBytes);
    ASSERT_TRUE(room);
    for (u8& b : *room) b = static_cast<u8>(random());
    EXPECT_EQ(files().free_bytes(), 0u);
    const std::vector<u8> expected = files().files.at("big.bin");

    std::vector<u8> state(retro_serialize_size());
    ASSERT_TRUE(retro_serialize(state.data(), state.size())) << ::testing::PrintToString(frontend.log_summary());
    frontend.run(1);
    ASSERT_TRUE(retro_unserialize(state.data(), state.size()));
    EXPECT_EQ(files().files.at("big.bin"), expected);
    restart();
    EXPECT_EQ(files().files.at("big.bin"), expected);
}

}  // namespace
}  // namespace tarvel::test
