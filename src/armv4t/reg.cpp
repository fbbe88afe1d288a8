#include "armv4t/reg.hpp"

#include "common/log.hpp"

namespace tarvel::armv4t {

std::string_view mode_name(u32 mode_bits) {
    switch (mode_bits & kModeMask) {
        case kModeUser: return "User";
        case kModeFiq: return "Fiq";
        case kModeIrq: return "Irq";
        case kModeSupervisor: return "Supervisor";
        case kModeAbort: return "Abort";
        case kModeUndefined: return "Undefined";
        case kModeSystem: return "System";
        default: return "Invalid";
    }
}

RegisterFile::RegisterFile() {
    for (u32& value : r) value = 0;
}

void RegisterFile::switch_bank(u32 new_bank) {
    if (new_bank == bank_) return;
    for (unsigned n = 8; n < 15; ++n) {
        slots_[slot_of(bank_, n)] = r[n];
        r[n] = slots_[slot_of(new_bank, n)];
    }
    bank_ = new_bank;
}

u32 RegisterFile::get(unsigned n) const {
    if (n < 16) return r[n];
    if (n == kRegCpsr) return cpsr();
    return spsr();
}

void RegisterFile::set(unsigned n, u32 value) {
    if (n < 16) {
        r[n] = value;
    } else if (n == kRegCpsr) {
        set_cpsr(value);
    } else {
        set_spsr(value);
    }
}

bool RegisterFile::set_cpsr(u32 value) {
    // The mode kept (a change of state, of flags or of the interrupt masks):
    // no bank to switch and nothing to validate.
    if (((value ^ cpsr_) & kModeMask) == 0) [[likely]] {
        cpsr_ = value & ~kFlagsMask;
        set_flags(value);
        return true;
    }
    const u32 new_mode = value & kModeMask;
    const int bank = bank_of_mode(new_mode);
    if (bank < 0) {
        TARVEL_LOG(Error, "armv4t_emu::reg", "Attempted to write to CPSR with invalid mode bits: 0x{:X}", new_mode);
        cpsr_ = (value & ~(kModeMask | kFlagsMask)) | (cpsr_ & kModeMask);
        set_flags(value);
        return false;
    }
    switch_bank(static_cast<u32>(bank));
    cpsr_ = value & ~kFlagsMask;
    set_flags(value);
    return true;
}

u32 RegisterFile::spsr() const {
    return bank_ == kBankUser ? cpsr() : slots_[slot_of(bank_, kRegSpsr)];
}

void RegisterFile::set_spsr(u32 value) {
    if (bank_ == kBankUser) {
        set_cpsr(value);
    } else {
        slots_[slot_of(bank_, kRegSpsr)] = value;
    }
}

u32 RegisterFile::user_reg(unsigned n) const {
    return slot_of(bank_, n) == n ? r[n] : slots_[n];
}

void RegisterFile::set_user_reg(unsigned n, u32 value) {
    if (slot_of(bank_, n) == n) {
        r[n] = value;
    } else {
        slots_[n] = value;
    }
}

std::array<u32, kSlotCount> RegisterFile::slots() const {
    std::array<u32, kSlotCount> out = slots_;
    for (unsigned n = 0; n < 16; ++n) out[slot_of(bank_, n)] = r[n];
    out[kRegCpsr] = cpsr();
    return out;
}

Status RegisterFile::restore(const std::array<u32, kSlotCount>& slots, u64 bank) {
    if (bank >= kBankCount) return Error::format("invalid register bank index {}", bank);
    const int mode_bank = bank_of_mode(slots[kRegCpsr]);
    if (mode_bank < 0) {
        return Error::format("invalid CPSR mode bits 0x{:X}", slots[kRegCpsr] & kModeMask);
    }
    if (static_cast<u64>(mode_bank) != bank) {
        return Error::format("register bank index {} does not match CPSR mode {}", bank,
                             mode_name(slots[kRegCpsr]));
    }
    slots_ = slots;
    bank_ = static_cast<u32>(bank);
    cpsr_ = slots[kRegCpsr] & ~kFlagsMask;
    set_flags(slots[kRegCpsr]);
    for (unsigned n = 0; n < 16; ++n) r[n] = slots_[slot_of(bank_, n)];
    return {};
}

void RegisterFile::enter_exception(u32 mode_bits, u32 return_address, u32 vector) {
    const u32 old_cpsr = cpsr();
    const u32 bank = static_cast<u32>(bank_of_mode(mode_bits));
    switch_bank(bank);
    cpsr_ = kIrqDisable | mode_bits;  // the flags carry over
    slots_[slot_of(bank, kRegSpsr)] = old_cpsr;
    r[14] = return_address;
    r[15] = vector;
}

}  // namespace tarvel::armv4t
