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
    if (address == kEmpty) return has_marker_address_;
    const size_t slot = find_slot(address);
    return slot != kNoSlot && slots_[slot] == address;
}

bool AddressRecord::insert(u32 address) {
    if (address == kEmpty) {
        if (has_marker_address_) return false;
        if (count_ >= cap_) {
            ++overflow_;
            return false;
        }
        has_marker_address_ = true;
    } else {
        size_t slot = find_slot(address);
        if (slot != kNoSlot && slots_[slot] == address) return false;
        if (count_ >= cap_) {
            ++overflow_;
            return false;
        }
        if ((count_ + 1) * 2 > slots_.size()) {
            grow();
            slot = find_slot(address);
        }
        slots_[slot] = address;
    }
    ++count_;
    ordered_valid_ = false;
    return true;
}

size_t AddressRecord::find_slot(u32 address) const {
    if (slots_.empty()) return kNoSlot;
    const size_t mask = slots_.size() - 1;
    for (size_t i = slot_of(address, mask);; i = (i + 1) & mask) {
        if (slots_[i] == address || slots_[i] == kEmpty) return i;
    }
}

void AddressRecord::grow() {
    std::vector<u32> old = std::move(slots_);
    slots_.assign(std::max(kInitialSlots, old.size() * 2), kEmpty);
    for (u32 address : old)
        if (address != kEmpty) slots_[find_slot(address)] = address;
}

const std::set<u32>& AddressRecord::ordered() const {
    if (!ordered_valid_) {
        ordered_.clear();
        for (u32 address : slots_)
            if (address != kEmpty) ordered_.insert(address);
        if (has_marker_address_) ordered_.insert(kEmpty);
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
    // The table keeps its storage: a record that is cleared and filled again
    // (a fuzzing loop, a restarted guest) allocates nothing more.
    std::fill(slots_.begin(), slots_.end(), kEmpty);
    has_marker_address_ = false;
    count_ = 0;
    overflow_ = 0;
    ordered_.clear();
    ordered_valid_ = true;
}

}  // namespace tarvel::machine
