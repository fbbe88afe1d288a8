// The network's answers reach the guest through the real tick: a guest C
// program built with the SDK opens a connection, sends and makes a request at
// start-up, and its callback logs what it receives and in which tick. Run in
// both byte orders.

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "machine/machine.hpp"
#include "machine/services/network.hpp"
#include "support/test_machine.hpp"

namespace tarvel::machine {
namespace {

using services::kNetEventComplete;
using services::kNetEventData;
using services::kNetEventOpened;

constexpr u32 kLog = 0x05300000;
constexpr u32 kLogEntries = 40;
constexpr u32 kResults = kLog + 4 * (kLogEntries * 6 + 1);
constexpr u64 kBudget = 100'000'000;

struct Entry {
    u32 ticks, kind, data, length, status, byte;
    bool operator==(const Entry&) const = default;
};

std::vector<Entry> entries(TarvelMachine& m) {
    std::vector<Entry> out;
    const u32 n = m.memory.read32(kLog);
    for (u32 i = 0; i < n && i < kLogEntries; ++i) {
        const u32 e = kLog + 4 + 24 * i;
        out.push_back({m.memory.read32(e), m.memory.read32(e + 4), m.memory.read32(e + 8), m.memory.read32(e + 12),
                       m.memory.read32(e + 16), m.memory.read32(e + 20)});
    }
    return out;
}

TEST(NetworkDelivery, CallbacksArriveInTheSecondAndThirdTick) {
    const std::vector<test::GuestBuild> all = test::guest_builds(NET_PROBE_LITTLE_CBE, NET_PROBE_BIG_CBE);
    if (all.empty()) GTEST_SKIP() << "no ARM cross compiler: guest programs are not built";
    for (const test::GuestBuild& probe : all) {
        SCOPED_TRACE(probe.cbe);
        std::optional<TarvelMachine> booted = test::boot_guest_build(probe, kBudget);
        ASSERT_TRUE(booted.has_value());
        TarvelMachine& m = *booted;

        // What the start-up calls returned: open, the id, send, request,
        // the received count with the sent count stored, availability.
        std::vector<u32> results;
        for (u32 i = 0; i < 7; ++i) results.push_back(m.memory.read32(kResults + 4 * i));
        EXPECT_EQ(results, (std::vector<u32>{1, 1, 5, 1, 2, 5, 1}));
        EXPECT_EQ(m.queued_calls.size(), 5u);

        // Tick 1 only counts the events down.
        ASSERT_TRUE(run_tick(m, kBudget).ok());
        EXPECT_TRUE(entries(m).empty());

        // Tick 2: the open, then the data of the send and of the request,
        // each with its own answer byte 0x01. Tick 3: both completions.
        ASSERT_TRUE(run_tick(m, kBudget).ok());
        std::vector<Entry> got = entries(m);
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[0], (Entry{1, kNetEventOpened, 0, 0, 0, 0}));
        EXPECT_EQ(got[1], (Entry{1, kNetEventData, got[1].data, 1, 1, 1}));
        EXPECT_EQ(got[2], (Entry{1, kNetEventData, got[2].data, 1, 1, 1}));
        EXPECT_NE(got[1].data, 0u);
        EXPECT_NE(got[1].data, got[2].data);

        ASSERT_TRUE(run_tick(m, kBudget).ok());
        got = entries(m);
        ASSERT_EQ(got.size(), 5u);
        EXPECT_EQ(got[3], (Entry{2, kNetEventComplete, 0, 0, 0, 0}));
        EXPECT_EQ(got[4], (Entry{2, kNetEventComplete, 0, 0, 0, 0}));
        EXPECT_TRUE(m.queued_calls.empty());

        // The fourth tick closes the connection and sends again: counted,
        // never answered.
        for (int i = 0; i < 4; ++i) ASSERT_TRUE(run_tick(m, kBudget).ok());
        EXPECT_EQ(entries(m).size(), 5u);
        EXPECT_EQ(m.network.uplink_bytes, 9u);
        EXPECT_EQ(m.network.downlink_bytes, 2u);
        EXPECT_EQ(m.network.last_uplink, (std::vector<u8>{'l', 'a', 't', 'e'}));
        EXPECT_EQ(m.network.last_url, "http://tarvel.test/");
        EXPECT_FALSE(m.network.connections[0].open);
        EXPECT_EQ(m.run_state, RunState::Running);
    }
}

}  // namespace
}  // namespace tarvel::machine
