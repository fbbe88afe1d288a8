#pragma once
// A small ARMv4T test bench on Unicorn for running SDK guest code: memory
// mapped from a packed .cbe or an ELF, calls into guest functions that end at
// a sentinel address, and an optional handler for the service trap area.

#include <unicorn/unicorn.h>

#include <functional>
#include <string>
#include <vector>

#include "cbe/archive.hpp"
#include "common/bytes.hpp"
#include "elf_image.hpp"

namespace tarvel::sdk_test {

inline constexpr u32 kSentinel = 0x0F000000;
inline constexpr u32 kStackTop = 0x02100000;
inline constexpr u32 kTrapBase = 0x0C000000;
inline constexpr u32 kTrapSize = 0x00100000;

class GuestCpu {
public:
    // Called when the guest branches into the trap area; it may change
    // registers (r0 is the result). The bench then returns to lr.
    using TrapHandler = std::function<void(GuestCpu& cpu, u32 address)>;

    explicit GuestCpu(bool big_endian);
    ~GuestCpu();
    GuestCpu(const GuestCpu&) = delete;
    GuestCpu& operator=(const GuestCpu&) = delete;

    bool big_endian() const { return big_endian_; }
    void map(u32 base, u32 size);  // zeroed, read/write/execute; size rounded to 4 KiB

    // Code at the base and data at the data base, as the machine lays them out.
    void load_archive(const cbe::CbeArchive& archive);
    void load_elf(const pack::ElfImage& elf);

    void write(u32 address, const std::vector<u8>& bytes);
    std::vector<u8> read(u32 address, u32 size);
    u32 read32(u32 address);
    u16 read16(u32 address);
    void write32(u32 address, u32 value);
    void write64(u32 address, u64 value);
    u64 read64(u32 address);

    u32 reg(int n);
    void set_reg(int n, u32 value);
    void set_trap_handler(TrapHandler handler) { trap_ = std::move(handler); }

    // Calls function (bit 0 selects Thumb) with r0..r3 and an optional set of
    // stack words; returns r0. Fails the test (and returns 0) when the guest
    // faults or does not return within the instruction budget.
    u32 call(u32 function, std::vector<u32> args = {}, u64 budget = 2'000'000);
    std::string last_error() const { return error_; }

private:
    static void on_code(uc_engine* uc, uint64_t address, uint32_t size, void* self);

    uc_engine* uc_ = nullptr;
    bool big_endian_;
    TrapHandler trap_;
    std::string error_;
    uc_hook hook_ = 0;
};

}  // namespace tarvel::sdk_test
