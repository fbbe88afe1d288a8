#include "libretro/memory_map.hpp"

#include "common/log.hpp"
#include "libretro/frontend.hpp"

namespace tarvel::libretro {
namespace {

// First region (in list order) with start <= address and a byte at address.
const machine::GuestRegion* containing_region(const machine::TarvelMachine& m, u32 address) {
    for (const auto& region : m.memory.regions())
        if (region.base <= address && u64{address} - region.base < region.bytes.size()) return &region;
    return nullptr;
}

u64 descriptor_flags(u32 guest_start) {
    if (guest_start == machine::kRamBase) return RETRO_MEMDESC_SYSTEM_RAM;
    if (guest_start == machine::kScreenBuffer) return RETRO_MEMDESC_VIDEO_RAM;
    return 0;
}

}  // namespace

u8* host_address(machine::TarvelMachine& m, u32 address) {
    const machine::GuestRegion* region = containing_region(m, address);
    if (region == nullptr) return nullptr;
    // The region belongs to the machine, which the caller holds mutably.
    return const_cast<u8*>(region->bytes.data()) + (address - region->base);
}

void register_memory_descriptors(CoreState& state) {
    std::vector<retro_memory_descriptor>& table = state.memory_descriptors;
    table.clear();
    for (const auto& region : state.machine->memory.regions()) {
        u8* host = host_address(*state.machine, region.base);
        if (host == nullptr) continue;  // an empty region holds nothing to describe
        retro_memory_descriptor d{};
        d.flags = descriptor_flags(region.base);
        d.ptr = host;
        d.start = region.base;
        d.len = region.bytes.size();
        d.addrspace = "Tarvel";
        table.push_back(d);
    }
    table.push_back(retro_memory_descriptor{});
    retro_memory_map map{table.data(), static_cast<unsigned>(table.size())};
    if (environment(RETRO_ENVIRONMENT_SET_MEMORY_MAPS, &map))
        TARVEL_LOG(Info, kApiTarget, "Registered guest memory descriptors");
    else
        TARVEL_LOG(Warn, kApiTarget, "Frontend did not accept guest memory descriptors");
}

}  // namespace tarvel::libretro
