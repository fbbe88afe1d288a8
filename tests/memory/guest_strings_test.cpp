// Guest string readers and text conversions: byte-order marks, GBK (with the
// GB18030 four-byte forms and the euro byte), wide strings in both byte
// orders, caps, unreadable memory, and encoding back to GBK.

#include "memory/guest_strings.hpp"

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <string>
#include <vector>

#include "memory/guest_memory.hpp"

namespace tarvel::machine {
namespace {

constexpr u32 kBase = 0x10000;
constexpr u32 kSize = 0x10000;
constexpr u32 kEnd = kBase + kSize;

struct Memory {
    explicit Memory(bool big_endian = false) : memory(big_endian) { memory.add_region(kBase, kSize); }
    // Places `bytes` at `address` (no NUL added).
    u32 put(u32 address, std::vector<u8> bytes) {
        EXPECT_TRUE(memory.write_bytes(address, bytes));
        return address;
    }
    GuestMemory memory;
};

std::string narrow(std::vector<u8> bytes, u32 limit = kTextLimit) {
    Memory m;
    bytes.push_back(0);
    return read_narrow_string(m.memory, m.put(kBase, bytes), limit);
}

const std::string kReplacement = "\xEF\xBF\xBD";

std::vector<u8> bytes_of_string(std::string_view text) { return std::vector<u8>(text.begin(), text.end()); }

// What the narrow reader reads goes through the one decoder of marked text
// (whose own tests cover the encodings in depth): a mark chooses the encoding
// and is dropped, unmarked bytes are GBK, malformed sequences are replaced.
TEST(NarrowStrings, ReadBytesAreDecodedAsMarkedText) {
    const std::pair<std::vector<u8>, std::string> cases[] = {
        {{'h', 'i'}, "hi"},
        {{0xEF, 0xBB, 0xBF, 0xE4, 0xB8, 0xAD}, "\xE4\xB8\xAD"},      // UTF-8 U+4E2D
        {{0xFF, 0xFE, 0x41, 0x00, 0x2D, 0x4E}, "A\xE4\xB8\xAD"},     // UTF-16LE
        {{0xFE, 0xFF, 0x4E, 0x2D, 0x00, 0x42}, "\xE4\xB8\xAD" "B"},  // UTF-16BE
        {{0xEF, 0xBB, 0xBF}, ""},                                    // a mark alone is an empty string
        {{0xFF, 0xFE}, ""},
        {{0xD6, 0xD0, 0xCE, 0xC4}, "\xE4\xB8\xAD\xE6\x96\x87"},      // unmarked: GBK
        {{0x80}, "\xE2\x82\xAC"},                                    // the euro byte
        {{'a', 0x81}, "a" + kReplacement},                           // GBK lead byte at the end
        {{0xEF, 0xBB, 0xBF, 'x', 0xC3}, "x" + kReplacement},         // truncated UTF-8
        {{0xFF, 0xFE, 0x00, 0xD8, 0x41, 0x00}, kReplacement + "A"},  // unpaired high surrogate
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(narrow(bytes), text);
    // A UTF-8 text without a mark is not UTF-8 to the reader.
    EXPECT_NE(narrow({0xE4, 0xB8, 0xAD}), "\xE4\xB8\xAD");
}

TEST(NarrowStrings, MarkedUtf16RunsToAZeroUnitWithinTheByteLimit) {
    // Zero bytes inside characters do not end the string; a zero unit does.
    EXPECT_EQ(narrow({0xFF, 0xFE, 'h', 0, 'i', 0, 0, 0, 'x', 0}), "hi");
    // The limit counts the mark, and a unit cut in half by it is left out.
    EXPECT_EQ(narrow({0xFF, 0xFE, 'a', 0, 'b', 0, 'c', 0}, 6), "ab");
    EXPECT_EQ(narrow({0xFF, 0xFE, 'a', 0, 'b', 0, 'c', 0}, 7), "ab");
    EXPECT_EQ(narrow({0xFF, 0xFE, 'a', 0}, 2), "");
    // A zero unit is a pair counted from the mark, not any two zero bytes.
    EXPECT_EQ(narrow({0xFE, 0xFF, 0x4E, 0x00, 0x00, 0x41}), "\xE4\xB8\x80" "A");
}

// Where every reader ends a string: terminator, cap, unreadable memory, and
// the top of the address space, which ends a string without wrapping to 0 and
// without a record. The memory has a region at address 0 full of 'W' so that
// a wrapping reader would show it, and one that ends exactly at the top.
TEST(StringReaders, EveryReaderEndsAStringAtTheSameEdges) {
    enum class Reader { Bytes, Decoded, Wide };
    struct Case {
        const char* what;
        Reader reader;
        u32 address;
        std::vector<u8> bytes;  // placed at `address`
        u32 limit;
        std::string expected;   // as read (Bytes) or decoded to UTF-8
        std::set<u32> recorded;
    };
    constexpr u32 kTop = 0xFFFFFF00;
    constexpr u32 kUnbacked = 0x30000;
    const std::vector<Case> cases = {
        {"NUL", Reader::Bytes, kBase, {'a', 'b', 0, 'c'}, kTextLimit, "ab", {}},
        {"cap", Reader::Bytes, kBase, std::vector<u8>(300, 'q'), kResourceNameLimit, std::string(256, 'q'), {}},
        {"zero cap", Reader::Bytes, kBase, {'a', 0}, 0, "", {}},
        {"raw bytes keep a mark", Reader::Bytes, kBase, {0xFF, 0xFE, 0x41, 0, 0, 0}, kTextLimit, "\xFF\xFE" "A", {}},
        {"region end", Reader::Bytes, kEnd - 3, {'x', 'y', 'z'}, kTextLimit, "xyz", {kEnd}},
        {"unbacked start", Reader::Bytes, kUnbacked, {}, kTextLimit, "", {kUnbacked}},
        {"top of the space", Reader::Bytes, 0xFFFFFFFD, {'t', 'o', 'p'}, kTextLimit, "top", {}},
        {"last byte", Reader::Bytes, 0xFFFFFFFF, {'z'}, kTextLimit, "z", {}},
        {"marked UTF-16 at the top", Reader::Decoded, 0xFFFFFFFA, {0xFF, 0xFE, 'o', 0, 'k', 0}, kTextLimit, "ok", {}},
        {"marked UTF-16 at a region end", Reader::Decoded, kEnd - 6, {0xFF, 0xFE, 'o', 0, 'k', 0}, kTextLimit, "ok", {kEnd}},
        {"wide zero unit", Reader::Wide, kBase, {0x2D, 0x4E, 'A', 0, 0, 0, 'B', 0}, 10, "\xE4\xB8\xAD" "A", {}},
        {"wide cap", Reader::Wide, kBase, {0x2D, 0x4E, 'A', 0, 0, 0}, 1, "\xE4\xB8\xAD", {}},
        {"wide region end", Reader::Wide, kEnd - 4, {'w', 0, 'w', 0}, 10, "ww", {kEnd}},
        {"wide top of the space", Reader::Wide, 0xFFFFFFFC, {'a', 0, 'b', 0}, 10, "ab", {}},
        // A unit at the last byte runs past the top: an ordinary unreadable unit.
        {"wide unit across the top", Reader::Wide, 0xFFFFFFFD, {'a', 0, 'b'}, 10, "a", {0xFFFFFFFF}},
    };
    for (const Case& c : cases) {
        GuestMemory memory(false);
        memory.add_region(0, std::vector<u8>(0x100, 'W'));
        memory.add_region(kBase, kSize);
        memory.add_region(kTop, 0x100);
        if (!c.bytes.empty()) {
            ASSERT_TRUE(memory.write_bytes(c.address, c.bytes)) << c.what;
        }
        switch (c.reader) {
            case Reader::Bytes: {
                EXPECT_EQ(read_byte_string(memory, c.address, c.limit), c.expected) << c.what;
                const std::vector<u8> bytes = read_narrow_bytes(memory, c.address, c.limit);
                EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.expected) << c.what;
                break;
            }
            case Reader::Decoded:
                EXPECT_EQ(read_narrow_string(memory, c.address, c.limit), c.expected) << c.what;
                break;
            case Reader::Wide:
                EXPECT_EQ(read_wide_string(memory, c.address, c.limit), c.expected) << c.what;
                break;
        }
        EXPECT_EQ(memory.unmapped_accesses(), c.recorded) << c.what;
    }
}

TEST(WideStrings, UnitsAreReadInTheGuestByteOrder) {
    for (bool big_endian : {false, true}) {
        Memory m(big_endian);
        const std::vector<u16> units = {0x0048, 0x4E2D, 0xD83D, 0xDE00, 0x0000, 0x0041};
        for (size_t i = 0; i < units.size(); ++i) m.memory.write16(kBase + 2 * static_cast<u32>(i), units[i]);
        EXPECT_EQ(read_wide_string(m.memory, kBase), "H\xE4\xB8\xAD\xF0\x9F\x98\x80") << big_endian;
        EXPECT_EQ(read_wide_string(m.memory, kBase, 2), "H\xE4\xB8\xAD");
    }
}

TEST(WideStrings, UnpairedSurrogatesCapsAndUnreadableUnits) {
    Memory m;
    const u16 units[] = {0xDC00, 'a', 0xD800, 0};
    for (u32 i = 0; i < 4; ++i) m.memory.write16(kBase + 2 * i, units[i]);
    EXPECT_EQ(read_wide_string(m.memory, kBase), kReplacement + "a" + kReplacement);
    // A high surrogate cut off by the cap is unpaired too.
    m.memory.write16(kBase + 0x100, 0xD83D);
    m.memory.write16(kBase + 0x102, 0xDE00);
    EXPECT_EQ(read_wide_string(m.memory, kBase + 0x100, 1), kReplacement);
    EXPECT_EQ(read_wide_string(m.memory, 0x10), "");
}

TEST(PathStrings, TheSecondByteTellsNarrowFromWide) {
    Memory m;
    m.put(kBase, {'a', 'b', '/', 'c', 0});
    EXPECT_EQ(read_narrow_or_wide_string(m.memory, kBase), "ab/c");
    m.put(kBase + 0x40, {'a', 0, 'b', 0, 0x2D, 0x4E, 0, 0});
    EXPECT_EQ(read_narrow_or_wide_string(m.memory, kBase + 0x40), "ab\xE4\xB8\xAD");
    // A narrow path is capped at its limit; a GBK path is decoded.
    std::vector<u8> path(600, 'p');
    path.push_back(0);
    m.put(kBase + 0x100, path);
    EXPECT_EQ(read_narrow_or_wide_string(m.memory, kBase + 0x100), std::string(kPathLimit, 'p'));
    m.put(kBase + 0x400, {0xD6, 0xD0, 0});
    EXPECT_EQ(read_narrow_or_wide_string(m.memory, kBase + 0x400), "\xE4\xB8\xAD");
    // Unreadable: empty, recorded.
    EXPECT_EQ(read_narrow_or_wide_string(m.memory, 0x20), "");
    EXPECT_FALSE(m.memory.unmapped_accesses().empty());
}

TEST(TextConversions, Utf16AndCodePoints) {
    EXPECT_EQ(to_utf16("A\xE4\xB8\xAD\xF0\x9F\x98\x80"), (std::u16string{u'A', 0x4E2D, 0xD83D, 0xDE00}));
    EXPECT_EQ(to_code_points("A\xE4\xB8\xAD\xF0\x9F\x98\x80"), (std::u32string{U'A', 0x4E2D, 0x1F600}));
    EXPECT_EQ(to_code_points("a\xFF" "b"), (std::u32string{U'a', 0xFFFD, U'b'}));
    EXPECT_TRUE(to_utf16("").empty());
    EXPECT_EQ(decode_utf16(u"\xD800x"), kReplacement + "x");
}

TEST(TextConversions, EncodingToGbk) {
    EXPECT_EQ(encode_gbk("abc.png"), bytes_of_string("abc.png"));
    EXPECT_EQ(encode_gbk("\xE4\xB8\xAD\xE6\x96\x87"), (std::vector<u8>{0xD6, 0xD0, 0xCE, 0xC4}));
    EXPECT_EQ(encode_gbk("\xE2\x82\xAC"), (std::vector<u8>{0x80}));            // euro sign
    EXPECT_EQ(encode_gbk("x\xF0\x9F\x98\x80y"), (std::vector<u8>{'x', '?', 'y'}));  // no two-byte form
    EXPECT_EQ(encode_gbk("\xC2\x80"), (std::vector<u8>{'?'}));                 // only a four-byte form
    EXPECT_TRUE(encode_gbk("").empty());
    // Whatever has a GBK form comes back through the reader unchanged.
    const std::string text = "\xE5\x9B\xBE\xE7\x89\x87_01.png \xE2\x82\xAC\xEF\xBC\x81";
    std::vector<u8> encoded = encode_gbk(text);
    EXPECT_EQ(decode_narrow(encoded), text);
}

TEST(TextConversions, AsciiCaseFolding) {
    EXPECT_TRUE(equal_ignoring_ascii_case("Title.PNG", "title.png"));
    EXPECT_FALSE(equal_ignoring_ascii_case("title.png", "title.pn"));
    EXPECT_FALSE(equal_ignoring_ascii_case("a", "b"));
    EXPECT_FALSE(equal_ignoring_ascii_case("\xC3\x84", "\xC3\xA4"));  // only ASCII letters fold
    EXPECT_FALSE(equal_ignoring_ascii_case("@", "`"));  // neighbours of the letter ranges do not
    EXPECT_TRUE(equal_ignoring_ascii_case("", ""));
}

}  // namespace
}  // namespace tarvel::machine
