#include "machine/fs_image.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include <zlib.h>

#include "common/utf8.hpp"

namespace tarvel::machine {
namespace {

static_assert(kMaxFsImageBytes < 0xFFFFFFFFu, "the body length is a 32-bit field");

void store32(u8* p, u32 v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<u8>(v >> (8 * i));
}

void put32(std::vector<u8>& out, u32 v) {
    out.resize(out.size() + 4);
    store32(out.data() + out.size() - 4, v);
}

void put_bytes(std::vector<u8>& out, std::span<const u8> bytes) {
    put32(out, static_cast<u32>(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void put_text(std::vector<u8>& out, std::string_view text) {
    put_bytes(out, std::span(reinterpret_cast<const u8*>(text.data()), text.size()));
}

u32 get32(const u8* p) {
    return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
           static_cast<u32>(p[3]) << 24;
}

u32 crc_of(std::span<const u8> bytes) {
    // Images stay far below zlib's per-call length limit (checked above).
    return static_cast<u32>(crc32(crc32(0L, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

// Reads the body front to back; every length is checked against what is left.
class BodyReader {
public:
    explicit BodyReader(std::span<const u8> body) : body_(body) {}

    Result<u32> word(std::string_view what) {
        if (body_.size() - pos_ < 4) return Error::format("the image ends inside {}", what);
        const u32 v = get32(body_.data() + pos_);
        pos_ += 4;
        return v;
    }
    Result<std::span<const u8>> bytes(std::string_view what) {
        TARVEL_TRY_ASSIGN(const u32 length, word(what));
        if (body_.size() - pos_ < length) return Error::format("the image ends inside {}", what);
        const std::span<const u8> out = body_.subspan(pos_, length);
        pos_ += length;
        return out;
    }
    // A path or directory name exactly as normalize_path would give it.
    Result<std::string> path(std::string_view what) {
        TARVEL_TRY_ASSIGN(const std::span<const u8> raw, bytes(what));
        std::string text(reinterpret_cast<const char*>(raw.data()), raw.size());
        if (raw.size() > kMaxPathBytes || !utf8::is_valid(text) || text.find('\\') != std::string::npos)
            return Error::format("{} is not a valid path", what);
        // Checked above, so normalising logs nothing.
        const std::optional<std::string> normal = normalize_path(text);
        if (!normal || *normal != text) return Error::format("{} is not a valid path", what);
        return text;
    }
    size_t remaining() const { return body_.size() - pos_; }

private:
    std::span<const u8> body_;
    size_t pos_ = 0;
};

Status read_files(BodyReader& in, VirtualFs& fs) {
    TARVEL_TRY_ASSIGN(const u32 count, in.word("the file count"));
    if (count > kMaxFiles) return Error::format("{} files, more than the {} allowed", count, kMaxFiles);
    std::string previous;
    for (u32 i = 0; i < count; ++i) {
        TARVEL_TRY_ASSIGN(std::string path, in.path("a file path"));
        TARVEL_TRY_ASSIGN(const std::span<const u8> contents, in.bytes("the contents of a file"));
        // Strictly ascending: no duplicates, and one image per filesystem.
        if (i > 0 && path <= previous) return Error("file paths are out of order");
        fs.stored_bytes += contents.size();
        if (fs.stored_bytes > kMaxStoredBytes)
            return Error::format("the files hold more than the {} bytes allowed", kMaxStoredBytes);
        previous = path;
        fs.files.emplace(std::move(path), std::vector<u8>(contents.begin(), contents.end()));
    }
    return {};
}

}  // namespace

std::vector<u8> encode_fs_image(const VirtualFs& fs) {
    std::vector<const std::pair<const std::string, std::vector<u8>>*> files;
    files.reserve(fs.files.size());
    size_t body_size = 8;
    for (const auto& entry : fs.files) {
        files.push_back(&entry);
        body_size += 8 + entry.first.size() + entry.second.size();
    }
    std::sort(files.begin(), files.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
    for (const std::string& directory : fs.directories) body_size += 4 + directory.size();

    std::vector<u8> out;
    out.reserve(kFsImageHeaderSize + body_size);
    out.resize(kFsImageHeaderSize);  // filled in once the body is there
    put32(out, static_cast<u32>(files.size()));
    for (const auto* file : files) {
        put_text(out, file->first);
        put_bytes(out, file->second);
    }
    put32(out, static_cast<u32>(fs.directories.size() - (fs.directories.contains(std::string()) ? 1 : 0)));
    for (const std::string& directory : fs.directories)  // a std::set: already in order
        if (!directory.empty()) put_text(out, directory);

    const std::span<const u8> body(out.data() + kFsImageHeaderSize, out.size() - kFsImageHeaderSize);
    std::memcpy(out.data(), kFsImageMagic, sizeof kFsImageMagic);
    store32(out.data() + 8, kFsImageVersion);
    store32(out.data() + 12, static_cast<u32>(body.size()));
    store32(out.data() + 16, crc_of(body));
    return out;
}

Result<VirtualFs> decode_fs_image(std::span<const u8> image) {
    if (image.size() > kMaxFsImageBytes)
        return Error::format("{} bytes, more than an image can hold ({})", image.size(), kMaxFsImageBytes);
    if (image.size() < kFsImageHeaderSize) return Error::format("only {} bytes, shorter than the header", image.size());
    if (std::memcmp(image.data(), kFsImageMagic, sizeof kFsImageMagic) != 0) return Error("not a game files image");
    const u32 version = get32(image.data() + 8);
    if (version != kFsImageVersion) return Error::format("unsupported image version {}", version);
    const u32 length = get32(image.data() + 12);
    if (length != image.size() - kFsImageHeaderSize)
        return Error::format("the header says {} body bytes, the image has {}", length,
                             image.size() - kFsImageHeaderSize);
    const std::span<const u8> body = image.subspan(kFsImageHeaderSize);
    if (crc_of(body) != get32(image.data() + 16)) return Error("checksum mismatch");

    VirtualFs fs;
    BodyReader in(body);
    TARVEL_TRY(read_files(in, fs));
    TARVEL_TRY_ASSIGN(const u32 directories, in.word("the directory count"));
    if (directories > kMaxDirectories)
        return Error::format("{} directories, more than the {} allowed", directories, kMaxDirectories);
    for (u32 i = 0; i < directories; ++i) {
        TARVEL_TRY_ASSIGN(std::string name, in.path("a directory name"));
        if (name.empty() || name <= *fs.directories.rbegin()) return Error("directory names are out of order");
        fs.directories.insert(fs.directories.end(), std::move(name));
    }
    if (in.remaining() != 0) return Error::format("{} bytes after the last directory", in.remaining());
    return fs;
}

}  // namespace tarvel::machine
