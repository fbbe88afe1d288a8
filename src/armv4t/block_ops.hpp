#pragma once
// Block transfers as the run loop decodes them. Internal to the interpreter.
//
// LDM/STM without the S bit, PUSH/POP and LDMIA/STMIA with a non-empty list
// get, in a decoded block, a handler made for their addressing mode and their
// number of registers, with the register numbers taken from the list once, as
// the block is decoded, into DecodedOp::operands. Such a handler copies a block
// that lies in one fast page with straight-line code and nothing else; any
// other case (a condition that fails, a block off the fast path) goes to the
// instruction's ordinary handler, so both ways behave alike by construction.

#include "armv4t/exec.hpp"

namespace tarvel::armv4t {

// Gives `op` (decoded with the ordinary run handler for its instruction) the
// dedicated block-transfer handler and operands when it has one, and says so.
// Those handlers set r[15] themselves where they read it.
bool predecode_block_transfer(DecodedOp& op, bool thumb, bool big_endian);

// The register numbers in a 16-bit list, lowest first, four bits each.
u64 register_order(u32 list);

}  // namespace tarvel::armv4t
