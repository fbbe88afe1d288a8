#pragma once
// The ARMv4T register file: 37 slots (r0-r15 as User and System see them, the
// CPSR, and the banked registers and saved status registers of the five
// exception modes) plus the index of the bank the current mode uses.
//
// For speed the registers of the current mode live in `r`, a plain array of 16
// values that the interpreter indexes directly; the slots they stand for are
// brought up to date when the bank changes and whenever slots() is asked for.

#include <array>
#include <string_view>

#include "common/bytes.hpp"
#include "common/error.hpp"

namespace tarvel::armv4t {

inline constexpr u32 kFlagN = 1u << 31;
inline constexpr u32 kFlagZ = 1u << 30;
inline constexpr u32 kFlagC = 1u << 29;
inline constexpr u32 kFlagV = 1u << 28;
inline constexpr u32 kFlagsMask = 0xF0000000;
inline constexpr u32 kIrqDisable = 1u << 7;
inline constexpr u32 kFiqDisable = 1u << 6;
inline constexpr u32 kThumbBit = 1u << 5;
inline constexpr u32 kModeMask = 0x1F;

inline constexpr u32 kModeUser = 0x10;
inline constexpr u32 kModeFiq = 0x11;
inline constexpr u32 kModeIrq = 0x12;
inline constexpr u32 kModeSupervisor = 0x13;
inline constexpr u32 kModeAbort = 0x17;
inline constexpr u32 kModeUndefined = 0x1B;
inline constexpr u32 kModeSystem = 0x1F;

inline constexpr u32 kBankUser = 0;
inline constexpr u32 kBankFiq = 1;
inline constexpr u32 kBankIrq = 2;
inline constexpr u32 kBankSupervisor = 3;
inline constexpr u32 kBankAbort = 4;
inline constexpr u32 kBankUndefined = 5;
inline constexpr u32 kBankCount = 6;

inline constexpr unsigned kRegCpsr = 16;
inline constexpr unsigned kRegSpsr = 17;
inline constexpr size_t kSlotCount = 37;

// The seven valid modes as a bit set over the five mode bits.
inline constexpr u32 kValidModeSet = 0x888F0000;
inline constexpr bool is_valid_mode(u32 mode_bits) { return (kValidModeSet >> (mode_bits & kModeMask)) & 1; }

// Bank index of a valid mode (User and System share bank 0); -1 for an invalid one.
constexpr int bank_of_mode(u32 mode_bits) {
    switch (mode_bits & kModeMask) {
        case kModeUser: case kModeSystem: return kBankUser;
        case kModeFiq: return kBankFiq;
        case kModeIrq: return kBankIrq;
        case kModeSupervisor: return kBankSupervisor;
        case kModeAbort: return kBankAbort;
        case kModeUndefined: return kBankUndefined;
        default: return -1;
    }
}

// "User", "Fiq", ... for logs; "Invalid" for bits that name no mode.
std::string_view mode_name(u32 mode_bits);

// Slot of register n (0..15, 16 = CPSR, 17 = SPSR) in bank b.
constexpr unsigned slot_of(u32 bank, unsigned n) {
    constexpr unsigned kHigh[kBankCount][7] = {
        {8, 9, 10, 11, 12, 13, 14},  {17, 18, 19, 20, 21, 22, 23}, {8, 9, 10, 11, 12, 25, 26},
        {8, 9, 10, 11, 12, 28, 29}, {8, 9, 10, 11, 12, 31, 32},    {8, 9, 10, 11, 12, 34, 35},
    };
    constexpr unsigned kSpsr[kBankCount] = {16, 24, 27, 30, 33, 36};
    if (n < 8 || n == 15 || n == 16) return n;
    if (n == 17) return kSpsr[bank];
    return kHigh[bank][n - 8];
}

class RegisterFile {
public:
    RegisterFile();

    // Register n (0..15) of the current mode; 16 is the CPSR, 17 the SPSR (which
    // is the CPSR itself in User and System mode).
    u32 get(unsigned n) const;
    // Register n of the current mode; n = 16 goes through set_cpsr, n = 17 writes
    // the current SPSR (the CPSR in User and System mode, through set_cpsr).
    void set(unsigned n, u32 value);

    u32 cpsr() const { return cpsr_ | (nzcv() << 28); }
    // Stores a new CPSR and switches banks to its mode. Mode bits that name no
    // mode are rejected with an error log; the old mode bits are kept and every
    // other bit is taken from `value`. Returns false in that case.
    bool set_cpsr(u32 value);
    u32 spsr() const;
    void set_spsr(u32 value);

    // The T bit alone (the mode, and so the bank, stay).
    void set_thumb(bool thumb) { cpsr_ = (cpsr_ & ~kThumbBit) | (thumb ? kThumbBit : 0); }

    u32 bank() const { return bank_; }
    u32 mode() const { return cpsr_ & kModeMask; }
    bool thumb() const { return cpsr_ & kThumbBit; }
    // User and System mode: no SPSR, and MSR may not touch the control byte in User.
    bool has_spsr() const { return bank_ != kBankUser; }

    // r8-r14 as User mode sees them, whatever the current mode (LDM/STM with the
    // S bit).
    u32 user_reg(unsigned n) const;
    void set_user_reg(unsigned n, u32 value);

    // The 37 slots in save-state order, and the reverse. restore() rejects a bank
    // index outside 0..5, a CPSR without a valid mode and a bank that does not
    // belong to the CPSR's mode, leaving the register file unchanged.
    std::array<u32, kSlotCount> slots() const;
    Status restore(const std::array<u32, kSlotCount>& slots, u64 bank);

    // The condition flags. They live apart from the rest of the CPSR so that an
    // instruction sets them with plain stores of what the host computed: N and
    // Z as the result itself (twice, since some instructions set them apart),
    // C and V as bytes.
    // NZCV as the top four bits of `nzcv` (the rest is ignored).
    void set_flags(u32 nzcv) {
        flag_n_ = nzcv & kFlagN;
        flag_z_ = (nzcv & kFlagZ) ? 0 : 1;
        flag_c_ = static_cast<u8>((nzcv >> 29) & 1);
        flag_v_ = static_cast<u8>((nzcv >> 28) & 1);
    }
    // N and Z from a result; C and V as given or kept.
    void set_nz(u32 result) {
        flag_n_ = result;
        keep_store(flag_n_);
        flag_z_ = result;
        keep_store(flag_z_);
    }
    void set_nzc(u32 result, u32 carry) {
        set_nz(result);
        flag_c_ = static_cast<u8>(carry);
        keep_store(flag_c_);
    }
    void set_nzcv(u32 result, bool carry, bool overflow) {
        set_nzc(result, carry);
        flag_v_ = overflow;
        keep_store(flag_v_);
    }
    // N, Z, C and V as a number 0..15 (N the top bit).
    u32 nzcv() const {
        return ((flag_n_ >> 31) << 3) | (flag_z_ == 0 ? 4u : 0u) | (u32{flag_c_} << 1) | flag_v_;
    }
    u32 carry() const { return flag_c_; }
    bool flag_n() const { return flag_n_ >> 31; }
    bool flag_z() const { return flag_z_ == 0; }
    bool flag_c() const { return flag_c_; }
    bool flag_v() const { return flag_v_; }

    // Exception entry: saves the CPSR into the new mode's SPSR, switches mode with
    // IRQs disabled and FIQs enabled in ARM state, sets the new mode's lr and pc.
    void enter_exception(u32 mode_bits, u32 return_address, u32 vector);

    // The registers of the current mode; r[15] is the pc.
    u32 r[16];

private:
    void switch_bank(u32 new_bank);

    // The CPSR without its flags (those bits are always clear here).
    u32 cpsr_ = kModeSupervisor | kIrqDisable | kFiqDisable;
    u32 flag_n_ = 0;  // N is bit 31
    u32 flag_z_ = 1;  // Z is set when this is zero
    u8 flag_c_ = 0;
    u8 flag_v_ = 0;

    // Keeps the compiler from merging the flag stores into one wider store,
    // which it builds with more shifts and ORs than the stores it saves.
    template <typename T>
    [[gnu::always_inline]] static void keep_store(T& stored) {
        asm("" : "+m"(stored));
    }
    u32 bank_ = kBankSupervisor;
    std::array<u32, kSlotCount> slots_{};  // registers not mapped to r[] live here
};

}  // namespace tarvel::armv4t
