// Random words executed as ARM code: the interpreter must never crash, hang or
// touch host memory outside the guest regions, whatever the code does.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "armv4t/cpu.hpp"
#include "fuzz_cpu_support.hpp"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    tarvel::fuzz::prefer_plain_schedule(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvel::fuzz::execute_as_code(data, size, /*thumb=*/false);
    return 0;
}
