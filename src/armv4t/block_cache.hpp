#pragma once
// Decoded stretches of guest code for the run loop.
//
// A block is the handlers of up to kMaxOps consecutive instructions from one
// address (in one state and byte order), never across a page, ending with the
// first that may go anywhere but the next instruction other than by raising
// an event (an exception, a change of state or mode). The run loop therefore
// executes all but a block's last instruction one after another without
// looking at where each continues, and follows the last wherever it goes.
//
// A block keeps a copy of the code bytes it was decoded from and is used only
// while guest memory still holds them. Nothing but the guest's own stores can
// change memory while run() executes, so a block is compared with memory once
// per check epoch: a new epoch begins when run() starts after anything else
// may have written guest memory (services, a restored state, a debugger, the
// frontend: see begin_run) and whenever a store reaches the span of the blocks
// checked in the current one (Exec's code guard), which also ends the block
// that is running. Code changed by anything is therefore decoded again,
// without any notice of the change.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "armv4t/exec.hpp"

namespace tarvel::armv4t {

// Whether an instruction may continue anywhere but at the next one without
// raising an event. May say yes where it cannot, never no where it can.
bool arm_may_branch(u32 inst);
bool thumb_may_branch(u32 inst);
// Whether an instruction may read r15 through the register file (as an
// operand, a stored register or a base). May say yes where it does not.
bool arm_reads_pc(u32 inst);
bool thumb_reads_pc(u32 inst);

struct CodeBlock {
    static constexpr u32 kMaxOps = 16;
    static constexpr u32 kMaxBytes = kMaxOps * 4;
    // 0 for an empty slot, else tag_of() of the block's first instruction.
    u64 tag;
    u64 checked_epoch;  // the last check epoch in which the code was compared
    // Where the code was read, valid while the memory's layout generation is
    // still `layout` (so that a later check needs no lookup).
    const u8* source;
    u64 layout;
    u32 count;  // instructions
    u32 bytes;  // code bytes they take
    u8 code[kMaxBytes];
    DecodedOp ops[kMaxOps];
};

// Whether the `bytes` bytes (a multiple of 2) at a and b are the same.
TARVEL_HOT bool same_code(const u8* a, const u8* b, u32 bytes) {
    u32 i = 0;
    for (; i + 8 <= bytes; i += 8) {
        u64 x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) return false;
    }
    if (i + 4 <= bytes) {
        u32 x, y;
        std::memcpy(&x, a + i, 4);
        std::memcpy(&y, b + i, 4);
        if (x != y) return false;
        i += 4;
    }
    if (i < bytes) {
        u16 x, y;
        std::memcpy(&x, a + i, 2);
        std::memcpy(&y, b + i, 2);
        if (x != y) return false;
    }
    return true;
}

class BlockCache {
public:
    static constexpr u32 kSlots = 1024;

    BlockCache() = default;
    // A copy starts empty: blocks are found again from the code.
    BlockCache(const BlockCache&) {}
    BlockCache& operator=(const BlockCache&) {
        slots_.reset();
        epoch_open_ = false;
        return *this;
    }
    BlockCache(BlockCache&&) noexcept = default;
    BlockCache& operator=(BlockCache&&) noexcept = default;

    static constexpr u64 tag_of(u32 pc, bool thumb, bool big_endian) {
        return (u64{pc} << 2) | (u64{thumb} << 1) | u64{big_endian} | (u64{1} << 40);
    }

    // Called as run() starts (before find): the check epoch of the last run goes on (and
    // `e` gets its code guard) when nothing but the interpreter's own run()
    // can have written guest memory since that run ended: the same memory and
    // layout, no host write (GuestMemory::host_write_count) and no step() or
    // traced run in between. Otherwise a new epoch begins.
    void begin_run(Exec& e) {
        if (!slots_) [[unlikely]] allocate();
        if (!epoch_open_ || e.mem.layout_generation() != run_layout_ || e.mem.host_write_count() != run_writes_) {
            begin_epoch(e);
            return;
        }
        set_code_guard(e);
    }
    // Called as run() ends (when it ran from blocks).
    void end_run(const machine::GuestMemory& memory) {
        run_layout_ = memory.layout_generation();
        run_writes_ = memory.host_write_count();
        epoch_open_ = true;
    }
    // Guest stores the code guard did not watch (step(), a traced run): the
    // next run begins a new epoch.
    void close_epoch() { epoch_open_ = false; }

    // Starts a check epoch: every block is compared with memory again before
    // it is used, and `e`'s code guard is emptied.
    void begin_epoch(Exec& e) {
        ++epoch_;
        guard_low_ = guard_high_ = 0;
        e.code_guard_begin = 0;
        e.code_guard_bytes = 0;
    }

    // The block for `pc`, or nullptr when no region holds its first
    // instruction (or regions overlap and its page is not on the fast read
    // path, read through `pages`). A block is decoded again when the slot
    // holds another or the code changed. It ends at the page's end and within
    // `max_bytes` (one instruction at least). A block compared in this epoch
    // is added to `e`'s code guard.
    template <bool Thumb, bool BigEndian>
    TARVEL_HOT const CodeBlock* find(Exec& e, const u8* const* pages, u32 pc, u32 max_bytes) {
        CodeBlock& block = slots_[slot_index(pc)];
        if (block.tag == tag_of(pc, Thumb, BigEndian) && block.bytes <= max_bytes) [[likely]] {
            if (block.checked_epoch == epoch_) [[likely]]
                return &block;
        }
        return find_again<Thumb, BigEndian>(e, pages, pc, max_bytes);
    }

private:
    // find() for a block not checked in this epoch (or not there at all).
    template <bool Thumb, bool BigEndian>
    [[gnu::noinline]] const CodeBlock* find_again(Exec& e, const u8* const* pages, u32 pc, u32 max_bytes) {
        CodeBlock& block = slots_[slot_index(pc)];
        const u64 layout = e.mem.layout_generation();
        if (block.tag == tag_of(pc, Thumb, BigEndian) && block.bytes <= max_bytes) {
            // Checked in an earlier epoch: the code is where it was read from.
            if (block.layout == layout && same_code(block.source, block.code, block.bytes)) {
                block.checked_epoch = epoch_;
                guard(e, pc, block.bytes);
                return &block;
            }
        }
        const u8* code;
        if (const u8* page = pages[pc >> machine::GuestMemory::kPageBits]) [[likely]] {
            code = page + (pc & machine::GuestMemory::kPageMask);
        } else {
            // A page only partly covered by a region (the end of the code
            // region, typically) has no fast entry: the region's own bytes
            // serve, up to its end.
            if (e.mem.regions_overlap()) return nullptr;
            const std::span<const u8> extent = e.mem.host_read_extent(pc);
            if (extent.size() < (Thumb ? 2u : 4u)) return nullptr;
            code = extent.data();
            max_bytes = static_cast<u32>(std::min<size_t>(max_bytes, extent.size()));
        }
        if (block.tag != tag_of(pc, Thumb, BigEndian) || block.bytes > max_bytes ||
            !same_code(code, block.code, block.bytes))
            decode(block, pc, code, Thumb, BigEndian, max_bytes);
        block.checked_epoch = epoch_;
        block.source = code;
        block.layout = layout;
        guard(e, pc, block.bytes);
        return &block;
    }

    // Widens the code guard to cover [pc, pc + bytes) and the 64 bytes below
    // (where the longest store that reaches pc starts).
    void guard(Exec& e, u32 pc, u32 bytes);
    void set_code_guard(Exec& e) const;
    static u32 slot_index(u32 pc) { return (pc * 0x9E3779B1u) >> (32 - 10); }
    static_assert(kSlots == 1u << 10);
    void allocate();
    static void decode(CodeBlock& block, u32 pc, const u8* code, bool thumb, bool big_endian, u32 max_bytes);

    struct Free {
        void operator()(CodeBlock* blocks) const { std::free(blocks); }
    };
    // Zeroed on allocation (an empty slot is all zeros), so that the pages of
    // slots never used are never touched.
    std::unique_ptr<CodeBlock[], Free> slots_;
    u64 epoch_ = 1;  // never 0, the epoch of an empty slot
    // The span the code guard covers in this epoch, [guard_low_, guard_high_).
    u64 guard_low_ = 0;
    u64 guard_high_ = 0;
    // What the memory was as the last run() ended, and whether its epoch may
    // go on (see begin_run).
    bool epoch_open_ = false;
    u64 run_layout_ = 0;
    u64 run_writes_ = 0;
};

}  // namespace tarvel::armv4t
