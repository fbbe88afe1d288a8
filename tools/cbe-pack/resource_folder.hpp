#pragma once
// The resources of a program, read from a folder: files directly in it form
// the main package, each sub-folder a named package of the same name.

#include <string>
#include <vector>

#include "common/bytes.hpp"
#include "common/error.hpp"

namespace tarvel::pack {

struct ResourceFile {
    std::string name;  // path inside its package, "/"-separated, UTF-8
    std::vector<u8> data;
};

struct ResourceFolder {
    std::string name;  // empty for the top level
    std::vector<ResourceFile> files;  // sorted by name
};

struct ResourceSet {
    ResourceFolder top;
    std::vector<ResourceFolder> packages;  // sorted by name

    bool empty() const { return top.files.empty() && packages.empty(); }
};

// Reads `path`. Names starting with "." are skipped (editor and VCS files);
// files below a sub-folder's own sub-folders keep their relative path.
Result<ResourceSet> read_resource_folder(const std::string& path);

// The stored form of a name: plain bytes for ASCII, otherwise UTF-8 behind a
// byte-order mark so that it is not read as GBK. At most 255 bytes.
Result<std::vector<u8>> stored_name(const std::string& name);

}  // namespace tarvel::pack
