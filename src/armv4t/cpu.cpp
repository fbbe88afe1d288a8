#include "armv4t/cpu.hpp"

#include "armv4t/decode_table.hpp"

namespace tarvel::armv4t {

namespace {
constexpr const char* kArmTarget = "armv4t_emu::arm";
constexpr const char* kThumbTarget = "armv4t_emu::thumb";
}  // namespace

namespace detail {

void trace_arm(u32 pc, u32 inst, u32 cpsr) {
    TARVEL_LOG(Trace, kArmTarget, "ARM: pc: 0x{:08X}, inst: 0x{:08X}, cond: {:X}, cflags: {:04b}", pc, inst,
               inst >> 28, cpsr >> 28);
}

void trace_arm_condition_failed() { TARVEL_LOG(Trace, kArmTarget, "cond not met"); }

void trace_thumb(u32 pc, u16 inst) {
    TARVEL_LOG(Trace, kThumbTarget, "THM: pc: 0x{:08X}, inst: 0x{:04X}", pc, inst);
    TARVEL_LOG(Trace, kThumbTarget, "Instruction: {}", class_name(classify_thumb(inst)));
}

}  // namespace detail

void write_cpsr(Exec& e, u32 value) {
    const u32 old = e.regs.cpsr();
    if (value == old) return;
    e.regs.set_cpsr(value);
    if ((old ^ e.regs.cpsr()) & (kThumbBit | kModeMask)) e.event |= kEventStateChange;
}

// Exceptions enter ARM state with IRQs disabled and FIQs enabled; only the
// condition flags of the old CPSR carry over.
u32 enter_software_interrupt(Exec& e, u32 return_address) {
    e.regs.enter_exception(kModeSupervisor, return_address, 0x00000008);
    e.event |= kEventStateChange;
    return 0x00000008;
}

u32 enter_undefined(Exec& e, u32 return_address) {
    e.regs.enter_exception(kModeUndefined, return_address, 0x00000004);
    e.event |= kEventStateChange | kEventUndefined;
    return 0x00000004;
}

// There is no coprocessor: MRC reads 0 (into the flags when the destination is
// r15, as MRC does), MCR is ignored. Both are logged, since guest code that
// relies on a coprocessor will misbehave.
u32 arm_coprocessor_transfer(Exec& e, u32 inst, u32 pc) {
    const u32 opc1 = (inst >> 21) & 7;
    const u32 crn = (inst >> 16) & 15;
    const u32 rd = (inst >> 12) & 15;
    const u32 cp = (inst >> 8) & 15;
    const u32 opc2 = (inst >> 5) & 7;
    const u32 crm = inst & 15;
    const std::string_view mode = mode_name(e.regs.mode());
    if (inst & (1u << 20)) {
        TARVEL_LOG(Info, kArmTarget, "Reading to R{} from P{},C{},C{},{}, cpinfo {}, mode: {}", rd, cp, crn, crm, opc2,
                   opc1, mode);
        if (rd == 15) {
            e.regs.set_flags(0);
        } else {
            e.regs.r[rd] = 0;
        }
    } else {
        TARVEL_LOG(Info, kArmTarget, "Writing {:#010x} to P{},C{},C{},{}, cpinfo {}, mode: {}", e.regs.r[rd], cp, crn,
                   crm, opc2, opc1, mode);
    }
    return pc + 4;
}

u32 arm_skipped_op(Exec& e, const DecodedOp* op, u32 pc) {
    if (log::enabled(log::Level::Trace)) detail::trace_arm_condition_failed();
    return run_next<4>(e, op, pc, pc + 4);
}

u32 arm_never_op(Exec& e, const DecodedOp* op, u32 pc) {
    e.regs.r[15] = pc + 8;
    return run_next<4>(e, op, pc, arm_condition_never(e, op->inst, pc));
}

// Condition 0xF never executes in ARMv4T, except for the branch with link and
// exchange to Thumb code that later cores put there (applications for this
// platform use it): lr = the next instruction, Thumb state, and bit 24 adds a
// halfword to the offset.
u32 arm_condition_never(Exec& e, u32 inst, u32 pc) {
    if ((inst & 0x0E000000) != 0x0A000000) {
        if (log::enabled(log::Level::Trace)) detail::trace_arm_condition_failed();
        return pc + 4;
    }
    const u32 offset = static_cast<u32>(static_cast<i32>(inst << 8) >> 6) | ((inst >> 23) & 2);
    e.regs.r[14] = pc + 4;
    set_state(e, true);
    return pc + 8 + offset;
}

bool Cpu::step(machine::GuestMemory& memory) {
    blocks_.close_epoch();  // its stores are not checked against decoded code
    Exec e{regs, memory};
    u32* const r = regs.r;
    if (regs.thumb()) {
        const u32 pc = r[15] & ~1u;
        const u16 inst = memory.read16(pc);
        if (log::enabled(log::Level::Trace)) detail::trace_thumb(pc, inst);
        const DecodedOp op{detail::kThumbStepHandlers[memory.big_endian()][inst >> 6], inst, 1};
        r[15] = pc + 4;
        r[15] = op.handler(e, &op, pc);
        return !(e.event & kEventUndefined);
    }

    // A misaligned pc fetches the aligned word rotated, as a misaligned word load would.
    const u32 pc = r[15];
    const u32 inst = ror32(memory.read32(pc & ~3u), (pc & 3) * 8);
    if (log::enabled(log::Level::Trace)) detail::trace_arm(pc, inst, regs.cpsr());
    const DecodedOp op{detail::kArmStepHandlers[memory.big_endian()][arm_key(inst)], inst, 1};
    r[15] = pc + 8;
    r[15] = op.handler(e, &op, pc);
    return !(e.event & kEventUndefined);
}

}  // namespace tarvel::armv4t
