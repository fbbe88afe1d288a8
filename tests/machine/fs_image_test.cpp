// The save image of a game's files: exact bytes for a small filesystem (the
// same on any host), round trips, and the refusal of every kind of damage.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "machine/fs_image.hpp"

namespace tarvel::test {
namespace {

using machine::decode_fs_image;
using machine::encode_fs_image;
using machine::VirtualFs;
using ::testing::HasSubstr;

void put32(std::vector<u8>& out, u32 v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<u8>(v >> (8 * i)));
}
void put_text(std::vector<u8>& out, const std::string& text) {
    put32(out, static_cast<u32>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

// An image around `body` with a correct header, so that the body's own
// checks are reached.
std::vector<u8> image_of(const std::vector<u8>& body, u32 version = machine::kFsImageVersion) {
    std::vector<u8> out(machine::kFsImageMagic, machine::kFsImageMagic + 8);
    put32(out, version);
    put32(out, static_cast<u32>(body.size()));
    put32(out, static_cast<u32>(crc32(crc32(0L, Z_NULL, 0), body.data(), static_cast<uInt>(body.size()))));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// Files given as (path, contents) and directory names, in body layout.
std::vector<u8> body_of(const std::vector<std::pair<std::string, std::string>>& files,
                        const std::vector<std::string>& directories) {
    std::vector<u8> body;
    put32(body, static_cast<u32>(files.size()));
    for (const auto& [path, contents] : files) {
        put_text(body, path);
        put_text(body, contents);
    }
    put32(body, static_cast<u32>(directories.size()));
    for (const std::string& name : directories) put_text(body, name);
    return body;
}

VirtualFs sample_fs() {
    VirtualFs fs;
    EXPECT_TRUE(fs.make_directory("save/slot"));
    const u32 best = *fs.open("save/best.dat", "w");
    const u8 score[] = {0x39, 0x30, 0, 0};
    EXPECT_TRUE(fs.write(best, score));
    fs.close(*fs.open("empty", "w"));
    fs.open("save/best.dat", "r");  // left open: handles are not part of the image
    return fs;
}

std::string refusal(const std::vector<u8>& image) {
    auto decoded = decode_fs_image(image);
    return decoded.ok() ? std::string("accepted") : decoded.error().to_string();
}

TEST(FsImage, BytesAreFixedAndRoundTripWithoutHandles) {
    const VirtualFs fs = sample_fs();
    const std::vector<u8> image = encode_fs_image(fs);
    // Little-endian fields, files and directories in byte order, root implied.
    EXPECT_EQ(image, image_of(body_of({{"empty", ""}, {"save/best.dat", std::string("90\0\0", 4)}},
                                      {"save", "save/slot"})));
    EXPECT_EQ(std::string(image.begin(), image.begin() + 12), std::string("TARVELFS\1\0\0\0", 12));

    auto decoded = decode_fs_image(image);
    ASSERT_TRUE(decoded.ok()) << decoded.error().to_string();
    EXPECT_EQ(decoded->files, fs.files);
    EXPECT_EQ(decoded->directories, fs.directories);
    EXPECT_EQ(decoded->stored_bytes, 4u);
    EXPECT_EQ(decoded->open_handle_count(), 0u);
    EXPECT_EQ(encode_fs_image(*decoded), image);

    // An empty filesystem, and one whose root itself was opened as a file.
    EXPECT_EQ(encode_fs_image(VirtualFs{}), image_of(body_of({}, {})));
    VirtualFs root_file;
    root_file.close(*root_file.open("", "w"));
    EXPECT_EQ(decode_fs_image(encode_fs_image(root_file))->files, root_file.files);
}

TEST(FsImage, EveryCutAndEveryFlippedByteIsRefused) {
    const std::vector<u8> image = encode_fs_image(sample_fs());
    for (size_t cut = 0; cut < image.size(); ++cut)
        EXPECT_NE(refusal(std::vector<u8>(image.begin(), image.begin() + cut)), "accepted") << "cut at " << cut;
    for (size_t at = 0; at < image.size(); ++at) {
        std::vector<u8> flipped = image;
        flipped[at] ^= 0x20;
        EXPECT_NE(refusal(flipped), "accepted") << "flip at " << at;
    }
    std::vector<u8> longer = image;
    longer.push_back(0);
    EXPECT_THAT(refusal(longer), HasSubstr("body bytes"));
}

TEST(FsImage, DamageBehindAValidChecksumIsRefused) {
    const std::string too_long(machine::kMaxPathBytes + 1, 'a');
    const struct {
        std::vector<u8> image;
        const char* message;
    } cases[] = {
        {std::vector<u8>{'S', 'O', 'M', 'E', 'T', 'H', 'I', 'N', 'G', ' ', 'E', 'L', 'S', 'E', '.', '.', '.', '.', '.',
                         '.'},
         "not a game files image"},
        {image_of(body_of({}, {}), 2), "unsupported image version 2"},
        {image_of(body_of({{"b", ""}, {"a", ""}}, {})), "file paths are out of order"},
        {image_of(body_of({{"a", ""}, {"a", "x"}}, {})), "file paths are out of order"},
        {image_of(body_of({{"Save/A", ""}}, {})), "a file path is not a valid path"},
        {image_of(body_of({{"a//b", ""}}, {})), "a file path is not a valid path"},
        {image_of(body_of({{"../a", ""}}, {})), "a file path is not a valid path"},
        {image_of(body_of({{"a\\b", ""}}, {})), "a file path is not a valid path"},
        {image_of(body_of({{"\xff\xfe", ""}}, {})), "a file path is not a valid path"},
        {image_of(body_of({{too_long, ""}}, {})), "a file path is not a valid path"},
        {image_of(body_of({}, {""})), "directory names are out of order"},
        {image_of(body_of({}, {"b", "a"})), "directory names are out of order"},
        {image_of(body_of({}, {"./a"})), "a directory name is not a valid path"},
    };
    for (const auto& c : cases) EXPECT_EQ(refusal(c.image), c.message);

    // Counts and sizes beyond the filesystem's own limits.
    std::vector<u8> many_files;
    put32(many_files, machine::kMaxFiles + 1);
    EXPECT_THAT(refusal(image_of(many_files)), HasSubstr("more than the 1024 allowed"));
    std::vector<u8> many_directories = body_of({}, {});
    many_directories.resize(4);
    put32(many_directories, machine::kMaxDirectories + 1);
    EXPECT_THAT(refusal(image_of(many_directories)), HasSubstr("directories, more than"));
    std::vector<u8> huge_file;
    put32(huge_file, 1);
    put_text(huge_file, "a");
    put32(huge_file, 0xFFFFFFF0);  // a length with no bytes behind it
    EXPECT_EQ(refusal(image_of(huge_file)), "the image ends inside the contents of a file");
    const std::string half(machine::kMaxStoredBytes / 2 + 1, 'x');
    EXPECT_THAT(refusal(image_of(body_of({{"a", half}, {"b", half}}, {}))), HasSubstr("more than the 16777216"));
    EXPECT_THAT(refusal(std::vector<u8>(machine::kMaxFsImageBytes + 1)), HasSubstr("more than an image can hold"));
}

// The fullest filesystem the limits allow encodes within the image bound and
// reads back.
TEST(FsImage, AFilesystemAtItsLimitsFitsTheImage) {
    VirtualFs fs;
    for (u32 i = 0; i < machine::kMaxDirectories; ++i) {
        std::string name(machine::kMaxPathBytes, 'd');
        name.replace(0, 4, fmt::format("{:04}", i));
        ASSERT_TRUE(fs.make_directory(name));
    }
    for (u32 i = 0; i < machine::kMaxFiles; ++i) {
        std::string name(machine::kMaxPathBytes, 'f');
        name.replace(0, 4, fmt::format("{:04}", i));
        const u32 handle = *fs.open(name, "w");
        ASSERT_TRUE(fs.reserve_write(handle, machine::kMaxStoredBytes / machine::kMaxFiles));
        fs.close(handle);
    }
    ASSERT_EQ(fs.free_bytes(), 0u);
    const std::vector<u8> image = encode_fs_image(fs);
    EXPECT_EQ(image.size(), machine::kMaxFsImageBytes);
    auto decoded = decode_fs_image(image);
    ASSERT_TRUE(decoded.ok()) << decoded.error().to_string();
    EXPECT_EQ(decoded->files.size(), machine::kMaxFiles);
}

}  // namespace
}  // namespace tarvel::test
