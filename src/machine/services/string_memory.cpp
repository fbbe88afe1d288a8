#include "machine/services/string_memory.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "memory/guest_memory.hpp"

namespace tarvel::machine::services {
namespace {

constexpr u64 kAddressSpaceEnd = u64{1} << 32;

// Reads [address, address + out.size()) into `out`; unbacked bytes become 0.
// Nothing is reported here: callers report the runs they decide were read.
void gather(GuestMemory& memory, u64 address, std::span<u8> out) {
    u64 done = 0;
    while (done < out.size()) {
        const GuestStretch s = stretch_at(memory, address + done, out.size() - done, GuestAccess::Read);
        if (s.host) std::memcpy(out.data() + done, s.host, s.length);
        else std::memset(out.data() + done, 0, s.length);
        done += s.length;
    }
}

// A writable piece of a destination range: its offset from the range start.
struct WritablePiece {
    u64 offset;
    GuestStretch stretch;
};

// The general copy: unbacked or read-only parts, ranges over several regions.
// Only the bytes that land somewhere writable are staged, so a huge count
// costs what the regions hold, not what the guest asked for.
void copy_through_staging(GuestMemory& memory, u64 destination, u64 source, u64 count) {
    report_unbacked_runs(memory, source, count, GuestAccess::Read);
    report_unbacked_runs(memory, destination, count, GuestAccess::Write);

    std::vector<WritablePiece> pieces;
    u64 staged = 0;
    for (u64 offset = 0; offset < count;) {
        const GuestStretch s = stretch_at(memory, destination + offset, count - offset, GuestAccess::Write);
        if (s.host) {
            pieces.push_back({offset, s});
            staged += s.length;
        }
        offset += s.length;
    }
    if (pieces.empty()) return;

    // Everything is read before anything is written: that is what makes an
    // overlapping copy a move.
    std::vector<u8> bytes(staged);
    u64 at = 0;
    for (const WritablePiece& p : pieces) {
        gather(memory, source + p.offset, std::span(bytes).subspan(at, p.stretch.length));
        at += p.stretch.length;
    }
    at = 0;
    for (const WritablePiece& p : pieces) {
        std::memcpy(p.stretch.host, bytes.data() + at, p.stretch.length);
        at += p.stretch.length;
    }
}

// Records an unbacked access, unless it lies past the top of the address
// space: there is no such address, and ranges end there rather than wrap.
void record_below_top(GuestMemory& memory, u64 address) {
    if (address < kAddressSpaceEnd) memory.record_unmapped(static_cast<u32>(address));
}

u8 fold_byte(u8 c, ByteFold fold) {
    if (fold == ByteFold::AsciiToLower && c >= 'A' && c <= 'Z') return static_cast<u8>(c - 'A' + 'a');
    return c;
}

}  // namespace

GuestStretch stretch_at(GuestMemory& memory, u64 address, u64 max_length, GuestAccess access) {
    if (address >= kAddressSpaceEnd) return {nullptr, max_length};
    const auto& regions = memory.regions();
    // Regions are searched in list order; a byte belongs to the first that holds it.
    for (size_t i = 0; i < regions.size(); ++i) {
        const u64 base = regions[i].base;
        const u64 end = base + regions[i].size();
        if (address < base || address >= end) continue;
        u64 length = std::min(end - address, max_length);
        // An earlier region that starts inside this stretch takes over there.
        for (size_t j = 0; j < i; ++j) {
            if (regions[j].base > address) length = std::min<u64>(length, regions[j].base - address);
        }
        if (access == GuestAccess::Write && regions[i].read_only) return {nullptr, length};
        return {memory.region_bytes(i).data() + (address - base), length};
    }
    u64 next = kAddressSpaceEnd;
    for (const GuestRegion& r : regions) {
        if (r.base > address && r.size() > 0) next = std::min<u64>(next, r.base);
    }
    return {nullptr, std::min(next - address, max_length)};
}

void report_unbacked_runs(GuestMemory& memory, u64 address, u64 length, GuestAccess access) {
    bool in_run = false;  // neighbouring unbacked stretches form one run
    for (u64 offset = 0; offset < length;) {
        const GuestStretch s = stretch_at(memory, address + offset, length - offset, access);
        if (!s.host && !in_run) record_below_top(memory, address + offset);
        in_run = s.host == nullptr;
        offset += s.length;
    }
}

void copy_guest_bytes(GuestMemory& memory, u64 destination, u64 source, u64 count) {
    if (count == 0) return;
    if (source + count <= kAddressSpaceEnd && destination + count <= kAddressSpaceEnd) {
        const u32 length = static_cast<u32>(count);
        const u8* from = memory.host_read_view(static_cast<u32>(source), length);
        u8* to = from ? memory.host_write_view(static_cast<u32>(destination), length) : nullptr;
        if (to) {
            std::memmove(to, from, length);
            return;
        }
    }
    copy_through_staging(memory, destination, source, count);
}

void fill_guest_bytes(GuestMemory& memory, u64 destination, u8 value, u64 count) {
    bool in_run = false;
    for (u64 offset = 0; offset < count;) {
        const GuestStretch s = stretch_at(memory, destination + offset, count - offset, GuestAccess::Write);
        if (s.host) std::memset(s.host, value, s.length);
        else if (!in_run) record_below_top(memory, destination + offset);
        in_run = s.host == nullptr;
        offset += s.length;
    }
}

u32 guest_string_length(GuestMemory& memory, u32 address, u32 limit) {
    for (u64 offset = 0; offset < limit;) {
        const GuestStretch s = stretch_at(memory, u64{address} + offset, limit - offset, GuestAccess::Read);
        if (!s.host) {
            record_below_top(memory, address + offset);
            return static_cast<u32>(offset);
        }
        if (const void* nul = std::memchr(s.host, 0, s.length))
            return static_cast<u32>(offset + (static_cast<const u8*>(nul) - s.host));
        offset += s.length;
    }
    return limit;
}

void write_guest_bytes(GuestMemory& memory, u32 destination, std::span<const u8> bytes) {
    if (bytes.empty()) return;
    if (u8* to = memory.host_write_view(destination, static_cast<u32>(bytes.size()))) {
        std::memcpy(to, bytes.data(), bytes.size());
        return;
    }
    bool in_run = false;
    for (u64 offset = 0; offset < bytes.size();) {
        const GuestStretch s =
            stretch_at(memory, destination + offset, bytes.size() - offset, GuestAccess::Write);
        if (s.host) std::memcpy(s.host, bytes.data() + offset, s.length);
        else if (!in_run) record_below_top(memory, destination + offset);
        in_run = s.host == nullptr;
        offset += s.length;
    }
}

i32 compare_guest_bytes(GuestMemory& memory, u32 a, u32 b, u64 limit, StopAtNul stop, ByteFold fold) {
    static constexpr u8 kZeros[1] = {0};
    bool a_in_run = false, b_in_run = false;
    for (u64 offset = 0; offset < limit;) {
        const GuestStretch sa = stretch_at(memory, u64{a} + offset, limit - offset, GuestAccess::Read);
        const GuestStretch sb = stretch_at(memory, u64{b} + offset, limit - offset, GuestAccess::Read);
        const u64 length = std::min(sa.length, sb.length);
        // Unbacked bytes read as 0; they are reported where a run of them is entered.
        if (!sa.host && !a_in_run) record_below_top(memory, u64{a} + offset);
        if (!sb.host && !b_in_run) record_below_top(memory, u64{b} + offset);
        a_in_run = sa.host == nullptr;
        b_in_run = sb.host == nullptr;
        if (!sa.host && !sb.host) {
            if (stop == StopAtNul::Yes) return 0;  // both read a NUL
            offset += length;
            continue;
        }
        // A pointer that does not advance stands for a run of zero bytes.
        const u8* pa = sa.host ? sa.host : kZeros;
        const u8* pb = sb.host ? sb.host : kZeros;
        const size_t step_a = sa.host ? 1 : 0;
        const size_t step_b = sb.host ? 1 : 0;
        if (sa.host && sb.host && stop == StopAtNul::No && fold == ByteFold::None) {
            const auto [da, db] = std::mismatch(pa, pa + length, pb);
            if (da != pa + length) return static_cast<i32>(*da) - static_cast<i32>(*db);
            offset += length;
            continue;
        }
        for (u64 i = 0; i < length; ++i, pa += step_a, pb += step_b) {
            const u8 x = fold_byte(*pa, fold);
            const u8 y = fold_byte(*pb, fold);
            if (x != y) return static_cast<i32>(x) - static_cast<i32>(y);
            if (stop == StopAtNul::Yes && x == 0) return 0;
        }
        offset += length;
    }
    return 0;
}

}  // namespace tarvel::machine::services
