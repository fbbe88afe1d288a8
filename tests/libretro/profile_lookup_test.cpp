#include "libretro/orientation_profile.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tarvel {
namespace {

namespace fs = std::filesystem;

// The user profile is process-wide: every test starts and ends with it empty.
class UserProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        replace_user_orientation_profile({});
        dir_ = fs::temp_directory_path() /
               ("tarvel_orientation_test_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        replace_user_orientation_profile({});
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string write_file(const std::string& contents) {
        std::string path = (dir_ / "tarvel_orientation.csv").string();
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    fs::path dir_;
};

TEST_F(UserProfileTest, LoadingReplacesTheUserProfileAndReturnsTheCount) {
    auto loaded = load_user_orientation_profile(write_file("0x10,100,landscape\n20,200,portrait\n"));
    ASSERT_TRUE(loaded.ok()) << loaded.error().to_string();
    EXPECT_EQ(*loaded, 2u);
    EXPECT_EQ(user_orientation_profile(),
              (std::vector<ProfileEntry>{{100, 0x10, Orientation::Landscape}, {200, 0x20, Orientation::Portrait}}));
    EXPECT_EQ(lookup_orientation(100, 0x10), Orientation::Landscape);
}

TEST_F(UserProfileTest, CommentOnlyFileLoadsZeroEntries) {
    auto loaded = load_user_orientation_profile(write_file("# nothing yet\r\n\r\n"));
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(*loaded, 0u);
}

TEST_F(UserProfileTest, MissingFileIsAReadError) {
    std::string path = (dir_ / "absent.csv").string();
    auto loaded = load_user_orientation_profile(path);
    ASSERT_FALSE(loaded.ok());
    const auto& chain = loaded.error().chain();
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(chain[0], "failed to read orientation profile " + path);
    EXPECT_NE(chain[1].find("No such file or directory"), std::string::npos) << chain[1];
}

TEST_F(UserProfileTest, DirectoryAndNonUtf8FilesAreReadErrors) {
    auto dir = load_user_orientation_profile(dir_.string());
    ASSERT_FALSE(dir.ok());
    EXPECT_EQ(dir.error().message(), "failed to read orientation profile " + dir_.string());

    std::string path = write_file("1,2,portrait\n\xFF\xFE,3,landscape\n");
    auto bad = load_user_orientation_profile(path);
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().message(), "failed to read orientation profile " + path);
    EXPECT_EQ(bad.error().chain().size(), 2u);
}

TEST_F(UserProfileTest, BadFileIsRejectedWholeAndKeepsThePreviousProfile) {
    replace_user_orientation_profile({{5, 5, Orientation::Landscape}});
    std::string path = write_file("1,2,portrait\n3,4,Portrait\n");
    auto loaded = load_user_orientation_profile(path);
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.error().to_string(), "invalid orientation profile " + path +
                                              ": line 2: unknown orientation Portrait (use landscape or portrait)");
    EXPECT_EQ(user_orientation_profile(), (std::vector<ProfileEntry>{{5, 5, Orientation::Landscape}}));
    EXPECT_EQ(lookup_orientation(2, 1), Orientation::Portrait);
}

TEST_F(UserProfileTest, CrcErrorKeepsItsCauseInTheChain) {
    std::string path = write_file("xyz,2,portrait\n");
    auto loaded = load_user_orientation_profile(path);
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.error().chain(), (std::vector<std::string>{"invalid orientation profile " + path,
                                                                 "line 1: invalid crc32",
                                                                 "crc32 must be a hex number"}));
}

TEST_F(UserProfileTest, UnknownContentIsPortrait) {
    EXPECT_EQ(lookup_orientation(1, 1), Orientation::Portrait);
    EXPECT_EQ(lookup_orientation(0, 0), Orientation::Portrait);
}

TEST_F(UserProfileTest, EveryBuiltinEntryIsLandscapeAndNeedsBothKeys) {
    auto table = builtin_landscape_table();
    ASSERT_EQ(table.size(), 17u);
    for (const ProfileEntry& entry : table) {
        EXPECT_EQ(lookup_orientation(entry.length, entry.crc32), Orientation::Landscape) << entry.length;
        EXPECT_EQ(lookup_orientation(entry.length + 1, entry.crc32), Orientation::Portrait);
        EXPECT_EQ(lookup_orientation(entry.length, entry.crc32 ^ 1), Orientation::Portrait);
    }
    EXPECT_EQ(lookup_orientation(341737, 0xEE5A53AC), Orientation::Landscape);
    EXPECT_EQ(lookup_orientation(319424, 0x5E8B5904), Orientation::Landscape);
}

TEST_F(UserProfileTest, UserProfileIsConsultedBeforeTheBuiltinTable) {
    auto loaded = load_user_orientation_profile(write_file("0xee5a53ac,341737,portrait\n"));
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(lookup_orientation(341737, 0xEE5A53AC), Orientation::Portrait);
    // Other built-in contents are unaffected.
    EXPECT_EQ(lookup_orientation(728876, 0x7A5C0A30), Orientation::Landscape);
}

TEST_F(UserProfileTest, EarlierLineWinsForTheSameContent) {
    auto loaded = load_user_orientation_profile(write_file("7,70,landscape\n7,70,portrait\n8,70,portrait\n"));
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(*loaded, 3u);
    EXPECT_EQ(lookup_orientation(70, 7), Orientation::Landscape);
    EXPECT_EQ(lookup_orientation(70, 8), Orientation::Portrait);
}

TEST_F(UserProfileTest, LookupByBytesUsesTheWholeFileCrcAndLength) {
    const std::string text = "123456789";
    std::span<const u8> bytes(reinterpret_cast<const u8*>(text.data()), text.size());
    EXPECT_EQ(lookup_orientation(bytes), Orientation::Portrait);
    replace_user_orientation_profile({{9, 0xCBF43926, Orientation::Landscape}});
    EXPECT_EQ(lookup_orientation(bytes), Orientation::Landscape);
    EXPECT_EQ(lookup_orientation(bytes.first(8)), Orientation::Portrait);
}

}  // namespace
}  // namespace tarvel
