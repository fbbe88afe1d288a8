// The data service: resource copies in guest memory and the resource directory.
//
// How the directory is used, including the parts applications leave to us:
//
// - The load operation (index 4) writes the number of listed resources,
//   n = min(count, 0xFFFF), into the directory's 16-bit count at offset 8 as
//   well as the three arrays. The count is what lookups by number check
//   against, and it is how the drawing service's resource tables tell a filled
//   table from an empty one.
// - The 16-bit array at offset 20 holds each listed resource's identifier,
//   which is its number in the package (0, 1, 2, ...).
// - Named packages live in sub-directories: records with the directory layout,
//   listed in the array at offset 28 (the constructor allocates it with room
//   for its `entries` argument), counted by the 16-bit word at offset 10. A
//   sub-directory names its package through the string address at offset 4;
//   one without a name takes the named package at its own position in the
//   list. Names match ignoring ASCII case. The load operation fills every
//   listed sub-directory that is still empty (count 0) and reports
//   "CBE resource package {} was not found" for a name with no package.
// - A named package whose resources also appear, in order, in the main table
//   (the usual case: the main table is built from the same packages) shares
//   the main table's copies instead of taking heap space a second time.
// - Index 0 is the constructor, as is group 11 index 10.
//   Index 1: r0 = directory; the number of sub-directories.
//   Index 2: r0 = directory, r1 = package name; opens the named package: finds
//   or adds its sub-directory (growing the array when it is full or absent),
//   fills it, and returns its address; 0 and the not-found report when no
//   package has that name.
//   Index 3: r0 = directory, r1 = package name; the existing sub-directory for
//   that name, or 0. Nothing is added.
//   Index 5: r0 = directory, r1 = number; the address of sub-directory number
//   r1, or 0 past the count.
// - Lookups of indices 6 to 9 answer from the directory they are given alone;
//   the fallback to the machine's copies belongs to the machine-wide lookups.
// - A directory address that is not writable gets no arrays (the miss is
//   recorded), so that a stray pointer cannot drain the heap call after call.

#include "machine/services/data.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "common/log.hpp"
#include "memory/guest_strings.hpp"
#include "machine/services/dispatch.hpp"

namespace tarvel::machine::services {
namespace {

constexpr const char* kDataTarget = "tarvel_core::machine::services::data";
constexpr u32 kMaxListed = 0xFFFF;

// Guest addresses of one table's copies, in table order.
struct TableCopies {
    std::vector<u32> names;
    std::vector<u32> data;
};

// Copies `bytes` into a fresh heap block of max(size, 1) bytes; 0 when the heap is exhausted.
u32 copy_to_heap(TarvelMachine& m, std::span<const u8> bytes) {
    const u32 size = static_cast<u32>(std::max<size_t>(bytes.size(), 1));
    const u32 block = m.heap.allocate(size);
    if (block == 0) return 0;
    if (bytes.empty()) {
        m.memory.write8(block, 0);
    } else {
        m.memory.write_bytes(block, bytes);
    }
    return block;
}

u32 copy_name_to_heap(TarvelMachine& m, std::string_view name) {
    std::vector<u8> bytes = encode_gbk(name);
    bytes.push_back(0);
    return copy_to_heap(m, bytes);
}

TableCopies copy_table(TarvelMachine& m, const cbe::ResourceTable& table) {
    TableCopies copies;
    copies.names.reserve(table.size());
    copies.data.reserve(table.size());
    for (const cbe::Resource& resource : table) {
        copies.data.push_back(copy_to_heap(m, resource.data));
        copies.names.push_back(copy_name_to_heap(m, resource.name));
    }
    return copies;
}

// Writes `values` as consecutive guest words (or halfwords) in one go.
void write_array32(TarvelMachine& m, u32 address, std::span<const u32> values) {
    std::vector<u8> bytes(values.size() * 4);
    for (size_t i = 0; i < values.size(); ++i) store32(bytes.data() + 4 * i, values[i], m.big_endian());
    m.memory.write_bytes(address, bytes);
}

void write_identifiers(TarvelMachine& m, u32 address, u32 count) {
    std::vector<u8> bytes(size_t{count} * 2);
    for (u32 i = 0; i < count; ++i) store16(bytes.data() + 2 * i, static_cast<u16>(i), m.big_endian());
    m.memory.write_bytes(address, bytes);
}

// Points the directory at `copies`: count, name, data and identifier arrays.
void publish(TarvelMachine& m, u32 record, const TableCopies& copies) {
    if (!m.memory.is_writable(record, directory::kWrittenBytes)) {
        m.memory.record_unmapped(record);
        return;
    }
    const u32 n = static_cast<u32>(std::min<size_t>(copies.data.size(), kMaxListed));
    const u32 names = m.heap.allocate(n * 4);
    const u32 data = m.heap.allocate(n * 4);
    const u32 ids = m.heap.allocate(n * 2);
    if (names != 0) write_array32(m, names, std::span(copies.names).first(n));
    if (data != 0) write_array32(m, data, std::span(copies.data).first(n));
    if (ids != 0) write_identifiers(m, ids, n);
    m.memory.write16(record + directory::kCount, static_cast<u16>(n));
    m.memory.write32(record + directory::kNames, names);
    m.memory.write32(record + directory::kData, data);
    m.memory.write32(record + directory::kIds, ids);
    m.memory.write32(record + directory::kClearedOnLoad, 0);
    m.memory.write32(record + directory::kClearedOnLoad2, 0);
}

// Where `package` appears as a contiguous run of the main table, if it does.
std::optional<size_t> find_in_main_table(const cbe::ResourceTable& main, const cbe::ResourceTable& package) {
    if (package.empty() || package.size() > main.size()) return std::nullopt;
    for (size_t start = 0; start + package.size() <= main.size(); ++start) {
        if (std::equal(package.begin(), package.end(), main.begin() + static_cast<std::ptrdiff_t>(start)))
            return start;
    }
    return std::nullopt;
}

TableCopies copies_for_named_package(TarvelMachine& m, const cbe::ResourceTable& package) {
    const LoadedResources& loaded = m.loaded_resources;
    if (loaded.data_addresses.size() == m.resources.main_table.size()) {
        if (auto start = find_in_main_table(m.resources.main_table, package)) {
            const auto first = static_cast<std::ptrdiff_t>(*start);
            const auto last = first + static_cast<std::ptrdiff_t>(package.size());
            return TableCopies{{loaded.name_addresses.begin() + first, loaded.name_addresses.begin() + last},
                               {loaded.data_addresses.begin() + first, loaded.data_addresses.begin() + last}};
        }
    }
    return copy_table(m, package);
}

const cbe::NamedPackage* find_named_package(const TarvelMachine& m, std::string_view name) {
    for (const cbe::NamedPackage& package : m.resources.named_packages) {
        if (equal_ignoring_ascii_case(package.name, name)) return &package;
    }
    return nullptr;
}

std::string subdirectory_name(TarvelMachine& m, u32 subdirectory) {
    const u32 name = m.memory.read32(subdirectory + directory::kPackageName);
    return name == 0 ? std::string() : read_narrow_string(m.memory, name, kResourceNameLimit);
}

// Fills a sub-directory that is still empty; false when its package does not exist.
bool fill_subdirectory(TarvelMachine& m, u32 subdirectory, u32 position) {
    const u32 name_address = m.memory.read32(subdirectory + directory::kPackageName);
    const cbe::NamedPackage* package = nullptr;
    std::string name;
    if (name_address != 0) {
        name = read_narrow_string(m.memory, name_address, kResourceNameLimit);
        package = find_named_package(m, name);
    } else if (position < m.resources.named_packages.size()) {
        package = &m.resources.named_packages[position];
    } else {
        name = std::to_string(position);
    }
    if (package == nullptr) {
        TARVEL_LOG(Warn, kDataTarget, "CBE resource package {} was not found", name);
        return false;
    }
    if (m.memory.read16(subdirectory + directory::kCount) == 0)
        publish(m, subdirectory, copies_for_named_package(m, package->resources));
    return true;
}

void load_named_packages(TarvelMachine& m, u32 record) {
    const u32 count = m.memory.read16(record + directory::kSubdirectoryCount);
    if (count == 0) return;
    const u32 array = m.memory.read32(record + directory::kSubdirectories);
    u32 loaded = 0;
    for (u32 i = 0; i < count; ++i) {
        const u32 subdirectory = m.memory.read32(array + 4 * i);
        if (subdirectory != 0 && fill_subdirectory(m, subdirectory, i)) ++loaded;
    }
    TARVEL_LOG(Debug, kDataTarget, "loaded {} named CBE resource packages into guest memory", loaded);
}

std::optional<u32> find_subdirectory(TarvelMachine& m, u32 record, std::string_view name) {
    const u32 count = m.memory.read16(record + directory::kSubdirectoryCount);
    const u32 array = m.memory.read32(record + directory::kSubdirectories);
    for (u32 i = 0; i < count; ++i) {
        const u32 subdirectory = m.memory.read32(array + 4 * i);
        if (subdirectory != 0 && equal_ignoring_ascii_case(subdirectory_name(m, subdirectory), name))
            return subdirectory;
    }
    return std::nullopt;
}

// Appends `subdirectory` to the directory's array, moving the array to a
// larger heap block when it is absent or full.
void append_subdirectory(TarvelMachine& m, u32 record, u32 subdirectory) {
    const u32 count = m.memory.read16(record + directory::kSubdirectoryCount);
    if (count >= kMaxListed) return;
    u32 array = m.memory.read32(record + directory::kSubdirectories);
    const u32 capacity = array == 0 ? 0 : m.heap.block_size(array) / 4;
    if (count >= capacity) {
        const u32 grown = std::max<u32>(4, count * 2);
        const u32 moved = m.heap.allocate(grown * 4);
        if (moved == 0) return;
        for (u32 i = 0; i < count; ++i) m.memory.write32(moved + 4 * i, m.memory.read32(array + 4 * i));
        if (capacity != 0) m.heap.free(array);
        array = moved;
        m.memory.write32(record + directory::kSubdirectories, array);
    }
    m.memory.write32(array + 4 * count, subdirectory);
    m.memory.write16(record + directory::kSubdirectoryCount, static_cast<u16>(count + 1));
}

// Index 2: the sub-directory of the named package, added and filled on first use.
u32 open_named_package(TarvelMachine& m, u32 record, std::string_view name) {
    const cbe::NamedPackage* package = find_named_package(m, name);
    if (package == nullptr) {
        TARVEL_LOG(Warn, kDataTarget, "CBE resource package {} was not found", name);
        return 0;
    }
    std::optional<u32> subdirectory = find_subdirectory(m, record, name);
    if (!subdirectory) {
        const u32 fresh = m.heap.allocate(kResourceDirectorySize);
        if (fresh == 0) return 0;
        construct_resource_directory(m, fresh, 0);
        m.memory.write32(fresh + directory::kPackageName, copy_name_to_heap(m, package->name));
        append_subdirectory(m, record, fresh);
        subdirectory = fresh;
    }
    if (m.memory.read16(*subdirectory + directory::kCount) == 0) {
        ensure_main_package_copied(m);
        publish(m, *subdirectory, copies_for_named_package(m, package->resources));
    }
    return *subdirectory;
}

u32 subdirectory_by_number(TarvelMachine& m, u32 record, u32 number) {
    if (number >= m.memory.read16(record + directory::kSubdirectoryCount)) return 0;
    const u32 array = m.memory.read32(record + directory::kSubdirectories);
    return array == 0 ? 0 : m.memory.read32(array + 4 * number);
}

}  // namespace

u32 construct_resource_directory(TarvelMachine& m, u32 record, u32 entries) {
    for (u32 offset = 0; offset < directory::kWrittenBytes; offset += 4) m.memory.write32(record + offset, 0);
    m.memory.write8(record + directory::kConstructed, 1);
    const u64 array_bytes = std::max<u64>(4, u64{entries} * 4);
    const u32 array = m.heap.allocate(static_cast<u32>(std::min<u64>(array_bytes, 0xFFFFFFFFu)));
    m.memory.write32(record + directory::kSubdirectories, array);
    for (u32 i = 0; i <= 10; ++i) m.memory.write32(record + directory::kOperations + 4 * i, service_stub(21, i));
    m.memory.write32(record + directory::kExtraOperation, service_stub(21, 11));
    m.memory.write32(record + directory::kNoEntry, 0xFFFFFFFF);
    return kDirectoryConstructorResult;
}

bool ensure_main_package_copied(TarvelMachine& m) {
    const cbe::ResourceTable& table = m.resources.main_table;
    if (table.empty()) return false;
    LoadedResources& loaded = m.loaded_resources;
    if (loaded.data_addresses.size() != table.size()) {
        TableCopies copies = copy_table(m, table);
        loaded.data_addresses = std::move(copies.data);
        loaded.name_addresses = std::move(copies.names);
    }
    return true;
}

void load_main_package(TarvelMachine& m, u32 record) {
    if (!ensure_main_package_copied(m)) {
        TARVEL_LOG(Warn, kDataTarget, "CBE main resource package is empty");
        return;
    }
    const LoadedResources& loaded = m.loaded_resources;
    publish(m, record, TableCopies{loaded.name_addresses, loaded.data_addresses});
    TARVEL_LOG(Debug, kDataTarget, "loaded {} CBE resources into guest memory",
               std::min<size_t>(loaded.data_addresses.size(), kMaxListed));
    load_named_packages(m, record);
}

u32 directory_data_address(TarvelMachine& m, u32 record, u32 number) {
    if (number >= m.memory.read16(record + directory::kCount)) return 0;
    const u32 data = m.memory.read32(record + directory::kData);
    return data == 0 ? 0 : m.memory.read32(data + 4 * number);
}

u32 directory_name_address(TarvelMachine& m, u32 record, u32 number) {
    if (number >= m.memory.read16(record + directory::kCount)) return 0;
    const u32 names = m.memory.read32(record + directory::kNames);
    return names == 0 ? 0 : m.memory.read32(names + 4 * number);
}

std::optional<u32> directory_number_by_name(TarvelMachine& m, u32 record, std::string_view name) {
    const u32 count = m.memory.read16(record + directory::kCount);
    const u32 names = m.memory.read32(record + directory::kNames);
    if (names == 0) return std::nullopt;
    for (u32 i = 0; i < count; ++i) {
        const u32 address = m.memory.read32(names + 4 * i);
        if (address == 0) continue;
        if (equal_ignoring_ascii_case(read_narrow_string(m.memory, address, kResourceNameLimit), name)) return i;
    }
    return std::nullopt;
}

u32 resource_data_address(TarvelMachine& m, u32 number) {
    const u32 record = m.memory.read32(kResourceDirectoryWord);
    if (record != 0) {
        if (const u32 address = directory_data_address(m, record, number)) return address;
    }
    const std::vector<u32>& loaded = m.loaded_resources.data_addresses;
    return number < loaded.size() ? loaded[number] : 0;
}

u32 resource_name_address(TarvelMachine& m, u32 number) {
    const u32 record = m.memory.read32(kResourceDirectoryWord);
    if (record != 0) {
        if (const u32 address = directory_name_address(m, record, number)) return address;
    }
    const std::vector<u32>& loaded = m.loaded_resources.name_addresses;
    return number < loaded.size() ? loaded[number] : 0;
}

std::optional<u32> resource_number_by_name(TarvelMachine& m, std::string_view name) {
    const u32 record = m.memory.read32(kResourceDirectoryWord);
    if (record != 0) {
        if (auto number = directory_number_by_name(m, record, name)) return number;
    }
    const cbe::ResourceTable& table = m.resources.main_table;
    for (size_t i = 0; i < table.size(); ++i) {
        if (equal_ignoring_ascii_case(table[i].name, name)) return static_cast<u32>(i);
    }
    return std::nullopt;
}

void data_service(TarvelMachine& m, u32 index) {
    const u32 record = service_arg(m, 0);
    const u32 argument = service_arg(m, 1);
    auto name_argument = [&] { return read_narrow_string(m.memory, argument, kResourceNameLimit); };
    switch (index) {
        case 0: return set_result(m, construct_resource_directory(m, record, argument));
        case 1: return set_result(m, m.memory.read16(record + directory::kSubdirectoryCount));
        case 2: return set_result(m, open_named_package(m, record, name_argument()));
        case 3: return set_result(m, find_subdirectory(m, record, name_argument()).value_or(0));
        case 4:
            load_main_package(m, record);
            return set_result(m, 0);
        case 5: return set_result(m, subdirectory_by_number(m, record, argument));
        case 6: {
            const std::optional<u32> number = directory_number_by_name(m, record, name_argument());
            return set_result(m, number ? directory_data_address(m, record, *number) : 0);
        }
        case 7: return set_result(m, directory_data_address(m, record, argument));
        case 8: return set_result(m, directory_name_address(m, record, argument));
        case 9: return set_result(m, directory_number_by_name(m, record, name_argument()).value_or(0xFFFFFFFF));
        default: return set_result(m, 0);
    }
}

}  // namespace tarvel::machine::services
