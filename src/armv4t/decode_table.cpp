#include "armv4t/decode_table.hpp"

namespace tarvel::armv4t {

std::string_view class_name(ArmClass c) {
    static constexpr std::string_view kNames[] = {
        "BranchEx", "Branch", "DataProc0", "DataProc1", "DataProc2", "PsrImm", "PsrReg", "Multiply", "MulLong",
        "SingleXferI", "SingleXferR", "HwSgnXferR", "HwSgnXferI", "BlockXfer", "Swap", "SoftwareInt",
        "CoprocReg", "Undefined",
    };
    return kNames[static_cast<size_t>(c)];
}

std::string_view class_name(ThumbClass c) {
    static constexpr std::string_view kNames[] = {
        "Shifted", "AddSub", "ImmOp", "AluOp", "HiRegBx", "PcLoad", "SingleXferR", "HwSgnXfer", "SingleXferI",
        "HwXferI", "SpXfer", "LoadAddr", "SpAdd", "PushPop", "BlockXfer", "CondBranch", "SoftwareInt", "Branch",
        "LongBranch", "Undefined",
    };
    return kNames[static_cast<size_t>(c)];
}

}  // namespace tarvel::armv4t
