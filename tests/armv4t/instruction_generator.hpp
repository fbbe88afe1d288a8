#pragma once
// Random ARM and Thumb instructions for the differential test, weighted so that
// every instruction class and its awkward forms come up often.

#include <random>

#include "common/bytes.hpp"

namespace tarvel::armv4t::testing {

class InstructionGenerator {
public:
    explicit InstructionGenerator(u64 seed) : rng_(seed) {}

    u32 arm();
    // Thumb instructions; a long branch comes as two halfwords (prefix in the low half).
    u32 thumb(bool& is_pair);
    // A register value biased towards shift amounts and pointers that matter.
    u32 register_value(u32 data_base, u32 data_size);

    u32 below(u32 n) { return static_cast<u32>(rng_() % n); }
    u32 any() { return static_cast<u32>(rng_()); }
    bool chance(u32 percent) { return below(100) < percent; }

private:
    u32 condition();
    u32 arm_data_processing();
    u32 arm_single_transfer();
    u32 arm_halfword_transfer();
    u32 arm_block_transfer();
    u32 register_list();

    std::mt19937_64 rng_;
};

}  // namespace tarvel::armv4t::testing
