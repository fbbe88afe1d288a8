#include "memory/address_record.hpp"

#include <algorithm>

namespace tarvel::machine {

namespace {
constexpr size_t kInitialSlots = 64;

size_t slot_of(u32 address, size_t mask) {
    // Fibonacci hashing spreads the runs of neighbouring addresses that a
    // runaway guest produces.
    return static_cast<size_t>((u64{address} * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}
}  // namespace

bool AddressRecord::contains(u32 address) const {
    const size_t slot = find_slot(address);
    return slot != kNoSlot && holds(slots_[slot]);
}

bool AddressRecord::insert(u32 address) {
    size_t slot = find_slot(address);
    if (slot != kNoSlot && holds(slots_[slot])) return false;
    if (count_ >= cap_) {
        ++overflow_;
        return false;
    }
    if ((count_ + 1) * 2 > slots_.size()) {
        grow();
        slot = find_slot(address);
    }
    slots_[slot] = {address, generation_};
    ++count_;
    ordered_valid_ = false;
    return true;
}

size_t AddressRecord::find_slot(u32 address) const {
    if (slots_.empty()) return kNoSlot;
    const size_t mask = slots_.size() - 1;
    for (size_t i = slot_of(address, mask);; i = (i + 1) & mask) {
        if (!holds(slots_[i]) || slots_[i].address == address) return i;
    }
}

void AddressRecord::grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(std::max(kInitialSlots, old.size() * 2), Slot{});
    for (const Slot& slot : old)
        if (holds(slot)) slots_[find_slot(slot.address)] = slot;
}

const std::set<u32>& AddressRecord::ordered() const {
    if (!ordered_valid_) {
        ordered_.clear();
        for (const Slot& slot : slots_)
            if (holds(slot)) ordered_.insert(slot.address);
        ordered_valid_ = true;
    }
    return ordered_;
}

void AddressRecord::assign(const std::set<u32>& addresses) {
    clear();
    for (u32 address : addresses) insert(address);
    overflow_ = 0;
}

void AddressRecord::clear() {
    // The table keeps its storage (a record cleared and filled again allocates
    // nothing more); a new generation empties every slot at once. Only when the
    // generation count wraps are the slots rewritten.
    if (++generation_ == 0) {
        std::fill(slots_.begin(), slots_.end(), Slot{});
        generation_ = 1;
    }
    count_ = 0;
    overflow_ = 0;
    ordered_.clear();
    ordered_valid_ = true;
}

}  // namespace tarvel::machine
