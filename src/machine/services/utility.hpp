#pragma once
// The utility service (group 10): the resource directory word and resource
// lookups by number and name, cursor reads and writes in byte buffers, string
// equality, fixed-point trigonometry and a rectangle overlap test.
//
// The drawing service's group 3 carries the resource calls under indices
// 81..88; it hands those to utility_alias_from_group3.

#include "common/bytes.hpp"

namespace tarvel::machine {
struct TarvelMachine;
}

namespace tarvel::machine::services {

// Trigonometric results are scaled by this factor.
inline constexpr i32 kTrigScale = 4096;
// Largest length accepted by the 32-bit length-prefixed string read.
inline constexpr u32 kMaxCursorStringLength = 0x1000000;

// Group 10.
void utility_service(TarvelMachine& machine, u32 index);

// Group 3 indices 81..88: 81 sets the resource directory word, 82 reads it,
// 83 is data by number, 84, 87 and 88 data by name, 85 name by number and 86
// number by name, with group 10's arguments and results. Other indices give 0.
void utility_alias_from_group3(TarvelMachine& machine, u32 index);

// sin(degrees) x 4096, truncated toward zero and saturated to 32 bits.
i32 fixed_sine(i32 degrees);
// cos(degrees) x 4096, computed as sin(degrees + 90) with 32-bit wrap-around.
i32 fixed_cosine(i32 degrees);
// Direction of the vector (x, y) in whole degrees 0..359 (0 for the zero vector).
u32 vector_angle(i32 x, i32 y);
// Overlap of two rectangles given as packed points and sizes (low half x or
// width, high half y or height, both signed 16-bit). Touching edges do not overlap.
bool rectangles_overlap(u32 point_a, u32 size_a, u32 point_b, u32 size_b);

}  // namespace tarvel::machine::services
