// cbe-pack's ELF reader on arbitrary bytes: every outcome is an image or an
// error, never a read outside the buffer. Images that read are laid out too.

#include <cstddef>
#include <cstdint>
#include <span>

#include "elf_image.hpp"
#include "program_layout.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto image = tarvel::pack::read_elf(std::span<const uint8_t>(data, size));
    if (image.ok()) {
        for (bool native : {false, true}) {
            auto layout = tarvel::pack::layout_program(*image, {tarvel::pack::LoadAddressMode::Auto, native});
            (void)layout;
        }
    }
    return 0;
}
