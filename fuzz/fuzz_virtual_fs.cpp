// Random sequences of filesystem operations: nothing may crash or read out of
// bounds, the stored-byte count must match the files, and handles must only
// ever name normalised paths.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/log.hpp"
#include "machine/virtual_fs.hpp"

namespace {

using tarvel::machine::VirtualFs;

void discard(tarvel::log::Level, std::string_view, std::string_view) {}

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    bool more() const { return at < size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint32_t word() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | byte();
        return v;
    }
    // A short path from a small alphabet, so that operations meet each other's files.
    std::string path() {
        static const char kAlphabet[] = "aB/\\.x";
        std::string p;
        for (uint8_t n = byte() % 8; n > 0; --n) p += kAlphabet[byte() % (sizeof kAlphabet - 1)];
        return p;
    }
};

void check(const VirtualFs& fs) {
    uint64_t total = 0;
    for (const auto& [path, contents] : fs.files) total += contents.size();
    if (total != fs.stored_bytes) std::abort();
    if (!fs.directories.contains("")) std::abort();
    for (const auto& slot : fs.handles) {
        if (slot && tarvel::machine::normalize_path(slot->path) != slot->path) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvel::log::set_sink(&discard);
    VirtualFs fs;
    Reader in{data, size};
    static const char* const kModes[] = {"r", "r+", "w", "w+", "a", "a+", "q", "+", ""};
    std::vector<uint8_t> payload(4096, 0x5A);
    while (in.more()) {
        const uint32_t handle = in.byte() % 18;
        const auto normalized = [&] { return tarvel::machine::normalize_path(in.path()); };
        switch (in.byte() % 10) {
            case 0:
                if (auto p = normalized()) fs.open(*p, kModes[in.byte() % 9]);
                break;
            case 1: fs.close(handle); break;
            case 2: {
                // Small counts, plus the occasional huge one that must be refused.
                const uint32_t count = in.byte() == 0xFF ? in.word() : in.byte() * 17u;
                if (auto bytes = fs.read(handle, count)) {
                    volatile uint8_t sink = 0;
                    for (uint8_t b : *bytes) sink = sink ^ b;
                }
                break;
            }
            case 3: fs.write(handle, std::span(payload).first(in.byte() * 16u)); break;
            case 4: fs.seek(handle, static_cast<int32_t>(in.byte() % 2 ? in.word() % 70000 : in.word()), in.byte() % 4); break;
            case 5:
                if (auto p = normalized()) fs.remove(*p);
                break;
            case 6: {
                auto from = normalized();
                auto to = normalized();
                if (from && to) fs.rename(*from, *to);
                break;
            }
            case 7:
                if (auto p = normalized()) fs.make_directory(*p);
                break;
            case 8:
                if (auto p = normalized()) fs.is_directory(*p);
                break;
            default: fs.size(handle); fs.tell(handle); break;
        }
        check(fs);
    }
    return 0;
}
