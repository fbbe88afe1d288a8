// Booting: the initializer runs from the code base and registers the
// application's entry, either in the system area's first words or, for files
// in the native layout, through the system entry's request 1950; then the
// entry runs and the application is ready for ticks.

#include "common/log.hpp"
#include "machine/cpu_bridge.hpp"
#include "machine/machine.hpp"

namespace tarvel::machine {

namespace {

constexpr const char* kMachineTarget = "tarvel_core::machine";
constexpr u32 kBootCpsr = armv4t::kModeUser | armv4t::kThumbBit;

bool native_layout(const cbe::CbeExecutable& exe) {
    return exe.big_endian == 1 && exe.load_address != 0 && exe.data_offset <= exe.code_length;
}

Status boot_native(TarvelMachine& m, u64 budget) {
    if (m.native_entry == 0) {
        m.run_state = RunState::Faulted;
        return Error("CBE initializer returned without registering a native application entry");
    }
    m.app_entry = m.native_entry;
    TARVEL_TRY(call_guest(m, m.native_entry, 0, 0, 0, budget));
    if (m.run_state == RunState::Stopped) return {};
    return call_guest(m, m.native_second_callback, 0, 0, 0, budget);
}

Status boot_registered(TarvelMachine& m, u64 budget) {
    m.app_entry = m.memory.read32(kAppEntryWord);
    m.app_second_word = m.memory.read32(kAppSecondWord);
    if (m.app_entry == 0) {
        m.run_state = RunState::Faulted;
        return Error("CBE initializer returned without registering an application entry");
    }
    TARVEL_LOG(Debug, kMachineTarget, "CBE application entry: 0x{:08x}", m.app_entry);
    // r0..r3 stay as the initializer left them.
    m.cpu.regs.set(14, kReturnAddress);
    branch_exchange(m, m.app_entry);
    return run_guest(m, budget);
}

}  // namespace

Status boot(TarvelMachine& m, u64 budget) {
    m.run_state = RunState::Booting;
    const bool native = native_layout(m.executable);
    armv4t::RegisterFile& regs = m.cpu.regs;
    regs.set_cpsr(kBootCpsr);  // User mode shares bank 0
    regs.r[0] = native ? kSystemEntryThumb : kAppEntryWord;
    regs.r[9] = m.data_base;
    regs.r[13] = kStackTop;
    regs.r[14] = kReturnAddress;
    regs.r[15] = m.code_base;

    TARVEL_TRY(run_guest(m, budget));
    if (m.run_state == RunState::Stopped) return {};

    TARVEL_TRY(native ? boot_native(m, budget) : boot_registered(m, budget));
    if (m.run_state != RunState::Stopped) m.run_state = RunState::Running;
    return {};
}

}  // namespace tarvel::machine
