#include "resource_folder.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/file_io.hpp"

namespace tarvel::pack {
namespace fs = std::filesystem;

namespace {

bool hidden(const fs::path& p) {
    const std::string name = p.filename().string();
    return !name.empty() && name[0] == '.';
}

// Regular files below `root`, with names relative to it.
Result<std::vector<ResourceFile>> read_files(const fs::path& root, bool recurse) {
    std::vector<ResourceFile> files;
    std::error_code ec;
    std::vector<fs::path> paths;
    if (recurse) {
        fs::recursive_directory_iterator it(root, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            if (hidden(it->path())) {
                if (it->is_directory()) it.disable_recursion_pending();
                continue;
            }
            if (it->is_regular_file()) paths.push_back(it->path());
        }
    } else {
        fs::directory_iterator it(root, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            if (!hidden(it->path()) && it->is_regular_file()) paths.push_back(it->path());
        }
    }
    if (ec) return Error::format("Failed to list resource folder {}: {}", root.string(), ec.message());
    for (const fs::path& p : paths) {
        auto data = read_whole_file(p.string());
        if (!data.ok()) return std::move(data).error().context("Failed to read resource {}", p.string());
        files.push_back({p.lexically_relative(root).generic_string(), std::move(*data)});
    }
    std::sort(files.begin(), files.end(),
              [](const ResourceFile& a, const ResourceFile& b) { return a.name < b.name; });
    return files;
}

}  // namespace

Result<ResourceSet> read_resource_folder(const std::string& path) {
    std::error_code ec;
    if (!fs::is_directory(path, ec)) return Error::format("resource folder {} does not exist", path);
    ResourceSet set;
    TARVEL_TRY_ASSIGN(set.top.files, read_files(path, false));
    fs::directory_iterator it(path, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        if (hidden(it->path()) || !it->is_directory()) continue;
        ResourceFolder folder;
        folder.name = it->path().filename().string();
        TARVEL_TRY_ASSIGN(folder.files, read_files(it->path(), true));
        if (!folder.files.empty()) set.packages.push_back(std::move(folder));
    }
    if (ec) return Error::format("Failed to list resource folder {}: {}", path, ec.message());
    std::sort(set.packages.begin(), set.packages.end(),
              [](const ResourceFolder& a, const ResourceFolder& b) { return a.name < b.name; });
    return set;
}

Result<std::vector<u8>> stored_name(const std::string& name) {
    std::vector<u8> out;
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<u8>(c) < 0x80; });
    if (!ascii) out = {0xEF, 0xBB, 0xBF};
    out.insert(out.end(), name.begin(), name.end());
    if (name.empty()) return Error("a resource name is empty");
    if (out.size() > 255) return Error::format("resource name {} is longer than 255 bytes", name);
    return out;
}

}  // namespace tarvel::pack
