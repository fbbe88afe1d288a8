// Group 9 as the guest sees it: connection slots and ids, sends and requests
// answered through the deferred-call queue and its bound, the counters, bad
// guest pointers and the trace lines.

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "support/stderr_capture.hpp"
#include "machine/services/network.hpp"
#include "support/log_capture.hpp"
#include "support/test_machine.hpp"

namespace tarvel::machine::services::testing {
namespace {

using test::bytes_of;
using test::call;
using test::make_machine;
using test::put_string;

constexpr u32 kCallback = 0x01000041;  // a Thumb function in the code image
constexpr u32 kUnbacked = 0x30000000;

class NetworkService : public ::testing::TestWithParam<bool> {
protected:
    NetworkService()
        : m(make_machine({.big_endian = GetParam(), .resources = {cbe_writer::resource("a.bin", bytes_of("x"))}})) {}

    u32 net(u32 index, u32 r0 = 0, u32 r1 = 0, u32 r2 = 0, u32 r3 = 0) {
        return call(m, handler_for_group(kNetworkGroup), index, r0, r1, r2, r3);
    }
    u32 open(u32 callback, u32 id_address = 0) { return net(0, 0, 0, callback, id_address); }
    // Opens a connection and returns its id; the open event is dropped.
    u32 connect() {
        const u32 word = m.heap.allocate(4);
        EXPECT_EQ(open(kCallback, word), 1u);
        m.queued_calls.clear();
        return m.memory.read32(word);
    }
    u32 send(u32 id, std::string_view bytes) {
        return net(1, put_string(m, bytes), static_cast<u32>(bytes.size()), id);
    }

    TarvelMachine m;
};

INSTANTIATE_TEST_SUITE_P(ByteOrders, NetworkService, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "big_endian" : "little_endian"; });

TEST_P(NetworkService, OpenHandsOutIdsUntilTheSixteenSlotsAreTaken) {
    const u32 ids = m.heap.allocate(4 * 17);
    for (u32 i = 0; i < 16; ++i) {
        ASSERT_EQ(open(kCallback, ids + 4 * i), 1u) << i;
        EXPECT_EQ(m.memory.read32(ids + 4 * i), i + 1);
    }
    EXPECT_EQ(open(kCallback, ids + 64), 0u);
    EXPECT_EQ(m.memory.read32(ids + 64), 0u);
    EXPECT_EQ(m.queued_calls.size(), 16u);
    EXPECT_EQ(m.queued_calls.front(), (QueuedCall{kNetEventOpened, 0, 0, 0, kCallback, 0, 1}));

    // Closing one frees its slot; the next id still counts on.
    EXPECT_EQ(net(2, 5), 0u);
    EXPECT_EQ(open(kCallback, ids + 64), 1u);
    EXPECT_EQ(m.memory.read32(ids + 64), 17u);
    EXPECT_EQ(m.network.connections[4].id, 17u);
    EXPECT_EQ(open(kCallback), 0u);
}

// Without a callback nothing opens; the ids skip zero when the counter wraps;
// an id word the guest cannot write does not stop the open.
TEST_P(NetworkService, OpenEdges) {
    const u32 word = m.heap.allocate(4);
    m.memory.write32(word, 0xAAAAAAAA);
    EXPECT_EQ(open(0, word), 0u);
    EXPECT_EQ(m.memory.read32(word), 0xAAAAAAAAu);
    EXPECT_EQ(m.network, NetworkState{});
    EXPECT_TRUE(m.queued_calls.empty());

    m.network.next_connection_id = 0xFFFFFFFF;
    ASSERT_EQ(open(kCallback, word), 1u);
    EXPECT_EQ(m.memory.read32(word), 1u);

    EXPECT_EQ(open(kCallback, kUnbacked), 1u);
    EXPECT_TRUE(m.network.connections[1].open);
    EXPECT_TRUE(m.memory.unmapped_accesses().contains(kUnbacked));
}

TEST_P(NetworkService, SendOnAnOpenConnectionIsAnsweredWithOneByte) {
    const u32 id = connect();
    EXPECT_EQ(send(id, "hello"), 5u);
    EXPECT_EQ(m.network.last_uplink, bytes_of("hello"));
    EXPECT_EQ(m.network.uplink_bytes, 5u);
    EXPECT_EQ(m.network.downlink_bytes, 1u);
    ASSERT_EQ(m.queued_calls.size(), 2u);
    const QueuedCall data = m.queued_calls[0];
    EXPECT_EQ(data, (QueuedCall{kNetEventData, data.e1, 1, 1, kCallback, 0, 1}));
    EXPECT_EQ(m.memory.read8(data.e1), 0x01);
    EXPECT_TRUE(m.heap.allocations.contains(data.e1));
    EXPECT_EQ(m.queued_calls[1], (QueuedCall{kNetEventComplete, 0, 0, 0, kCallback, 0, 2}));
}

TEST_P(NetworkService, SendOnAnUnknownOrClosedIdCountsButQueuesNothing) {
    EXPECT_EQ(send(7, "abc"), 3u);
    const u32 id = connect();
    net(2, id);
    EXPECT_EQ(send(id, "de"), 2u);
    EXPECT_EQ(m.network.uplink_bytes, 5u);
    EXPECT_EQ(m.network.last_uplink, bytes_of("de"));
    EXPECT_EQ(m.network.downlink_bytes, 0u);
    EXPECT_TRUE(m.queued_calls.empty());
}

TEST_P(NetworkService, SendKeepsThe512FirstBytesAndCountsThemAll) {
    const u32 id = connect();
    const u32 buffer = m.heap.allocate(1000);
    for (u32 i = 0; i < 1000; ++i) m.memory.write8(buffer + i, static_cast<u8>(i));
    EXPECT_EQ(net(1, buffer, 1000, id), 1000u);
    ASSERT_EQ(m.network.last_uplink.size(), 512u);
    EXPECT_EQ(m.network.last_uplink[511], static_cast<u8>(511));
    EXPECT_EQ(m.network.uplink_bytes, 1000u);
}

// A null buffer or a zero length answers 0 but is still a send: counted and
// answered, with no data (nothing is read at address 0).
TEST_P(NetworkService, SendWithoutDataIsCountedAndAnswered) {
    const u32 id = connect();
    m.queued_calls.clear();
    EXPECT_EQ(net(1, 0, 5, id), 0u);
    EXPECT_TRUE(m.network.last_uplink.empty());
    EXPECT_EQ(m.network.uplink_bytes, 5u);
    EXPECT_EQ(m.network.downlink_bytes, 1u);
    EXPECT_EQ(m.queued_calls.size(), 2u);
    EXPECT_TRUE(m.memory.unmapped_accesses().empty());
    EXPECT_EQ(net(1, put_string(m, "x"), 0, id), 0u);
    EXPECT_EQ(m.network.uplink_bytes, 5u);
    EXPECT_EQ(m.network.downlink_bytes, 2u);
}

TEST_P(NetworkService, UnreadableSendBytesReadAsZero) {
    const u32 id = connect();
    // The last two bytes of the stack region, then nothing.
    m.memory.write8(kStackTop - 2, 0x11);
    m.memory.write8(kStackTop - 1, 0x22);
    EXPECT_EQ(net(1, kStackTop - 2, 4, id), 4u);
    EXPECT_EQ(m.network.last_uplink, (std::vector<u8>{0x11, 0x22, 0, 0}));
    // A length far past every region reads no host memory beyond the kept 512.
    EXPECT_EQ(net(1, kUnbacked, 0xFFFFFFFF, id), 0xFFFFFFFFu);
    EXPECT_EQ(m.network.last_uplink, std::vector<u8>(512, 0));
    EXPECT_EQ(m.network.uplink_bytes, u64{4} + 0xFFFFFFFF);
}

TEST_P(NetworkService, TheQueueHoldsAtMost32Events) {
    const u32 id = connect();
    for (u32 i = 0; i < 31; ++i) m.queued_calls.push_back(QueuedCall{});
    send(id, "a");
    ASSERT_EQ(m.queued_calls.size(), 32u);
    EXPECT_EQ(m.queued_calls.back().e0, kNetEventData);

    // Full: answers are still counted, opens still succeed, nothing is queued.
    send(id, "b");
    EXPECT_EQ(open(kCallback), 1u);
    for (u32 i = 0; i < 100; ++i) net(3, put_string(m, "u"), kCallback, 0);
    EXPECT_EQ(m.queued_calls.size(), 32u);
    EXPECT_EQ(m.network.downlink_bytes, 102u);
}

TEST_P(NetworkService, HttpRequestKeepsTheUrlAndAnswersItsCallback) {
    EXPECT_EQ(net(3, put_string(m, "http://example.test/a?b=1"), kCallback, 0x1234), 1u);
    EXPECT_EQ(m.network.last_url, "http://example.test/a?b=1");
    ASSERT_EQ(m.queued_calls.size(), 2u);
    EXPECT_EQ(m.queued_calls[0].function, kCallback);
    EXPECT_EQ(m.queued_calls[0].unused, 0x1234u);  // carried, not passed
    EXPECT_EQ(m.queued_calls[1], (QueuedCall{kNetEventComplete, 0, 0, 0, kCallback, 0x1234, 2}));
    EXPECT_EQ(m.network.downlink_bytes, 1u);
}

TEST_P(NetworkService, HttpUrlIsCappedAndMadeValidText) {
    const std::string long_url(300, 'u');
    net(3, put_string(m, long_url), kCallback, 0);
    EXPECT_EQ(m.network.last_url, std::string(256, 'u'));
    const u8 bad[] = {'a', 0xFF, 'b'};
    net(3, put_string(m, std::span<const u8>(bad)), kCallback, 0);
    EXPECT_EQ(m.network.last_url, "a\xEF\xBF\xBD" "b");
    net(3, kUnbacked, kCallback, 0);
    EXPECT_EQ(m.network.last_url, "");
    EXPECT_TRUE(m.memory.unmapped_accesses().contains(kUnbacked));
}

TEST_P(NetworkService, HttpWithoutCallbackIsMadeButAnswersNobody) {
    EXPECT_EQ(net(3, put_string(m, "http://a"), 0, 9), 0u);
    EXPECT_EQ(m.network.last_url, "http://a");
    EXPECT_EQ(m.network.downlink_bytes, 1u);
    EXPECT_TRUE(m.queued_calls.empty());
}

TEST_P(NetworkService, AnAnswerWithoutHeapRoomIsDropped) {
    const u32 id = connect();
    const u32 url = put_string(m, "http://a");
    m.heap.top = GuestHeap::kLimit;
    m.heap.free_blocks.clear();
    test::LogCapture logs;
    EXPECT_EQ(net(1, url, 1, id), 1u);
    EXPECT_EQ(net(3, url, kCallback, 0), 1u);
    EXPECT_EQ(m.network.downlink_bytes, 0u);
    EXPECT_EQ(m.network.uplink_bytes, 1u);
    EXPECT_TRUE(m.queued_calls.empty());
    EXPECT_TRUE(logs.contains(log::Level::Warn, "CBE heap exhausted while allocating 1 bytes"));
}

TEST_P(NetworkService, CountersReadResetAndSaturate) {
    const u32 id = connect();
    send(id, "abcd");
    const u32 words = m.heap.allocate(8);
    EXPECT_EQ(net(36, words, words + 4), 1u);
    EXPECT_EQ(m.memory.read32(words), 4u);
    EXPECT_EQ(m.memory.read32(words + 4), 1u);
    EXPECT_EQ(net(36, 0, 0), 1u);  // null addresses: only the result

    EXPECT_EQ(net(35), 0u);
    EXPECT_TRUE(m.network.last_uplink.empty());
    m.memory.write32(words, 0x5555);
    m.memory.write32(words + 4, 0x5555);
    EXPECT_EQ(net(36, words, words + 4), 0u);
    EXPECT_EQ(m.memory.read32(words), 0u);
    EXPECT_EQ(m.memory.read32(words + 4), 0u);

    m.network.uplink_bytes = std::numeric_limits<u64>::max() - 1;
    m.network.downlink_bytes = std::numeric_limits<u64>::max();
    send(id, "xyz");
    EXPECT_EQ(m.network.uplink_bytes, std::numeric_limits<u64>::max());
    EXPECT_EQ(m.network.downlink_bytes, std::numeric_limits<u64>::max());
    EXPECT_EQ(net(36, words, kUnbacked), 0xFFFFFFFFu);
    EXPECT_EQ(m.memory.read32(words), 0xFFFFFFFFu);
}

TEST_P(NetworkService, StatusQueriesReportOneAndOthersZero) {
    for (u32 index : {4u, 19u, 20u, 29u, 30u}) EXPECT_EQ(net(index, 1, 2, 3, 4), 1u) << index;
    for (u32 index : {5u, 18u, 34u, 37u, 255u}) EXPECT_EQ(net(index, 1, 2, 3, 4), 0u) << index;
    EXPECT_EQ(m.network, NetworkState{});
}

TEST(NetworkServiceTrace, LinesOnlyWhenTheTraceVariableIsSet) {
    TarvelMachine m = make_machine({.resources = {cbe_writer::resource("a.bin", bytes_of("x"))}});
    const ServiceHandler net = handler_for_group(kNetworkGroup);
    const u32 word = m.heap.allocate(4);
    call(m, net, 0, 0, 0, kCallback, word);
    const u32 id = m.memory.read32(word);
    const u32 text = put_string(m, "0123456789abcdefXYZ");
    const u32 url = put_string(m, "http://h/p");

    ::unsetenv("CBE_TRACE");
    test::StderrCapture quiet;
    call(m, net, 1, text, 19, id);
    call(m, net, 3, url, kCallback, 0);
    EXPECT_EQ(quiet.finish(), "");

    ::setenv("CBE_TRACE", "7:1", 1);  // any value switches them on
    test::StderrCapture capture;
    call(m, net, 1, text, 19, id);
    call(m, net, 1, text, 3, id + 1);  // no such connection: no line
    call(m, net, 1, text, 3, id);
    call(m, net, 3, url, kCallback, 0);
    const std::string out = capture.finish();
    ::unsetenv("CBE_TRACE");
    EXPECT_EQ(out,
              "network mock uplink len=19 head=30313233343536373839616263646566\n"
              "network mock uplink len=3 head=303132\n"
              "network mock http url=http://h/p\n");
}

}  // namespace
}  // namespace tarvel::machine::services::testing
