#pragma once
// The drawing service's primitives on guest memory: surfaces, rectangles,
// blits, image records and their loading, the decode stream and the two
// helper objects the image group builds. Text is in text.hpp.
//
// Every pixel is an RGB565 halfword in guest byte order. Primitives touch only
// the clipped area. When the clipped area of a surface lies in one writable
// region they work on the host bytes directly; otherwise each pixel goes
// through the scalar guest accesses, so unbacked pixels read as 0 and writes to
// them are dropped and recorded exactly as for any other guest access.

#include "common/bytes.hpp"
#include "machine/screen.hpp"

namespace tarvel::machine {

class GuestMemory;
struct TarvelMachine;

inline constexpr const char* kDrawingLogTarget = "tarvel_core::machine::drawing";

// Pixels per row of a surface or image: its width rounded up to a multiple of 4.
constexpr u32 row_stride(u32 width) { return (width + 3) & ~u32{3}; }

// A drawing target as read from a surface record.
struct Surface {
    u32 pixels = 0;
    u32 width = 0;
    u32 height = 0;
};

inline constexpr Surface kScreen{kScreenBuffer, kScreenWidth, kScreenHeight};

// The surface a record describes, or the screen when the record is unusable:
// width outside 1..240, height outside 1..400, no pixels, or the screen's own
// record.
Surface select_surface(GuestMemory& memory, u32 record);

// A guest image record: pixels (heap block), width, height, loaded flag.
struct ImageRecord {
    u32 pixels = 0;
    u32 width = 0;
    u32 height = 0;
};
ImageRecord read_image_record(GuestMemory& memory, u32 record);

// Rectangles on a surface: x and y clip to the surface's top-left corner
// (shrinking the size), then the size clips to the surface. An outline sets
// the first and last row and column of the clipped rectangle.
void fill_rectangle(GuestMemory& memory, const Surface& surface, i64 x, i64 y, i64 width, i64 height, u16 colour);
void outline_rectangle(GuestMemory& memory, const Surface& surface, i64 x, i64 y, i64 width, i64 height, u16 colour);

// The screen fill of the direct fill entry and the group 4 fill: columns
// clamp(x, 0, 240) .. clamp(x + width, 0, 240), rows max(y, 0) ..
// clamp(y + height, 0, 400), end-exclusive.
void fill_screen(GuestMemory& memory, i64 x, i64 y, i64 width, i64 height, u16 colour);

// A blit as the guest asked for it, before clipping.
struct BlitRequest {
    u32 destination_record = 0;  // a surface record; the screen's record for screen blits
    u32 image_record = 0;
    i64 sx = 0, sy = 0;
    i64 width = 0, height = 0;
    i64 dx = 0, dy = 0;
    bool transparent = false;  // skip source pixels of value 0x0000
};
// Selects the destination, writes the trace line when the trace filter asks
// for it, clips against both image and destination and copies the pixels.
void blit(GuestMemory& memory, const BlitRequest& request);

// ---- images (drawing_images.cpp) ----

// Decodes an image resource into a guest image record. `record` 0 asks for a
// fresh 12-byte record on the heap. Each returns the record address, or 0
// after reporting why nothing was loaded.
u32 load_image_resource(TarvelMachine& machine, u32 index, u32 record);        // main resource table entry
u32 load_image_from_stream(TarvelMachine& machine, u32 address, u32 record);  // guest bytes at `address`

// Expands the compressed stream at `address` into a fresh heap block and
// returns its address, or 0 when the stream is empty, too large or produced
// nothing.
u32 decode_stream(TarvelMachine& machine, u32 address);

// Largest output a decode stream may ask for.
inline constexpr u32 kMaxDecodeStreamOutput = 0x1000000;

// ---- helper objects of the image group (drawing_objects.cpp) ----

// Builds the drawing-context object at `object` for n entries; true when all
// three of its heap blocks were allocated.
bool build_drawing_context(TarvelMachine& machine, u32 object, u32 n);
// Builds the slot-list object at `object` with `count` slots of 8 bytes; the
// remaining words are stored as given. True when the slot array was allocated.
struct SlotListArguments {
    u32 first = 0;   // r1: first word of the first slot, stored at +24
    u32 second = 0;  // r2: second word of the first slot, stored at +28
    u32 word16 = 0;  // r3, stored at +16
    u32 word20 = 0;  // the word at SP, stored at +20
    u32 count = 0;   // the word at SP+4
};
bool build_slot_list(TarvelMachine& machine, u32 object, const SlotListArguments& arguments);

}  // namespace tarvel::machine
