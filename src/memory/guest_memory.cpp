#include "memory/guest_memory.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>

#include "memory/guest_strings.hpp"

namespace tarvel::machine {

namespace {
// True when [address, address + length) lies inside the region, computed in 64 bits
// so that neither end can wrap.
bool holds(const GuestRegion& region, u32 address, u32 length) {
    if (address < region.base) return false;
    return u64{address} - region.base + length <= region.bytes.size();
}
}  // namespace

void GuestMemory::FreeTable::operator()(const void* table) const { std::free(const_cast<void*>(table)); }

namespace {
// Tables of memories gone, all entries null again. A few are enough: the
// memories alive at once are mostly the running machine's and a decoded
// state's or two. The pool is never destroyed (it holds only plain pointers),
// so a memory that outlives every other static can still hand its tables in.
struct TablePool {
    static constexpr int kCapacity = 6;
    std::mutex lock;
    void* tables[kCapacity] = {};
    int count = 0;
};
constinit TablePool table_pool;

void* zeroed_table() {
    {
        std::lock_guard hold(table_pool.lock);
        if (table_pool.count > 0) return table_pool.tables[--table_pool.count];
    }
    void* table = std::calloc(GuestMemory::kPageCount, sizeof(void*));
    if (!table) throw std::bad_alloc();  // allocation failure ends the process
    return table;
}

u64 new_layout_generation() {
    static std::atomic<u64> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}
}  // namespace

template <typename T>
void GuestMemory::recycle(PageTable<T>& table) {
    if (!table) return;
    for (u32 page : mapped_pages_) table[page] = nullptr;
    std::lock_guard hold(table_pool.lock);
    if (table_pool.count == TablePool::kCapacity) {
        table.reset();
        return;
    }
    table_pool.tables[table_pool.count++] = const_cast<void*>(static_cast<const void*>(table.release()));
}

GuestMemory::PageTable<const u8> GuestMemory::new_read_table() {
    return PageTable<const u8>(static_cast<const u8**>(zeroed_table()));
}
GuestMemory::PageTable<u8> GuestMemory::new_write_table() { return PageTable<u8>(static_cast<u8**>(zeroed_table())); }

GuestMemory::GuestMemory(bool big_endian)
    : layout_generation_(new_layout_generation()),
      big_endian_(big_endian),
      read_pages_(new_read_table()),
      write_pages_(new_write_table()) {}

GuestMemory::~GuestMemory() {
    recycle(read_pages_);
    recycle(write_pages_);
    recycle(watched_pages_);
}

GuestMemory::GuestMemory(const GuestMemory& other) : GuestMemory(other.big_endian_) {
    regions_ = other.regions_;
    unmapped_ = other.unmapped_;
    rebuild_pages();
}

GuestMemory& GuestMemory::operator=(const GuestMemory& other) {
    if (this != &other) {
        regions_ = other.regions_;
        unmapped_ = other.unmapped_;
        big_endian_ = other.big_endian_;
        rebuild_pages();
    }
    return *this;
}

GuestMemory::GuestMemory(GuestMemory&& other)
    : regions_(std::move(other.regions_)),
      regions_overlap_(other.regions_overlap_),
      layout_generation_(other.layout_generation_),
      host_writes_(other.host_writes_ + 1),
      unmapped_(std::move(other.unmapped_)),
      big_endian_(other.big_endian_),
      read_pages_(std::move(other.read_pages_)),
      write_pages_(std::move(other.write_pages_)),
      mapped_pages_(std::move(other.mapped_pages_)),
      watched_pages_(std::move(other.watched_pages_)),
      written_pages_(std::move(other.written_pages_)) {
    other.regions_.clear();
    other.unmapped_.clear();
    other.rebuild_pages();
}

GuestMemory& GuestMemory::operator=(GuestMemory&& other) {
    if (this != &other) {
        regions_ = std::move(other.regions_);
        regions_overlap_ = other.regions_overlap_;
        last_region_ = 0;
        layout_generation_ = other.layout_generation_;
        host_writes_ = other.host_writes_ + 1;
        unmapped_ = std::move(other.unmapped_);
        big_endian_ = other.big_endian_;
        read_pages_.swap(other.read_pages_);
        write_pages_.swap(other.write_pages_);
        mapped_pages_.swap(other.mapped_pages_);
        watched_pages_.swap(other.watched_pages_);
        written_pages_.swap(other.written_pages_);
        other.regions_.clear();
        other.unmapped_.clear();
        other.rebuild_pages();
    }
    return *this;
}

void GuestMemory::add_region(u32 base, u32 size, bool read_only) {
    add_region(base, std::vector<u8>(size, 0), read_only);
}

void GuestMemory::add_region(u32 base, std::vector<u8> bytes, bool read_only) {
    regions_.push_back(GuestRegion{std::move(bytes), base, read_only});
    // Growing the vector may have moved every earlier region's header, but not
    // their byte buffers; still, rebuilding keeps the rule in one place.
    rebuild_pages();
}

bool GuestMemory::take_buffers_of(GuestMemory& other) {
    if (other.regions_.size() != regions_.size()) return false;
    for (size_t i = 0; i < regions_.size(); ++i) {
        if (other.regions_[i].bytes.size() != regions_[i].bytes.size()) return false;
    }
    for (size_t i = 0; i < regions_.size(); ++i) {
        std::copy(regions_[i].bytes.begin(), regions_[i].bytes.end(), other.regions_[i].bytes.begin());
        regions_[i].bytes.swap(other.regions_[i].bytes);
    }
    rebuild_pages();
    other.rebuild_pages();
    return true;
}

void GuestMemory::clear_regions() {
    regions_.clear();
    rebuild_pages();
}

void GuestMemory::rebuild_pages() {
    layout_generation_ = new_layout_generation();
    // New regions end any write watch.
    recycle(watched_pages_);
    written_pages_.clear();
    if (!read_pages_) {
        read_pages_ = new_read_table();
        write_pages_ = new_write_table();
        mapped_pages_.clear();
    }
    for (u32 page : mapped_pages_) {
        read_pages_[page] = nullptr;
        write_pages_[page] = nullptr;
    }
    mapped_pages_.clear();
    // While building, a page that an earlier region overlaps only in part holds
    // this marker, so that later regions leave it alone; it is cleared at the end.
    static const u8 partly_claimed = 0;
    for (GuestRegion& region : regions_) {
        if (region.bytes.empty()) continue;
        const u64 start = region.base;
        const u64 end = std::min<u64>(start + region.bytes.size(), u64{1} << 32);
        for (u64 page = start >> kPageBits; (page << kPageBits) < end; ++page) {
            if (read_pages_[page]) continue;  // an earlier region overlaps this page: it decides
            mapped_pages_.push_back(static_cast<u32>(page));
            const u64 page_start = page << kPageBits;
            if (page_start < start || page_start + kPageSize > end) {  // partly covered
                read_pages_[page] = &partly_claimed;
                continue;
            }
            u8* host = region.bytes.data() + (page_start - start);
            read_pages_[page] = host;
            if (!region.read_only) write_pages_[page] = host;
        }
    }
    for (u32 page : mapped_pages_)
        if (read_pages_[page] == &partly_claimed) read_pages_[page] = nullptr;

    regions_overlap_ = false;
    for (size_t i = 0; i < regions_.size(); ++i) {
        for (size_t j = i + 1; j < regions_.size(); ++j) {
            const GuestRegion& a = regions_[i];
            const GuestRegion& b = regions_[j];
            if (!a.bytes.empty() && !b.bytes.empty() && u64{a.base} < u64{b.base} + b.bytes.size() &&
                u64{b.base} < u64{a.base} + a.bytes.size())
                regions_overlap_ = true;
        }
    }
    last_region_ = 0;
}

void GuestMemory::set_unmapped_accesses(std::set<u32> addresses) { unmapped_.assign(addresses); }

void GuestMemory::clear_unmapped_accesses() { unmapped_.clear(); }

void GuestMemory::record_unmapped(u32 address) { unmapped_.insert(address); }

std::optional<size_t> GuestMemory::find_region(u32 address, u32 length) const {
    // Slow-path accesses come in runs to the same region (the partly covered
    // page at the end of one, say): that region is tried first. Where no two
    // regions overlap, the one that holds an access is also the first.
    if (!regions_overlap_ && last_region_ < regions_.size() && holds(regions_[last_region_], address, length))
        return last_region_;
    for (size_t i = 0; i < regions_.size(); ++i) {
        if (holds(regions_[i], address, length)) {
            last_region_ = i;
            return i;
        }
    }
    return std::nullopt;
}

std::span<const u8> GuestMemory::host_read_extent(u32 address) const {
    const auto index = find_region(address, 1);
    if (!index) return {};
    const GuestRegion& region = regions_[*index];
    return std::span<const u8>(region.bytes).subspan(address - region.base);
}

bool GuestMemory::is_readable(u32 address, u32 length) const {
    return host_read_view(address, length) != nullptr;
}

bool GuestMemory::is_writable(u32 address, u32 length) const {
    auto index = find_region(address, length);
    return index && !regions_[*index].read_only;
}

const u8* GuestMemory::host_read_view(u32 address, u32 length) const {
    auto index = find_region(address, length);
    if (!index) return nullptr;
    const GuestRegion& region = regions_[*index];
    return region.bytes.data() + (address - region.base);
}

u8* GuestMemory::host_write_view(u32 address, u32 length) {
    ++host_writes_;
    auto index = find_region(address, length);
    if (!index || regions_[*index].read_only) return nullptr;
    GuestRegion& region = regions_[*index];
    return region.bytes.data() + (address - region.base);
}

const u8* GuestMemory::resolve_read(u32 address, u32 length) {
    const u8* host = host_read_view(address, length);
    if (!host) record_unmapped(address);
    return host;
}

u8* GuestMemory::resolve_write(u32 address, u32 length) {
    u8* host = host_write_view(address, length);
    if (!host) record_unmapped(address);
    return host;
}

u8 GuestMemory::read8_slow(u32 address) {
    const u8* p = resolve_read(address, 1);
    return p ? *p : 0;
}
u16 GuestMemory::read16_slow(u32 address) {
    const u8* p = resolve_read(address, 2);
    return p ? load16(p, big_endian_) : 0;
}
u32 GuestMemory::read32_slow(u32 address) {
    const u8* p = resolve_read(address, 4);
    return p ? load32(p, big_endian_) : 0;
}
void GuestMemory::watch_writes() {
    if (!watched_pages_) {
        watched_pages_ = new_write_table();
        for (u32 page : mapped_pages_) {
            if (!write_pages_[page]) continue;
            watched_pages_[page] = write_pages_[page];
            write_pages_[page] = nullptr;
        }
    } else {
        for (u32 page : written_pages_) {
            watched_pages_[page] = write_pages_[page];
            write_pages_[page] = nullptr;
        }
    }
    written_pages_.clear();
}

void GuestMemory::note_write(u32 address) {
    if (!watched_pages_) [[likely]] return;
    const u32 page = address >> kPageBits;
    if (!watched_pages_[page]) return;
    write_pages_[page] = watched_pages_[page];
    watched_pages_[page] = nullptr;
    written_pages_.push_back(page);
}

void GuestMemory::write8_slow(u32 address, u8 value) {
    note_write(address);
    if (u8* p = resolve_write(address, 1)) *p = value;
}
void GuestMemory::write16_slow(u32 address, u16 value) {
    note_write(address);
    if (u8* p = resolve_write(address, 2)) store16(p, value, big_endian_);
}
void GuestMemory::write32_slow(u32 address, u32 value) {
    note_write(address);
    if (u8* p = resolve_write(address, 4)) store32(p, value, big_endian_);
}

bool GuestMemory::try_read8(u32 address, u8& out) {
    const u8* p = resolve_read(address, 1);
    out = p ? *p : 0;
    return p != nullptr;
}
bool GuestMemory::try_read16(u32 address, u16& out) {
    const u8* p = resolve_read(address, 2);
    out = p ? load16(p, big_endian_) : 0;
    return p != nullptr;
}
bool GuestMemory::try_read32(u32 address, u32& out) {
    const u8* p = resolve_read(address, 4);
    out = p ? load32(p, big_endian_) : 0;
    return p != nullptr;
}
bool GuestMemory::try_write8(u32 address, u8 value) {
    u8* p = resolve_write(address, 1);
    if (p) *p = value;
    return p != nullptr;
}
bool GuestMemory::try_write16(u32 address, u16 value) {
    u8* p = resolve_write(address, 2);
    if (p) store16(p, value, big_endian_);
    return p != nullptr;
}
bool GuestMemory::try_write32(u32 address, u32 value) {
    u8* p = resolve_write(address, 4);
    if (p) store32(p, value, big_endian_);
    return p != nullptr;
}

bool GuestMemory::write_bytes(u32 address, std::span<const u8> bytes) {
    if (bytes.size() > 0xFFFFFFFFu) {
        record_unmapped(address);
        return false;
    }
    u8* p = resolve_write(address, static_cast<u32>(bytes.size()));
    if (!p) return false;
    if (!bytes.empty()) std::copy(bytes.begin(), bytes.end(), p);
    return true;
}

std::optional<std::vector<u8>> GuestMemory::read_bytes(u32 address, u32 length) {
    const u8* p = resolve_read(address, length);
    if (!p) return std::nullopt;
    return std::vector<u8>(p, p + length);
}

bool GuestMemory::read_bytes_into(u32 address, std::span<u8> out) {
    if (out.size() > 0xFFFFFFFFu) {
        record_unmapped(address);
        return false;
    }
    const u8* p = resolve_read(address, static_cast<u32>(out.size()));
    if (!p) return false;
    std::copy(p, p + out.size(), out.begin());
    return true;
}

// The string readers of guest_strings.hpp, so that every guest string ends by
// the same rule.
std::string GuestMemory::read_cstring(u32 address, u32 max_length) {
    return read_byte_string(*this, address, max_length);
}

std::u16string GuestMemory::read_wstring(u32 address, u32 max_units) {
    return read_wide_units(*this, address, max_units);
}

}  // namespace tarvel::machine
