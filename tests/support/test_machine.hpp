#pragma once
// The test machines, built the ways a machine comes to exist: from a CBE file
// the writer assembles (code, byte order, resources), from an archive record
// made in code (for header values no writer would produce), or from a guest
// program the SDK built; then booted or driven by hand. A step that fails
// fails the calling test. Also the helpers every service test needs: call a
// service with its register and stack arguments, place and read guest strings.

#include <gtest/gtest.h>

#include <concepts>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cbe/archive.hpp"
#include "cbe_writer/cbe_writer.hpp"
#include "common/bytes.hpp"
#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"
#include "memory/guest_strings.hpp"
#include "support/thumb_program.hpp"

namespace tarvel::test {

using machine::TarvelMachine;

// ---- From a CBE file the writer assembles, parsed as a loaded file is.
struct MachineSpec {
    bool big_endian = false;
    // Data apart from the code, which for big-endian files opens a few group 3
    // entries; false places the data right after the code.
    bool split_layout = true;
    // The main resource table, stored in the single-package form...
    std::vector<cbe_writer::ResourceSpec> resources = {};
    std::vector<u8> code = {0xC0, 0x46, 0xC0, 0x46, 0xC0, 0x46, 0xC0, 0x46};
    // ...unless the whole resource package is given.
    std::optional<std::vector<u8>> package = std::nullopt;
};

TarvelMachine make_machine(const MachineSpec& spec = {});

// ---- From an archive record made in code: the code at file offset 0 and the
// initialized data right after it.
struct Layout {
    u32 load_address = 0;
    u32 data_offset = 0x2000;
    u32 data_address = 0;
    u32 data_size = 0x1000;
    bool big_endian = false;
    std::vector<u8> init_data = {};
};

cbe::CbeArchive make_archive(const std::vector<u8>& code, const Layout& layout = {});
TarvelMachine make_machine(const std::vector<u8>& code, const Layout& layout);
inline TarvelMachine make_machine(const std::vector<u8>& code) { return make_machine(code, Layout{}); }
// One NOP of code, for tests that poke memory and registers.
TarvelMachine blank_machine(bool big_endian = false);

// ---- From a guest program the SDK built.
struct GuestBuild {
    const char* cbe;
    bool big_endian;
};

// The little- and big-endian builds of a guest program (file names, empty
// where they were not built), leaving out those not built.
std::vector<GuestBuild> guest_builds(const char* little, const char* big);
// Loads and builds `build`, then boots it within `budget` instructions.
std::optional<TarvelMachine> boot_guest_build(const GuestBuild& build, u64 budget);
// Builds the machine of a CBE file held in memory and boots it.
std::optional<TarvelMachine> boot_file(std::vector<u8> file, u64 budget);

// Puts the machine in Thumb User mode about to run at `pc` with a fresh stack.
void enter_thumb(TarvelMachine& m, u32 pc);

// ---- Calling services as the dispatcher does: r0..r3 from the first four
// arguments, the rest as words at SP, SP + 4, ... with SP at kTestStack.
inline constexpr u32 kTestStack = machine::kStackTop - 0x400;

u32 call(TarvelMachine& m, u32 group, u32 index, std::span<const u32> args);
u32 call(TarvelMachine& m, machine::services::ServiceHandler handler, u32 index, std::span<const u32> args);
inline u32 call(TarvelMachine& m, u32 group, u32 index, std::initializer_list<u32> args = {}) {
    return call(m, group, index, std::span<const u32>(args.begin(), args.size()));
}
template <typename Target, std::convertible_to<u32>... Args>
u32 call(TarvelMachine& m, Target target, u32 index, Args... args) {
    const u32 words[] = {static_cast<u32>(args)..., 0};
    return call(m, target, index, std::span<const u32>(words, sizeof...(Args)));
}

// ---- Guest strings
inline std::vector<u8> bytes_of(std::string_view text) { return std::vector<u8>(text.begin(), text.end()); }
// Copies `bytes` and a NUL into a fresh heap block; returns its address.
u32 put_string(TarvelMachine& m, std::span<const u8> bytes);
inline u32 put_string(TarvelMachine& m, std::string_view text) { return put_string(m, bytes_of(text)); }
// The NUL-terminated bytes at `address` (at most 4096).
inline std::string guest_cstring(TarvelMachine& m, u32 address) { return machine::read_byte_string(m.memory, address, 4096); }

}  // namespace tarvel::test
