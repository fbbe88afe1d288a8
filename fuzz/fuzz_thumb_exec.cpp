// Random halfwords executed as Thumb code: the interpreter must never crash,
// hang or touch host memory outside the guest regions.

#include <cstddef>
#include <cstdint>

#include "fuzz_cpu_support.hpp"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    tarvel::fuzz::prefer_plain_schedule(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvel::fuzz::execute_as_code(data, size, /*thumb=*/true);
    return 0;
}
