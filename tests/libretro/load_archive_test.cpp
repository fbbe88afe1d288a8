// Loading real and broken CBE files through retro_load_game.
#include <libretro.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cbe_writer/cbe_writer.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "support/test_frontend.hpp"

namespace tarvel::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

cbe_writer::CbeBuilder small_application() {
    cbe_writer::CbeBuilder b;
    b.code = {0x00, 0x00, 0xA0, 0xE1, 0x1E, 0xFF, 0x2F, 0xE1};  // a few words of ARM code
    b.init_data = {1, 2, 3, 4};
    // Not empty: an empty segment would swallow the separator that follows it.
    b.embedded = {0x10, 0x20, 0x30, 0x40};
    b.data_offset = 0x100;
    b.data_size = 0x100;
    return b;
}

class LoadArchive : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Take the process's one look for the user profile out of the way.
        TestFrontend frontend;
        frontend.refuse(RETRO_ENVIRONMENT_GET_SYSTEM_DIRECTORY);
        frontend.start();
        frontend.load("/nonexistent/profile-turn.cbe");
    }
    void SetUp() override {
        frontend.start();
        frontend.clear_log();
    }

    std::string write(const std::vector<uint8_t>& bytes) { return dir.write("app.cbe", bytes); }

    // A broken file fails with exactly one Error line, the parser's message in
    // context, and no game loaded.
    void expect_rejected(const std::vector<uint8_t>& bytes, const std::string& message) {
        SCOPED_TRACE(message);
        frontend.clear_log();
        EXPECT_FALSE(frontend.load(write(bytes)));
        EXPECT_THAT(frontend.log_texts(RETRO_LOG_ERROR), ElementsAre("Failed to load game: " + message));
        EXPECT_THAT(frontend.log_texts(RETRO_LOG_INFO), Not(Contains(::testing::StartsWith("Game loaded"))));
        EXPECT_EQ(retro_serialize_size(), 0u);
    }

    TestFrontend frontend;
    TempDir dir;
};

TEST_F(LoadArchive, ContainerThatParsesButCannotBeBuiltOrBooted) {
    // Code placed where the guest memory has no room for it.
    auto unmapped = small_application();
    unmapped.load_address = 0x30000000;
    unmapped.data_address = 0x30001000;
    expect_rejected(unmapped.build(), "load address is not mapped");

    // Code that runs off the end of its region instead of registering an entry.
    frontend.clear_log();
    EXPECT_FALSE(frontend.load(write(small_application().build())));
    auto errors = frontend.log_texts(RETRO_LOG_ERROR);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_THAT(errors[0], ::testing::StartsWith("Failed to boot CBE application: "));
    EXPECT_EQ(retro_serialize_size(), 0u);
    EXPECT_TRUE(frontend.video_frames().empty());
}

TEST_F(LoadArchive, ContainerErrorsReachTheFrontendWithTheirMessage) {
    expect_rejected({}, "CBE executable header is truncated");
    auto whole = small_application().build();
    expect_rejected(std::vector<uint8_t>(whole.begin(), whole.begin() + 151), "CBE executable header is truncated");
    expect_rejected(small_application().patch(13, 0x00).build(), "invalid CBE header marker at 0xc");

    auto bad_code = small_application();
    bad_code.code_checksum = 0x12345678;
    expect_rejected(bad_code.build(), "CBE code checksum mismatch");

    auto long_resources = small_application();
    long_resources.resource_length = 0x1000;
    expect_rejected(long_resources.build(), "resource package extends beyond the CBE file");
}

TEST_F(LoadArchive, ScanLinesComeBeforeTheContainerError) {
    // Reading the file and scanning it for sections do not depend on the
    // container; only then is the container judged.
    auto bad = small_application();
    cbe_writer::SinglePackageSpec resources;
    resources.package.resources = {cbe_writer::resource("icon.png", {1, 2, 3})};
    bad.resource_package = cbe_writer::encode_single_package(resources);
    bad.embedded_checksum = 0x0BADF00D;
    const std::vector<uint8_t> bytes = bad.build();
    const std::string path = write(bytes);
    EXPECT_FALSE(frontend.load(path));
    EXPECT_THAT(frontend.log_summary(),
                ElementsAre("INFO Loading CBE archive: " + path, "INFO File size: " + std::to_string(bytes.size()) + " bytes",
                            "INFO Found 1 sections", "INFO Total resources: 1",
                            "ERROR Failed to load game: CBE embedded package checksum mismatch"));
}

TEST_F(LoadArchive, LinesCarryTheirModuleTargets) {
    // The frontend only sees text; the targets are checked at the core's sink.
    std::vector<std::string> targets;
    {
        LogCapture log{log::Level::Info};
        frontend.load(write(small_application().build()));
        for (const CapturedLine& line : log.entries())
            targets.push_back(line.target + " " + line.text.substr(0, line.text.find(':')));
    }
    EXPECT_THAT(targets, Contains("tarvel_core::cbe::archive Loading CBE archive"));
    EXPECT_THAT(targets, Contains("tarvel::libretro::api Failed to boot CBE application"));
}

TEST_F(LoadArchive, FailedLoadDoesNotDisturbTheFrontendState) {
    // Loading the same unbootable file twice, and a missing one in between,
    // gives the same outcome each time: nothing left behind by a failed attempt.
    std::string path = write(small_application().build());
    for (int i = 0; i < 2; ++i) {
        frontend.clear_log();
        EXPECT_FALSE(frontend.load(path));
        EXPECT_EQ(frontend.log_texts(RETRO_LOG_ERROR).size(), 1u);
        EXPECT_FALSE(frontend.load(dir.path() + "/missing.cbe"));
    }
    EXPECT_EQ(frontend.environment_call_count(RETRO_ENVIRONMENT_SET_MEMORY_MAPS), 0u);
    EXPECT_TRUE(frontend.geometry_requests().empty());
}

}  // namespace
}  // namespace tarvel::test
