#pragma once
// The guest heap: guest memory that services hand out to the application.
// First fit over a free list sorted by address, otherwise a bump pointer that
// never moves back. Blocks are multiples of 8 bytes and lie in [kBase, kLimit).
// The heap only keeps books; it never touches the bytes of guest memory.

#include <map>
#include <vector>

#include "common/bytes.hpp"

namespace tarvel::machine {

struct FreeBlock {
    u32 address = 0;
    u32 size = 0;
    bool operator==(const FreeBlock&) const = default;
};

class GuestHeap {
public:
    static constexpr u32 kBase = 0x05000000;
    static constexpr u32 kLimit = 0x05400000;  // a block may end exactly here
    static constexpr u32 kGranularity = 8;

    // Returns the guest address of a block of at least `size` bytes, or 0 when the
    // size is 0 or the heap is exhausted (the latter logs a warning).
    u32 allocate(u32 size);
    // Releases a block returned by allocate; any other address is ignored.
    void free(u32 address);

    // Size of the live block at `address`, or 0 when there is none.
    u32 block_size(u32 address) const;

    // Plain state, saved and restored field by field.
    u32 top = kBase;
    std::vector<FreeBlock> free_blocks;  // sorted by address
    std::map<u32, u32> allocations;      // block address -> rounded size
};

}  // namespace tarvel::machine
