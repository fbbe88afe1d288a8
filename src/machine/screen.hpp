#pragma once
// The guest screen: where it lives in guest memory and its shape. The drawing
// and text services write it, the frontend turns it into video frames, and
// both must agree on every number here.

#include "common/bytes.hpp"

namespace tarvel::machine {

// Surface record {u32 pixels, u16 width, u16 height, u16 row pixels} that the
// guest reads to learn where the screen is.
inline constexpr u32 kScreenSurfaceRecord = 0x05800408;
// 240 x 400 RGB565 pixels in guest byte order, row-major.
inline constexpr u32 kScreenBuffer = 0x05800420;
inline constexpr u32 kScreenWidth = 240;
inline constexpr u32 kScreenHeight = 400;
inline constexpr u32 kScreenRowBytes = kScreenWidth * 2;
inline constexpr u32 kScreenPixels = kScreenWidth * kScreenHeight;
inline constexpr u32 kScreenBufferBytes = kScreenPixels * 2;

}  // namespace tarvel::machine
