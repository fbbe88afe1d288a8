#include <gtest/gtest.h>

#include "cbe/archive.hpp"
#include "cbe_test_support.hpp"

namespace tarvel::cbe {
namespace {

using cbe_writer::DirectorySpec;
using cbe_writer::encode_directory;
using cbe_writer::encode_package;
using cbe_writer::encode_single_package;
using cbe_writer::named_package;
using cbe_writer::PackageSpec;
using cbe_writer::resource;
using cbe_writer::SinglePackageSpec;
using test::bytes_of;
using test::valid_builder;

CbeArchive parse_with_resources(std::vector<u8> resource_package, std::vector<u8> trailing = {},
                                std::optional<u32> resource_length = std::nullopt) {
    cbe_writer::CbeBuilder b = valid_builder();
    b.resource_package = std::move(resource_package);
    b.trailing = std::move(trailing);
    b.resource_length = resource_length;
    auto archive = parse_archive(b.build());
    EXPECT_TRUE(archive.ok()) << archive.error().to_string();
    return archive.ok() ? std::move(archive).value() : CbeArchive{};
}

PackageSpec package_of(std::vector<cbe_writer::ResourceSpec> resources) {
    PackageSpec p;
    p.resources = std::move(resources);
    return p;
}

std::vector<std::string> names_of(const ResourceTable& table) {
    std::vector<std::string> names;
    for (const Resource& r : table) names.push_back(r.name);
    return names;
}

TEST(CbePackages, SinglePackageHeaderFillsTheMainTable) {
    SinglePackageSpec spec;
    spec.package = package_of({resource("title.png", {1, 2, 3}), resource("empty", {}), resource("x.bin", {9})});
    spec.package.padding = 5;
    CbeArchive archive = parse_with_resources(encode_single_package(spec), {0xAA, 0xBB});
    ASSERT_EQ(archive.resources.main_table.size(), 3u);
    EXPECT_EQ(archive.resources.main_table[0], (Resource{"title.png", {1, 2, 3}}));
    EXPECT_EQ(archive.resources.main_table[1], (Resource{"empty", {}}));
    EXPECT_EQ(archive.resources.main_table[2], (Resource{"x.bin", {9}})) << "the last one runs to the data length";
    EXPECT_TRUE(archive.resources.named_packages.empty());
}

TEST(CbePackages, SinglePackageOffsetsAreTakenAsWritten) {
    SinglePackageSpec spec;
    spec.package = package_of({resource("a", {1, 2}), resource("b", {3, 4}), resource("c", {5, 6})});
    spec.package.offsets = std::vector<u32>{1, 3, 3};  // equal offsets: an empty resource
    CbeArchive archive = parse_with_resources(encode_single_package(spec));
    ASSERT_EQ(archive.resources.main_table.size(), 3u);
    EXPECT_EQ(archive.resources.main_table[0].data, (std::vector<u8>{2, 3}));
    EXPECT_TRUE(archive.resources.main_table[1].data.empty());
    EXPECT_EQ(archive.resources.main_table[2].data, (std::vector<u8>{4, 5, 6}));
}

TEST(CbePackages, PackageRules) {
    const std::vector<u8> file = encode_package(package_of({resource("a", {1}), resource("b", {2, 3})}));
    auto parsed = parse_package(file, 0, file.size());
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->end, file.size());
    EXPECT_EQ(names_of(parsed->resources), (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(parse_package(file, 0, file.size() - 1)) << "must end within the limit";
    EXPECT_FALSE(parse_package(file, 1, file.size()));
    EXPECT_FALSE(parse_package(file, file.size(), file.size()));

    auto rejects = [](PackageSpec spec) {
        const std::vector<u8> bytes = encode_package(spec);
        return !parse_package(bytes, 0, bytes.size()).has_value();
    };
    PackageSpec first_not_zero = package_of({resource("a", {1, 2}), resource("b", {3})});
    first_not_zero.offsets = std::vector<u32>{1, 2};
    EXPECT_TRUE(rejects(first_not_zero));
    PackageSpec decreasing = package_of({resource("a", {1, 2}), resource("b", {3}), resource("c", {4})});
    decreasing.offsets = std::vector<u32>{0, 2, 1};
    EXPECT_TRUE(rejects(decreasing));
    PackageSpec past_data = package_of({resource("a", {1, 2}), resource("b", {3})});
    past_data.offsets = std::vector<u32>{0, 4};
    EXPECT_TRUE(rejects(past_data));
    PackageSpec short_header = package_of({resource("a", {1})});
    short_header.header_length = 7;
    EXPECT_TRUE(rejects(short_header));
    PackageSpec names_past_data = package_of({resource("long-name", {1})});
    names_past_data.header_length = 8 + 4 + 3;  // the name table would reach into the data
    names_past_data.padding = 0;
    EXPECT_TRUE(rejects(names_past_data));
    PackageSpec no_resources;
    EXPECT_TRUE(rejects(no_resources));
    PackageSpec huge_data = package_of({resource("a", {1})});
    huge_data.data_length = 0xFFFFFFFF;
    EXPECT_TRUE(rejects(huge_data));
}

TEST(CbePackages, ResourceCountLimit) {
    PackageSpec spec;
    for (int i = 0; i < 10000; ++i) spec.resources.push_back(resource(std::vector<u8>{}, {}));
    std::vector<u8> bytes = encode_package(spec);
    auto parsed = parse_package(bytes, 0, bytes.size());
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->resources.size(), 10000u);

    spec.resources.push_back(resource(std::vector<u8>{}, {}));
    bytes = encode_package(spec);
    EXPECT_FALSE(parse_package(bytes, 0, bytes.size()));
}

DirectorySpec two_named_packages() {
    DirectorySpec dir;
    dir.named.push_back(named_package("sounds", package_of({resource("a.wav", {1, 1}), resource("b.wav", {2})})));
    dir.named.push_back(named_package("images", package_of({resource("c.png", {3, 3, 3})})));
    return dir;
}

TEST(CbePackages, DirectoryListsNamedPackagesAndFeedsTheMainTable) {
    CbeArchive archive = parse_with_resources(encode_directory(two_named_packages()));
    const auto& named = archive.resources.named_packages;
    ASSERT_EQ(named.size(), 2u);
    EXPECT_EQ(named[0].name, "sounds");
    EXPECT_EQ(names_of(named[0].resources), (std::vector<std::string>{"a.wav", "b.wav"}));
    EXPECT_EQ(named[1].name, "images");
    EXPECT_EQ(named[1].resources[0].data, (std::vector<u8>{3, 3, 3}));
    // No single-package header: the packages after the directory form the main table.
    EXPECT_EQ(names_of(archive.resources.main_table), (std::vector<std::string>{"a.wav", "b.wav", "c.png"}));
}

TEST(CbePackages, DirectoryCountLimits) {
    for (u32 count : {1u, 257u, 0u}) {
        DirectorySpec dir = two_named_packages();
        dir.count = count;
        EXPECT_TRUE(parse_with_resources(encode_directory(dir)).resources.named_packages.empty()) << count;
    }
    DirectorySpec one;
    one.named.push_back(named_package("only", package_of({resource("r", {1})})));
    auto named = parse_with_resources(encode_directory(one)).resources.named_packages;
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named[0].name, "only");
}

TEST(CbePackages, OneBadListedPackageDiscardsTheWholeDirectory) {
    // The last package runs past the end of the resource package (more bytes
    // follow in the file, so only the resource length stops it).
    std::vector<u8> package = encode_directory(two_named_packages());
    std::vector<u8> trailing(package.end() - 2, package.end());
    package.resize(package.size() - 2);
    CbeArchive archive = parse_with_resources(package, trailing);
    EXPECT_TRUE(archive.resources.named_packages.empty());
    EXPECT_EQ(names_of(archive.resources.main_table), (std::vector<std::string>{"a.wav", "b.wav"}))
        << "the run after the directory stops before the package that does not fit";

    DirectorySpec inside = two_named_packages();
    inside.entry_offsets = {std::nullopt, 4};  // points into the directory itself
    EXPECT_TRUE(parse_with_resources(encode_directory(inside)).resources.named_packages.empty());

    DirectorySpec entries_overrun = two_named_packages();
    entries_overrun.directory_length = 12;  // the entries run past the directory's end
    EXPECT_TRUE(parse_with_resources(encode_directory(entries_overrun)).resources.named_packages.empty());
}

TEST(CbePackages, DirectoryNamingOnePackageOverAndOverIsRejected) {
    DirectorySpec dir;
    PackageSpec big = package_of({resource("big", std::vector<u8>(4000, 7))});
    dir.named.push_back(named_package("p0", big));
    for (int i = 1; i < 200; ++i) {
        dir.named.push_back(named_package(fmt::format("p{}", i), package_of({resource("s", {1})})));
    }
    std::vector<u8> bytes = encode_directory(dir);
    // Repoint every entry at the first package: 200 copies of 4000 bytes from a
    // resource package of about 7 KB.
    DirectorySpec repointed = dir;
    const u32 first_package = static_cast<u32>(12 + [&] {
        size_t n = 0;
        for (auto& e : dir.named) n += 1 + e.name.size() + 4;
        return n;
    }());
    repointed.entry_offsets.assign(200, first_package);
    tarvel::test::LogCapture log;
    CbeArchive archive = parse_with_resources(encode_directory(repointed));
    EXPECT_TRUE(archive.resources.named_packages.empty());
    EXPECT_EQ(parse_with_resources(bytes).resources.named_packages.size(), 200u);
}

TEST(CbePackages, SinglePackageHeaderIsPreferredOverTheDirectory) {
    // A directory-looking first word means nothing when the single-package
    // header is valid: the main table comes from it.
    SinglePackageSpec spec;
    spec.package = package_of({resource("one", {1})});
    CbeArchive archive = parse_with_resources(encode_single_package(spec));
    EXPECT_EQ(names_of(archive.resources.main_table), (std::vector<std::string>{"one"}));
}

TEST(CbePackages, PackageRunStopsAtTheFirstInvalidPackage) {
    // A header word pointing past itself, then two packages and junk.
    std::vector<u8> bytes = {8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (auto& p : {package_of({resource("p1", {1})}), package_of({resource("p2", {2})})}) {
        auto encoded = encode_package(p);
        bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    }
    bytes.insert(bytes.end(), {3, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8});
    CbeArchive archive = parse_with_resources(bytes);
    EXPECT_EQ(names_of(archive.resources.main_table), (std::vector<std::string>{"p1", "p2"}));
}

TEST(CbePackages, UnparsableResourcePackageLeavesEmptyCollections) {
    for (std::vector<u8> junk : {std::vector<u8>{}, std::vector<u8>{1, 2}, std::vector<u8>(64, 0xFF),
                                 std::vector<u8>(64, 0)}) {
        CbeArchive archive = parse_with_resources(junk);
        EXPECT_TRUE(archive.resources.main_table.empty());
        EXPECT_TRUE(archive.resources.named_packages.empty());
    }
}

TEST(CbePackages, NamesUseTheirByteOrderMarkOrGbk) {
    SinglePackageSpec spec;
    spec.package = package_of({resource(std::vector<u8>{0xFF, 0xFE, 0x41, 0x00}, {1}),
                               resource(std::vector<u8>{0xC4, 0xE3, 0xBA, 0xC3}, {2}),
                               resource(std::vector<u8>{0xEF, 0xBB, 0xBF, 0xC3, 0xA9}, {3}),
                               resource(std::vector<u8>{0xFE, 0xFF, 0x00, 0x42}, {4})});
    CbeArchive archive = parse_with_resources(encode_single_package(spec));
    EXPECT_EQ(names_of(archive.resources.main_table),
              (std::vector<std::string>{"A", "\xE4\xBD\xA0\xE5\xA5\xBD", "\xC3\xA9", "B"}));
}

TEST(CbePackages, ArchiveKeepsTheFileBytes) {
    std::vector<u8> file = valid_builder().build();
    auto archive = parse_archive(file);
    ASSERT_TRUE(archive.ok());
    EXPECT_EQ(archive->bytes, file);
    EXPECT_EQ(archive->executable, parse_executable(file).value());
}

TEST(CbePackages, ArchiveFailsWithTheContainerMessageAfterTheScan) {
    cbe_writer::CbeBuilder b = valid_builder();
    b.patch(0, 0);
    tarvel::test::LogCapture log;
    auto archive = parse_archive(b.build());
    ASSERT_FALSE(archive.ok());
    EXPECT_EQ(archive.error().to_string(), "invalid CBE header marker at 0x0");
    // The scan does not depend on the container and reports what it found.
    EXPECT_TRUE(log.contains(log::Level::Info, "Found 1 sections"));
    EXPECT_TRUE(log.contains(log::Level::Info, "Total resources: 2"));
}

TEST(CbePackages, LoadArchiveReportsUnreadableFiles) {
    auto archive = load_archive("/nonexistent/dir/app.cbe");
    ASSERT_FALSE(archive.ok());
    ASSERT_EQ(archive.error().chain().size(), 2u);
    EXPECT_EQ(archive.error().message(), "Failed to read CBE file: /nonexistent/dir/app.cbe");
    EXPECT_EQ(archive.error().chain()[1], "No such file or directory (os error 2)");
}

}  // namespace
}  // namespace tarvel::cbe
