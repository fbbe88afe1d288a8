// The SDK runtime (division, 64-bit arithmetic, bit counts, block memory,
// Thumb switch tables) run as guest code on an ARMv4T model, in both byte
// orders and both instruction sets, against results computed on the host.

#include <gtest/gtest.h>

#include <array>
#include <random>

#include "guest_cpu.hpp"
#include "sdk_test_paths.hpp"

namespace tarvel::sdk_test {
namespace {

constexpr u32 kScratch = 0x05000000;
constexpr u32 kIn = kScratch;
constexpr u32 kOut = kScratch + 0x100;

struct ProbeInput {
    u32 a32 = 0, b32 = 0;
    u64 a64 = 0, b64 = 0;
    u32 shift = 0;
    i32 case_index = 0;
    std::array<u8, 32> bytes{};
};

// Reference results, with the runtime's rules for the cases C leaves open:
// division by zero gives quotient 0 and the dividend as remainder; the
// minimum divided by -1 wraps.
struct Expected {
    u32 udiv32, umod32;
    i32 sdiv32, smod32;
    u64 udiv64, umod64;
    i64 sdiv64, smod64;
    u64 mul64, shl64, lshr64;
    i64 ashr64;
    i32 lt64, ult64, clz, ctz, popcount, small_case, wide_case;
    std::array<u8, 32> copied, moved, filled;
};

template <typename S, typename U>
void signed_divmod(S n, S d, S* q, S* r) {
    if (d == 0) {
        *q = 0;
        *r = n;
    } else if (d == -1) {
        *q = static_cast<S>(U{0} - static_cast<U>(n));
        *r = 0;
    } else {
        *q = n / d;
        *r = n % d;
    }
}

Expected expected(const ProbeInput& in) {
    Expected e{};
    e.udiv32 = in.b32 ? in.a32 / in.b32 : 0;
    e.umod32 = in.b32 ? in.a32 % in.b32 : in.a32;
    signed_divmod<i32, u32>(static_cast<i32>(in.a32), static_cast<i32>(in.b32), &e.sdiv32, &e.smod32);
    e.udiv64 = in.b64 ? in.a64 / in.b64 : 0;
    e.umod64 = in.b64 ? in.a64 % in.b64 : in.a64;
    signed_divmod<i64, u64>(static_cast<i64>(in.a64), static_cast<i64>(in.b64), &e.sdiv64, &e.smod64);
    e.mul64 = in.a64 * in.b64;
    e.shl64 = in.a64 << in.shift;
    e.lshr64 = in.a64 >> in.shift;
    e.ashr64 = static_cast<i64>(in.a64) >> in.shift;
    e.lt64 = static_cast<i64>(in.a64) < static_cast<i64>(in.b64);
    e.ult64 = in.a64 < in.b64;
    e.clz = in.a32 ? __builtin_clz(in.a32) : 32;
    e.ctz = in.a32 ? __builtin_ctz(in.a32) : 32;
    e.popcount = __builtin_popcount(in.a32);
    static constexpr i32 kSmall[10] = {11, 23, 35, 47, 59, 61, 73, 85, 97, 109};
    e.small_case = (in.case_index >= 0 && in.case_index < 10) ? kSmall[in.case_index] : -1;
    e.wide_case = (in.case_index >= 10 && in.case_index < 210) ? in.case_index * in.case_index + 7 : -1;
    const u32 n = in.shift & 31, at = in.a32 & 7, len = std::min(n, 32 - at);
    e.copied.fill(0xAA);
    std::copy_n(in.bytes.begin(), len, e.copied.begin() + at);
    std::array<u8, 32> moved = in.bytes;
    std::copy_backward(moved.begin(), moved.end() - at, moved.end());
    e.moved = moved;
    e.filled.fill(0);
    std::fill_n(e.filled.begin() + at, len, static_cast<u8>(in.b32));
    return e;
}

class RuntimeTest : public ::testing::TestWithParam<ProbeVariant> {
protected:
    void SetUp() override {
        auto elf = pack::load_elf(GetParam().elf);
        ASSERT_TRUE(elf.ok()) << elf.error().to_string();
        elf_ = std::move(*elf);
        cpu_ = std::make_unique<GuestCpu>(GetParam().big_endian);
        cpu_->load_elf(elf_);
        cpu_->map(kScratch, 0x1000);
        auto probe = elf_.symbol("probe_run");
        ASSERT_TRUE(probe.has_value());
        probe_ = *probe;
    }

    // Runs the probe on the guest and compares every field.
    void check(const ProbeInput& in) {
        GuestCpu& c = *cpu_;
        c.write32(kIn + 0, in.a32);
        c.write32(kIn + 4, in.b32);
        c.write64(kIn + 8, in.a64);
        c.write64(kIn + 16, in.b64);
        c.write32(kIn + 24, in.shift);
        c.write32(kIn + 28, static_cast<u32>(in.case_index));
        c.write(kIn + 32, std::vector<u8>(in.bytes.begin(), in.bytes.end()));
        c.call(probe_, {kIn, kOut});
        if (::testing::Test::HasFailure()) return;

        const Expected e = expected(in);
        const std::string ctx = ::testing::PrintToString(std::make_tuple(in.a32, in.b32, in.a64, in.b64, in.shift));
        EXPECT_EQ(c.read32(kOut + 0), e.udiv32) << "udiv32 " << ctx;
        EXPECT_EQ(c.read32(kOut + 4), e.umod32) << "umod32 " << ctx;
        EXPECT_EQ(static_cast<i32>(c.read32(kOut + 8)), e.sdiv32) << "sdiv32 " << ctx;
        EXPECT_EQ(static_cast<i32>(c.read32(kOut + 12)), e.smod32) << "smod32 " << ctx;
        EXPECT_EQ(c.read64(kOut + 16), e.udiv64) << "udiv64 " << ctx;
        EXPECT_EQ(c.read64(kOut + 24), e.umod64) << "umod64 " << ctx;
        EXPECT_EQ(static_cast<i64>(c.read64(kOut + 32)), e.sdiv64) << "sdiv64 " << ctx;
        EXPECT_EQ(static_cast<i64>(c.read64(kOut + 40)), e.smod64) << "smod64 " << ctx;
        EXPECT_EQ(c.read64(kOut + 48), e.mul64) << "mul64 " << ctx;
        EXPECT_EQ(c.read64(kOut + 56), e.shl64) << "shl64 " << ctx;
        EXPECT_EQ(c.read64(kOut + 64), e.lshr64) << "lshr64 " << ctx;
        EXPECT_EQ(static_cast<i64>(c.read64(kOut + 72)), e.ashr64) << "ashr64 " << ctx;
        EXPECT_EQ(static_cast<i32>(c.read32(kOut + 80)), e.lt64) << "lt64 " << ctx;
        EXPECT_EQ(static_cast<i32>(c.read32(kOut + 84)), e.ult64) << "ult64 " << ctx;
        EXPECT_EQ(static_cast<i32>(c.read32(kOut + 88)), e.clz) << "clz " << ctx;
        EXPECT_EQ(static_cast<i32>(c.read32(kOut + 92)), e.ctz) << "ctz " << ctx;
        EXPECT_EQ(static_cast<i32>(c.read32(kOut + 96)), e.popcount) << "popcount " << ctx;
        EXPECT_EQ(static_cast<i32>(c.read32(kOut + 100)), e.small_case) << "case " << in.case_index;
        EXPECT_EQ(static_cast<i32>(c.read32(kOut + 104)), e.wide_case) << "case " << in.case_index;
        auto arr = [&](u32 at) {
            auto v = c.read(at, 32);
            std::array<u8, 32> a{};
            std::copy(v.begin(), v.end(), a.begin());
            return a;
        };
        EXPECT_EQ(arr(kOut + 108), e.copied) << "memcpy " << ctx;
        EXPECT_EQ(arr(kOut + 140), e.moved) << "memmove " << ctx;
        EXPECT_EQ(arr(kOut + 172), e.filled) << "memset " << ctx;
    }

    pack::ElfImage elf_;
    std::unique_ptr<GuestCpu> cpu_;
    u32 probe_ = 0;
};

TEST_P(RuntimeTest, EdgeValues) {
    const u32 e32[] = {0, 1, 2, 3, 7, 10, 0x7FFFFFFF, 0x80000000, 0x80000001, 0xFFFFFFFF, 0xFFFFFFFE, 0x10000, 0xFFFF};
    const u64 e64[] = {0, 1, 3, 0xFFFFFFFFull, 0x100000000ull, 0x7FFFFFFFFFFFFFFFull, 0x8000000000000000ull,
                       0xFFFFFFFFFFFFFFFFull, 0x123456789ABCDEF0ull, 10};
    ProbeInput in;
    for (size_t i = 0; i < 32; ++i) in.bytes[i] = static_cast<u8>(i * 7 + 1);
    int step = 0;
    for (u32 a : e32) {
        for (u32 b : e32) {
            in.a32 = a;
            in.b32 = b;
            in.a64 = e64[step % std::size(e64)];
            in.b64 = e64[(step / 3) % std::size(e64)];
            in.shift = static_cast<u32>(step % 64);
            in.case_index = step % 215 - 2;
            ++step;
            check(in);
            if (HasFailure()) return;
        }
    }
}

TEST_P(RuntimeTest, RandomValuesOfEveryMagnitude) {
    std::mt19937_64 rng(0x5EED0000u + GetParam().tag.size());
    // Values masked to a random bit length reach every normalisation path.
    auto value = [&](int max_bits) {
        const int bits = static_cast<int>(rng() % (max_bits + 1));
        const u64 mask = bits >= 64 ? ~u64{0} : ((u64{1} << bits) - 1);
        return rng() & mask;
    };
    ProbeInput in;
    for (int i = 0; i < 400; ++i) {
        in.a32 = static_cast<u32>(value(32));
        in.b32 = static_cast<u32>(value(32));
        in.a64 = value(64);
        in.b64 = value(64);
        if (rng() % 4 == 0) in.a64 = ~in.a64;  // negative values for the signed forms
        if (rng() % 4 == 0) in.b64 = 0 - in.b64;
        in.shift = static_cast<u32>(rng() % 64);
        in.case_index = static_cast<i32>(rng() % 230) - 5;
        for (u8& b : in.bytes) b = static_cast<u8>(rng());
        check(in);
        if (HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, RuntimeTest, ::testing::ValuesIn(probe_variants()), variant_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RuntimeTest);

}  // namespace
}  // namespace tarvel::sdk_test
