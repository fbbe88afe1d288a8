#pragma once
// A bounded record of distinct guest addresses (the unmapped accesses).
//
// Guest code that runs wild touches a new bad address on nearly every step, so
// recording must not allocate per address: addresses live in an open-addressing
// hash table whose storage grows by doubling (a handful of allocations over the
// record's whole life) and stops growing at the cap. The ordered view that save
// states and callers read is built only when asked for, and kept until the next
// new address.

#include <cstddef>
#include <set>
#include <vector>

#include "common/bytes.hpp"

namespace tarvel::machine {

class AddressRecord {
public:
    explicit AddressRecord(size_t cap) : cap_(cap) {}

    // Adds `address`; true when it was new and stored. Past the cap, new
    // addresses are not stored but counted (see overflow()).
    bool insert(u32 address);
    bool contains(u32 address) const;
    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    // How many distinct addresses were turned away because the record was full.
    u64 overflow() const { return overflow_; }

    // The addresses in ascending order.
    const std::set<u32>& ordered() const;
    // Replaces the content (overflow count cleared); addresses past the cap are dropped.
    void assign(const std::set<u32>& addresses);
    void clear();

private:
    // A slot holds an address of the current generation or is empty: clear()
    // starts a new generation instead of rewriting the table, so a record that
    // is cleared after every short run (a fuzzing loop) costs nothing per clear
    // however large its table once grew.
    struct Slot {
        u32 address = 0;
        u32 generation = 0;  // 0 never matches: generations start at 1
    };
    bool holds(const Slot& slot) const { return slot.generation == generation_; }

    static constexpr size_t kNoSlot = ~size_t{0};
    // The slot holding `address`, or the empty slot where it would go; kNoSlot
    // before the table exists.
    size_t find_slot(u32 address) const;
    void grow();

    size_t cap_;
    std::vector<Slot> slots_;  // power-of-two size, at most half full
    u32 generation_ = 1;
    size_t count_ = 0;
    u64 overflow_ = 0;
    mutable std::set<u32> ordered_;
    mutable bool ordered_valid_ = true;
};

}  // namespace tarvel::machine
