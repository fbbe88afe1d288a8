// The file service (group 5): guest arguments in, the machine's in-memory
// filesystem (virtual_fs) does the work, the result goes to r0. Every failure
// is a value for the guest (-1 or 0); nothing here stops the machine.
//
// Decisions where the platform leaves room:
// - A path whose first byte cannot be read (a null or stray pointer) is an
//   invalid path, not the root that an empty string would name.
// - A seek origin other than 0, 1 or 2 fails with -1.
// - Indices 12 and 15 answer 0, 13 and 14 answer -1 and 17 the constant 1, as
//   the platform's own service does; their meaning beyond that is unknown, so
//   they have no effect.
// - Index 16, the free space, answers what can still be stored: the game's
//   files are kept between sessions, and a game that trusts a larger answer
//   would write a save that cannot be kept.

#include <cstdio>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "common/utf8.hpp"
#include "memory/guest_strings.hpp"
#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/service_groups.hpp"
#include "machine/trace_filter.hpp"
#include "machine/virtual_fs.hpp"

namespace tarvel::machine::services {
namespace {

constexpr u32 kFailure = 0xFFFFFFFF;  // -1 in r0
constexpr u32 kFileGroup = 5;

u32 from(std::optional<u32> value) { return value.value_or(kFailure); }

// The path text at `address` as the guest wrote it: narrow or wide.
std::optional<std::string> read_path_text(TarvelMachine& m, u32 address) {
    if (!m.memory.is_readable(address, 1)) {
        m.memory.record_unmapped(address);
        return std::nullopt;
    }
    return read_narrow_or_wide_string(m.memory, address, kPathLimit);
}

std::optional<std::string> read_path(TarvelMachine& m, u32 address) {
    const std::optional<std::string> text = read_path_text(m, address);
    return text ? normalize_path(*text) : std::nullopt;
}

std::string read_mode(TarvelMachine& m, u32 address) {
    return utf8::replace_invalid(read_byte_string(m.memory, address, kModeLimit));
}

u32 open_file(TarvelMachine& m) {
    const std::optional<std::string> path = read_path(m, service_arg(m, 1));
    if (!path) return kFailure;
    std::string mode = read_mode(m, service_arg(m, 2));
    if (mode.empty()) mode = mode_from_flags(service_arg(m, 0));
    return from(m.file_system.open(*path, mode));
}

u32 read_file(TarvelMachine& m) {
    const u32 destination = service_arg(m, 0);
    const std::optional<std::span<const u8>> bytes = m.file_system.read(service_arg(m, 2), service_arg(m, 1));
    if (!bytes) return kFailure;
    // A destination outside guest memory is recorded there; the count stands.
    if (!bytes->empty()) m.memory.write_bytes(destination, *bytes);
    return static_cast<u32>(bytes->size());
}

u32 write_file(TarvelMachine& m) {
    const u32 source = service_arg(m, 0);
    const u32 count = service_arg(m, 1);
    const std::optional<std::span<u8>> room = m.file_system.reserve_write(service_arg(m, 2), count);
    if (!room) return kFailure;
    if (count != 0 && !m.memory.read_bytes_into(source, *room)) {
        // Not all in one region: take what is readable byte by byte, 0 elsewhere.
        for (u32 i = 0; i < count; ++i) (*room)[i] = m.memory.read8(source + i);
    }
    return count;
}

u32 make_directory(TarvelMachine& m) {
    const std::optional<std::string> path = read_path(m, service_arg(m, 1));
    if (!path) return kFailure;
    return m.file_system.make_directory(*path) ? 0 : kFailure;
}

u32 rename_file(TarvelMachine& m) {
    const std::optional<std::string> from_path = read_path(m, service_arg(m, 1));
    const std::optional<std::string> to_path = read_path(m, service_arg(m, 2));
    if (!from_path || !to_path) return 0;
    return m.file_system.rename(*from_path, *to_path) ? 1 : 0;
}

template <typename Query>
u32 path_query(TarvelMachine& m, Query query) {
    const std::optional<std::string> path = read_path(m, service_arg(m, 1));
    return path && query(*path) ? 1 : 0;
}

void trace_call(TarvelMachine& m, u32 index) {
    std::string path, extra;
    switch (index) {
        case 0: case 2: case 3: case 9: case 10: case 11: case 12:
            path = read_path_text(m, service_arg(m, 1)).value_or(std::string());
            break;
        default: break;
    }
    if (index == 0) extra = read_mode(m, service_arg(m, 2));
    if (index == 10) extra = read_path_text(m, service_arg(m, 2)).value_or(std::string());
    const std::string line = fmt::format("file service index={} r0={} r1={} r2={} path={} extra={}\n", index,
                                         service_arg(m, 0), service_arg(m, 1), service_arg(m, 2), path, extra);
    std::fputs(line.c_str(), stderr);
}

u32 perform(TarvelMachine& m, u32 index) {
    VirtualFs& fs = m.file_system;
    switch (index) {
        case 0: return open_file(m);
        case 1: return fs.close(service_arg(m, 0)) ? 0 : kFailure;
        case 2: return path_query(m, [&](const std::string& p) { return fs.exists(p); });
        case 3: return path_query(m, [&](const std::string& p) { return fs.is_directory(p); });
        case 4: return read_file(m);
        case 5: return write_file(m);
        case 6: return from(fs.seek(service_arg(m, 0), static_cast<i32>(service_arg(m, 1)), service_arg(m, 2)));
        case 7: return from(fs.tell(service_arg(m, 0)));
        case 8: return from(fs.size(service_arg(m, 0)));
        case 9: return path_query(m, [&](const std::string& p) { return fs.remove(p); });
        case 10: return rename_file(m);
        case 11: return make_directory(m);
        case 13: case 14: return kFailure;
        case 16: return fs.free_bytes();
        case 17: return 1;
        default: return 0;
    }
}

}  // namespace

void file_service(TarvelMachine& m, u32 index) {
    if (service_call_traced(kFileGroup, index)) trace_call(m, index);
    set_result(m, perform(m, index));
}

}  // namespace tarvel::machine::services
