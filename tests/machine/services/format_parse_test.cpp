// Group 6: the format routine with register and stack arguments, decimal
// parsing (signs, limits, white space) and the power function.

#include <bit>
#include <cmath>

#include "machine/services/strings.hpp"
#include "memory/guest_strings.hpp"
#include "strings_fixture.hpp"

namespace tarvel::machine::strings_test {
namespace {

constexpr u32 kFormat = kBuffer;
constexpr u32 kText = kBuffer + 0x2000;
constexpr u32 kOut = kOther;

// Formats `format` with `args` (r2, r3, then the stack) into kOut and returns
// the text up to its NUL.
std::string format(TarvelMachine& m, std::string_view format, std::initializer_list<u32> args) {
    put(m, kFormat, format);
    std::vector<u32> all = {kOut, kFormat};
    all.insert(all.end(), args.begin(), args.end());
    EXPECT_EQ(call(m, kStringGroup, 3, all), kOut);
    return read_byte_string(m.memory, kOut, 100000);
}

TEST(StringFormat, ConversionsAndPadding) {
    TarvelMachine m = make_machine();
    EXPECT_EQ(format(m, "x=%x X=%X", {255, 255}), "x=ff X=FF");
    EXPECT_EQ(format(m, "[%05d]", {static_cast<u32>(-12)}), "[00-12]");
    EXPECT_EQ(format(m, "[%5d][%-3d]", {42, 9}), "[   42][%-3d]");
    EXPECT_EQ(format(m, "%d %i %u", {0xFFFFFFFF, 0x80000000, 0xFFFFFFFF}), "-1 -2147483648 4294967295");
    EXPECT_EQ(format(m, "%c%c", {0x141, 'b'}), "Ab");
    EXPECT_EQ(format(m, "%08X", {0xBEEF}), "0000BEEF");
    EXPECT_EQ(format(m, "%ld/%hu/%lld", {1, 2, 3}), "1/2/3");
    EXPECT_EQ(format(m, "100%%", {}), "100%");
    // With a width the percent is an unknown conversion: it prints itself
    // and takes an argument, so the next conversion gets the second one.
    EXPECT_EQ(format(m, "%5%|%d", {1, 2}), "   %%|2");
}

TEST(StringFormat, MinusIsAnUnknownConversionThatTakesAnArgument) {
    TarvelMachine m = make_machine();
    put(m, kText, "hi");
    EXPECT_EQ(format(m, "%3d|%-5s", {7, kText}), "  7|%-5s");
    // The argument after it goes to the next conversion.
    EXPECT_EQ(format(m, "%q%s", {kText, kText}), "%qhi");
}

TEST(StringFormat, ArgumentsPastR3ComeFromTheStack) {
    TarvelMachine m = make_machine();
    put(m, kText, "str");
    EXPECT_EQ(format(m, "%d,%d,%d,%d,%s", {1, 2, 3, 4, kText}), "1,2,3,4,str");
}

TEST(StringFormat, StringsEndAtNulAndLimitsHold) {
    TarvelMachine m = make_machine();
    // An unbacked %s argument is an empty string.
    EXPECT_EQ(format(m, "<%s>", {kUnmapped}), "<>");
    EXPECT_TRUE(recorded(m, kUnmapped));
    // %s reads at most 4096 bytes of its string.
    ASSERT_TRUE(m.memory.write_bytes(kText, std::vector<u8>(5000, 's')));
    EXPECT_EQ(format(m, "%s", {kText}).size(), 4096u);
    // A directive cut off by the end of the format ends the output.
    EXPECT_EQ(format(m, "ab%05l", {1}), "ab");
    EXPECT_EQ(format(m, "ab%", {1}), "ab");
    // A width beyond the cap is taken as the cap.
    EXPECT_EQ(format(m, "%999999999d", {1}).size(), services::kFormatWidthLimit);
}

TEST(StringFormat, OutputIsTerminatedAndWrittenOnlyWhereWritable) {
    TarvelMachine m = make_machine();
    ASSERT_TRUE(m.memory.write_bytes(kOut, std::vector<u8>(8, 'x')));
    EXPECT_EQ(format(m, "abc", {}), "abc");
    EXPECT_EQ(m.memory.read8(kOut + 3), 0);
    EXPECT_EQ(m.memory.read8(kOut + 4), 'x');

    put(m, kFormat, "abc");
    EXPECT_EQ(call(m, kStringGroup, 3, {kReadOnly, kFormat}), kReadOnly);
    EXPECT_EQ(m.memory.read8(kReadOnly), 0);
    EXPECT_TRUE(recorded(m, kReadOnly));
}

TEST(StringParse, SignsLimitsAndWhiteSpace) {
    TarvelMachine m = make_machine();
    auto parse = [&](std::string_view text, u32 index = 10) {
        put(m, kText, text);
        return as_signed(call(m, kStringGroup, index, {kText}));
    };
    EXPECT_EQ(parse("-2147483648"), INT32_MIN);
    EXPECT_EQ(parse("2147483647"), INT32_MAX);
    EXPECT_EQ(parse("2147483648"), 0);
    EXPECT_EQ(parse("-2147483649"), 0);
    EXPECT_EQ(parse("99999999999999999999"), 0);
    EXPECT_EQ(parse("  12  "), 12);
    EXPECT_EQ(parse("\t+7\r\n", 12), 7);
    EXPECT_EQ(parse("-0"), 0);
    EXPECT_EQ(parse("007"), 7);
    // Unicode white space: an ideographic space and a no-break space.
    EXPECT_EQ(parse("\xE3\x80\x80" "42\xC2\xA0"), 42);
    EXPECT_EQ(parse("\xE2\x80\x83" "5"), 5);  // em space
    for (std::string_view bad : {"", " ", "+", "-", "+-5", "--5", "12a", "1 2", "0x10", "1.5", "\xFF" "1",
                                  "\xE2\x80\x8B" "5"})  // a zero-width space is no white space
        EXPECT_EQ(parse(bad), 0) << bad;
    // Only the first 256 bytes are read.
    EXPECT_EQ(parse(std::string(252, ' ') + "12345"), 1234);
    EXPECT_EQ(parse(std::string(256, ' ') + "1"), 0);
    EXPECT_EQ(as_signed(call(m, kStringGroup, 10, {kUnmapped})), 0);
}

TEST(StringPower, FloatBitPatternsInAndOut) {
    TarvelMachine m = make_machine();
    auto power = [&](float x, float y) {
        return std::bit_cast<float>(call(m, kStringGroup, 13, {std::bit_cast<u32>(x), std::bit_cast<u32>(y)}));
    };
    EXPECT_EQ(power(2.0f, 10.0f), 1024.0f);
    EXPECT_FLOAT_EQ(power(2.0f, 0.5f), std::sqrt(2.0f));
    EXPECT_EQ(power(5.0f, 0.0f), 1.0f);
    EXPECT_EQ(power(2.0f, -1.0f), 0.5f);
    EXPECT_TRUE(std::isnan(power(-8.0f, 0.5f)));
}

}  // namespace
}  // namespace tarvel::machine::strings_test
