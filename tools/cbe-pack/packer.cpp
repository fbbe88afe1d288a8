#include "packer.hpp"

#include "cbe_writer/cbe_writer.hpp"

namespace tarvel::pack {
namespace {

// Packages hold at most this many resources.
constexpr size_t kMaxPackageResources = 10000;

Result<cbe_writer::PackageSpec> package_of(const std::vector<const ResourceFile*>& files,
                                           const std::string& what) {
    if (files.size() > kMaxPackageResources) {
        return Error::format("{} holds {} resources; a package holds at most {}", what, files.size(),
                             kMaxPackageResources);
    }
    cbe_writer::PackageSpec spec;
    for (const ResourceFile* f : files) {
        TARVEL_TRY_ASSIGN(std::vector<u8> name, stored_name(f->name));
        spec.resources.push_back(cbe_writer::resource(std::move(name), f->data));
    }
    return spec;
}

std::vector<const ResourceFile*> pointers(const std::vector<ResourceFile>& files) {
    std::vector<const ResourceFile*> out;
    for (const ResourceFile& f : files) out.push_back(&f);
    return out;
}

}  // namespace

Result<ResourcePackage> encode_resources(const ResourceSet& set, PackageForm form) {
    ResourcePackage out;
    if (set.empty()) return out;  // an empty resource package: no resources
    if (form == PackageForm::Auto) form = set.packages.empty() ? PackageForm::Single : PackageForm::Directory;

    if (form == PackageForm::Single) {
        std::vector<ResourceFile> all = set.top.files;
        for (const ResourceFolder& folder : set.packages) {
            for (const ResourceFile& f : folder.files) all.push_back({folder.name + "/" + f.name, f.data});
        }
        cbe_writer::SinglePackageSpec spec;
        TARVEL_TRY_ASSIGN(spec.package, package_of(pointers(all), "the resource folder"));
        for (const ResourceFile& f : all) out.main_names.push_back(f.name);
        out.bytes = cbe_writer::encode_single_package(spec);
        return out;
    }

    // Directory form: the named packages follow the directory, then the
    // top-level files as one more package. The main table is every package
    // after the directory, in that order.
    if (set.packages.size() > 255) return Error("a package directory lists at most 255 named packages");
    cbe_writer::DirectorySpec spec;
    for (const ResourceFolder& folder : set.packages) {
        TARVEL_TRY_ASSIGN(std::vector<u8> name, stored_name(folder.name));
        TARVEL_TRY_ASSIGN(cbe_writer::PackageSpec package,
                          package_of(pointers(folder.files), "resource folder " + folder.name));
        spec.named.push_back({std::move(name), std::move(package)});
        out.named_packages.push_back(folder.name);
        for (const ResourceFile& f : folder.files) out.main_names.push_back(f.name);
    }
    if (!set.top.files.empty()) {
        TARVEL_TRY_ASSIGN(cbe_writer::PackageSpec package, package_of(pointers(set.top.files), "the resource folder"));
        spec.more_packages.push_back(std::move(package));
        for (const ResourceFile& f : set.top.files) out.main_names.push_back(f.name);
    }
    // The resource package starts after a run of 0xFE bytes, so its first
    // byte (the low byte of the directory length) must not be 0xFE.
    size_t entries = 0;
    for (const auto& named : spec.named) entries += 1 + named.name.size() + 4;
    if (((8 + entries) & 0xFF) == 0xFE) spec.padding = 1;
    out.bytes = cbe_writer::encode_directory(spec);
    return out;
}

Result<std::vector<u8>> pack_cbe(const ProgramLayout& program, const ResourcePackage& resources,
                                 const PackOptions& options) {
    cbe_writer::CbeBuilder b;
    b.load_address = program.load_address;
    b.data_offset = program.data_offset;
    b.data_address = program.data_address;
    b.data_size = program.data_size;
    b.big_endian = program.big_endian;
    b.code = program.code;
    b.init_data = program.init_data;
    b.resource_package = resources.bytes;
    // Empty segments cannot be told apart from the separator after them.
    b.embedded = options.embedded.empty() ? std::vector<u8>(4, 0) : options.embedded;

    // The reader takes the byte order whose word sum matches the code's
    // checksum, trying little-endian first. A big-endian program whose two
    // sums happen to agree gets one more word so that they differ; the word
    // lies in the program's data area, which the machine copies or clears.
    if (program.big_endian && cbe_writer::word_sum(b.code, false) == cbe_writer::word_sum(b.code, true)) {
        while (b.code.size() % 4) b.code.push_back(0);
        b.code.insert(b.code.end(), {0, 0, 0, 1});
        if (b.code.size() > b.data_offset + u64{b.data_size}) {
            b.data_size = static_cast<u32>(b.code.size() - b.data_offset);
        }
    }
    if (b.resource_package.size() > 0xFFFFFFFFu - 0x1000) return Error("the resource package is too large");
    return b.build();
}

}  // namespace tarvel::pack
