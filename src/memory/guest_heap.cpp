#include "memory/guest_heap.hpp"

#include <algorithm>

#include "common/log.hpp"

namespace tarvel::machine {

namespace {
u32 saturating_add(u32 a, u32 b) {
    u32 sum = a + b;
    return sum < a ? 0xFFFFFFFFu : sum;
}

u32 round_to_granule(u32 size) {
    constexpr u32 kMax = 0xFFFFFFFFu & ~(GuestHeap::kGranularity - 1);
    if (size > kMax) return kMax;
    return (size + GuestHeap::kGranularity - 1) & ~(GuestHeap::kGranularity - 1);
}
}  // namespace

u32 GuestHeap::allocate(u32 size) {
    if (size == 0) return 0;
    const u32 rounded = round_to_granule(size);

    for (auto it = free_blocks.begin(); it != free_blocks.end(); ++it) {
        if (it->size < rounded) continue;
        const u32 address = it->address;
        if (it->size > rounded) {
            *it = FreeBlock{address + rounded, it->size - rounded};
        } else {
            free_blocks.erase(it);
        }
        allocations[address] = rounded;
        return address;
    }

    if (saturating_add(top, rounded) <= kLimit) {
        const u32 address = top;
        top += rounded;
        allocations[address] = rounded;
        return address;
    }

    TARVEL_LOG(Warn, "tarvel_core::machine", "CBE heap exhausted while allocating {} bytes", size);
    return 0;
}

void GuestHeap::free(u32 address) {
    auto it = allocations.find(address);
    if (it == allocations.end()) return;
    free_blocks.push_back(FreeBlock{it->first, it->second});
    allocations.erase(it);

    std::stable_sort(free_blocks.begin(), free_blocks.end(),
                     [](const FreeBlock& a, const FreeBlock& b) { return a.address < b.address; });
    for (size_t i = 0; i < free_blocks.size(); ++i) {
        while (i + 1 < free_blocks.size() &&
               saturating_add(free_blocks[i].address, free_blocks[i].size) == free_blocks[i + 1].address) {
            free_blocks[i].size = saturating_add(free_blocks[i].size, free_blocks[i + 1].size);
            free_blocks.erase(free_blocks.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        }
    }
}

u32 GuestHeap::block_size(u32 address) const {
    auto it = allocations.find(address);
    return it == allocations.end() ? 0 : it->second;
}

}  // namespace tarvel::machine
