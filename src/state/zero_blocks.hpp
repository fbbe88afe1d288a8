#pragma once
// Zero tests over large buffers. A save state is mostly zero twice over:
// the unused tail of the frontend's fixed-size block, and the pages of guest
// memory a game never wrote. Both are read far more often than written, so
// these read first and write only what is not zero already.

#include <span>

#include "common/bytes.hpp"

namespace tarvel::save_state_detail {

// Whether every byte is zero.
bool all_zero(std::span<const u8> bytes);

// Zeroes `bytes`, writing only the 4 KiB blocks that are not zero already
// (reading is cheaper than writing, and pages the frontend never touched
// stay untouched).
void clear_nonzero(std::span<u8> bytes);

}  // namespace tarvel::save_state_detail
