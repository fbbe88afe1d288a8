#pragma once
// Builds the bytes of a .cbe from a laid-out program and its resources.

#include <string>
#include <vector>

#include "common/bytes.hpp"
#include "common/error.hpp"
#include "program_layout.hpp"
#include "resource_folder.hpp"

namespace tarvel::pack {

enum class PackageForm {
    Auto,       // a package directory when there are sub-folders, else a single package
    Single,     // one package; sub-folder files keep "folder/name" names
    Directory,  // a package directory with one named package per sub-folder
};

struct PackOptions {
    PackageForm form = PackageForm::Auto;
    std::vector<u8> embedded;  // the embedded package segment, uninterpreted
};

// The resource package and the order in which its main table will list the
// resources (the numbers the program uses).
struct ResourcePackage {
    std::vector<u8> bytes;
    std::vector<std::string> main_names;
    std::vector<std::string> named_packages;
};
Result<ResourcePackage> encode_resources(const ResourceSet& set, PackageForm form);

Result<std::vector<u8>> pack_cbe(const ProgramLayout& program, const ResourcePackage& resources,
                                 const PackOptions& options);

}  // namespace tarvel::pack
