#include "machine/virtual_fs.hpp"

#include <algorithm>
#include <cstring>

#include "common/log.hpp"

namespace tarvel::machine {
namespace {

constexpr const char* kFilesTarget = "tarvel_core::machine::services::files";

char fold_ascii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::optional<std::string> normalize_path(std::string_view path) {
    std::vector<std::string> kept;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of("/\\", start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (kept.empty()) return std::nullopt;
            kept.pop_back();
            continue;
        }
        std::string folded(part);
        std::transform(folded.begin(), folded.end(), folded.begin(), fold_ascii);
        kept.push_back(std::move(folded));
    }
    std::string joined;
    for (const std::string& part : kept) {
        if (!joined.empty()) joined += '/';
        joined += part;
    }
    if (joined.size() > kMaxPathBytes) {
        TARVEL_LOG(Warn, kFilesTarget, "file path of {} bytes is longer than the {} allowed", joined.size(),
                   kMaxPathBytes);
        return std::nullopt;
    }
    return joined;
}

std::string mode_from_flags(u32 flags) {
    if (flags == 1) return "w";
    if (flags == 3) return "r+";
    if (flags & 0x10) return "a+";
    if (flags & 0x08) return "w+";
    if (flags & 0x04) return "r+";
    return "r";
}

OpenMode parse_mode(std::string_view mode) {
    OpenMode m;
    m.kind = mode.empty() ? '\0' : mode.front();
    const bool plus = mode.find('+') != std::string_view::npos;
    if (m.kind == 'r') {
        m.readable = true;
        m.writable = plus;
    } else {
        m.readable = plus;
        m.writable = m.kind == 'w' || m.kind == 'a' || plus;
    }
    return m;
}

bool VirtualFs::is_directory(const std::string& path) const {
    if (path.empty() || directories.contains(path)) return true;
    const std::string prefix = path + '/';
    return std::any_of(files.begin(), files.end(), [&](const auto& file) { return file.first.starts_with(prefix); });
}

bool VirtualFs::make_directory(const std::string& path) {
    // Every leading prefix ends before a "/" or at the end.
    std::vector<std::string> missing;
    for (size_t end = 0; end <= path.size() && !path.empty(); ++end) {
        if (end != path.size() && path[end] != '/') continue;
        std::string prefix = path.substr(0, end);
        if (!directories.contains(prefix)) missing.push_back(std::move(prefix));
    }
    // The root is always present and not counted.
    if (directories.size() - 1 + missing.size() > kMaxDirectories) {
        TARVEL_LOG(Warn, kFilesTarget, "cannot make directory {}: the filesystem holds {} directories already",
                   path, kMaxDirectories);
        return false;
    }
    if (!missing.empty()) ++changes;
    for (std::string& prefix : missing) directories.insert(std::move(prefix));
    return true;
}

bool VirtualFs::remove(const std::string& path) {
    const auto found = files.find(path);
    if (found == files.end()) return false;
    stored_bytes -= found->second.size();
    files.erase(found);
    ++changes;
    return true;
}

bool VirtualFs::rename(const std::string& from, const std::string& to) {
    const auto found = files.find(from);
    if (found == files.end()) return false;
    if (from == to) return true;
    ++changes;
    std::vector<u8> contents = std::move(found->second);
    files.erase(found);
    remove(to);  // a file already at `to` is replaced
    files.emplace(to, std::move(contents));
    for (std::optional<OpenFile>& slot : handles) {
        if (slot && slot->path == from) slot->path = to;
    }
    return true;
}

bool VirtualFs::truncate_or_create(const std::string& path) {
    const auto found = files.find(path);
    if (found != files.end()) {
        stored_bytes -= found->second.size();
        found->second.clear();
        found->second.shrink_to_fit();
        ++changes;
        return true;
    }
    if (files.size() >= kMaxFiles) {
        TARVEL_LOG(Warn, kFilesTarget, "cannot create file {}: the filesystem holds {} files already", path,
                   kMaxFiles);
        return false;
    }
    files.emplace(path, std::vector<u8>{});
    ++changes;
    return true;
}

std::optional<u32> VirtualFs::open(const std::string& path, std::string_view mode) {
    // The slot is found before any file is touched, so that an open refused for
    // want of a handle does not truncate or create the file either.
    const auto free_slot = std::find_if(handles.begin(), handles.end(), [](const auto& s) { return !s; });
    if (free_slot == handles.end()) return std::nullopt;

    const OpenMode m = parse_mode(mode);
    const bool existed = files.contains(path);
    if (m.kind == 'r') {
        if (!existed) return std::nullopt;
    } else if (m.kind == 'w') {
        if (!truncate_or_create(path)) return std::nullopt;
    } else if (m.writable && !existed) {
        if (!truncate_or_create(path)) return std::nullopt;
    }

    OpenFile& file = free_slot->emplace();
    file.path = path;
    file.readable = m.readable;
    file.writable = m.writable;
    file.position = m.kind == 'a' && existed ? static_cast<u32>(files.at(path).size()) : 0;
    return static_cast<u32>(free_slot - handles.begin());
}

bool VirtualFs::close(u32 handle) {
    if (handle >= kFileHandleCount || !handles[handle]) return false;
    handles[handle].reset();
    return true;
}

const OpenFile* VirtualFs::handle(u32 handle) const {
    return handle < kFileHandleCount && handles[handle] ? &*handles[handle] : nullptr;
}

size_t VirtualFs::open_handle_count() const {
    return static_cast<size_t>(std::count_if(handles.begin(), handles.end(), [](const auto& s) { return s.has_value(); }));
}

std::optional<std::span<const u8>> VirtualFs::read(u32 handle, u32 count) {
    if (count > kMaxTransferBytes || handle >= kFileHandleCount || !handles[handle]) return std::nullopt;
    OpenFile& file = *handles[handle];
    if (!file.readable) return std::nullopt;
    const auto found = files.find(file.path);
    if (found == files.end()) return std::nullopt;
    const std::vector<u8>& contents = found->second;
    if (file.position >= contents.size()) return std::span<const u8>{};
    const size_t available = contents.size() - file.position;
    const u32 taken = static_cast<u32>(std::min<size_t>(available, count));
    const std::span<const u8> bytes(contents.data() + file.position, taken);
    file.position += taken;
    return bytes;
}

OpenFile* VirtualFs::writable_slot(u32 handle) {
    if (handle >= kFileHandleCount || !handles[handle] || !handles[handle]->writable) return nullptr;
    return &*handles[handle];
}

std::optional<std::span<u8>> VirtualFs::reserve_write(u32 handle, u32 count) {
    if (count > kMaxTransferBytes) return std::nullopt;
    OpenFile* file = writable_slot(handle);
    if (file == nullptr) return std::nullopt;
    const auto found = files.find(file->path);
    if (found == files.end()) return std::nullopt;
    const u64 end = u64{file->position} + count;
    if (end > 0xFFFFFFFFu) return std::nullopt;
    std::vector<u8>& contents = found->second;
    const bool grows = end > contents.size();
    if (grows) {
        const u64 growth = end - contents.size();
        if (stored_bytes + growth > kMaxStoredBytes) {
            TARVEL_LOG(Warn, kFilesTarget, "cannot grow file {} to {} bytes: files may hold {} bytes in all",
                       file->path, end, kMaxStoredBytes);
            return std::nullopt;
        }
        contents.resize(static_cast<size_t>(end), 0);
        stored_bytes += growth;
    }
    // The caller fills the room, so any write counts as a change.
    if (count != 0 || grows) ++changes;
    const std::span<u8> room(contents.data() + file->position, count);
    file->position = static_cast<u32>(end);
    return room;
}

bool VirtualFs::write(u32 handle, std::span<const u8> bytes) {
    if (bytes.size() > kMaxTransferBytes) return false;
    const std::optional<std::span<u8>> room = reserve_write(handle, static_cast<u32>(bytes.size()));
    if (!room) return false;
    if (!bytes.empty()) std::memcpy(room->data(), bytes.data(), bytes.size());
    return true;
}

std::optional<u32> VirtualFs::seek(u32 handle, i32 offset, u32 origin) {
    if (handle >= kFileHandleCount || !handles[handle]) return std::nullopt;
    OpenFile& file = *handles[handle];
    i64 base = 0;
    switch (origin) {
        case static_cast<u32>(SeekOrigin::Start): base = 0; break;
        case static_cast<u32>(SeekOrigin::Current): base = file.position; break;
        case static_cast<u32>(SeekOrigin::End): {
            const auto found = files.find(file.path);
            if (found == files.end()) return std::nullopt;
            base = static_cast<i64>(found->second.size());
            break;
        }
        default: return std::nullopt;
    }
    const i64 target = base + offset;
    if (target < 0 || target > 0xFFFFFFFFll) return std::nullopt;
    file.position = static_cast<u32>(target);
    return file.position;
}

std::optional<u32> VirtualFs::tell(u32 handle) const {
    const OpenFile* file = this->handle(handle);
    return file ? std::optional<u32>(file->position) : std::nullopt;
}

std::optional<u32> VirtualFs::size(u32 handle) const {
    const OpenFile* file = this->handle(handle);
    if (file == nullptr) return std::nullopt;
    const auto found = files.find(file->path);
    if (found == files.end()) return std::nullopt;
    return static_cast<u32>(found->second.size());
}

}  // namespace tarvel::machine
