// Disassembly of the code segment with Capstone, in the application's byte
// order, with calls of platform services named.

#include <capstone/capstone.h>
#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>

#include "inspect.hpp"
#include "machine/machine.hpp"
#include "service_names.hpp"

namespace tarvel::inspect {

namespace {

constexpr u32 kTrapBase = 0x0C000000;
constexpr u32 kTrapEnd = 0x0C100000;

// "service 4.22 tv_image_load" for a stub address, the entry's name for a
// fixed entry; empty outside the trap area.
std::string trap_label(u32 address) {
    if (address < kTrapBase || address >= kTrapEnd) return {};
    const u32 a = address & ~1u;
    const auto& entries = entry_names();
    const auto e = std::find_if(entries.begin(), entries.end(), [&](const EntryName& n) { return n.address == a; });
    if (e != entries.end()) return fmt::format("entry 0x{:08x} {}", a, e->name);
    const u32 group = (a - kTrapBase) / 0x400, index = (a - kTrapBase) % 0x400 / 4;
    if (index > 255) return fmt::format("trap area 0x{:08x}", a);
    const auto& names = service_names();
    const auto s = std::find_if(names.begin(), names.end(),
                                [&](const ServiceName& n) { return n.group == group && n.index == index; });
    return s == names.end() ? fmt::format("service {}.{}", group, index)
                            : fmt::format("service {}.{} {}", group, index, s->name);
}

}  // namespace

Result<std::string> disassemble(const Inspected& in, const DisasmOptions& options) {
    const auto& e = in.archive.executable;
    const u32 base = e.load_address ? e.load_address : machine::kDefaultCodeBase;
    const bool thumb = options.thumb.value_or(true);
    const std::span<const u8> code = std::span<const u8>(in.archive.bytes).subspan(e.code_offset, e.code_length);
    const u32 from = options.from.value_or(base);
    if (from < base || from - base > code.size())
        return Error::format("address 0x{:08x} is outside the code (0x{:08x}..0x{:08x})", from, base,
                             base + static_cast<u32>(code.size()));
    const u32 align = thumb ? 2 : 4;
    if (from % align) return Error::format("address 0x{:08x} is not {}-byte aligned", from, align);

    csh handle;
    const auto mode = static_cast<cs_mode>((thumb ? CS_MODE_THUMB : CS_MODE_ARM) |
                                           (e.big_endian ? CS_MODE_BIG_ENDIAN : CS_MODE_LITTLE_ENDIAN));
    if (cs_open(CS_ARCH_ARM, mode, &handle) != CS_ERR_OK) return Error("cannot open the Capstone disassembler");
    cs_option(handle, CS_OPT_DETAIL, CS_OPT_ON);
    cs_insn* insn = cs_malloc(handle);

    std::string out;
    const u8* p = code.data() + (from - base);
    size_t left = code.size() - (from - base);
    u64 address = from;
    const u64 limit = options.count.value_or(UINT32_MAX);
    auto word_at = [&](u64 a) -> std::optional<u32> {
        if (a < base || a + 4 > u64{base} + code.size()) return std::nullopt;
        return load32(&code[a - base], e.big_endian != 0);
    };
    for (u64 n = 0; n < limit && left >= align; ++n) {
        const u64 at = address;
        const u8* start = p;
        std::string text, note;
        if (cs_disasm_iter(handle, &p, &left, &address, insn)) {
            text = fmt::format("{} {}", insn->mnemonic, insn->op_str);
            const cs_arm& arm = insn->detail->arm;
            for (u8 k = 0; k < arm.op_count && note.empty(); ++k) {
                const cs_arm_op& op = arm.operands[k];
                if (op.type == ARM_OP_MEM && op.mem.base == ARM_REG_PC && op.mem.index == ARM_REG_INVALID) {
                    // A literal load: the word it reads may be a stub address.
                    const i64 disp = op.subtracted ? -std::abs(i64{op.mem.disp}) : i64{op.mem.disp};
                    const u64 literal = ((at + (thumb ? 4 : 8)) & ~u64{3}) + disp;
                    if (auto w = word_at(literal); w && !(note = trap_label(*w)).empty())
                        note = fmt::format("=0x{:08x} {}", *w, note);
                } else if (op.type == ARM_OP_IMM) {
                    note = trap_label(static_cast<u32>(op.imm));
                }
            }
        } else {
            // Bytes that are no instruction (literal pools, data) are shown as a word.
            const size_t size = std::min<size_t>(align, left);
            p = start + size;
            left -= size;
            address += size;
            text = size == 4 ? fmt::format(".word 0x{:08x}", load32(start, e.big_endian != 0))
                             : fmt::format(".short 0x{:04x}", load16(start, e.big_endian != 0));
        }
        std::string hex;
        for (const u8* b = start; b < p; ++b) hex += fmt::format("{:02x}", *b);
        out += fmt::format("{:08x}:  {:<10}  {}", at, hex, text);
        if (!note.empty()) out += "    ; " + note;
        out += "\n";
    }
    cs_free(insn, 1);
    cs_close(&handle);
    return out;
}

}  // namespace tarvel::inspect
