// A guest C program built with the SDK works the file service through its
// wrappers at start-up and leaves every result in a file; run on the machine
// in both byte orders.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "machine/machine.hpp"
#include "support/test_machine.hpp"

namespace tarvel::machine {
namespace {

TEST(FileGuestProgram, SdkWrappersSeeTheServiceResults) {
    const std::vector<test::GuestBuild> all = test::guest_builds(FILES_PROBE_LITTLE_CBE, FILES_PROBE_BIG_CBE);
    if (all.empty()) GTEST_SKIP() << "no ARM cross compiler: guest programs are not built";
    for (const test::GuestBuild& probe : all) {
        SCOPED_TRACE(probe.cbe);
        std::optional<TarvelMachine> booted = test::boot_guest_build(probe, 100'000'000);
        ASSERT_TRUE(booted.has_value());
        TarvelMachine& m = *booted;

        const VirtualFs& fs = m.file_system;
        ASSERT_TRUE(fs.exists("probe/results.bin"));
        const std::vector<u8>& bytes = fs.files.at("probe/results.bin");
        std::vector<i32> results;
        for (size_t i = 0; i + 4 <= bytes.size(); i += 4)
            results.push_back(static_cast<i32>(load32(bytes.data() + i, probe.big_endian)));
        const std::vector<i32> want = {0, 0, 11, 20, 1, 21, -1, 0, 0, 5, 1, 20, 1, 1, -1, 21,
                                       1, 21, 0, 1, 0, -1, 1, -1, 0, 0x01000000};
        EXPECT_EQ(results, want);
        EXPECT_FALSE(fs.exists("probe/best.dat"));
        EXPECT_TRUE(fs.directories.contains("probe/saves"));
        EXPECT_EQ(fs.open_handle_count(), 0u);
    }
}

}  // namespace
}  // namespace tarvel::machine
