// cbe-sample OUTPUT: writes a small CBE file: a well-formed container whose
// code returns at once, with a resource package holding one text resource.
// It exercises loading, not the application side.
#include <cstdio>
#include <fstream>
#include <string_view>

#include "cbe_writer/cbe_writer.hpp"

namespace {

std::vector<tarvel::u8> little_endian_words(std::initializer_list<tarvel::u32> words) {
    std::vector<tarvel::u8> bytes;
    for (tarvel::u32 w : words)
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<tarvel::u8>(w >> shift));
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: cbe-sample OUTPUT.cbe\n", stderr);
        return 2;
    }
    using namespace tarvel::cbe_writer;
    CbeBuilder builder;
    builder.code = little_endian_words({
        0xE3A00000,  // mov r0, #0
        0xE12FFF1E,  // bx lr
    });
    builder.data_offset = 0x1000;
    builder.data_size = 0x100;
    builder.init_data = little_endian_words({0x00000001, 0x00000002});
    builder.embedded = little_endian_words({0x00000000});
    std::string_view note = "A sample CBE file written by cbe-sample.";
    SinglePackageSpec resources;
    resources.package.resources.push_back(resource("readme.txt", std::vector<tarvel::u8>(note.begin(), note.end())));
    builder.resource_package = encode_single_package(resources);

    std::vector<tarvel::u8> bytes = builder.build();
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "cbe-sample: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("cbe-sample: wrote %s (%zu bytes)\n", argv[1], bytes.size());
    return 0;
}
