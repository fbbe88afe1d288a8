#include "guest_cpu.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>

namespace tarvel::sdk_test {

namespace {

u32 round_page(u64 v) { return static_cast<u32>((v + 0xFFF) & ~u64{0xFFF}); }

constexpr int kRegIds[16] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2,  UC_ARM_REG_R3,
                             UC_ARM_REG_R4, UC_ARM_REG_R5, UC_ARM_REG_R6,  UC_ARM_REG_R7,
                             UC_ARM_REG_R8, UC_ARM_REG_R9, UC_ARM_REG_R10, UC_ARM_REG_R11,
                             UC_ARM_REG_R12, UC_ARM_REG_SP, UC_ARM_REG_LR, UC_ARM_REG_PC};

}  // namespace

GuestCpu::GuestCpu(bool big_endian) : big_endian_(big_endian) {
    const int mode = UC_MODE_ARM | (big_endian ? UC_MODE_BIG_ENDIAN : 0);
    uc_err err = uc_open(UC_ARCH_ARM, static_cast<uc_mode>(mode), &uc_);
    if (err != UC_ERR_OK) {
        ADD_FAILURE() << "uc_open: " << uc_strerror(err);
        uc_ = nullptr;
        return;
    }
    uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_TI925T);
    map(0x02000000, 0x00100000);  // stack
    map(kSentinel, 0x1000);
    map(kTrapBase, kTrapSize);
    uc_hook_add(uc_, &hook_, UC_HOOK_CODE, reinterpret_cast<void*>(&GuestCpu::on_code), this, kTrapBase,
                kTrapBase + kTrapSize - 1);
}

GuestCpu::~GuestCpu() {
    if (uc_) uc_close(uc_);
}

void GuestCpu::map(u32 base, u32 size) {
    if (!uc_) return;
    uc_err err = uc_mem_map(uc_, base, round_page(size), UC_PROT_ALL);
    if (err != UC_ERR_OK) ADD_FAILURE() << fmt::format("map 0x{:08x}: {}", base, uc_strerror(err));
}

void GuestCpu::load_archive(const cbe::CbeArchive& archive) {
    const cbe::CbeExecutable& x = archive.executable;
    const u32 base = x.load_address ? x.load_address : 0x01000000;
    const u32 data_base = x.load_address ? x.data_address : base + x.data_offset;
    const u64 size = std::max<u64>(u64{x.data_offset} + x.data_size, x.code_length);
    map(base, round_page(size));
    auto code = std::vector<u8>(archive.bytes.begin() + x.code_offset,
                                archive.bytes.begin() + x.code_offset + x.code_length);
    write(base, code);
    auto data = std::vector<u8>(archive.bytes.begin() + x.init_data_offset,
                                archive.bytes.begin() + x.init_data_offset + x.init_data_length);
    write(data_base, data);
}

void GuestCpu::load_elf(const pack::ElfImage& elf) {
    if (elf.sections.empty()) return;
    const u32 base = elf.sections.front().address & ~0xFFFu;
    const auto& last = elf.sections.back();
    map(base, round_page(u64{last.address} + last.size - base));
    for (const auto& s : elf.sections) {
        if (!s.nobits) write(s.address, s.bytes);
    }
}

void GuestCpu::write(u32 address, const std::vector<u8>& bytes) {
    if (!uc_ || bytes.empty()) return;
    uc_err err = uc_mem_write(uc_, address, bytes.data(), bytes.size());
    if (err != UC_ERR_OK) ADD_FAILURE() << fmt::format("write 0x{:08x}: {}", address, uc_strerror(err));
}

std::vector<u8> GuestCpu::read(u32 address, u32 size) {
    std::vector<u8> out(size, 0);
    if (!uc_ || size == 0) return out;
    uc_err err = uc_mem_read(uc_, address, out.data(), size);
    if (err != UC_ERR_OK) ADD_FAILURE() << fmt::format("read 0x{:08x}: {}", address, uc_strerror(err));
    return out;
}

u32 GuestCpu::read32(u32 address) { return load32(read(address, 4).data(), big_endian_); }
u16 GuestCpu::read16(u32 address) { return load16(read(address, 2).data(), big_endian_); }

void GuestCpu::write32(u32 address, u32 value) {
    std::vector<u8> b(4);
    store32(b.data(), value, big_endian_);
    write(address, b);
}

// A 64-bit value in guest memory: the low word first in little-endian order,
// the high word first in big-endian order.
void GuestCpu::write64(u32 address, u64 value) {
    const u32 lo = static_cast<u32>(value), hi = static_cast<u32>(value >> 32);
    write32(address, big_endian_ ? hi : lo);
    write32(address + 4, big_endian_ ? lo : hi);
}

u64 GuestCpu::read64(u32 address) {
    const u32 first = read32(address), second = read32(address + 4);
    return big_endian_ ? (u64{first} << 32 | second) : (u64{second} << 32 | first);
}

u32 GuestCpu::reg(int n) {
    u32 v = 0;
    if (uc_) uc_reg_read(uc_, kRegIds[n], &v);
    return v;
}

void GuestCpu::set_reg(int n, u32 value) {
    if (uc_) uc_reg_write(uc_, kRegIds[n], &value);
}

void GuestCpu::on_code(uc_engine* uc, uint64_t address, uint32_t, void* self) {
    auto* cpu = static_cast<GuestCpu*>(self);
    if (cpu->trap_) cpu->trap_(*cpu, static_cast<u32>(address));
    // Return to lr in the state its bit 0 names, as the machine does; the
    // model takes the Thumb state from bit 0 of a written pc.
    u32 pc = cpu->reg(14);
    uc_reg_write(uc, UC_ARM_REG_PC, &pc);
}

u32 GuestCpu::call(u32 function, std::vector<u32> args, u64 budget) {
    if (!uc_) return 0;
    // User mode first: sp and lr are banked, so they are set after the switch.
    // The start address's bit 0 picks the instruction set.
    // Other CPSR bits stay: the model keeps big-endian data access in one.
    u32 cpsr = 0;
    uc_reg_read(uc_, UC_ARM_REG_CPSR, &cpsr);
    cpsr = (cpsr & ~0x3Fu) | 0x10;
    uc_reg_write(uc_, UC_ARM_REG_CPSR, &cpsr);
    u32 sp = kStackTop - 0x100;
    for (size_t i = 4; i < args.size(); ++i) write32(sp + 4 * static_cast<u32>(i - 4), args[i]);
    for (size_t i = 0; i < 4; ++i) set_reg(static_cast<int>(i), i < args.size() ? args[i] : 0);
    set_reg(13, sp);
    set_reg(14, kSentinel);
    uc_err err = uc_emu_start(uc_, function, kSentinel, 0, budget);
    const u32 pc = reg(15);
    if (err != UC_ERR_OK) {
        error_ = fmt::format("guest fault at 0x{:08x}: {}", pc, uc_strerror(err));
        ADD_FAILURE() << error_;
        return 0;
    }
    if (pc != kSentinel) {
        error_ = fmt::format("guest did not return (pc 0x{:08x})", pc);
        ADD_FAILURE() << error_;
        return 0;
    }
    return reg(0);
}

}  // namespace tarvel::sdk_test
