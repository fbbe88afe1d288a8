#include <gtest/gtest.h>

#include "cbe/archive.hpp"
#include "cbe_test_support.hpp"

namespace tarvel::cbe {
namespace {

using cbe_writer::encode_single_package;
using cbe_writer::PackageSpec;
using cbe_writer::resource;
using cbe_writer::SinglePackageSpec;
using tarvel::test::LogCapture;
using test::valid_builder;

constexpr const char* kTarget = "tarvel_core::cbe::archive";

// A section as the scan reads it: the single-package header behind its
// separator, with the free word holding the resource count.
std::vector<u8> section_bytes(PackageSpec package) {
    SinglePackageSpec spec;
    spec.package = std::move(package);
    std::vector<u8> out(8, 0xFE);
    auto body = encode_single_package(spec);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<u8> section_bytes(std::vector<cbe_writer::ResourceSpec> resources,
                              std::optional<std::vector<u32>> offsets = std::nullopt) {
    PackageSpec package;
    package.resources = std::move(resources);
    package.offsets = std::move(offsets);
    return section_bytes(std::move(package));
}

// Appends a section header, separator first, claiming `count` resources in one
// package, as forged files lay them out.
void put_header(std::vector<u8>& file, u32 count) {
    file.insert(file.end(), 8, 0xFE);
    for (u32 v : {8u, count, 1u, 0u, 1u, 0u})
        for (int k = 0; k < 4; ++k) file.push_back(static_cast<u8>(v >> (8 * k)));
}

TEST(CbeSectionScan, FindsTheResourcePackageSectionAndLogsIt) {
    LogCapture log;
    auto built = valid_builder().build_with_layout();
    auto archive = parse_archive(built.bytes);
    ASSERT_TRUE(archive.ok());
    ASSERT_EQ(archive->sections.size(), 1u);
    const Section& section = archive->sections[0];
    EXPECT_EQ(section.signature_offset + 8, built.layout.resource_offset);
    EXPECT_EQ(section.marker, 8u);
    ASSERT_EQ(section.resources.size(), 2u);
    EXPECT_EQ(section.resources[0].name, "a.png");
    EXPECT_EQ(section.resources[1].size, 2u);
    const u64 data0 = section.resources[0].offset;
    EXPECT_EQ(std::vector<u8>(built.bytes.begin() + data0, built.bytes.begin() + data0 + 3), (std::vector<u8>{1, 2, 3}));

    const u32 p = built.layout.resource_offset;
    const u32 data_rel = load_le32(built.bytes.data() + p + 12);
    EXPECT_TRUE(log.contains(log::Level::Info, fmt::format("File size: {} bytes", built.bytes.size())));
    EXPECT_TRUE(log.contains(log::Level::Debug, fmt::format("Found section signature at offset 0x{:x}", p - 8)));
    EXPECT_TRUE(log.contains(
        log::Level::Debug, fmt::format("Section 0: marker=8, 2 resources, dataRel=0x{:x}, dataLen=0x5", data_rel)));
    EXPECT_TRUE(log.contains(log::Level::Info, "Found 1 sections"));
    EXPECT_TRUE(log.contains(log::Level::Info, "Total resources: 2"));
    for (const tarvel::test::CapturedLine& l : log.entries()) EXPECT_EQ(l.target, kTarget) << l.text;
}

TEST(CbeSectionScan, FallbackCopiesSectionResourcesTheOtherFormsReject) {
    // Offsets that run backwards fail the package rules, but a section takes
    // them: the backward span is empty, and a span leaving the file is dropped.
    auto section = section_bytes({resource("a", {1, 2}), resource("b", {3, 4}), resource("c", {5, 6})},
                                 std::vector<u32>{0, 4, 2});
    cbe_writer::CbeBuilder b = valid_builder();
    b.resource_package.assign(section.begin() + 8, section.end());
    auto archive = parse_archive(b.build());
    ASSERT_TRUE(archive.ok());
    const ResourceTable& table = archive->resources.main_table;
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0], (Resource{"a", {1, 2, 3, 4}}));
    EXPECT_EQ(table[1], (Resource{"b", {}}));
    EXPECT_EQ(table[2], (Resource{"c", {3, 4, 5, 6}}));

    auto escaping = section_bytes({resource("a", {1, 2}), resource("b", {3, 4})}, std::vector<u32>{0, 0x00FFFFFF});
    b.resource_package.assign(escaping.begin() + 8, escaping.end());
    archive = parse_archive(b.build());
    ASSERT_TRUE(archive.ok());
    EXPECT_TRUE(archive->resources.main_table.empty()) << "both spans leave the file";
}

TEST(CbeSectionScan, FallbackCopiesStayWithinTheFileSize) {
    // Spans that go back and forth repeat the same 600 data bytes; copying
    // every one would take forty times the file.
    std::vector<cbe_writer::ResourceSpec> resources;
    std::vector<u32> offsets;
    for (int i = 0; i < 80; ++i) {
        resources.push_back(resource(fmt::format("r{}", i), std::vector<u8>(i == 0 ? 600 : 0, 0x5A)));
        offsets.push_back(i % 2 == 0 ? 0 : 600);
    }
    auto section = section_bytes(resources, offsets);
    cbe_writer::CbeBuilder b = valid_builder();
    b.resource_package.assign(section.begin() + 8, section.end());
    const std::vector<u8> file = b.build();
    LogCapture log;
    auto archive = parse_archive(file);
    ASSERT_TRUE(archive.ok());
    u64 copied = 0;
    for (const Resource& r : archive->resources.main_table) copied += r.data.size();
    EXPECT_GT(copied, 0u);
    EXPECT_LE(copied, file.size());
}

TEST(CbeSectionScan, ExaminesOffsetsInsideAcceptedSections) {
    // A section whose only resource is itself a complete section.
    auto inner = section_bytes({resource("inner.bin", {9, 9})});
    auto outer = section_bytes({resource("outer.bin", inner)});
    std::vector<u8> file(5, 0);
    file.insert(file.end(), outer.begin(), outer.end());
    file.insert(file.end(), 40, 0);
    LogCapture log;
    SectionList sections = scan_sections(file);
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0].signature_offset, 5u);
    EXPECT_EQ(sections[0].resources[0].name, "outer.bin");
    EXPECT_EQ(sections[1].resources[0].name, "inner.bin");
    EXPECT_TRUE(log.contains(log::Level::Info, "Total resources: 2"));
}

TEST(CbeSectionScan, ImplausibleLeadingNamesAreSkippedQuietly) {
    LogCapture log;
    for (std::vector<u8> bad_name : {std::vector<u8>{'a', ' ', 'b'}, std::vector<u8>(97, 'x'), std::vector<u8>{}}) {
        auto bytes = section_bytes({resource("ok", {1}), resource(bad_name, {2})});
        bytes.insert(bytes.end(), 40, 0);
        EXPECT_TRUE(scan_sections(bytes).empty());
    }
    EXPECT_FALSE(log.contains(log::Level::Debug, "Found section signature at offset 0x0"));
    // Bytes of 0x80 and above pass, so GBK or UTF-8 file names are fine.
    auto bytes = section_bytes({resource(std::vector<u8>{0xE4, 0xB8, 0xAD, '.', 'p', 'n', 'g'}, {1})});
    bytes.insert(bytes.end(), 40, 0);
    auto sections = scan_sections(bytes);
    ASSERT_EQ(sections.size(), 1u);
    EXPECT_EQ(sections[0].resources[0].name, "\xE4\xB8\xAD.png");
}

TEST(CbeSectionScan, BadLaterNamesDropTheSectionWithAWarning) {
    std::vector<cbe_writer::ResourceSpec> resources;
    for (int i = 0; i < 16; ++i) resources.push_back(resource(fmt::format("r{}", i), {1}));
    resources.push_back(resource(std::vector<u8>{}, {2}));  // the seventeenth is not checked up front
    auto bytes = section_bytes(resources);
    bytes.insert(bytes.end(), 40, 0);
    const u32 names_at = 32 + 4 * 17;
    const u32 bad_at = names_at + 10 * 3 + 6 * 4;  // "r0".."r9" take 3 bytes each, "r10".."r15" 4
    LogCapture log;
    EXPECT_TRUE(scan_sections(bytes).empty());
    EXPECT_TRUE(log.contains(log::Level::Warn, fmt::format("Invalid name length at 0x{:x}: 0", bad_at)));
}

TEST(CbeSectionScan, NameTableEndingEarlyIsReported) {
    std::vector<cbe_writer::ResourceSpec> many;
    for (int i = 0; i < 20; ++i) many.push_back(resource("n", {1}));
    PackageSpec package;
    package.resources = many;
    package.header_length = 8;  // the data area starts at the offset table, well inside the file
    auto bytes = section_bytes(package);
    const u32 names_at = 32 + 4 * 20;
    bytes.resize(names_at + 2 * 18);  // eighteen names, then the file ends
    LogCapture log;
    EXPECT_TRUE(scan_sections(bytes).empty());
    EXPECT_TRUE(log.contains(log::Level::Warn, fmt::format("Name table truncated at 0x{:x}", bytes.size())));

    bytes.push_back(5);  // a length byte whose name would run past the end
    LogCapture log2;
    EXPECT_TRUE(scan_sections(bytes).empty());
    EXPECT_TRUE(log2.contains(log::Level::Warn, fmt::format("Invalid name length at 0x{:x}: 5", bytes.size() - 1)));
}

TEST(CbeSectionScan, NativeSectionsAreListedWithoutResources) {
    std::vector<u8> bytes(8, 0xFE);
    auto put = [&](u32 v) { for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<u8>(v >> (8 * i))); };
    put(4);     // marker
    put(1);     // r + 12
    put(60);    // section extent from r
    put(0);     // r + 20
    put(2);     // count
    put(0);
    put(0);     // two table words
    bytes.insert(bytes.end(), {3, 'a', 'b', 'c', 2, 'd', 'e'});
    bytes.resize(100, 0);
    LogCapture log;
    SectionList sections = scan_sections(bytes);
    ASSERT_EQ(sections.size(), 1u);
    EXPECT_EQ(sections[0].marker, 4u);
    EXPECT_TRUE(sections[0].resources.empty());
    EXPECT_TRUE(log.contains(log::Level::Debug, "Found native section signature at offset 0x0"));

    bytes[16] = 30;  // the names now end past the section
    EXPECT_TRUE(scan_sections(bytes).empty());
    bytes[16] = 90;  // no room for the 20 bytes after the section
    EXPECT_TRUE(scan_sections(bytes).empty());
}

TEST(CbeSectionScan, OverlappingForgedSectionsCostNoMoreThanTheFile) {
    // A thousand section headers back to back, each claiming 10000 resources;
    // their offset tables overlap the headers after them and their name tables
    // overlap one shared run of one-letter names. Reading every one would take
    // ten million names from a 100 KB file.
    constexpr u32 kSections = 1000;
    std::vector<u8> file;
    for (u32 i = 0; i < kSections; ++i) put_header(file, 10000);
    while (file.size() < 32 * kSections + 40000 + 2 * 10000 + 64) {
        file.push_back(1);
        file.push_back('x');
    }
    LogCapture log;
    SectionList sections = scan_sections(file);
    ASSERT_FALSE(sections.empty()) << "the first sections are genuine enough to be taken";
    u64 names = 0;
    for (const Section& s : sections) names += s.resources.size();
    EXPECT_LE(names * 5, file.size());
}

TEST(CbeSectionScan, OverlappingForgedSectionsThatFailCostNoMoreThanTheFile) {
    // A thousand section headers back to back whose name tables all start at
    // the same place (each claims 8 resources fewer than the one before) and
    // share one run of 2000 names ending in a zero length. Every one of them
    // fails only at that last name, after reading some 12 KB of tables; all of
    // them together would read 300 times the file.
    constexpr u32 kSections = 1000;
    constexpr u32 kSharedNames = 2000;
    std::vector<u8> file;
    for (u32 i = 0; i < kSections; ++i) put_header(file, 10000 - 8 * i);
    const size_t names_at = 32 + 4 * 10000;
    file.resize(names_at, 0);
    for (u32 i = 0; i < kSharedNames; ++i) {
        file.push_back(1);
        file.push_back('x');
    }
    file.push_back(0);
    file.resize(file.size() + 64, 0);

    LogCapture log;
    EXPECT_TRUE(scan_sections(file).empty());
    size_t fully_read = 0, overlap_warnings = 0;
    for (const tarvel::test::CapturedLine& l : log.entries()) {
        if (l.text.starts_with("Invalid name length at ")) ++fully_read;
        if (l.level == log::Level::Warn && l.text.find("overlaps earlier sections") != std::string::npos) ++overlap_warnings;
    }
    EXPECT_EQ(overlap_warnings, 1u) << "the sections dropped unread are reported once, not one warning each";
    const size_t bytes_per_section = 4 * (10000 - 8 * (kSections - 1) - 1) + 2 * kSharedNames;
    EXPECT_GE(fully_read, 1u) << "the first one is read like any section";
    EXPECT_LE(fully_read * bytes_per_section, file.size()) << fully_read << " sections read in full";
}

TEST(CbeSectionScan, LoneSectionClaimingMoreThanTheFileIsReportedWhereItsNamesEnd) {
    // One hundred resources claimed, twenty names present: the section is read
    // like any other and dropped with the truncation the scan meets.
    std::vector<u8> file;
    put_header(file, 100);
    file.resize(32 + 4 * 100, 0);
    for (int i = 0; i < 20; ++i) {
        file.push_back(1);
        file.push_back('n');
    }
    LogCapture log;
    EXPECT_TRUE(scan_sections(file).empty());
    EXPECT_TRUE(log.contains(log::Level::Warn, fmt::format("Name table truncated at 0x{:x}", file.size())))
        << ::testing::PrintToString(log.lines());
}

}  // namespace
}  // namespace tarvel::cbe
