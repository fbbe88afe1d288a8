#pragma once
// Shared pieces of the CBE tests: a valid default file.

#include <string>
#include <string_view>
#include <vector>

#include "cbe_writer/cbe_writer.hpp"
#include "common/log.hpp"
#include "support/log_capture.hpp"

namespace tarvel::cbe::test {

inline std::vector<u8> bytes_of(std::string_view text) { return std::vector<u8>(text.begin(), text.end()); }

inline std::vector<u8> counting_bytes(size_t n, u8 first = 1) {
    std::vector<u8> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<u8>(first + i * 7);
    return out;
}

// A small well-formed file: code, data, an embedded package and a single
// resource package with two resources.
inline cbe_writer::CbeBuilder valid_builder() {
    cbe_writer::CbeBuilder b;
    b.load_address = 0x01000000;
    b.data_offset = 0x100;
    b.data_address = 0x01000100;
    b.data_size = 0x40;
    b.code = counting_bytes(32, 0x11);
    b.init_data = counting_bytes(12, 0x21);
    b.embedded = counting_bytes(9, 0x31);
    cbe_writer::SinglePackageSpec resources;
    resources.package.resources = {cbe_writer::resource("a.png", {1, 2, 3}), cbe_writer::resource("b.mid", {4, 5})};
    b.resource_package = cbe_writer::encode_single_package(resources);
    return b;
}

}  // namespace tarvel::cbe::test
