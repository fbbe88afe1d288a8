#pragma once
// Guest programs built with the SDK for the service tests: the .cbe files a
// test folder's extra.cmake passes in, and the machine each one boots into.

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "cbe/archive.hpp"
#include "machine/machine.hpp"

namespace tarvel::test {

struct GuestBuild {
    const char* cbe;
    bool big_endian;
};

// Builds the machine of `build` and boots it within `budget` instructions.
// A failed step fails the calling test and gives nothing.
inline std::optional<machine::TarvelMachine> boot_guest_build(const GuestBuild& build, u64 budget) {
    auto archive = cbe::load_archive(build.cbe);
    if (!archive.ok()) {
        ADD_FAILURE() << archive.error().to_string();
        return std::nullopt;
    }
    auto built = machine::build_machine(archive.value());
    if (!built.ok()) {
        ADD_FAILURE() << built.error().to_string();
        return std::nullopt;
    }
    machine::TarvelMachine m = std::move(built).value();
    EXPECT_EQ(m.big_endian(), build.big_endian);
    if (const Status booted = machine::boot(m, budget); !booted.ok()) {
        ADD_FAILURE() << booted.error().to_string();
        return std::nullopt;
    }
    return m;
}

}  // namespace tarvel::test
