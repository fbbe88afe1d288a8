// The data service: the directory constructor, the load operation with its
// copies in the guest heap, lookups in a directory, named packages in
// sub-directories, and the machine-wide lookups the other services use.

#include "machine/services/data.hpp"

#include <gtest/gtest.h>

#include "machine/cpu_bridge.hpp"
#include "memory/guest_strings.hpp"
#include "support/log_capture.hpp"
#include "support/test_machine.hpp"

namespace tarvel::machine::services {
namespace {

using cbe_writer::named_package;
using cbe_writer::resource;
using test::call;
using test::guest_cstring;
using test::make_machine;
using test::put_string;

cbe_writer::PackageSpec package_of(std::vector<cbe_writer::ResourceSpec> resources) {
    cbe_writer::PackageSpec p;
    p.resources = std::move(resources);
    return p;
}

// Three resources, one with a GBK name given with a UTF-8 mark, one empty.
TarvelMachine three_resource_machine(bool big_endian = false) {
    std::vector<u8> marked_name = {0xEF, 0xBB, 0xBF, 0xE5, 0x9B, 0xBE, '.', 'p', 'n', 'g'};  // U+56FE ".png"
    return make_machine({.big_endian = big_endian,
                         .resources = {resource("Title.PNG", {1, 2, 3, 4, 5}), resource(marked_name, {9, 8}),
                                       resource("empty.bin", {})}});
}

u32 new_directory(TarvelMachine& m, u32 entries = 4) {
    const u32 record = m.heap.allocate(kResourceDirectorySize);
    EXPECT_EQ(call(m, data_service, 0, record, entries), kDirectoryConstructorResult);
    return record;
}

u32 loaded_directory(TarvelMachine& m) {
    const u32 record = new_directory(m);
    EXPECT_EQ(call(m, data_service, 4, record), 0u);
    return record;
}

std::vector<u8> guest_bytes(TarvelMachine& m, u32 address, u32 length) {
    return m.memory.read_bytes(address, length).value_or(std::vector<u8>{});
}

TEST(ResourceDirectory, ConstructorLaysOutTheRecord) {
    TarvelMachine m = three_resource_machine();
    const u32 record = m.heap.allocate(kResourceDirectorySize);
    for (u32 i = 0; i < kResourceDirectorySize; i += 4) m.memory.write32(record + i, 0xA5A5A5A5);

    EXPECT_EQ(call(m, data_service, 0, record, 5), 0x0C005428u);
    EXPECT_EQ(m.memory.read8(record), 1);
    for (u32 offset : {4u, 12u, 16u, 20u, 24u, 96u, 100u}) EXPECT_EQ(m.memory.read32(record + offset), 0u) << offset;
    EXPECT_EQ(m.memory.read16(record + 8), 0);
    EXPECT_EQ(m.memory.read16(record + 10), 0);
    for (u32 i = 0; i <= 10; ++i) EXPECT_EQ(m.memory.read32(record + 32 + 4 * i), 0x0C005400 + 4 * i);
    EXPECT_EQ(m.memory.read32(record + 80), 0x0C00542Cu);
    EXPECT_EQ(m.memory.read32(record + 92), 0xFFFFFFFFu);
    // The sub-directory array has room for the entries asked for, at least one word.
    const u32 array = m.memory.read32(record + 28);
    EXPECT_GE(m.heap.block_size(array), 20u);
    call(m, data_service, 0, record, 0);
    EXPECT_GE(m.heap.block_size(m.memory.read32(record + 28)), 4u);
    // The constructor leaves whatever lies past the fields it knows.
    EXPECT_EQ(m.memory.read32(record + 104), 0xA5A5A5A5u);
}

TEST(ResourceDirectory, SystemWordGroupBuildsTheSameRecordThroughTheTrapArea) {
    TarvelMachine m = three_resource_machine(true);
    const u32 record = m.heap.allocate(kResourceDirectorySize);
    m.cpu.regs.set_cpsr(0x30);
    m.cpu.regs.r[13] = kStackTop;
    ASSERT_TRUE(call_guest(m, service_stub(11, 10) | 1, record, 2, 0, 10).ok());
    EXPECT_EQ(m.cpu.regs.r[0], kDirectoryConstructorResult);
    EXPECT_EQ(m.memory.read32(record + 32), service_stub(21, 0));
    EXPECT_EQ(m.memory.read8(record + 32), 0x0C);  // big-endian words
    ASSERT_TRUE(call_guest(m, service_stub(21, 4) | 1, record, 0, 0, 10).ok());
    EXPECT_EQ(m.memory.read16(record + 8), 3);
}

TEST(ResourceDirectory, LoadCopiesResourcesAndFillsTheArrays) {
    for (bool big_endian : {false, true}) {
        TarvelMachine m = three_resource_machine(big_endian);
        const u32 record = new_directory(m);
        m.memory.write32(record + 24, 77);
        m.memory.write32(record + 96, 88);
        EXPECT_EQ(call(m, data_service, 4, record), 0u);

        EXPECT_EQ(m.memory.read16(record + 8), 3);
        EXPECT_EQ(m.memory.read32(record + 24), 0u);
        EXPECT_EQ(m.memory.read32(record + 96), 0u);
        const u32 names = m.memory.read32(record + 12);
        const u32 data = m.memory.read32(record + 16);
        const u32 ids = m.memory.read32(record + 20);
        ASSERT_NE(names, 0u);
        ASSERT_NE(data, 0u);
        ASSERT_NE(ids, 0u);

        const LoadedResources& loaded = m.loaded_resources;
        ASSERT_EQ(loaded.data_addresses.size(), 3u);
        for (u32 i = 0; i < 3; ++i) {
            EXPECT_EQ(m.memory.read32(data + 4 * i), loaded.data_addresses[i]);
            EXPECT_EQ(m.memory.read32(names + 4 * i), loaded.name_addresses[i]);
            EXPECT_EQ(m.memory.read16(ids + 2 * i), i);
        }
        EXPECT_EQ(guest_bytes(m, loaded.data_addresses[0], 5), (std::vector<u8>{1, 2, 3, 4, 5}));
        EXPECT_EQ(guest_bytes(m, loaded.data_addresses[1], 2), (std::vector<u8>{9, 8}));
        // An empty resource still gets a block of its own.
        EXPECT_NE(loaded.data_addresses[2], 0u);
        EXPECT_GE(m.heap.block_size(loaded.data_addresses[2]), 1u);
        // ASCII names as they are; others in GBK, without the mark.
        EXPECT_EQ(guest_cstring(m, loaded.name_addresses[0]), "Title.PNG");
        EXPECT_EQ(guest_cstring(m, loaded.name_addresses[1]), "\xCD\xBC.png");
        EXPECT_EQ(guest_cstring(m, loaded.name_addresses[2]), "empty.bin");
    }
}

TEST(ResourceDirectory, LoadingAgainCopiesOnceAndBuildsNewArrays) {
    TarvelMachine m = three_resource_machine();
    test::LogCapture log;
    const u32 first = loaded_directory(m);
    const std::vector<u32> copies = m.loaded_resources.data_addresses;
    const u32 first_array = m.memory.read32(first + 16);
    const u32 second = new_directory(m);
    const u32 heap_top = m.heap.top;
    EXPECT_EQ(call(m, data_service, 4, second), 0u);
    EXPECT_EQ(m.loaded_resources.data_addresses, copies);
    EXPECT_NE(m.memory.read32(second + 16), first_array);
    for (u32 i = 0; i < 3; ++i) EXPECT_EQ(m.memory.read32(m.memory.read32(second + 16) + 4 * i), copies[i]);
    // Only the three arrays were added to the heap: two of 3 words, one of 3 halfwords.
    EXPECT_EQ(m.heap.top - heap_top, 16u + 16u + 8u);
    EXPECT_TRUE(log.contains(log::Level::Debug, "loaded 3 CBE resources into guest memory"));
}

TEST(ResourceDirectory, AnEmptyMainPackageIsReportedAndLeavesTheDirectoryAlone) {
    TarvelMachine m = make_machine(test::MachineSpec{.package = std::vector<u8>{}});
    ASSERT_TRUE(m.resources.main_table.empty());
    test::LogCapture log;
    const u32 record = new_directory(m);
    const u32 heap_top = m.heap.top;
    EXPECT_EQ(call(m, data_service, 4, record), 0u);
    EXPECT_TRUE(log.contains(log::Level::Warn, "CBE main resource package is empty"));
    EXPECT_EQ(m.memory.read32(record + 16), 0u);
    EXPECT_EQ(m.memory.read16(record + 8), 0);
    EXPECT_EQ(m.heap.top, heap_top);
    EXPECT_EQ(resource_data_address(m, 0), 0u);
}

TEST(ResourceDirectory, AtMost65535ResourcesArePublished) {
    TarvelMachine m = three_resource_machine();
    m.resources.main_table.resize(70000, cbe::Resource{"x", {7}});
    m.resources.main_table[69999].name = "last";
    const u32 record = loaded_directory(m);
    EXPECT_EQ(m.memory.read16(record + 8), 0xFFFF);
    EXPECT_EQ(m.loaded_resources.data_addresses.size(), 70000u);
    EXPECT_EQ(call(m, data_service, 7, record, 65534), m.loaded_resources.data_addresses[65534]);
    EXPECT_EQ(call(m, data_service, 7, record, 65535), 0u);
    EXPECT_EQ(call(m, data_service, 9, record, put_string(m, "last")), 0xFFFFFFFFu);
    // Through the resource directory word the rest are still found in the machine's copies.
    m.memory.write32(kResourceDirectoryWord, record);
    EXPECT_EQ(resource_data_address(m, 69999), m.loaded_resources.data_addresses[69999]);
    EXPECT_EQ(resource_number_by_name(m, "LAST"), 69999u);
}

TEST(ResourceDirectory, LookupsByNameAndNumber) {
    TarvelMachine m = three_resource_machine();
    const u32 record = loaded_directory(m);
    const LoadedResources& loaded = m.loaded_resources;

    EXPECT_EQ(call(m, data_service, 7, record, 1), loaded.data_addresses[1]);
    EXPECT_EQ(call(m, data_service, 8, record, 2), loaded.name_addresses[2]);
    EXPECT_EQ(call(m, data_service, 7, record, 3), 0u);
    EXPECT_EQ(call(m, data_service, 8, record, 0xFFFFFFFF), 0u);

    // Names ignore ASCII case; GBK and marked spellings of the same name match.
    EXPECT_EQ(call(m, data_service, 9, record, put_string(m, "title.png")), 0u);
    EXPECT_EQ(call(m, data_service, 6, record, put_string(m, "TITLE.png")), loaded.data_addresses[0]);
    EXPECT_EQ(call(m, data_service, 9, record, put_string(m, "\xCD\xBC.png")), 1u);
    const std::vector<u8> utf16_name = {0xFF, 0xFE, 0xFE, 0x56, '.', 0, 'P', 0, 'N', 0, 'G', 0};
    EXPECT_EQ(call(m, data_service, 9, record, put_string(m, utf16_name)), 1u);
    // The same bytes without the mark are GBK and name nothing here.
    EXPECT_EQ(call(m, data_service, 9, record, put_string(m, std::vector<u8>(utf16_name.begin() + 2, utf16_name.end()))),
              0xFFFFFFFFu);
    EXPECT_EQ(call(m, data_service, 9, record, put_string(m, "title.pn")), 0xFFFFFFFFu);
    EXPECT_EQ(call(m, data_service, 6, record, put_string(m, "missing")), 0u);
    // Unreadable name, unloaded or unreadable directory: nothing found, nothing fails.
    EXPECT_EQ(call(m, data_service, 9, record, 0x10), 0xFFFFFFFFu);
    EXPECT_EQ(call(m, data_service, 7, new_directory(m), 0), 0u);
    EXPECT_EQ(call(m, data_service, 7, 0x10, 0), 0u);
    EXPECT_EQ(call(m, data_service, 9, 0x10, put_string(m, "Title.PNG")), 0xFFFFFFFFu);
}

TEST(ResourceDirectory, UnknownIndicesAndUnwritableDirectories) {
    TarvelMachine m = three_resource_machine();
    for (u32 index : {10u, 11u, 12u, 100u, 255u}) {
        m.cpu.regs.r[0] = 1234;
        EXPECT_EQ(call(m, data_service, index, 1234), 0u) << index;
    }
    // A directory in unbacked memory gets no arrays, so the heap does not drain.
    EXPECT_EQ(call(m, data_service, 4, 0x10), 0u);
    const u32 heap_top = m.heap.top;
    for (int i = 0; i < 5; ++i) call(m, data_service, 4, 0x10);
    EXPECT_EQ(m.heap.top, heap_top);
    EXPECT_FALSE(m.memory.unmapped_accesses().empty());
}

// A file whose resource package is a directory of two named packages; the
// main table is built from the packages that follow the directory.
TarvelMachine named_package_machine() {
    cbe_writer::DirectorySpec spec;
    spec.named.push_back(named_package("Sprites", package_of({resource("hero.png", {1}), resource("foe.png", {2, 2})})));
    spec.named.push_back(named_package("music", package_of({resource("theme.mid", {3, 3, 3})})));
    TarvelMachine m = make_machine(test::MachineSpec{.package = cbe_writer::encode_directory(spec)});
    EXPECT_EQ(m.resources.named_packages.size(), 2u);
    EXPECT_EQ(m.resources.main_table.size(), 3u);
    return m;
}

TEST(NamedPackages, OpeningAPackageByNameGivesAFilledSubdirectory) {
    TarvelMachine m = named_package_machine();
    const u32 record = new_directory(m, 1);
    EXPECT_EQ(call(m, data_service, 1, record), 0u);

    const u32 music = call(m, data_service, 2, record, put_string(m, "MUSIC"));
    ASSERT_NE(music, 0u);
    EXPECT_EQ(m.memory.read8(music), 1);
    EXPECT_EQ(guest_cstring(m, m.memory.read32(music + 4)), "music");
    EXPECT_EQ(m.memory.read16(music + 8), 1);
    const u32 theme = call(m, data_service, 6, music, put_string(m, "theme.mid"));
    EXPECT_EQ(guest_bytes(m, theme, 3), (std::vector<u8>{3, 3, 3}));
    // The package's resources share the main table's copies.
    EXPECT_EQ(theme, m.loaded_resources.data_addresses.at(2));

    // Opening it again finds the same sub-directory; a second package is added beside it.
    EXPECT_EQ(call(m, data_service, 2, record, put_string(m, "music")), music);
    const u32 sprites = call(m, data_service, 2, record, put_string(m, "sprites"));
    ASSERT_NE(sprites, 0u);
    EXPECT_NE(sprites, music);
    EXPECT_EQ(call(m, data_service, 1, record), 2u);
    EXPECT_EQ(call(m, data_service, 5, record, 0), music);
    EXPECT_EQ(call(m, data_service, 5, record, 1), sprites);
    EXPECT_EQ(call(m, data_service, 5, record, 2), 0u);
    EXPECT_EQ(call(m, data_service, 3, record, put_string(m, "Sprites")), sprites);
    EXPECT_EQ(call(m, data_service, 7, sprites, 1), m.loaded_resources.data_addresses.at(1));
    EXPECT_EQ(call(m, data_service, 9, sprites, put_string(m, "hero.png")), 0u);
}

TEST(NamedPackages, MissingPackagesAreReportedAndNotAdded) {
    TarvelMachine m = named_package_machine();
    test::LogCapture log;
    const u32 record = new_directory(m);
    EXPECT_EQ(call(m, data_service, 2, record, put_string(m, "levels")), 0u);
    EXPECT_TRUE(log.contains(log::Level::Warn, "CBE resource package levels was not found"));
    EXPECT_EQ(call(m, data_service, 1, record), 0u);
    EXPECT_EQ(call(m, data_service, 3, record, put_string(m, "music")), 0u);  // finding adds nothing
    EXPECT_EQ(call(m, data_service, 1, record), 0u);
}

TEST(NamedPackages, TheSubdirectoryArrayGrowsPastItsRoom) {
    cbe_writer::DirectorySpec spec;
    for (int i = 0; i < 6; ++i) {
        const std::string name = "p" + std::to_string(i);
        spec.named.push_back(named_package(name, package_of({resource(name + ".bin", {static_cast<u8>(i)})})));
    }
    TarvelMachine m = make_machine(test::MachineSpec{.package = cbe_writer::encode_directory(spec)});
    const u32 record = new_directory(m, 1);
    std::vector<u32> opened;
    for (int i = 0; i < 6; ++i) opened.push_back(call(m, data_service, 2, record, put_string(m, "p" + std::to_string(i))));
    EXPECT_EQ(call(m, data_service, 1, record), 6u);
    for (u32 i = 0; i < 6; ++i) {
        ASSERT_NE(opened[i], 0u);
        EXPECT_EQ(call(m, data_service, 5, record, i), opened[i]);
        const u32 data = call(m, data_service, 7, opened[i], 0);
        EXPECT_EQ(m.memory.read8(data), i);
    }
}

TEST(NamedPackages, LoadFillsSubdirectoriesTheGuestListed) {
    TarvelMachine m = named_package_machine();
    test::LogCapture log;
    const u32 record = new_directory(m, 3);
    // Three sub-directories: one named, one unnamed (takes the package at its
    // position), one naming a package that does not exist.
    std::vector<u32> subs;
    for (int i = 0; i < 3; ++i) subs.push_back(new_directory(m, 0));
    m.memory.write32(subs[0] + 4, put_string(m, "sprites"));
    m.memory.write32(subs[2] + 4, put_string(m, "nowhere"));
    const u32 array = m.memory.read32(record + 28);
    for (u32 i = 0; i < 3; ++i) m.memory.write32(array + 4 * i, subs[i]);
    m.memory.write16(record + 10, 3);

    EXPECT_EQ(call(m, data_service, 4, record), 0u);
    EXPECT_EQ(m.memory.read16(subs[0] + 8), 2);
    EXPECT_EQ(m.memory.read16(subs[1] + 8), 1);  // position 1: "music"
    EXPECT_EQ(m.memory.read16(subs[2] + 8), 0);
    EXPECT_EQ(call(m, data_service, 7, subs[1], 0), m.loaded_resources.data_addresses.at(2));
    EXPECT_TRUE(log.contains(log::Level::Warn, "CBE resource package nowhere was not found"));
    EXPECT_TRUE(log.contains(log::Level::Debug, "loaded 2 named CBE resource packages into guest memory"));

    // A second load leaves filled sub-directories as they are.
    const u32 sprite_array = m.memory.read32(subs[0] + 16);
    call(m, data_service, 4, record);
    EXPECT_EQ(m.memory.read32(subs[0] + 16), sprite_array);
}

TEST(NamedPackages, APackageNotInTheMainTableGetsCopiesOfItsOwn) {
    TarvelMachine m = named_package_machine();
    m.resources.named_packages[1].resources[0].data = {4, 5};  // no longer the main table's bytes
    const u32 record = new_directory(m);
    const u32 music = call(m, data_service, 2, record, put_string(m, "music"));
    const u32 theme = call(m, data_service, 7, music, 0);
    EXPECT_NE(theme, m.loaded_resources.data_addresses.at(2));
    EXPECT_EQ(guest_bytes(m, theme, 2), (std::vector<u8>{4, 5}));
}

}  // namespace
}  // namespace tarvel::machine::services
