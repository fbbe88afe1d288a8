#pragma once
// The guest programs built for these tests, by variant.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/bytes.hpp"

namespace tarvel::sdk_test {

struct ProbeVariant {
    std::string tag;
    std::string cbe;
    std::string elf;
    bool big_endian;
    bool thumb;
    u32 load_address;  // header value
    bool native;
};

inline std::vector<ProbeVariant> probe_variants() {
    std::vector<ProbeVariant> v;
#ifdef TARVEL_HAVE_GUEST_APPS
    v.push_back({"thumb_le", SDK_PROBE_THUMB_LE_CBE, SDK_PROBE_THUMB_LE_ELF, false, true, 0, false});
    v.push_back({"thumb_be", SDK_PROBE_THUMB_BE_CBE, SDK_PROBE_THUMB_BE_ELF, true, true, 0, false});
    v.push_back({"arm_le", SDK_PROBE_ARM_LE_CBE, SDK_PROBE_ARM_LE_ELF, false, false, 0, false});
    v.push_back({"arm_be", SDK_PROBE_ARM_BE_CBE, SDK_PROBE_ARM_BE_ELF, true, false, 0, false});
    v.push_back({"explicit_be", SDK_PROBE_EXPLICIT_BE_CBE, SDK_PROBE_EXPLICIT_BE_ELF, true, true, 0x00400000, false});
    v.push_back({"native_be", SDK_PROBE_NATIVE_BE_CBE, SDK_PROBE_NATIVE_BE_ELF, true, false, 0x00400000, true});
#endif
    return v;
}

inline void PrintTo(const ProbeVariant& v, std::ostream* os) { *os << v.tag; }

inline std::string variant_name(const ::testing::TestParamInfo<ProbeVariant>& info) { return info.param.tag; }

}  // namespace tarvel::sdk_test
