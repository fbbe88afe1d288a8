// The decode stream: literal runs, back references that overlap what they
// write, every stopping rule, the output limits, the heap block it returns and
// its trace lines.

#include <gtest/gtest.h>

#include "machine/drawing_fixture.hpp"
#include "machine/services/data.hpp"

namespace tarvel::machine::drawing_test {
namespace {

std::vector<u8> stream(u32 output, const std::vector<u8>& tokens, std::optional<u32> compressed = {}) {
    const u32 c = compressed.value_or(static_cast<u32>(tokens.size()));
    std::vector<u8> out = {0x77, static_cast<u8>(c >> 24), static_cast<u8>(c >> 16), static_cast<u8>(c >> 8),
                           static_cast<u8>(c), static_cast<u8>(output >> 24), static_cast<u8>(output >> 16),
                           static_cast<u8>(output >> 8), static_cast<u8>(output)};
    out.insert(out.end(), tokens.begin(), tokens.end());
    return out;
}

u32 place(TarvelMachine& m, const std::vector<u8>& bytes) {
    const u32 block = m.heap.allocate(static_cast<u32>(bytes.size()));
    m.memory.write_bytes(block, bytes);
    return block;
}

std::string output_text(TarvelMachine& m, u32 block, u32 length) {
    const auto bytes = m.memory.read_bytes(block, length);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<unreadable>");
}

// Back reference token: length in the upper seven bits, distance bit 8 in bit 0.
std::vector<u8> back(u32 length, u32 distance) {
    return {static_cast<u8>(length << 1 | (distance >> 8)), static_cast<u8>(distance & 0xFF)};
}

std::vector<u8> join(std::initializer_list<std::vector<u8>> parts) {
    std::vector<u8> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(DecodeStream, LiteralsAndOverlappingBackReferences) {
    TarvelMachine m = make_machine();
    // "abc", then 7 bytes from 3 back (reading bytes it writes), then "Z".
    const u32 source = place(m, stream(11, join({{0x83, 'a', 'b', 'c'}, back(7, 3), {0x81, 'Z'}})));
    const u32 block = call(m, 3, 23, {source});
    ASSERT_NE(block, 0u);
    EXPECT_GE(m.heap.block_size(block), 11u);
    EXPECT_EQ(output_text(m, block, 11), "abcabcabcaZ");
    // Group 16 index 20 is the same operation.
    const u32 again = call(m, 16, 20, {source});
    ASSERT_NE(again, 0u);
    EXPECT_NE(again, block);
    EXPECT_EQ(output_text(m, again, 11), "abcabcabcaZ");
}

TEST(DecodeStream, DistancesUseTheLowBitOfTheToken) {
    TarvelMachine m = make_machine();
    std::vector<u8> tokens;
    std::string expected;
    // 300 literal bytes in runs of 100, then 4 bytes from 257 back.
    for (int run = 0; run < 3; ++run) {
        tokens.push_back(0x80 | 100);
        for (int i = 0; i < 100; ++i) {
            const char c = static_cast<char>('A' + (run * 100 + i) % 26);
            tokens.push_back(static_cast<u8>(c));
            expected.push_back(c);
        }
    }
    const auto reference = back(4, 257);
    tokens.insert(tokens.end(), reference.begin(), reference.end());
    expected += expected.substr(300 - 257, 4);
    const u32 block = call(m, 3, 23, {place(m, stream(304, tokens))});
    ASSERT_NE(block, 0u);
    EXPECT_EQ(output_text(m, block, 304), expected);
}

TEST(DecodeStream, OutputStopsAtItsLength) {
    TarvelMachine m = make_machine();
    const u32 block = m.heap.allocate(8);
    for (u32 i = 0; i < 8; ++i) m.memory.write8(block + i, '#');
    m.heap.free(block);
    // A literal of 5 into an output of 3, and a back reference past the end.
    const u32 a = call(m, 3, 23, {place(m, stream(3, {0x85, 'v', 'w', 'x', 'y', 'z'}))});
    EXPECT_EQ(output_text(m, a, 3), "vwx");
    const u32 b = call(m, 3, 23, {place(m, stream(5, join({{0x82, 'p', 'q'}, back(60, 2)})))});
    EXPECT_EQ(output_text(m, b, 5), "pqpqp");
}

TEST(DecodeStream, MalformedTokensEndTheOutputWhereItStands) {
    struct Case {
        const char* what;
        std::vector<u8> tokens;
        std::string expected;
    };
    const Case cases[] = {
        {"empty literal", {0x82, 'a', 'b', 0x80, 'c'}, "ab"},
        {"literal past the token area", {0x82, 'a', 'b', 0x83, 'c', 'd'}, "ab"},
        {"back reference missing its second byte", {0x82, 'a', 'b', 0x04}, "ab"},
        {"back reference of length 0", join({{0x82, 'a', 'b'}, {0x01, 0x01}}), "ab"},
        {"distance 0", join({{0x82, 'a', 'b'}, back(2, 0)}), "ab"},
        {"distance past the output", join({{0x82, 'a', 'b'}, back(2, 3)}), "ab"},
    };
    for (const Case& c : cases) {
        TarvelMachine m = make_machine();
        const u32 block = call(m, 3, 23, {place(m, stream(16, c.tokens))});
        ASSERT_NE(block, 0u) << c.what;
        EXPECT_EQ(output_text(m, block, static_cast<u32>(c.expected.size())), c.expected) << c.what;
    }
}

TEST(DecodeStream, NothingProducedGivesZeroAndKeepsNoBlock) {
    TarvelMachine m = make_machine();
    const u32 first_reference = place(m, stream(16, back(2, 1)));
    const u32 zero_compressed = place(m, stream(16, {0x81, 'a'}, 0));
    const u32 zero_output = place(m, stream(0, {0x81, 'a'}));
    const u32 huge_output = place(m, stream(0x1000001, {0x81, 'a'}));
    const size_t blocks = m.heap.allocations.size();
    EXPECT_EQ(call(m, 3, 23, {first_reference}), 0u);
    EXPECT_EQ(call(m, 3, 23, {zero_compressed}), 0u);
    EXPECT_EQ(call(m, 3, 23, {zero_output}), 0u);
    EXPECT_EQ(call(m, 3, 23, {huge_output}), 0u);
    EXPECT_EQ(m.heap.allocations.size(), blocks);
    // An output the heap cannot hold.
    EXPECT_EQ(call(m, 3, 23, {place(m, stream(0x1000000, {0x81, 'a'}))}), 0u);
    // A stream in unbacked memory reads as zeros: an empty token area.
    EXPECT_EQ(call(m, 3, 23, {0x0F800000}), 0u);
}

TEST(DecodeStream, TokenAreaLongerThanTheMemoryBehindItStops) {
    TarvelMachine m = make_machine();
    // The stream's last bytes end RAM; the declared token area runs past it,
    // where bytes read as 0 (empty literal) and the run ends.
    const std::vector<u8> bytes = stream(64, {0x82, 'o', 'k'}, 1000);
    const u32 at = kRamBase + kRamSize - static_cast<u32>(bytes.size());
    m.memory.write_bytes(at, bytes);
    const u32 block = call(m, 3, 23, {at});
    ASSERT_NE(block, 0u);
    EXPECT_EQ(output_text(m, block, 2), "ok");
}

TEST(DecodeStream, TraceLinesNameTheResourceCopy) {
    TarvelMachine m = make_machine(MachineSpec{
        .resources = {cbe_writer::resource("level1.lz", stream(6, join({{0x81, 'x'}, back(5, 1)})))}});
    ASSERT_TRUE(services::ensure_main_package_copied(m));
    const u32 copy = m.loaded_resources.data_addresses[0];
    const u32 elsewhere = place(m, stream(4, {0x84, 'a', 'b', 'c', 'd'}));
    TraceCapture trace("16:20");
    EXPECT_NE(call(m, 3, 23, {copy}), 0u);
    EXPECT_NE(call(m, 3, 23, {elsewhere}), 0u);
    EXPECT_EQ(trace.text(), fmt::format("decode stream source={:08x} name=level1.lz compressed=4 output=6\n"
                                        "decode stream wrote=6\n"
                                        "decode stream source={:08x} name=<unknown> compressed=5 output=4\n"
                                        "decode stream wrote=4\n",
                                        copy, elsewhere));
}

}  // namespace
}  // namespace tarvel::machine::drawing_test
