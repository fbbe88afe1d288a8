#pragma once
// The guest address space: an ordered list of backed regions, the guest byte
// order for 16- and 32-bit values, and the record of accesses that hit no region.
//
// Lookup rule: an access of n bytes at a uses the first region (in list order)
// that holds all n bytes; an access straddling two regions is unmapped. A write
// whose first holding region is read-only is dropped and recorded, and the search
// stops there.
//
// Fast path: a table of host pointers per 4 KiB guest page. A page gets a pointer
// only when the first region that overlaps the page at all covers the whole page;
// then every access that stays inside the page resolves to that region under the
// rule above, so the table changes speed and nothing else. Accesses that cross a
// page end, pages shared by several regions, unmapped and read-only cases take
// the slow path, which is the plain ordered search.

#include <cstddef>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "common/bytes.hpp"
#include "memory/address_record.hpp"

namespace tarvel::machine {

struct GuestRegion {
    std::vector<u8> bytes;
    u32 base = 0;
    bool read_only = false;

    u32 size() const { return static_cast<u32>(bytes.size()); }
};

class GuestMemory {
public:
    // Pages of the fast path. A page only partly covered by a region goes
    // through the slow path, so pages are as small as the regions' granularity
    // (an application's image region is rounded to 4 KiB): with larger ones a
    // small image, code and data, would sit in one slow page.
    static constexpr unsigned kPageBits = 12;
    static constexpr u32 kPageSize = 1u << kPageBits;
    static constexpr u32 kPageMask = kPageSize - 1;
    static constexpr size_t kPageCount = size_t{1} << (32 - kPageBits);
    // Distinct unmapped addresses kept at most. Guest code can touch any number
    // of bad addresses; past this many new ones are counted, not stored, so that
    // a runaway guest cannot grow host memory (or a save state) without bound.
    static constexpr size_t kMaxUnmappedRecords = 65536;

    explicit GuestMemory(bool big_endian = false);
    ~GuestMemory();
    GuestMemory(const GuestMemory& other);
    GuestMemory& operator=(const GuestMemory& other);
    // A moved-from memory is left valid and empty (no regions).
    GuestMemory(GuestMemory&& other);
    GuestMemory& operator=(GuestMemory&& other);

    // Appends a zero-filled region. Regions are searched in the order added.
    void add_region(u32 base, u32 size, bool read_only = false);
    // Appends a region with the given contents (for example from a save state).
    void add_region(u32 base, std::vector<u8> bytes, bool read_only = false);
    void clear_regions();

    const std::vector<GuestRegion>& regions() const { return regions_; }
    // The bytes of region i; the length is fixed once the region exists.
    std::span<u8> region_bytes(size_t i) {
        ++host_writes_;
        return regions_[i].bytes;
    }

    // Moves this memory into the byte buffers of `other`'s regions: the
    // contents are copied there and the buffers swapped, so host pointers a
    // frontend took into `other` see this memory from now on (`other` gets
    // the old buffers). Changes nothing and returns false when the region
    // sizes differ.
    bool take_buffers_of(GuestMemory& other);

    bool big_endian() const { return big_endian_; }
    void set_big_endian(bool big_endian) { big_endian_ = big_endian; }

    // The recorded addresses in ascending order (built when asked for; recording
    // itself allocates nothing per address).
    const std::set<u32>& unmapped_accesses() const { return unmapped_.ordered(); }
    // How many distinct unmapped addresses were not stored because the set was full.
    u64 unmapped_overflow() const { return unmapped_.overflow(); }
    void set_unmapped_accesses(std::set<u32> addresses);
    void clear_unmapped_accesses();

    // Index of the region that serves an access of `length` bytes at `address`
    // under the first-region rule, or nothing when no region holds it all.
    std::optional<size_t> find_region(u32 address, u32 length) const;
    // True when an access of `length` bytes at `address` is backed (reads) or
    // backed and writable (writes). Nothing is recorded.
    bool is_readable(u32 address, u32 length) const;
    bool is_writable(u32 address, u32 length) const;

    // Host view of guest bytes [address, address + length) when one region holds
    // them all (writable views need a writable region); nullptr otherwise. Nothing
    // is recorded. A view stays valid until the regions change.
    const u8* host_read_view(u32 address, u32 length) const;
    u8* host_write_view(u32 address, u32 length);
    // The host bytes from `address` to the end of the region that serves it
    // (empty when none does). Valid until the regions change. Where regions
    // overlap, a longer access may be served by another region.
    std::span<const u8> host_read_extent(u32 address) const;
    bool regions_overlap() const { return regions_overlap_; }

    // Scalar accesses: 16/32-bit values in guest byte order. Unmapped reads give
    // 0, unmapped or read-only writes are dropped; both record the address.
    u8 read8(u32 address) {
        if (const u8* page = read_pages_[address >> kPageBits]) return page[address & kPageMask];
        return read8_slow(address);
    }
    u16 read16(u32 address) {
        const u8* page = read_pages_[address >> kPageBits];
        if (page && (address & kPageMask) <= kPageSize - 2) return load16(page + (address & kPageMask), big_endian_);
        return read16_slow(address);
    }
    u32 read32(u32 address) {
        const u8* page = read_pages_[address >> kPageBits];
        if (page && (address & kPageMask) <= kPageSize - 4) return load32(page + (address & kPageMask), big_endian_);
        return read32_slow(address);
    }
    void write8(u32 address, u8 value) {
        ++host_writes_;
        if (u8* page = write_pages_[address >> kPageBits]) {
            page[address & kPageMask] = value;
            return;
        }
        write8_slow(address, value);
    }
    void write16(u32 address, u16 value) {
        ++host_writes_;
        u8* page = write_pages_[address >> kPageBits];
        if (page && (address & kPageMask) <= kPageSize - 2) return store16(page + (address & kPageMask), value, big_endian_);
        write16_slow(address, value);
    }
    void write32(u32 address, u32 value) {
        ++host_writes_;
        u8* page = write_pages_[address >> kPageBits];
        if (page && (address & kPageMask) <= kPageSize - 4) return store32(page + (address & kPageMask), value, big_endian_);
        write32_slow(address, value);
    }

    // Host pointer to [address, address + length) when the range lies inside one
    // fast-path page (see above), else nullptr; nothing is recorded. `length` is at
    // most kPageSize. Callers fall back to the scalar accesses on nullptr.
    // fast_write_span (like write_page_table below) is the interpreter's,
    // which watches its own stores into code: writes through it are not
    // counted in host_write_count().
    const u8* fast_read_span(u32 address, u32 length) const {
        const u8* page = read_pages_[address >> kPageBits];
        return page && (address & kPageMask) + length <= kPageSize ? page + (address & kPageMask) : nullptr;
    }
    u8* fast_write_span(u32 address, u32 length) {
        u8* page = write_pages_[address >> kPageBits];
        return page && (address & kPageMask) + length <= kPageSize ? page + (address & kPageMask) : nullptr;
    }

    // The fast-path page table itself (kPageCount entries, nullptr where the slow
    // path applies), for loops that fetch many aligned values. Valid until the
    // regions change.
    const u8* const* read_page_table() const { return read_pages_.get(); }
    // The same for writes. Its entries change while the write watch is on, so
    // they are to be read at each access.
    u8* const* write_page_table() const { return write_pages_.get(); }

    // Counts the ways guest memory may have been written other than by the
    // interpreter's fast path (fast_write_span, write_page_table): every scalar write, every
    // writable view or region span handed out, and note_outside_writes(),
    // which code that lets others write through spans it kept (a frontend's
    // memory map) calls before guest code runs again. The interpreter keeps
    // decoded code while this and the layout stay as they were.
    u64 host_write_count() const { return host_writes_; }
    void note_outside_writes() { ++host_writes_; }

    // Changes, to a value no memory in this process has had, whenever the host
    // bytes behind guest addresses may have moved (the regions or their
    // buffers changed). A host pointer into a region stays valid while this
    // holds the value it had when the pointer was taken.
    u64 layout_generation() const { return layout_generation_; }

    // Checked reads that tell whether the access was backed (and record it when not).
    bool try_read8(u32 address, u8& out);
    bool try_read16(u32 address, u16& out);
    bool try_read32(u32 address, u32& out);
    // Checked writes: false (and recorded) when dropped.
    bool try_write8(u32 address, u8 value);
    bool try_write16(u32 address, u16 value);
    bool try_write32(u32 address, u32 value);

    // Byte strings are never reordered. A write that does not fit in one region
    // is dropped as a whole (its start address recorded); so is a read, which
    // then yields nothing.
    bool write_bytes(u32 address, std::span<const u8> bytes);
    std::optional<std::vector<u8>> read_bytes(u32 address, u32 length);
    // As read_bytes, into a caller's buffer; false (and recorded) when unbacked.
    bool read_bytes_into(u32 address, std::span<u8> out);

    // Narrow string at `address` up to its NUL, at most `max_length` bytes. A byte
    // that cannot be read ends the string (that address is recorded).
    std::string read_cstring(u32 address, u32 max_length);
    // String of 16-bit units (guest byte order) up to a zero unit, at most
    // `max_units` units; an unreadable unit ends it.
    std::u16string read_wstring(u32 address, u32 max_units);

    // Records an unmapped access at `address` (used by callers that probe memory
    // themselves, such as the instruction fetch check).
    void record_unmapped(u32 address);

    // Write watch: from watch_writes() on, the first scalar or fast-span write to
    // each fast-path page goes through the slow path once, which notes the page
    // and opens the fast path again; written_pages() lists the noted page numbers
    // (address >> kPageBits) since the last watch_writes(). Writes through host
    // views, write_bytes and slow-path-only pages are not noted. Costs nothing
    // until used; re-arming costs as much as the pages noted. Lets a caller that
    // runs many short guests (a fuzzer) reset only what a run wrote.
    void watch_writes();
    const std::vector<u32>& written_pages() const { return written_pages_; }

private:
    u8 read8_slow(u32 address);
    u16 read16_slow(u32 address);
    u32 read32_slow(u32 address);
    void write8_slow(u32 address, u8 value);
    void write16_slow(u32 address, u16 value);
    void write32_slow(u32 address, u32 value);
    // Host pointer for a read or write under the lookup rule; records and returns
    // nullptr when the access is unmapped (or a write hits a read-only region).
    const u8* resolve_read(u32 address, u32 length);
    u8* resolve_write(u32 address, u32 length);
    void rebuild_pages();
    // Gives back the held fast write pointer of the page of `address`, if any.
    void note_write(u32 address);
    void map_region_pages(size_t index);

    std::vector<GuestRegion> regions_;
    // Whether two regions share an address; the region find_region found last.
    bool regions_overlap_ = false;
    mutable size_t last_region_ = 0;
    u64 layout_generation_ = 0;
    u64 host_writes_ = 0;
    AddressRecord unmapped_{kMaxUnmappedRecords};
    bool big_endian_ = false;
    // Page tables come zeroed from calloc, which for tables this large takes
    // fresh zero pages from the system instead of clearing memory. A memory
    // that goes away hands its tables, cleared again entry by mapped entry,
    // to a small per-thread pool for the next one: a machine decoded from a
    // state every frame (rewind, run-ahead, a fuzzer) would otherwise map,
    // fault in and unmap a megabyte of tables each time.
    struct FreeTable {
        void operator()(const void* table) const;
    };
    template <typename T>
    using PageTable = std::unique_ptr<T*[], FreeTable>;
    static PageTable<const u8> new_read_table();
    static PageTable<u8> new_write_table();
    // Clears the entries of mapped_pages_ in `table` (the only ones a table
    // ever sets) and keeps it for new_*_table, or frees it when the pool is full.
    template <typename T>
    void recycle(PageTable<T>& table);

    PageTable<const u8> read_pages_;
    PageTable<u8> write_pages_;
    // The pages the tables point into (or that a region claims), so that a
    // rebuild clears only those.
    std::vector<u32> mapped_pages_;
    // While watching: the fast write pointer of each page held back until its
    // first write (nullptr once given back or for pages without one).
    PageTable<u8> watched_pages_;
    std::vector<u32> written_pages_;
};

}  // namespace tarvel::machine
