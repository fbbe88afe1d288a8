#pragma once
// Range operations on guest memory shared by the byte-string and wide-string
// services: copies, fills, string scans and comparisons that work a stretch of
// host memory at a time instead of one guest access per byte.
//
// They keep the per-byte rules of guest memory: a byte no region backs reads
// as 0, a write to an unbacked or read-only byte is dropped, and both are
// reported through the unmapped-access record. A run of such bytes is reported
// once, at its first address, so that a bad count of a few megabytes costs one
// record and not one per byte.
//
// Ranges end at the top of the address space: bytes past 0xFFFFFFFF count as
// unbacked instead of wrapping round to address 0. A length or count the guest
// gets wrong therefore touches at most what the regions hold, and never the
// start of the address space.

#include <span>
#include <string>

#include "common/bytes.hpp"

namespace tarvel::machine {
class GuestMemory;
}

namespace tarvel::machine::services {

enum class GuestAccess { Read, Write };

// The stretch of guest bytes from `address` that one region serves the same
// way, at most `max_length` long. `host` is null when the stretch is unbacked
// (or, for writes, read-only); the stretch then runs to the next region start.
struct GuestStretch {
    u8* host = nullptr;
    u64 length = 0;
};
GuestStretch stretch_at(GuestMemory& memory, u64 address, u64 max_length, GuestAccess access);

// Records the first address of every unbacked (or, for writes, unwritable)
// run inside [address, address + length). Nothing is read or written.
void report_unbacked_runs(GuestMemory& memory, u64 address, u64 length, GuestAccess access);

// Copies `count` bytes from `source` to `destination` as if all of them were
// read first and written after: overlapping ranges behave like a move.
void copy_guest_bytes(GuestMemory& memory, u64 destination, u64 source, u64 count);

// Sets `count` bytes at `destination` to `value`.
void fill_guest_bytes(GuestMemory& memory, u64 destination, u8 value, u64 count);

// Bytes before the first NUL at `address`, at most `limit`. An unbacked byte
// reads as 0 and so ends the string (it is reported).
u32 guest_string_length(GuestMemory& memory, u32 address, u32 limit);

// Writes `bytes` at `destination` through the per-byte rules above.
void write_guest_bytes(GuestMemory& memory, u32 destination, std::span<const u8> bytes);

enum class ByteFold { None, AsciiToLower };
enum class StopAtNul { No, Yes };

// Walks both operands in step for at most `limit` bytes and stops at the first
// difference or, with StopAtNul::Yes, at a NUL in either. The result is the
// difference of the two bytes there (as unsigned values, after folding), or 0.
i32 compare_guest_bytes(GuestMemory& memory, u32 a, u32 b, u64 limit, StopAtNul stop, ByteFold fold);

}  // namespace tarvel::machine::services
